#include "scan39/host/variant.h"

#include <gtest/gtest.h>
#include <ostream>

#include <cmath>
#include <limits>
#include <optional>

#include "scan39/host/errors.h"

namespace scan39::host {
namespace {

// ---- error numbers and their texts -------------------------------------------------------

struct DescriptionCase {
    int number;
    const char* text;
};
void PrintTo(const DescriptionCase& c, std::ostream* os) {
    *os << "error " << c.number;
}

class ErrorDescriptionTest : public ::testing::TestWithParam<DescriptionCase> {};

TEST_P(ErrorDescriptionTest, StandardTextInChinese) {
    const DescriptionCase& c = GetParam();
    EXPECT_EQ(ErrorDescription(c.number), QString::fromUtf8(c.text));
    const RuntimeError e(c.number);
    EXPECT_EQ(e.number(), c.number);
    EXPECT_EQ(e.description(), QString::fromUtf8(c.text));
    EXPECT_NE(std::string(e.what()).find(std::to_string(c.number)), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, ErrorDescriptionTest,
    ::testing::Values(
        DescriptionCase{6, "溢出"}, DescriptionCase{7, "内存溢出"}, DescriptionCase{9, "下标越界"},
        DescriptionCase{13, "类型不匹配"}, DescriptionCase{53, "文件未找到"},
        DescriptionCase{76, "路径未找到"}, DescriptionCase{380, "无效的属性值"},
        DescriptionCase{382, "运行时不支持设置该属性"}, DescriptionCase{387, "不允许设置该属性"},
        DescriptionCase{438, "对象不支持该属性或方法"}, DescriptionCase{481, "无效图片"}));

TEST(RuntimeErrorTest, KeepsAGivenDescription) {
    const RuntimeError e(481, QStringLiteral("无效图片：文件“a%1.bmp”是空的"));
    EXPECT_EQ(e.number(), 481);
    EXPECT_EQ(e.description(), QStringLiteral("无效图片：文件“a%1.bmp”是空的"));
}

// ---- conversion to a 32-bit integer ------------------------------------------------------

struct Int32Case {
    const char* name;
    Variant value;
    std::optional<std::int32_t> result;  // empty: expect the error below
    int error = 0;
};
void PrintTo(const Int32Case& c, std::ostream* os) {
    *os << c.name;
}

Int32Case Ok(const char* name, Variant v, std::int32_t r) {
    return {name, std::move(v), r, 0};
}
Int32Case Err(const char* name, Variant v, int e) {
    return {name, std::move(v), std::nullopt, e};
}
Variant T(const char* s) {
    return Variant::fromText(QString::fromUtf8(s));
}

class ToInt32Test : public ::testing::TestWithParam<Int32Case> {};

TEST_P(ToInt32Test, Converts) {
    const Int32Case& c = GetParam();
    if (c.result) {
        EXPECT_EQ(c.value.toInt32(), *c.result);
    } else {
        try {
            const std::int32_t got = c.value.toInt32();
            ADD_FAILURE() << "expected error " << c.error << ", got " << got;
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), c.error);
        }
    }
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Numbers, ToInt32Test,
    ::testing::Values(
        Ok("Empty", Variant(), 0), Ok("Int16Negative", Variant::fromInt16(-5), -5),
        Ok("Int32Min", Variant::fromInt32(INT32_MIN), INT32_MIN),
        Ok("FloatTwoAndAHalf", Variant::fromFloat(2.5f), 2),
        Ok("FloatThreeAndAHalf", Variant::fromFloat(3.5f), 4),
        Ok("FloatMinusTwoAndAHalf", Variant::fromFloat(-2.5f), -2),
        Ok("FloatMinusThreeAndAHalf", Variant::fromFloat(-3.5f), -4),
        Ok("FloatHalf", Variant::fromFloat(0.5f), 0),
        Ok("FloatJustBelowTie", Variant::fromFloat(2.499f), 2),
        Ok("FloatJustAboveTie", Variant::fromFloat(2.501f), 3),
        Ok("FloatDragY", Variant::fromFloat(1200.0f), 1200),
        Ok("DoubleMaxWithFraction", Variant::fromDouble(2147483647.4), INT32_MAX),
        Ok("DoubleMinTieRoundsToEven", Variant::fromDouble(-2147483648.5), INT32_MIN),
        Err("DoubleMaxTieRoundsUp", Variant::fromDouble(2147483647.5), 6),
        Err("DoubleBelowMin", Variant::fromDouble(-2147483649.0), 6),
        Err("FloatTwoToThe31", Variant::fromFloat(2147483648.0f), 6),
        Err("DoubleNaN", Variant::fromDouble(kNaN), 6),
        Err("DoubleInf", Variant::fromDouble(kInf), 6),
        Err("FloatNaN", Variant::fromFloat(std::numeric_limits<float>::quiet_NaN()), 6),
        // Text that reads as a number converts as that number.
        Ok("TextTwoAndAHalf", T("2.5"), 2), Ok("TextThreeAndAHalf", T("3.5"), 4),
        Ok("TextBlanks", T("  12  "), 12), Ok("TextPlus", T("+7"), 7),
        Ok("TextMinusTie", T("-7.5"), -8), Ok("TextExponent", T("1e3"), 1000),
        Ok("TextSignedExponent", T("1.5E+1"), 15), Ok("TextNegativeExponent", T("25e-1"), 2),
        Ok("TextLeadingPoint", T(".5"), 0), Ok("TextTrailingPoint", T("5."), 5),
        Ok("TextAboveHalf", T("0.51"), 1), Ok("TextSmallNegative", T("-0.4"), 0),
        Ok("TextMax", T("2147483647"), INT32_MAX), Ok("TextMin", T("-2147483648"), INT32_MIN),
        Ok("TextLeadingZeros", T("000000000000000000001"), 1),
        Ok("TextZeroHugeExponent", T("0e999999999"), 0), Ok("TextUnderflow", T("1e-400"), 0),
        Ok("TextManyFractionDigits", T("0.00000000000000000000000000000000000000000000000007"), 0),
        Ok("TextShiftedByExponent", T("0.0000123e6"), 12), Err("TextAboveMax", T("2147483648"), 6),
        Err("TextBelowMin", T("-2147483649"), 6), Err("TextTenBillion", T("1e10"), 6),
        Err("TextHugeExponent", T("1e400"), 6),
        Err("TextManyDigits", T("123456789012345678901234567890"), 6), Err("TextEmpty", T(""), 13),
        Err("TextOnlyBlanks", T("   "), 13), Err("TextWord", T("abc"), 13),
        Err("TextThousands", T("1,000"), 13), Err("TextTrailingLetters", T("12abc"), 13),
        Err("TextBareExponent", T("1e"), 13), Err("TextNoMantissa", T("e5"), 13),
        Err("TextOnlySign", T("-"), 13), Err("TextTwoPoints", T("1..2"), 13),
        Err("TextHexPrefix", T("0x10"), 13), Err("TextNaN", T("nan"), 13),
        Err("TextInnerBlank", T("1 2"), 13), Err("TextBlankAfterSign", T("- 5"), 13),
        Err("TextFullWidthDigits", T("１２"), 13),
        Err("TextWithNul", Variant::fromText(QString::fromUtf16(u"1\0002", 3)), 13),
        Err("ObjectNothing", Variant::fromPicture(nullptr), 13),
        Err("ObjectPicture",
            Variant::fromPicture(std::make_shared<const Picture>(QImage(1, 1,
                                                                        QImage::Format_RGB32))),
            13)),
    [](const ::testing::TestParamInfo<Int32Case>& p) { return p.param.name; });

// ---- conversion to text ------------------------------------------------------------------

struct TextCase {
    const char* name;
    Variant value;
    QString text;
};
void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.name;
}

class ToTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(ToTextTest, Converts) {
    EXPECT_EQ(GetParam().value.toText(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ToTextTest,
    ::testing::Values(
        TextCase{"Empty", Variant(), QString()},
        TextCase{"Int16", Variant::fromInt16(-3), QStringLiteral("-3")},
        TextCase{"Int32", Variant::fromInt32(INT32_MIN), QStringLiteral("-2147483648")},
        TextCase{"FloatWhole", Variant::fromFloat(1200.0f), QStringLiteral("1200")},
        TextCase{"FloatHalf", Variant::fromFloat(2.5f), QStringLiteral("2.5")},
        TextCase{"FloatTenth", Variant::fromFloat(0.1f), QStringLiteral("0.1")},
        TextCase{"DoubleTenth", Variant::fromDouble(0.1), QStringLiteral("0.1")},
        TextCase{"DoubleNegativeZero", Variant::fromDouble(-0.0), QStringLiteral("0")},
        TextCase{"DoubleLarge", Variant::fromDouble(1e20), QStringLiteral("1E+20")},
        TextCase{"TextWithNul", Variant::fromText(QString::fromUtf16(u"a\0b", 3)),
                 QString::fromUtf16(u"a\0b", 3)}),
    [](const ::testing::TestParamInfo<TextCase>& p) { return p.param.name; });

TEST(ToTextTest, ObjectIsATypeMismatch) {
    try {
        (void)Variant::fromPicture(nullptr).toText();
        ADD_FAILURE() << "no error";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), 13);
    }
}

