#include "scan39/host/property_store.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include "image_fixtures.h"
#include "scan39/host/errors.h"

namespace scan39::host {
namespace {

using test::PatternImage;
using test::PutLe16;
using test::PutLe32;

PictureRef SmallPicture() {
    return std::make_shared<const Picture>(PatternImage(13, 7));
}

// ---- read and write ----------------------------------------------------------------------

TEST(PropertyStoreTest, ReadGivesTheStoredValueOrTheDefault) {
    PropertyStore store;
    store.write("yb", Variant::fromFloat(1200.0f), Variant::fromInt16(0));
    const Variant yb = store.read("yb", Variant::fromInt16(0));
    ASSERT_EQ(yb.type(), Variant::Type::Float);
    EXPECT_EQ(yb.single(), 1200.0f);
    const Variant xa = store.read("xa", Variant::fromInt16(0));
    ASSERT_EQ(xa.type(), Variant::Type::Int16);
    EXPECT_EQ(xa.int16(), 0);
    EXPECT_EQ(store.read("Picture", Variant::fromPicture(nullptr)), Variant::fromPicture(nullptr));
}

struct WriteCase {
    const char* name;
    Variant value;
    Variant defaultValue;
    bool stored;
};
void PrintTo(const WriteCase& c, std::ostream* os) {
    *os << c.name;
}

class WriteTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteTest, OmitsOnlyValuesEqualToTheirDefault) {
    const WriteCase& c = GetParam();
    PropertyStore store;
    // A value stored earlier is removed again when the default is written.
    store.write("k", Variant::fromText("earlier"), Variant());
    store.write("k", c.value, c.defaultValue);
    EXPECT_EQ(store.contains("k"), c.stored);
    EXPECT_EQ(store.read("k", c.defaultValue), c.stored ? c.value : c.defaultValue);
}

INSTANTIATE_TEST_SUITE_P(
    Values, WriteTest,
    ::testing::Values(
        WriteCase{"Int16ZeroDefault", Variant::fromInt16(0), Variant::fromInt16(0), false},
        WriteCase{"Int32ZeroAgainstInt16Zero", Variant::fromInt32(0), Variant::fromInt16(0), false},
        WriteCase{"Int16SevenAgainstInt32Seven", Variant::fromInt16(7), Variant::fromInt32(7),
                  false},
        WriteCase{"FloatZeroAgainstInt16Zero", Variant::fromFloat(0.0f), Variant::fromInt16(0),
                  true},
        WriteCase{"Int32NonZero", Variant::fromInt32(1500), Variant::fromInt16(0), true},
        WriteCase{"EmptyTextDefault", Variant::fromText(QString()), Variant::fromText(QString()),
                  false},
        WriteCase{"Text", Variant::fromText("1234567"), Variant::fromText(QString()), true},
        WriteCase{"NoPictureDefault", Variant::fromPicture(nullptr), Variant::fromPicture(nullptr),
                  false},
        WriteCase{"Picture", Variant::fromPicture(SmallPicture()), Variant::fromPicture(nullptr),
                  true}),
    [](const ::testing::TestParamInfo<WriteCase>& p) { return p.param.name; });

// ---- byte form ---------------------------------------------------------------------------

PropertyStore EveryType() {
    PropertyStore store;
    const Variant none;  // writing against Empty stores everything but Empty itself
    store.write("Picture", Variant::fromPicture(SmallPicture()), none);
    store.write("Nothing", Variant::fromPicture(nullptr), none);
    store.write("Blank", Variant::fromPicture(std::make_shared<const Picture>(QImage())), none);
    store.write("xa", Variant::fromInt32(INT32_MIN), none);
    store.write("ya", Variant::fromInt16(-2), none);
    store.write("yb", Variant::fromFloat(1200.5f), none);
    store.write("d", Variant::fromDouble(-0.0), none);
    store.write("nan", Variant::fromDouble(std::numeric_limits<double>::quiet_NaN()), none);
    store.write("Value", Variant::fromText(QString::fromUtf16(u"条码\0\xD800z", 5)), none);
    store.write(QString(), Variant::fromText(QString()), none);
    store.write("Empty", Variant(), Variant::fromInt16(0));
    return store;
}

TEST(PropertyStoreBytesTest, RoundTripKeepsEveryTypeAndValue) {
    const PropertyStore original = EveryType();
    const PropertyStore loaded = PropertyStore::fromBytes(original.toBytes());
    ASSERT_EQ(loaded.size(), original.size());
    for (const auto& [key, value] : original.values()) {
        SCOPED_TRACE(key.toStdString());
        ASSERT_TRUE(loaded.contains(key));
        const Variant& got = loaded.values().at(key);
        ASSERT_EQ(got.type(), value.type());
        if (value.type() == Variant::Type::Object) {
            ASSERT_EQ(got.picture() == nullptr, value.picture() == nullptr);
            if (value.picture()) {
                EXPECT_EQ(got.picture()->image(), value.picture()->image());
            }
        } else {
            EXPECT_EQ(got, value);
        }
    }
    EXPECT_EQ(loaded.values().at("yb").single(), 1200.5f);
    EXPECT_TRUE(std::signbit(loaded.values().at("d").dbl()));
    EXPECT_EQ(loaded.values().at("Picture").picture()->image().format(), QImage::Format_RGB32);
    // Saving again gives the same bytes.
    EXPECT_EQ(loaded.toBytes(), original.toBytes());
}

TEST(PropertyStoreBytesTest, EmptyStoreRoundTrips) {
    const QByteArray bytes = PropertyStore().toBytes();
    EXPECT_EQ(bytes.size(), 10);
    EXPECT_EQ(PropertyStore::fromBytes(bytes).size(), 0u);
}

// Hand-built blobs, one fault each.
QByteArray Header(quint32 count, quint16 version = 1) {
    QByteArray b("S39P");
    PutLe16(b, version);
    PutLe32(b, count);
    return b;
}
void PutText(QByteArray& b, const QString& s) {
    PutLe32(b, quint32(s.size()));
    for (QChar c : s) PutLe16(b, c.unicode());
}
QByteArray Int16Entry(const QString& key, qint16 v) {
    QByteArray b;
    PutText(b, key);
    b.append(char(1));
    PutLe16(b, quint16(v));
    return b;
}

struct CorruptCase {
    const char* name;
    std::function<QByteArray()> bytes;
    const char* says;  // part of the description
};
void PrintTo(const CorruptCase& c, std::ostream* os) {
    *os << c.name;
}

class CorruptTest : public ::testing::TestWithParam<CorruptCase> {};

TEST_P(CorruptTest, FailsWithError380SayingWhy) {
    const CorruptCase& c = GetParam();
    try {
        PropertyStore::fromBytes(c.bytes());
        ADD_FAILURE() << "loaded";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), 380);
        EXPECT_TRUE(e.description().contains(QString::fromUtf8(c.says)))
            << e.description().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CorruptTest,
    ::testing::Values(
        CorruptCase{"Nothing", [] { return QByteArray(); }, "太短"},
        CorruptCase{"WrongMagic", [] { return QByteArray("S39Q\1\0\0\0\0\0", 10); }, "标识"},
        CorruptCase{"NewerVersion", [] { return Header(0, 2); }, "版本 2"},
        CorruptCase{"HeaderCut", [] { return Header(0).left(8); }, "文件头"},
        CorruptCase{"CountBeyondData", [] { return Header(0xFFFFFFFFu) + Int16Entry("xa", 1); },
                    "声明了 4294967295 项"},
        CorruptCase{"KeyLengthBeyondData",
                    [] {
                        QByteArray b = Header(1);
                        PutLe32(b, 0x7FFFFFFFu);
                        b.append("abcd");
                        return b;
                    },
                    "第 1 项的键名被截断"},
        CorruptCase{"TextValueLengthBeyondData",
                    [] {
                        QByteArray b = Header(1);
                        PutText(b, "Value");
                        b.append(char(5));
                        PutLe32(b, 0xFFFFFFFFu);
                        return b;
                    },
                    "第 1 项“Value”的值被截断"},
        CorruptCase{"UnknownTypeTag",
                    [] {
                        QByteArray b = Header(1);
                        PutText(b, "xa");
                        b.append(char(7));
                        return b;
                    },
                    "类型标记 7"},
        CorruptCase{"UnknownObjectKind",
                    [] {
                        QByteArray b = Header(1);
                        PutText(b, "Picture");
                        b.append(char(6));
                        b.append(char(9));
                        return b;
                    },
                    "对象种类 9"},
        CorruptCase{"PictureLengthBeyondData",
                    [] {
                        QByteArray b = Header(1);
                        PutText(b, "Picture");
                        b.append(char(6));
                        b.append(char(1));
                        PutLe32(b, 0xFFFFFFF0u);
                        b.append("\x89PNG", 4);
                        return b;
                    },
                    "图片被截断"},
        CorruptCase{"PictureNotAPicture",
                    [] {
                        QByteArray b = Header(1);
                        PutText(b, "Picture");
                        b.append(char(6));
                        b.append(char(1));
                        PutLe32(b, 5);
                        b.append("hello");
                        return b;
                    },
                    "第 1 项“Picture”的图片不是"},
        CorruptCase{"PictureTooLarge",
                    [] {
                        const QByteArray png = test::WithPngSize(
                            test::Encode(PatternImage(4, 4), "PNG"), 100000, 100000);
                        QByteArray b = Header(1);
                        PutText(b, "Picture");
                        b.append(char(6));
                        b.append(char(1));
                        PutLe32(b, quint32(png.size()));
                        return b + png;
                    },
                    "太大"},
        CorruptCase{"DuplicateKey",
                    [] { return Header(2) + Int16Entry("xa", 1) + Int16Entry("xa", 2); }, "重复"},
        CorruptCase{"TrailingBytes", [] { return Header(1) + Int16Entry("xa", 1) + "!"; },
                    "多出 1 字节"},
        CorruptCase{"FewerEntriesThanCounted",
                    [] { return Header(2) + Int16Entry("xa", 1) + QByteArray(4, '\0'); },
                    "第 2 项“”的类型被截断"}),
    [](const ::testing::TestParamInfo<CorruptCase>& p) { return p.param.name; });

