#pragma once
// Our common-dialog layer: the platform's records, with the platform's field names, and the
// functions that show a dialog for a record. Texts are wide (QString). A text field that is
// std::nullopt is a null pointer; a buffer field is a QString whose length is the buffer's.

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace scan39::dialogs {

using HWND = std::int32_t;       // our window handles (see window_handles.h); 0 is none
using HINSTANCE = std::int32_t;  // module instance; carried through, never used by Qt
using HGLOBAL = std::int64_t;    // kernel layer memory handle; 0 is none
using HDC = std::int64_t;        // device context; 0 is none
using COLORREF = std::int32_t;   // red + 256*green + 65536*blue

// The records' sizes on the 32-bit platform: what the class puts into lStructSize and what the
// layer checks before it shows anything.
inline constexpr std::uint32_t kOpenFileNameSize = 76;
inline constexpr std::uint32_t kPrintDlgSize = 66;
inline constexpr std::uint32_t kChooseColorSize = 36;
inline constexpr std::uint32_t kChooseFontSize = 60;
inline constexpr std::uint32_t kFindReplaceSize = 40;
inline constexpr std::uint32_t kPageSetupDlgSize = 84;

// Open/save file options used by the window, and the ones the Qt layer honours.
inline constexpr std::uint32_t OFN_ALLOWMULTISELECT = 0x200;
inline constexpr std::uint32_t OFN_PATHMUSTEXIST = 0x800;
inline constexpr std::uint32_t OFN_FILEMUSTEXIST = 0x1000;
inline constexpr std::uint32_t OFN_HIDEREADONLY = 0x4;
inline constexpr std::uint32_t OFN_OVERWRITEPROMPT = 0x2;
inline constexpr std::uint32_t OFN_EXPLORER = 0x80000;

struct OPENFILENAME {
    std::uint32_t lStructSize = 0;
    HWND hwndOwner = 0;
    HINSTANCE hInstance = 0;
    std::optional<QString> lpstrFilter;  // "desc\0patterns\0...\0" plus the terminating NUL
    std::optional<QString> lpstrCustomFilter;
    std::uint32_t nMaxCustFilter = 0;
    std::uint32_t nFilterIndex = 0;
    std::optional<QString> lpstrFile;  // in/out buffer of nMaxFile characters
    std::uint32_t nMaxFile = 0;
    std::optional<QString> lpstrFileTitle;  // out buffer of nMaxFileTitle characters
    std::uint32_t nMaxFileTitle = 0;
    std::optional<QString> lpstrInitialDir;
    std::optional<QString> lpstrTitle;
    std::uint32_t Flags = 0;
    std::uint16_t nFileOffset = 0;
    std::uint16_t nFileExtension = 0;
    std::optional<QString> lpstrDefExt;
    std::intptr_t lCustData = 0;
    void* lpfnHook = nullptr;
    std::optional<QString> lpTemplateName;
};

struct PRINTDLG {
    std::uint32_t lStructSize = 0;
    HWND hwndOwner = 0;
    HGLOBAL hDevMode = 0;
    HGLOBAL hDevNames = 0;
    HDC hDC = 0;
    std::uint32_t Flags = 0;
    std::int16_t nFromPage = 0;  // signed 16-bit as the class hands them over
    std::int16_t nToPage = 0;
    std::int16_t nMinPage = 0;
    std::int16_t nMaxPage = 0;
    std::int16_t nCopies = 0;
    HINSTANCE hInstance = 0;
    std::intptr_t lCustData = 0;
    void* lpfnPrintHook = nullptr;
    void* lpfnSetupHook = nullptr;
    std::optional<QString> lpPrintTemplateName;
    std::optional<QString> lpSetupTemplateName;
    HGLOBAL hPrintTemplate = 0;
    HGLOBAL hSetupTemplate = 0;
};

struct CHOOSECOLOR {
    std::uint32_t lStructSize = 0;
    HWND hwndOwner = 0;
    HINSTANCE hInstance = 0;
    COLORREF rgbResult = 0;
    std::array<COLORREF, 16>* lpCustColors = nullptr;  // 16 custom colours, 64 bytes
    std::uint32_t Flags = 0;
    std::intptr_t lCustData = 0;
    void* lpfnHook = nullptr;
    std::optional<QString> lpTemplateName;
};

// The logical font in its ANSI form, exactly the platform's 60 bytes. The face name is in
// the system code page, which on Linux is UTF-8.
struct LOGFONTA {
    std::int32_t lfHeight = 0;
    std::int32_t lfWidth = 0;
    std::int32_t lfEscapement = 0;
    std::int32_t lfOrientation = 0;
    std::int32_t lfWeight = 0;
    std::uint8_t lfItalic = 0;
    std::uint8_t lfUnderline = 0;
    std::uint8_t lfStrikeOut = 0;
    std::uint8_t lfCharSet = 0;
    std::uint8_t lfOutPrecision = 0;
    std::uint8_t lfClipPrecision = 0;
    std::uint8_t lfQuality = 0;
    std::uint8_t lfPitchAndFamily = 0;
    char lfFaceName[32] = {};
};
static_assert(sizeof(LOGFONTA) == 60, "LOGFONTA must keep the platform's 60-byte layout");

struct CHOOSEFONT {
    std::uint32_t lStructSize = 0;
    HWND hwndOwner = 0;
    HDC hDC = 0;
    LOGFONTA* lpLogFont = nullptr;  // the locked global block
    std::int32_t iPointSize = 0;    // tenths of a point
    std::uint32_t Flags = 0;
    COLORREF rgbColors = 0;
    std::intptr_t lCustData = 0;
    void* lpfnHook = nullptr;
    std::optional<QString> lpTemplateName;
    HINSTANCE hInstance = 0;
    std::optional<QString> lpszStyle;
    std::uint16_t nFontType = 0;
    std::int32_t nSizeMin = 0;
    std::int32_t nSizeMax = 0;
};

struct FINDREPLACE {
    std::uint32_t lStructSize = 0;
    HWND hwndOwner = 0;
    HINSTANCE hInstance = 0;
    std::uint32_t Flags = 0;
    std::optional<QString> lpstrFindWhat;  // null: no text buffer supplied
    std::optional<QString> lpstrReplaceWith;
    std::uint16_t wFindWhatLen = 0;
    std::uint16_t wReplaceWithLen = 0;
    std::intptr_t lCustData = 0;
    void* lpfnHook = nullptr;
    std::optional<QString> lpTemplateName;
};

struct POINT {
    std::int32_t x = 0;
    std::int32_t y = 0;
};
struct RECT {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

struct PAGESETUPDLG {
    std::uint32_t lStructSize = 0;
    HWND hwndOwner = 0;
    HGLOBAL hDevMode = 0;
    HGLOBAL hDevNames = 0;
    std::uint32_t Flags = 0;
    POINT ptPaperSize;
    RECT rtMinMargin;
    RECT rtMargin;
    HINSTANCE hInstance = 0;
    std::intptr_t lCustData = 0;
    void* lpfnPageSetupHook = nullptr;
    void* lpfnPagePaintHook = nullptr;
    std::optional<QString> lpPageSetupTemplateName;
    HGLOBAL hPageSetupTemplate = 0;
};

// Option bits of the other records that the Qt layer honours or reports.
inline constexpr std::uint32_t PD_SELECTION = 0x1;
inline constexpr std::uint32_t PD_PAGENUMS = 0x2;
inline constexpr std::uint32_t PD_NOSELECTION = 0x4;
inline constexpr std::uint32_t PD_NOPAGENUMS = 0x8;
inline constexpr std::uint32_t PD_COLLATE = 0x10;
inline constexpr std::uint32_t PD_PRINTTOFILE = 0x20;
inline constexpr std::uint32_t PD_PRINTSETUP = 0x40;
inline constexpr std::uint32_t PD_RETURNDEFAULT = 0x400;
inline constexpr std::uint32_t PD_CURRENTPAGE = 0x400000;
inline constexpr std::uint32_t PD_NOCURRENTPAGE = 0x800000;
inline constexpr std::uint32_t CC_RGBINIT = 0x1;
inline constexpr std::uint32_t CF_INITTOLOGFONTSTRUCT = 0x40;
inline constexpr std::uint32_t CF_EFFECTS = 0x100;
inline constexpr std::uint32_t CF_LIMITSIZE = 0x2000;
inline constexpr std::uint32_t CF_FIXEDPITCHONLY = 0x4000;
inline constexpr std::uint32_t CF_SCALABLEONLY = 0x20000;
inline constexpr std::uint32_t CF_TTONLY = 0x40000;
inline constexpr std::uint16_t BOLD_FONTTYPE = 0x100;
inline constexpr std::uint16_t ITALIC_FONTTYPE = 0x200;
inline constexpr std::uint16_t REGULAR_FONTTYPE = 0x400;
inline constexpr std::uint16_t SCREEN_FONTTYPE = 0x2000;
inline constexpr std::uint32_t FR_DOWN = 0x1;
inline constexpr std::uint32_t FR_WHOLEWORD = 0x2;
inline constexpr std::uint32_t FR_MATCHCASE = 0x4;
inline constexpr std::uint32_t FR_FINDNEXT = 0x8;
inline constexpr std::uint32_t FR_REPLACE = 0x10;
inline constexpr std::uint32_t FR_REPLACEALL = 0x20;
inline constexpr std::uint32_t FR_DIALOGTERM = 0x40;
inline constexpr std::uint32_t FR_NOUPDOWN = 0x400;
inline constexpr std::uint32_t FR_NOMATCHCASE = 0x800;
inline constexpr std::uint32_t FR_NOWHOLEWORD = 0x1000;
inline constexpr std::uint32_t FR_HIDEUPDOWN = 0x4000;
inline constexpr std::uint32_t FR_HIDEMATCHCASE = 0x8000;
inline constexpr std::uint32_t FR_HIDEWHOLEWORD = 0x10000;
inline constexpr std::uint32_t PSD_MARGINS = 0x2;
inline constexpr std::uint32_t PSD_INTHOUSANDTHSOFINCHES = 0x4;
inline constexpr std::uint32_t PSD_INHUNDREDTHSOFMILLIMETERS = 0x8;
inline constexpr std::uint32_t PSD_RETURNDEFAULT = 0x400;

// The dialog functions. Each takes its record, shows the dialog owned by hwndOwner and fills
// the record as the platform would. The modal ones return only when the dialog has closed,
// non-zero (true) on OK and zero on Cancel or error. FindText/ReplaceText are modeless: they
// return the new dialog's handle, or 0 when no dialog was created; a layer that needs the
// record afterwards keeps its own copy for as long as the dialog is open.
class CommonDialogLayer {
  public:
    virtual ~CommonDialogLayer() = default;
    virtual bool GetOpenFileName(OPENFILENAME& ofn) = 0;
    virtual bool GetSaveFileName(OPENFILENAME& ofn) = 0;
    virtual bool PrintDlg(PRINTDLG& pd) = 0;
    virtual bool ChooseColor(CHOOSECOLOR& cc) = 0;
    virtual bool ChooseFont(CHOOSEFONT& cf) = 0;
    virtual HWND FindText(FINDREPLACE& fr) = 0;
    virtual HWND ReplaceText(FINDREPLACE& fr) = 0;
    virtual bool PageSetupDlg(PAGESETUPDLG& psd) = 0;
};

// The layer on Qt's dialogs.
CommonDialogLayer& QtCommonDialogs();

}  // namespace scan39::dialogs