TEST(ToTextTest, ConvertsBackToTheSameInteger) {
    for (float f : {1200.0f, -15.5f, 2.5f, 3.5f, 123456.0f, 1e9f}) {
        const Variant v = Variant::fromFloat(f);
        EXPECT_EQ(Variant::fromText(v.toText()).toInt32(), v.toInt32()) << f;
    }
}

// ---- conversion to a picture -------------------------------------------------------------

TEST(ToPictureTest, EmptyAndNothingGiveNoPictureOthersMismatch) {
    const auto picture = std::make_shared<const Picture>(QImage(2, 2, QImage::Format_RGB32));
    EXPECT_EQ(Variant().toPicture(), nullptr);
    EXPECT_EQ(Variant::fromPicture(nullptr).toPicture(), nullptr);
    EXPECT_EQ(Variant::fromPicture(picture).toPicture(), picture);
    for (const Variant& v :
         {Variant::fromInt16(0), Variant::fromText(QString()), Variant::fromDouble(0.0)}) {
        try {
            (void)v.toPicture();
            ADD_FAILURE() << "no error for type " << static_cast<int>(v.type());
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), 13);
        }
    }
}

// ---- equality: same type and same value --------------------------------------------------

struct EqualityCase {
    const char* name;
    Variant a;
    Variant b;
    bool equal;
};
void PrintTo(const EqualityCase& c, std::ostream* os) {
    *os << c.name;
}

class EqualityTest : public ::testing::TestWithParam<EqualityCase> {};

TEST_P(EqualityTest, SameTypeAndValue) {
    const EqualityCase& c = GetParam();
    EXPECT_EQ(c.a == c.b, c.equal);
    EXPECT_EQ(c.b == c.a, c.equal);
}

const PictureRef kPictureA = std::make_shared<const Picture>(QImage(1, 1, QImage::Format_RGB32));
const PictureRef kPictureB = std::make_shared<const Picture>(QImage(1, 1, QImage::Format_RGB32));

INSTANTIATE_TEST_SUITE_P(
    Pairs, EqualityTest,
    ::testing::Values(
        EqualityCase{"EmptyEmpty", Variant(), Variant(), true},
        EqualityCase{"Int16ZeroInt32Zero", Variant::fromInt16(0), Variant::fromInt32(0), false},
        EqualityCase{"FloatZeroInt16Zero", Variant::fromFloat(0.0f), Variant::fromInt16(0), false},
        EqualityCase{"FloatZeroDoubleZero", Variant::fromFloat(0.0f), Variant::fromDouble(0.0),
                     false},
        EqualityCase{"Int16Same", Variant::fromInt16(7), Variant::fromInt16(7), true},
        EqualityCase{"Int32Differs", Variant::fromInt32(7), Variant::fromInt32(8), false},
        EqualityCase{"FloatSame", Variant::fromFloat(1.5f), Variant::fromFloat(1.5f), true},
        EqualityCase{"FloatSignedZeros", Variant::fromFloat(0.0f), Variant::fromFloat(-0.0f),
                     false},
        EqualityCase{"DoubleNaNs", Variant::fromDouble(kNaN), Variant::fromDouble(kNaN), true},
        EqualityCase{"EmptyTextEmpty", Variant::fromText(QString()), Variant(), false},
        EqualityCase{"TextSame", T("abc"), T("abc"), true},
        EqualityCase{"TextCaseDiffers", T("abc"), T("ABC"), false},
        EqualityCase{"NothingNothing", Variant::fromPicture(nullptr), Variant::fromPicture(nullptr),
                     true},
        EqualityCase{"NothingEmpty", Variant::fromPicture(nullptr), Variant(), false},
        EqualityCase{"SamePicture", Variant::fromPicture(kPictureA),
                     Variant::fromPicture(kPictureA), true},
        EqualityCase{"EqualPixelsOtherObject", Variant::fromPicture(kPictureA),
                     Variant::fromPicture(kPictureB), false}),
    [](const ::testing::TestParamInfo<EqualityCase>& p) { return p.param.name; });

}  // namespace
}  // namespace scan39::host
