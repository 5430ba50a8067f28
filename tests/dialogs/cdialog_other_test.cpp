// CDialog's print, colour, font, find, replace and page-setup dialogs against the scripted
// layer and a counting kernel; the real kernel's memory blocks.

#include <gtest/gtest.h>
#include <ostream>

#include <QString>
#include <QStringList>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fake_layer.h"
#include "scan39/dialogs/cdialog.h"
#include "scan39/host/errors.h"

namespace scan39::dialogs {
namespace {

using testing::FakeDialogLayer;

// Memory blocks in a table, with every call counted; the printer context can fail on demand.
class FakeKernel final : public KernelLayer {
  public:
    std::map<HGLOBAL, std::vector<std::byte>> blocks;
    std::vector<std::uint32_t> allocFlags;
    std::vector<std::size_t> allocSizes, moves;
    int locks = 0, unlocks = 0, frees = 0, dcCalls = 0;
    HDC dc = 0x4D2;
    bool allocFails = false, lockFails = false, dcThrows = false;

    HGLOBAL GlobalAlloc(std::uint32_t flags, std::size_t bytes) override {
        allocFlags.push_back(flags);
        allocSizes.push_back(bytes);
        if (allocFails) return 0;
        blocks[next_] = std::vector<std::byte>(bytes, std::byte{0xCD});
        if (flags & GMEM_ZEROINIT)
            std::fill(blocks[next_].begin(), blocks[next_].end(), std::byte{});
        return next_++;
    }
    void* GlobalLock(HGLOBAL block) override {
        ++locks;
        const auto it = blocks.find(block);
        return lockFails || it == blocks.end() ? nullptr : it->second.data();
    }
    bool GlobalUnlock(HGLOBAL) override {
        ++unlocks;
        return false;
    }
    HGLOBAL GlobalFree(HGLOBAL block) override {
        ++frees;
        return blocks.erase(block) ? 0 : block;
    }
    void RtlMoveMemory(void* destination, const void* source, std::size_t bytes) override {
        moves.push_back(bytes);
        std::memmove(destination, source, bytes);
    }
    HDC DefaultPrinterDC() override {
        ++dcCalls;
        if (dcThrows) throw host::RuntimeError(482, QStringLiteral("printer gone"));
        return dc;
    }