// Every cut of a valid blob fails cleanly; random damage loads or fails cleanly, never crashes.
TEST(PropertyStoreBytesTest, EveryTruncationIsRejected) {
    const QByteArray bytes = EveryType().toBytes();
    for (qsizetype length = 0; length < bytes.size(); ++length) {
        try {
            PropertyStore::fromBytes(bytes.left(length));
            ADD_FAILURE() << "cut at " << length << " loaded";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), 380) << "cut at " << length;
        }
    }
}

TEST(PropertyStoreBytesTest, RandomDamageLoadsOrFailsWith380) {
    const QByteArray bytes = EveryType().toBytes();
    std::mt19937 random(39);
    std::uniform_int_distribution<qsizetype> position(0, bytes.size() - 1);
    std::uniform_int_distribution<int> value(0, 255);
    std::uniform_int_distribution<int> flips(1, 4);
    int loaded = 0;
    for (int round = 0; round < 3000; ++round) {
        QByteArray damaged = bytes;
        for (int f = flips(random); f > 0; --f) damaged[position(random)] = char(value(random));
        try {
            PropertyStore::fromBytes(damaged);
            ++loaded;
        } catch (const RuntimeError& e) {
            ASSERT_EQ(e.number(), 380) << "round " << round;
        }
    }
    // Damage inside text values still loads; the point is only that nothing else happens.
    EXPECT_GT(loaded, 0);
}

}  // namespace
}  // namespace scan39::host
