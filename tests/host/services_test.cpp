#include "scan39/host/services.h"

#include <gtest/gtest.h>
#include <ostream>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QWidget>
#include <climits>
#include <cmath>
#include <limits>

#include "services_p.h"

namespace scan39::host {
namespace {

// ---- twips to pixels ---------------------------------------------------------------------

struct TwipsCase {
    double twips;
    int pixel;
};
void PrintTo(const TwipsCase& c, std::ostream* os) {
    *os << c.twips << " twips";
}

class TwipsToPixelTest : public ::testing::TestWithParam<TwipsCase> {};

TEST_P(TwipsToPixelTest, NearestPixelHalvesUp) {
    EXPECT_EQ(TwipsToPixel(GetParam().twips), GetParam().pixel) << GetParam().twips;
}

INSTANTIATE_TEST_SUITE_P(
    Values, TwipsToPixelTest,
    // Whole twips are covered below; here the exact halves and values beyond int.
    ::testing::Values(TwipsCase{7.5, 1}, TwipsCase{22.5, 2}, TwipsCase{-7.5, 0},
                      TwipsCase{-22.5, -1}, TwipsCase{1e300, INT_MAX}, TwipsCase{-1e300, INT_MIN},
                      TwipsCase{std::numeric_limits<double>::infinity(), INT_MAX},
                      TwipsCase{std::numeric_limits<double>::quiet_NaN(), INT_MIN}));

TEST(TwipsToPixelTest, WholeTwipsGoToTheNearestPixel) {
    for (int t = -3000; t <= 3000; ++t) {
        ASSERT_EQ(TwipsToPixel(t), std::lround(t / 15.0)) << t;
    }
}

// ---- file lookup -------------------------------------------------------------------------

class DirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        touch("pic.bmp");
        touch("名字 带空格.gif");
        touch(".hidden.bmp");
        ASSERT_TRUE(QDir(dir_.path()).mkpath("folder.bmp"));
        ASSERT_TRUE(QDir(dir_.path()).mkpath(".cache"));
        touch(".cache/inside.bmp");
        ASSERT_TRUE(QFile::link(at("pic.bmp"), at("link.bmp")));
    }
    void touch(const QString& name) {
        QFile f(at(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QString at(const QString& name) const { return dir_.filePath(name); }

    QTemporaryDir dir_;
};

TEST_F(DirTest, NamesOnlyExistingOrdinaryVisibleFiles) {
    const struct {
        QString path;
        QString name;
    } cases[] = {
        {at("pic.bmp"), "pic.bmp"},
        {at("pic.bmp") + "      ", "pic.bmp"},
        {at("名字 带空格.gif"), "名字 带空格.gif"},
        {at("link.bmp"), "link.bmp"},
        {at(".cache/inside.bmp"), "inside.bmp"},  // only the file's own name counts
        {at(".hidden.bmp"), ""},
        {at("folder.bmp"), ""},
        {at("missing.bmp"), ""},
        {at("pic.bmp") + "/", ""},
        {at("pic.bmp") + QChar(u'\0') + "x", ""},
        {at("PIC.BMP"), ""},
        {"/dev/null", ""},
        {"", ""},
        {"   ", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Dir(c.path), c.name) << c.path.toStdString();
    }
}

// ---- string replacement ------------------------------------------------------------------

struct ReplaceCase {
    const char* name;
    QString text;
    QString find;
    QString replacement;
    QString result;
};
void PrintTo(const ReplaceCase& c, std::ostream* os) {
    *os << c.name;
}

class ReplaceTest : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceTest, ReplacesEveryOccurrence) {
    const ReplaceCase& c = GetParam();
    EXPECT_EQ(Replace(c.text, c.find, c.replacement), c.result);
}

QString U(const char16_t* s, qsizetype n) {
    return QString::fromUtf16(s, n);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceTest,
    ::testing::Values(ReplaceCase{"NulsOfAFileNameBuffer", U(u"/p/a.bmp\0   \0", 13), U(u"\0", 1),
                                  "", "/p/a.bmp   "},
                      ReplaceCase{"NonOverlappingFromTheLeft", "aaa", "aa", "b", "ba"},
                      ReplaceCase{"ReplacementContainsTheSearch", "xx", "x", "xx", "xxxx"},
                      ReplaceCase{"EmptySearchLeavesTheText", "abc", "", "x", "abc"},
                      ReplaceCase{"ExactCharacterCodes", "ABCabc", "b", "-", "ABCa-c"},
                      ReplaceCase{"FullWidthIsNotAscii", U(u"1：2", 3), ":", "", U(u"1：2", 3)},
                      ReplaceCase{"EmptyText", "", "a", "b", ""},
                      ReplaceCase{"NotFound", "abc", "z", "y", "abc"}),
    [](const ::testing::TestParamInfo<ReplaceCase>& p) { return p.param.name; });

// ---- message box -------------------------------------------------------------------------

struct BoxCase {
    const char* name;
    int style;
    QMessageBox::Icon icon;
};
void PrintTo(const BoxCase& c, std::ostream* os) {
    *os << c.name;
}

class MsgBoxTest : public ::testing::TestWithParam<BoxCase> {};

TEST_P(MsgBoxTest, ModalBoxWithIconOneOkAndPlainText) {
    QWidget window;
    const QString text = QStringLiteral("无效图片：文件“<b>a&amp;.bmp</b>”是空的");
    const auto box = CreateMsgBox(&window, text, GetParam().style, "scan39");
    EXPECT_EQ(box->icon(), GetParam().icon);
    EXPECT_EQ(box->text(), text);
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    EXPECT_EQ(box->windowTitle(), "scan39");
    EXPECT_EQ(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(box->parentWidget(), &window);
    EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
}

INSTANTIATE_TEST_SUITE_P(Styles, MsgBoxTest,
                         ::testing::Values(BoxCase{"Exclamation", kMsgBoxExclamation,
                                                   QMessageBox::Warning},
                                           BoxCase{"Critical", 16, QMessageBox::Critical},
                                           BoxCase{"Plain", 0, QMessageBox::NoIcon}),
                         [](const ::testing::TestParamInfo<BoxCase>& p) { return p.param.name; });

TEST(MsgBoxHookTest, HookReceivesTheCallInsteadOfABox) {
    QWidget window;
    int calls = 0;
    SetMsgBoxHook([&](QWidget* parent, const QString& text, int style, const QString& caption) {
        ++calls;
        EXPECT_EQ(parent, &window);
        EXPECT_EQ(text, "文件未找到");
        EXPECT_EQ(style, 48);
        EXPECT_EQ(caption, "scan39");
    });
    MsgBox(&window, "文件未找到", kMsgBoxExclamation, "scan39");
    SetMsgBoxHook({});
    EXPECT_EQ(calls, 1);
}

// ---- application object ------------------------------------------------------------------

TEST(ApplicationTest, PathIsTheProgramsFolder) {
    EXPECT_EQ(AppPath(), QCoreApplication::applicationDirPath());
    EXPECT_TRUE(QFileInfo::exists(AppPath() + "/" +
                                  QFileInfo(QCoreApplication::applicationFilePath()).fileName()));
}

TEST(ApplicationTest, TitleIsTheApplicationName) {
    const QString saved = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName("条码解码");
    EXPECT_EQ(AppTitle(), "条码解码");
    // Unnamed, Qt falls back on the program's file name; the title is never empty.
    QCoreApplication::setApplicationName(QString());
    EXPECT_EQ(AppTitle(), QCoreApplication::applicationName());
    EXPECT_FALSE(AppTitle().isEmpty());
    QCoreApplication::setApplicationName(saved);
}

}  // namespace
}  // namespace scan39::host
