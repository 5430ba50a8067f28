// CDialog's properties and its open/save dialogs against the scripted dialog layer.

#include <gtest/gtest.h>

#include <QString>
#include <functional>
#include <ostream>
#include <string>

#include "fake_layer.h"
#include "scan39/dialogs/cdialog.h"

// Readable failure messages; NULs shown as \0.
static void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << QString(s).replace(QChar(u'\0'), QStringLiteral("\\0")).toStdString() << '"';
}

namespace scan39::dialogs {
namespace {

using testing::FakeDialogLayer;

QString Nul() {
    return QString(QChar(u'\0'));
}
QString Blanks() {
    return QString(255, u' ') + Nul();
}

// Writes `text` over the start of the buffer, keeping its length, as the platform does.
void Overwrite(std::optional<QString>& buffer, const QString& text) {
    buffer->replace(0, text.size(), text);
}

// ---- Filter ---------------------------------------------------------------------------------

struct FilterCase {
    const char* name;
    QString assigned;
    QString stored;
};
void PrintTo(const FilterCase& c, std::ostream* os) {
    *os << c.name;
}

class FilterTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterTest, StoresThePlatformListForm) {
    FakeDialogLayer layer;
    CDialog dialog(&layer);
    dialog.Filter(GetParam().assigned);
    EXPECT_EQ(dialog.Filter(), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FilterTest,
    ::testing::Values(
        FilterCase{"BarBecomesNul", "a|b", "a" + Nul() + "b" + Nul()},
        FilterCase{"NoBar", "abc", "abc" + Nul()}, FilterCase{"Empty", "", Nul()},
        FilterCase{"LeadingAndDoubledBars", "||a|", Nul() + Nul() + "a" + Nul() + Nul()},
        FilterCase{"WindowFilter", QStringLiteral("图片文件(*.bmp;*.jpg;*.gif)|*.bmp;*.jpg;*.gif"),
                   QStringLiteral("图片文件(*.bmp;*.jpg;*.gif)") + Nul() +
                       QStringLiteral("*.bmp;*.jpg;*.gif") + Nul()},
        FilterCase{"EmbeddedNulKept", "a" + Nul() + "b", "a" + Nul() + "b" + Nul()},
        FilterCase{"FullWidthBarIsNoBar", QStringLiteral("a｜b"), QStringLiteral("a｜b") + Nul()}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(FilterTest, ReassigningTheStoredFormAppendsAnotherNul) {
    FakeDialogLayer layer;
    CDialog dialog(&layer);
    dialog.Filter("a|b");
    dialog.Filter(dialog.Filter());
    EXPECT_EQ(dialog.Filter(), "a" + Nul() + "b" + Nul() + Nul());
}

// ---- The other 27 properties ----------------------------------------------------------------

template <class T, class Arg = T>
struct Prop {
    const char* name;
    T (CDialog::*get)() const;
    void (CDialog::*set)(Arg);
};
#define PROP(P) \
    { #P, &CDialog::P, &CDialog::P }
const Prop<std::int32_t> kNumbers[] = {
    PROP(Flags),     PROP(Hwnd),        PROP(Instance),    PROP(Copies),      PROP(FromPage),
    PROP(ToPage),    PROP(MaxPage),     PROP(MinPage),     PROP(Color),       PROP(FontColor),
    PROP(FontSize),  PROP(CharSet),     PROP(PaperWidth),  PROP(PaperHeight), PROP(MarginLeft),
    PROP(MarginTop), PROP(MarginRight), PROP(MarginBottom)};
const Prop<Boolean> kBooleans[] = {PROP(Italic), PROP(StrikeOut), PROP(Underline), PROP(FontBlob)};
const Prop<QString, const QString&> kTexts[] = {PROP(DialogTitle), PROP(InitDir), PROP(FileTitle),
                                                PROP(FileName), PROP(FontName)};
#undef PROP

// Every field starts at 0, empty or False; every setter stores its value unchecked in its own
// field. The values are all different, so a getter or setter crossed with another shows.
TEST(PropertiesTest, StartEmptyAndEachKeepsItsOwnValue) {
    FakeDialogLayer layer;
    CDialog d(&layer);
    for (const auto& p : kNumbers) EXPECT_EQ((d.*p.get)(), 0) << p.name;
    for (const auto& p : kBooleans) EXPECT_EQ((d.*p.get)(), host::kFalse) << p.name;
    for (const auto& p : kTexts) EXPECT_TRUE((d.*p.get)().isEmpty()) << p.name;

    std::int32_t value = -3;  // negative and odd values: no setter validates
    for (const auto& p : kNumbers) (d.*p.set)(value += 1000);
    Boolean flag = 0;
    for (const auto& p : kBooleans) (d.*p.set)(++flag);  // 1, 2, 3, 4: not even Booleans
    for (const auto& p : kTexts) (d.*p.set)(QString::fromLatin1(p.name) + Nul());

    value = -3;
    for (const auto& p : kNumbers) EXPECT_EQ((d.*p.get)(), value += 1000) << p.name;
    flag = 0;
    for (const auto& p : kBooleans) EXPECT_EQ((d.*p.get)(), ++flag) << p.name;
    for (const auto& p : kTexts) {
        EXPECT_EQ((d.*p.get)(), QString::fromLatin1(p.name) + Nul()) << p.name;
    }
    EXPECT_TRUE(d.Filter().isEmpty());
}

// ---- ShowOpen and ShowSave ------------------------------------------------------------------

struct FileDialogKind {
    const char* name;
    Boolean (CDialog::*show)();
    std::function<bool(OPENFILENAME&)> FakeDialogLayer::*script;
    std::optional<OPENFILENAME> FakeDialogLayer::*in;
    std::optional<OPENFILENAME> FakeDialogLayer::*otherIn;  // the function it must not call
};
void PrintTo(const FileDialogKind& c, std::ostream* os) {
    *os << c.name;
}

class FileDialogTest : public ::testing::TestWithParam<FileDialogKind> {
  protected:
    Boolean Show() { return (dialog.*GetParam().show)(); }
    void Script(std::function<bool(OPENFILENAME&)> script) {
        layer.*GetParam().script = std::move(script);
    }
    const OPENFILENAME& In() {
        EXPECT_TRUE((layer.*GetParam().in).has_value());
        return (layer.*GetParam().in).value();
    }

    FakeDialogLayer layer;
    CDialog dialog{&layer};
};

TEST_P(FileDialogTest, RecordCarriesThePropertiesAndFreshBuffers) {
    dialog.Hwnd(0x1234);
    dialog.Instance(0x5678);
    dialog.Filter(QStringLiteral("图片文件(*.bmp;*.jpg;*.gif)|*.bmp;*.jpg;*.gif"));
    dialog.Flags(0x80A00);
    dialog.InitDir("/opt/scan39");
    dialog.DialogTitle(QStringLiteral("装入图片"));
    // Outputs only: neither may reach the dialog.
    dialog.FileName("/old/name.bmp");
    dialog.FileTitle("name.bmp");

    EXPECT_EQ(Show(), host::kFalse);  // unscripted: the user cancels

    EXPECT_EQ(layer.calls, 1);
    EXPECT_FALSE((layer.*GetParam().otherIn).has_value());
    const OPENFILENAME& r = In();
    EXPECT_EQ(r.lStructSize, 76u);
    EXPECT_EQ(r.hwndOwner, 0x1234);
    EXPECT_EQ(r.hInstance, 0x5678);
    EXPECT_EQ(r.lpstrFilter, dialog.Filter());
    EXPECT_EQ(r.lpstrFile, Blanks());
    EXPECT_EQ(r.nMaxFile, 256u);
    EXPECT_EQ(r.lpstrFileTitle, Blanks());
    EXPECT_EQ(r.nMaxFileTitle, 256u);
    EXPECT_EQ(r.lpstrInitialDir, QString("/opt/scan39"));
    EXPECT_EQ(r.lpstrTitle, QStringLiteral("装入图片"));
    EXPECT_EQ(r.Flags, 0x80A00u);
    // Everything else zero or null.
    EXPECT_FALSE(r.lpstrCustomFilter || r.lpstrDefExt || r.lpTemplateName);
    EXPECT_EQ(r.nMaxCustFilter + r.nFilterIndex + r.nFileOffset + r.nFileExtension, 0u);
    EXPECT_EQ(r.lCustData, 0);
    EXPECT_EQ(r.lpfnHook, nullptr);
}

TEST_P(FileDialogTest, NeverAssignedTextsAreNullAndAssignedEmptyOnesAreNot) {
    Show();
    EXPECT_FALSE(In().lpstrFilter || In().lpstrInitialDir || In().lpstrTitle);
    EXPECT_EQ(In().hwndOwner + In().hInstance, 0);
    EXPECT_EQ(In().Flags, 0u);

    dialog.Filter("");
    dialog.InitDir("");
    dialog.DialogTitle("");
    Show();
    EXPECT_EQ(In().lpstrFilter, Nul());
    EXPECT_EQ(In().lpstrInitialDir, QString(""));
    EXPECT_EQ(In().lpstrTitle, QString(""));
}

TEST_P(FileDialogTest, FlagsPassUnchanged) {
    for (const std::int32_t flags : {0x80A00, 0x1004, 0x200, -1}) {
        dialog.Flags(flags);
        Show();
        EXPECT_EQ(In().Flags, static_cast<std::uint32_t>(flags)) << flags;
    }
}

TEST_P(FileDialogTest, ConfirmedResultsAreCopiedWhole) {
    Script([](OPENFILENAME& r) {
        Overwrite(r.lpstrFile, "/pics/a.bmp" + Nul());
        Overwrite(r.lpstrFileTitle, "a.bmp" + Nul());
        return true;
    });
    EXPECT_EQ(Show(), host::kTrue);
    EXPECT_EQ(dialog.FileName().size(), 256);
    EXPECT_EQ(dialog.FileName().section(QChar(u'\0'), 0, 0), "/pics/a.bmp");
    EXPECT_EQ(dialog.FileName(), "/pics/a.bmp" + Nul() + Blanks().mid(12));
    EXPECT_EQ(dialog.FileTitle(), "a.bmp" + Nul() + Blanks().mid(6));

    // The next call starts from blank buffers again.
    Show();
    EXPECT_EQ(In().lpstrFile, Blanks());
    EXPECT_EQ(In().lpstrFileTitle, Blanks());
}

TEST_P(FileDialogTest, MultipleSelectionArrivesUnsplit) {
    const QString list = "/pics" + Nul() + "a.bmp" + Nul() + "b.jpg" + Nul() + Nul();
    Script([&](OPENFILENAME& r) {
        Overwrite(r.lpstrFile, list);
        return true;
    });
    dialog.Flags(0x80A00);
    EXPECT_EQ(Show(), host::kTrue);
    EXPECT_EQ(dialog.FileName(), list + Blanks().mid(list.size()));
    EXPECT_EQ(dialog.FileTitle(), Blanks());  // the platform leaves it for several files
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FileDialogTest,
    ::testing::Values(FileDialogKind{"ShowOpen", &CDialog::ShowOpen, &FakeDialogLayer::onOpen,
                                     &FakeDialogLayer::openIn, &FakeDialogLayer::saveIn},
                      FileDialogKind{"ShowSave", &CDialog::ShowSave, &FakeDialogLayer::onSave,
                                     &FakeDialogLayer::saveIn, &FakeDialogLayer::openIn}),
    [](const auto& row) { return std::string(row.param.name); });

// A false return leaves every property as it was, even when the platform wrote into the buffers
// before it failed, and whether or not the caller assigned the outputs itself.
struct UnconfirmedCase {
    const char* name;
    bool open;
    bool writesBeforeFailing;
    bool callerAssigned;
};
void PrintTo(const UnconfirmedCase& c, std::ostream* os) {
    *os << c.name;
}

class UnconfirmedTest : public ::testing::TestWithParam<UnconfirmedCase> {};

TEST_P(UnconfirmedTest, ChangesNothing) {
    const UnconfirmedCase& c = GetParam();
    FakeDialogLayer layer;
    (c.open ? layer.onOpen : layer.onSave) = [&](OPENFILENAME& r) {
        if (c.writesBeforeFailing) {
            Overwrite(r.lpstrFile, "/pics/a.bmp" + Nul());
            Overwrite(r.lpstrFileTitle, "a.bmp" + Nul());
        }
        return false;
    };
    CDialog dialog(&layer);
    dialog.Filter("a|*.a");
    dialog.Flags(0x80A00);
    if (c.callerAssigned) {
        dialog.FileName("mine" + Nul() + " ");
        dialog.FileTitle("title");
    }
    const QString fileName = dialog.FileName();
    const QString fileTitle = dialog.FileTitle();

    EXPECT_EQ(c.open ? dialog.ShowOpen() : dialog.ShowSave(), host::kFalse);
    EXPECT_EQ(layer.calls, 1);
    EXPECT_EQ(dialog.FileName(), fileName);
    EXPECT_EQ(dialog.FileTitle(), fileTitle);
    EXPECT_EQ(dialog.Filter(), "a" + Nul() + "*.a" + Nul());
    EXPECT_EQ(dialog.Flags(), 0x80A00);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnconfirmedTest,
    ::testing::Values(UnconfirmedCase{"OpenCancelled", true, false, false},
                      UnconfirmedCase{"OpenCancelledKeepsCallerValues", true, false, true},
                      UnconfirmedCase{"OpenFailedAfterWriting", true, true, false},
                      UnconfirmedCase{"OpenFailedKeepsCallerValues", true, true, true},
                      UnconfirmedCase{"SaveCancelledKeepsCallerValues", false, false, true},
                      UnconfirmedCase{"SaveFailedAfterWriting", false, true, false}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace scan39::dialogs