  private:
    HGLOBAL next_ = 0x100;
};

// All 28 properties, so that "nothing changed" compares every one of them.
QStringList Snapshot(const CDialog& d) {
    const auto n = [](auto v) { return QString::number(v); };
    return {"Hwnd=" + n(d.Hwnd()),
            "Instance=" + n(d.Instance()),
            "Filter=" + d.Filter(),
            "Flags=" + n(d.Flags()),
            "DialogTitle=" + d.DialogTitle(),
            "InitDir=" + d.InitDir(),
            "FileName=" + d.FileName(),
            "FileTitle=" + d.FileTitle(),
            "Copies=" + n(d.Copies()),
            "FromPage=" + n(d.FromPage()),
            "ToPage=" + n(d.ToPage()),
            "MinPage=" + n(d.MinPage()),
            "MaxPage=" + n(d.MaxPage()),
            "Color=" + n(d.Color()),
            "FontName=" + d.FontName(),
            "FontColor=" + n(d.FontColor()),
            "FontSize=" + n(d.FontSize()),
            "CharSet=" + n(d.CharSet()),
            "Italic=" + n(d.Italic()),
            "StrikeOut=" + n(d.StrikeOut()),
            "Underline=" + n(d.Underline()),
            "FontBlob=" + n(d.FontBlob()),
            "PaperWidth=" + n(d.PaperWidth()),
            "PaperHeight=" + n(d.PaperHeight()),
            "MarginLeft=" + n(d.MarginLeft()),
            "MarginTop=" + n(d.MarginTop()),
            "MarginRight=" + n(d.MarginRight()),
            "MarginBottom=" + n(d.MarginBottom())};
}

// Every property away from its default, so that a dialog that reads one shows it.
void Populate(CDialog& d) {
    d.Hwnd(11);
    d.Instance(22);
    d.Filter("a|b");
    d.Flags(0x12345);
    d.DialogTitle("t");
    d.InitDir("/i");
    d.FileName("f");
    d.FileTitle("ft");
    d.Copies(3);
    d.FromPage(4);
    d.ToPage(5);
    d.MinPage(1);
    d.MaxPage(9);
    d.Color(0x123456);
    d.FontName("Arial");
    d.FontColor(0x654321);
    d.FontSize(33);
    d.CharSet(77);
    d.Italic(host::kTrue);
    d.StrikeOut(host::kTrue);
    d.Underline(host::kTrue);
    d.FontBlob(host::kTrue);
    d.PaperWidth(1);
    d.PaperHeight(2);
    d.MarginLeft(3);
    d.MarginTop(4);
    d.MarginRight(5);
    d.MarginBottom(6);
}

class OtherDialogsTest : public ::testing::Test {
  protected:
    FakeDialogLayer fake;
    FakeKernel kernel;
    CDialog dialog{&fake, &kernel};
};

// --- print -------------------------------------------------------------------------------

TEST_F(OtherDialogsTest, PrintRecordCarriesOwnerFlagsAndPagesAs16Bit) {
    Populate(dialog);
    dialog.Copies(-32768);
    dialog.MaxPage(32767);
    EXPECT_EQ(dialog.ShowPrint(), host::kFalse);
    ASSERT_TRUE(fake.printIn);
    const PRINTDLG& pd = *fake.printIn;
    EXPECT_EQ(pd.lStructSize, 66u);
    EXPECT_EQ(pd.hwndOwner, 11);
    EXPECT_EQ(pd.hInstance, 22);
    EXPECT_EQ(pd.Flags, 0x12345u);
    EXPECT_EQ(pd.nCopies, -32768);
    EXPECT_EQ(pd.nFromPage, 4);
    EXPECT_EQ(pd.nToPage, 5);
    EXPECT_EQ(pd.nMinPage, 1);
    EXPECT_EQ(pd.nMaxPage, 32767);
    EXPECT_EQ(pd.hDevMode, 0);
    EXPECT_EQ(pd.hDevNames, 0);
    EXPECT_EQ(pd.hDC, 0);
    EXPECT_EQ(pd.lpfnPrintHook, nullptr);
    EXPECT_FALSE(pd.lpPrintTemplateName);
}

struct OverflowCase {
    const char* name;
    void (CDialog::*set)(std::int32_t);
    std::int32_t value;
};
void PrintTo(const OverflowCase& c, std::ostream* os) {
    *os << c.name;
}

class PrintOverflowTest : public OtherDialogsTest,
                          public ::testing::WithParamInterface<OverflowCase> {};

TEST_P(PrintOverflowTest, FailsWithError6BeforeAnyDialog) {
    Populate(dialog);
    (dialog.*GetParam().set)(GetParam().value);
    const QStringList before = Snapshot(dialog);
    try {
        dialog.ShowPrint();
        FAIL() << "no overflow error";
    } catch (const host::RuntimeError& e) {
        EXPECT_EQ(e.number(), 6);
    }
    EXPECT_EQ(fake.calls, 0);
    EXPECT_EQ(Snapshot(dialog), before);
}

INSTANTIATE_TEST_SUITE_P(
    AllFive, PrintOverflowTest,
    ::testing::Values(OverflowCase{"Copies40000", &CDialog::Copies, 40000},
                      OverflowCase{"Copies32768", &CDialog::Copies, 32768},
                      OverflowCase{"FromPageMinus32769", &CDialog::FromPage, -32769},
                      OverflowCase{"ToPage32768", &CDialog::ToPage, 32768},
                      OverflowCase{"MinPageMin", &CDialog::MinPage, INT32_MIN},
                      OverflowCase{"MaxPageMax", &CDialog::MaxPage, INT32_MAX}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(OtherDialogsTest, ConfirmedPrintReadsPagesBackSignedAndLeavesFlags) {
    dialog.Flags(0x100);
    fake.onPrint = [](PRINTDLG& pd) {
        pd.nCopies = -1;  // 0xFFFF as the platform writes it
        pd.nFromPage = 2;
        pd.nToPage = 32767;
        pd.nMinPage = -32768;
        pd.nMaxPage = 40;
        pd.Flags = PD_PAGENUMS | PD_COLLATE;
        return true;
    };
    EXPECT_EQ(dialog.ShowPrint(), host::kTrue);
    EXPECT_EQ(dialog.Copies(), -1);
    EXPECT_EQ(dialog.FromPage(), 2);
    EXPECT_EQ(dialog.ToPage(), 32767);
    EXPECT_EQ(dialog.MinPage(), -32768);
    EXPECT_EQ(dialog.MaxPage(), 40);
    EXPECT_EQ(dialog.Flags(), 0x100);
}

// --- colour ------------------------------------------------------------------------------

TEST_F(OtherDialogsTest, ColourStartsBlackWithFreshCustomColoursAndSetsColor) {
    Populate(dialog);
    std::vector<std::array<COLORREF, 16>> blocksSeen;
    fake.onColor = [&](CHOOSECOLOR& cc) {
        blocksSeen.push_back(*cc.lpCustColors);
        cc.lpCustColors->fill(0xABCDEF);  // the user defines custom colours
        cc.rgbResult = 0x0080FF;
        return true;
    };
    EXPECT_EQ(dialog.ShowColor(), host::kTrue);
    EXPECT_EQ(dialog.Color(), 0x0080FF);
    dialog.ShowColor();
    ASSERT_TRUE(fake.colorIn);
    const CHOOSECOLOR& cc = *fake.colorIn;
    EXPECT_EQ(cc.lStructSize, 36u);
    EXPECT_EQ(cc.hwndOwner, 11);
    EXPECT_EQ(cc.hInstance, 22);
    EXPECT_EQ(cc.rgbResult, 0);  // Color is not passed
    EXPECT_EQ(cc.Flags, 0u);     // nor are Flags
    ASSERT_EQ(blocksSeen.size(), 2u);
    for (const auto& block : blocksSeen)
        for (COLORREF c : block) EXPECT_EQ(c, 0);
}

// --- font --------------------------------------------------------------------------------

TEST_F(OtherDialogsTest, FontRecordIsFixedWhateverThePropertiesHold) {
    Populate(dialog);
    LOGFONTA* handedBlock = nullptr;
    fake.onFont = [&](CHOOSEFONT& cf) {
        handedBlock = cf.lpLogFont;
        EXPECT_EQ(static_cast<void*>(cf.lpLogFont), kernel.blocks.begin()->second.data());
        return false;
    };
    dialog.ShowFont();
    ASSERT_TRUE(fake.fontIn && fake.logFontIn);
    const CHOOSEFONT& cf = *fake.fontIn;
    EXPECT_EQ(cf.lStructSize, 60u);
    EXPECT_EQ(cf.hwndOwner, 11);
    EXPECT_EQ(cf.hDC, 0x4D2);
    EXPECT_NE(handedBlock, nullptr);
    EXPECT_EQ(cf.iPointSize, 120);
    EXPECT_EQ(cf.Flags, 0x12143u);
    EXPECT_EQ(cf.rgbColors, 0);
    EXPECT_EQ(cf.nFontType, 0x400);
    EXPECT_EQ(cf.nSizeMin, 1);
    EXPECT_EQ(cf.nSizeMax, 72);
    EXPECT_EQ(cf.hInstance, 0);
    EXPECT_FALSE(cf.lpszStyle);

    LOGFONTA expected;
    expected.lfWeight = 400;
    expected.lfCharSet = 1;
    expected.lfPitchAndFamily = 16;
    std::strcpy(expected.lfFaceName, "Times New Roman");
    EXPECT_EQ(std::memcmp(&*fake.logFontIn, &expected, sizeof(LOGFONTA)), 0);

    EXPECT_EQ(kernel.allocFlags, std::vector<std::uint32_t>{0x42});
    EXPECT_EQ(kernel.allocSizes, std::vector<std::size_t>{60});
    EXPECT_EQ(kernel.moves, std::vector<std::size_t>{60});  // in only: cancelled

    kernel.dc = 0x99;  // the printer's context is asked for afresh
    dialog.ShowFont();
    EXPECT_EQ(kernel.dcCalls, 2);
    EXPECT_EQ(fake.fontIn->hDC, 0x99);
}

struct StyleCase {
    const char* name;
    std::uint8_t italic, underline, strikeOut;
    std::int32_t weight;
    Boolean expItalic, expUnderline, expStrikeOut, expBold;
};
void PrintTo(const StyleCase& c, std::ostream* os) {
    *os << c.name;
}

class FontStyleTest : public OtherDialogsTest, public ::testing::WithParamInterface<StyleCase> {};

TEST_P(FontStyleTest, ReadsEachFlagAgainstItsOwnValue) {
    const StyleCase& c = GetParam();
    fake.onFont = [&](CHOOSEFONT& cf) {
        cf.lpLogFont->lfItalic = c.italic;
        cf.lpLogFont->lfUnderline = c.underline;
        cf.lpLogFont->lfStrikeOut = c.strikeOut;
        cf.lpLogFont->lfWeight = c.weight;
        return true;
    };
    ASSERT_EQ(dialog.ShowFont(), host::kTrue);
    EXPECT_EQ(dialog.Italic(), c.expItalic);
    EXPECT_EQ(dialog.Underline(), c.expUnderline);
    EXPECT_EQ(dialog.StrikeOut(), c.expStrikeOut);
    EXPECT_EQ(dialog.FontBlob(), c.expBold);
}

constexpr Boolean T = host::kTrue, F = host::kFalse;
INSTANTIATE_TEST_SUITE_P(
    Styles, FontStyleTest,
    ::testing::Values(StyleCase{"Plain400", 0, 0, 0, 400, F, F, F, F},
                      StyleCase{"Italic255", 255, 0, 0, 400, T, F, F, F},
                      StyleCase{"Italic1IsNotItalic", 1, 0, 0, 400, F, F, F, F},
                      StyleCase{"Underline1", 0, 1, 0, 400, F, T, F, F},
                      StyleCase{"Underline255IsNot", 0, 255, 0, 400, F, F, F, F},
                      StyleCase{"StrikeOut1", 0, 0, 1, 400, F, F, T, F},
                      StyleCase{"StrikeOut255IsNot", 0, 0, 255, 400, F, F, F, F},
                      StyleCase{"Weight600NotBold", 0, 0, 0, 600, F, F, F, F},
                      StyleCase{"Weight700Bold", 0, 0, 0, 700, F, F, F, T},
                      StyleCase{"Weight800Bold", 255, 1, 1, 800, T, T, T, T}),
    [](const auto& p) { return std::string(p.param.name); });

class FontSizeTest : public OtherDialogsTest,
                     public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(FontSizeTest, TenthsRoundHalfToEven) {
    const auto [tenths, points] = GetParam();
    fake.onFont = [tenths = tenths](CHOOSEFONT& cf) {
        cf.iPointSize = tenths;
        return true;
    };
    ASSERT_EQ(dialog.ShowFont(), host::kTrue);
    EXPECT_EQ(dialog.FontSize(), points) << tenths << " tenths";
}

INSTANTIATE_TEST_SUITE_P(Sizes, FontSizeTest,
                         ::testing::Values(std::pair{85, 8}, std::pair{95, 10}, std::pair{105, 10},
                                           std::pair{115, 12}, std::pair{125, 12},
                                           std::pair{124, 12}, std::pair{126, 13}, std::pair{0, 0},
                                           std::pair{-25, -2}, std::pair{-35, -4},
                                           std::pair{-26, -3}));

TEST_F(OtherDialogsTest, ConfirmedFontReadsNameColourAndCharSet) {
    struct Case {
        QByteArray face;  // exactly the field's bytes that matter
        QString expName;
        std::uint8_t charSet;
    };
    const std::vector<Case> cases = {
        {QByteArray("Arial\0junk", 10), "Arial", 0},
        {QByteArray("宋体"), QString::fromUtf8("宋体"), 134},
        {QByteArray(32, 'x'), QString(32, 'x'), 255},  // no NUL in the field: stop at its end
    };
    for (const Case& c : cases) {
        fake.onFont = [&](CHOOSEFONT& cf) {
            std::memset(cf.lpLogFont->lfFaceName, 0, 32);
            std::memcpy(cf.lpLogFont->lfFaceName, c.face.constData(), c.face.size());
            cf.lpLogFont->lfCharSet = c.charSet;
            cf.rgbColors = 0x0000FF;
            return true;
        };
        ASSERT_EQ(dialog.ShowFont(), host::kTrue);
        EXPECT_EQ(dialog.FontName(), c.expName);
        EXPECT_EQ(dialog.CharSet(), c.charSet);
        EXPECT_EQ(dialog.FontColor(), 0x0000FF);
    }
}

enum class FontPath { Confirm, Cancel, PrinterFails };

// Names the path in test listings instead of dumping its bytes.
void PrintTo(FontPath p, std::ostream* os) {
    *os << (p == FontPath::Confirm ? "Confirm" : p == FontPath::Cancel ? "Cancel" : "PrinterFails");
}

class FontBlockTest : public OtherDialogsTest, public ::testing::WithParamInterface<FontPath> {};

TEST_P(FontBlockTest, BlockIsUnlockedAndFreedOnEveryPath) {
    fake.onFont = [](CHOOSEFONT&) { return true; };
    if (GetParam() == FontPath::Cancel) fake.onFont = nullptr;
    kernel.dcThrows = GetParam() == FontPath::PrinterFails;
    if (GetParam() == FontPath::PrinterFails) {
        Populate(dialog);
        const QStringList before = Snapshot(dialog);
        try {
            dialog.ShowFont();
            FAIL() << "the printer's error did not reach the caller";
        } catch (const host::RuntimeError& e) {
            EXPECT_EQ(e.number(), 482);
        }
        EXPECT_EQ(fake.calls, 0);
        EXPECT_EQ(Snapshot(dialog), before);
    } else {
        EXPECT_EQ(dialog.ShowFont(), GetParam() == FontPath::Confirm ? host::kTrue : host::kFalse);
    }
    EXPECT_EQ(kernel.allocFlags.size(), 1u);
    EXPECT_EQ(kernel.unlocks, 1);
    EXPECT_EQ(kernel.frees, 1);
    EXPECT_TRUE(kernel.blocks.empty());
}

INSTANTIATE_TEST_SUITE_P(Paths, FontBlockTest,
                         ::testing::Values(FontPath::Confirm, FontPath::Cancel,
                                           FontPath::PrinterFails));

TEST_F(OtherDialogsTest, FontWithoutMemoryFailsCleanlyBeforeTheDialog) {
    for (const bool lockFails : {false, true}) {
        FakeKernel k;
        k.allocFails = !lockFails;
        k.lockFails = lockFails;
        CDialog d(&fake, &k);
        try {
            d.ShowFont();
            FAIL() << "no error";
        } catch (const host::RuntimeError& e) {
            EXPECT_EQ(e.number(), host::kErrOutOfMemory);
        }
        EXPECT_TRUE(k.blocks.empty());
        EXPECT_TRUE(k.moves.empty());
    }
    EXPECT_EQ(fake.calls, 0);
}

// --- cancel, find, replace, page setup ----------------------------------------------------

struct DialogMethod {
    const char* name;
    Boolean (CDialog::*show)();
};
void PrintTo(const DialogMethod& c, std::ostream* os) {
    *os << c.name;
}

class CancelTest : public OtherDialogsTest, public ::testing::WithParamInterface<DialogMethod> {};

// The scripts scribble over every record and then cancel (or report no window).
TEST_P(CancelTest, LeavesEveryPropertyAsItWas) {
    fake.onPrint = [](PRINTDLG& r) {
        r.nCopies = r.nFromPage = r.nToPage = r.nMinPage = r.nMaxPage = 7;
        return false;
    };
    fake.onColor = [](CHOOSECOLOR& r) {
        r.rgbResult = 7;
        return false;
    };
    fake.onFont = [](CHOOSEFONT& r) {
        r.iPointSize = 70;
        r.rgbColors = 7;
        r.lpLogFont->lfItalic = 0;
        r.lpLogFont->lfWeight = 100;
        return false;
    };
    fake.onFind = fake.onReplace = [](FINDREPLACE& r) {
        r.Flags = 7;
        return HWND{0};
    };
    fake.onPageSetup = [](PAGESETUPDLG& r) {
        r.ptPaperSize = {7, 7};
        r.rtMargin = {7, 7, 7, 7};
        return false;
    };
    Populate(dialog);
    const QStringList before = Snapshot(dialog);
    EXPECT_EQ((dialog.*GetParam().show)(), host::kFalse);
    EXPECT_EQ(fake.calls, 1);
    EXPECT_EQ(Snapshot(dialog), before);
}

INSTANTIATE_TEST_SUITE_P(AllMethods, CancelTest,
                         ::testing::Values(DialogMethod{"ShowPrint", &CDialog::ShowPrint},
                                           DialogMethod{"ShowColor", &CDialog::ShowColor},
                                           DialogMethod{"ShowFont", &CDialog::ShowFont},
                                           DialogMethod{"ShowFind", &CDialog::ShowFind},
                                           DialogMethod{"ShowReplace", &CDialog::ShowReplace},
                                           DialogMethod{"ShowPageSetup", &CDialog::ShowPageSetup}),
                         [](const auto& p) { return std::string(p.param.name); });

class FindReplaceTest : public OtherDialogsTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FindReplaceTest, StartsTheModelessDialogAndChangesNothing) {
    const bool replace = GetParam();
    Populate(dialog);
    const QStringList before = Snapshot(dialog);
    fake.onFind = fake.onReplace = [](FINDREPLACE&) { return HWND{42}; };
    EXPECT_EQ(replace ? dialog.ShowReplace() : dialog.ShowFind(), host::kTrue);
    EXPECT_EQ(Snapshot(dialog), before);

    const std::optional<FINDREPLACE>& in = replace ? fake.replaceIn : fake.findIn;
    ASSERT_TRUE(in);
    EXPECT_FALSE(replace ? fake.findIn : fake.replaceIn);
    EXPECT_EQ(in->lStructSize, 40u);
    EXPECT_EQ(in->hwndOwner, 11);
    EXPECT_EQ(in->hInstance, 22);
    EXPECT_EQ(in->Flags, 0u);  // the Flags property is not passed
    EXPECT_FALSE(in->lpstrFindWhat);
    EXPECT_FALSE(in->lpstrReplaceWith);
    EXPECT_EQ(in->wFindWhatLen, 255);
    EXPECT_EQ(in->wReplaceWithLen, 0);
}

INSTANTIATE_TEST_SUITE_P(FindAndReplace, FindReplaceTest, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Replace" : "Find"; });

TEST_F(OtherDialogsTest, PageSetupStartsFromZeroAndSetsAllSixOnOk) {
    Populate(dialog);
    fake.onPageSetup = [](PAGESETUPDLG& r) {
        r.ptPaperSize = {21000, 29700};
        r.rtMargin = {1000, 2000, 3000, 4000};
        r.rtMinMargin = {9, 9, 9, 9};
        return true;
    };
    EXPECT_EQ(dialog.ShowPageSetup(), host::kTrue);
    ASSERT_TRUE(fake.pageSetupIn);
    const PAGESETUPDLG& in = *fake.pageSetupIn;
    EXPECT_EQ(in.lStructSize, 84u);
    EXPECT_EQ(in.hwndOwner, 11);
    EXPECT_EQ(in.hInstance, 22);
    EXPECT_EQ(in.Flags, 0u);
    EXPECT_EQ(in.ptPaperSize.x, 0);
    EXPECT_EQ(in.ptPaperSize.y, 0);
    EXPECT_EQ(in.rtMargin.left + in.rtMargin.top + in.rtMargin.right + in.rtMargin.bottom, 0);
    EXPECT_EQ(in.hDevMode, 0);
    EXPECT_EQ((std::vector{dialog.PaperWidth(), dialog.PaperHeight(), dialog.MarginLeft(),
                           dialog.MarginTop(), dialog.MarginRight(), dialog.MarginBottom()}),
              (std::vector<std::int32_t>{21000, 29700, 1000, 2000, 3000, 4000}));
}

// --- the real kernel's blocks --------------------------------------------------------------

TEST(SystemKernelTest, BlocksAreZeroedOnRequestAndCountLocks) {
    KernelLayer& k = SystemKernel();
    const HGLOBAL block = k.GlobalAlloc(GHND, 60);
    ASSERT_NE(block, 0);
    auto* bytes = static_cast<unsigned char*>(k.GlobalLock(block));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::count(bytes, bytes + 60, 0), 60);
    EXPECT_EQ(k.GlobalLock(block), bytes);  // a movable block stays put while locked

    EXPECT_EQ(k.GlobalFree(block), block) << "a locked block must not be freed";
    EXPECT_TRUE(k.GlobalUnlock(block));   // still locked once
    EXPECT_FALSE(k.GlobalUnlock(block));  // now unlocked
    EXPECT_FALSE(k.GlobalUnlock(block));  // not locked at all
    EXPECT_EQ(k.GlobalFree(block), 0);
    EXPECT_EQ(k.GlobalLock(block), nullptr);
    EXPECT_EQ(k.GlobalFree(block), block);
    EXPECT_EQ(k.GlobalLock(0), nullptr);
}

TEST(SystemKernelTest, PrinterContextWithoutApplicationIsAClearError) {
    try {
        SystemKernel().DefaultPrinterDC();
        FAIL() << "no error";
    } catch (const host::RuntimeError& e) {
        EXPECT_EQ(e.number(), 484);
        EXPECT_FALSE(e.description().isEmpty());
    }
}

}  // namespace
}  // namespace scan39::dialogs
