// CDialog's print, colour and font dialogs.

#include <array>
#include <cstring>
#include <limits>

#include "scan39/dialogs/cdialog.h"
#include "scan39/host/errors.h"

namespace scan39::dialogs {
namespace {

using host::kFalse;
using host::kTrue;
using host::ToBoolean;

// CF_SCREENFONTS | CF_PRINTERFONTS | CF_INITTOLOGFONTSTRUCT | CF_EFFECTS | CF_LIMITSIZE |
// CF_FORCEFONTEXIST
constexpr std::uint32_t kFontFlags = 0x12143;
constexpr std::uint16_t kRegularFontType = 0x400;
constexpr std::uint8_t kDefaultCharSet = 1;
constexpr std::uint8_t kRomanFamily = 16;
constexpr std::int32_t kNormalWeight = 400;
constexpr std::int32_t kBoldWeight = 700;

// The page and copy numbers travel as signed 16-bit integers; a value that does not fit is
// an overflow, raised before anything is shown.
std::int16_t ToInteger(std::int32_t value) {
    if (value < std::numeric_limits<std::int16_t>::min() ||
        value > std::numeric_limits<std::int16_t>::max())
        throw host::RuntimeError(host::kErrOverflow);
    return static_cast<std::int16_t>(value);
}

// Tenths of a point to whole points, a half going to the even neighbour (105 -> 10,
// 115 -> 12), independent of the floating-point rounding mode.
std::int32_t TenthsToPoints(std::int32_t tenths) {
    std::int32_t points = tenths / 10;
    const std::int32_t rest = tenths % 10;  // same sign as tenths
    if (rest > 5 || (rest == 5 && points % 2 != 0))
        ++points;
    else if (rest < -5 || (rest == -5 && points % 2 != 0))
        --points;
    return points;
}

LOGFONTA DefaultLogFont() {
    LOGFONTA font;
    font.lfWeight = kNormalWeight;
    font.lfCharSet = kDefaultCharSet;
    font.lfPitchAndFamily = kRomanFamily;
    static constexpr char kFace[] = "Times New Roman";
    static_assert(sizeof(kFace) <= sizeof(font.lfFaceName));
    std::memcpy(font.lfFaceName, kFace, sizeof(kFace));
    return font;
}

// The face name up to its first NUL, never reading past the field when the dialog filled
// all 32 bytes. The system code page is UTF-8.
QString FaceName(const LOGFONTA& font) {
    const auto* end =
        static_cast<const char*>(std::memchr(font.lfFaceName, '\0', sizeof(font.lfFaceName)));
    const qsizetype length = end ? end - font.lfFaceName : qsizetype{sizeof(font.lfFaceName)};
    return QString::fromUtf8(font.lfFaceName, length);
}

// The font dialog's global block: allocated, locked, and on every way out unlocked and
// freed, including when the printer's context cannot be had.
class LockedBlock {
  public:
    LockedBlock(KernelLayer& kernel, std::size_t bytes) : kernel_(kernel) {
        handle_ = kernel_.GlobalAlloc(GHND, bytes);
        if (handle_ == 0) throw host::RuntimeError(host::kErrOutOfMemory);
        pointer_ = kernel_.GlobalLock(handle_);
        if (!pointer_) {
            kernel_.GlobalFree(handle_);
            throw host::RuntimeError(host::kErrOutOfMemory);
        }
    }
    ~LockedBlock() {
        kernel_.GlobalUnlock(handle_);
        kernel_.GlobalFree(handle_);
    }
    LockedBlock(const LockedBlock&) = delete;
    LockedBlock& operator=(const LockedBlock&) = delete;

    void* pointer() const { return pointer_; }

  private:
    KernelLayer& kernel_;
    HGLOBAL handle_ = 0;
    void* pointer_ = nullptr;
};

}  // namespace

Boolean CDialog::ShowPrint() {
    PRINTDLG pd;
    pd.lStructSize = kPrintDlgSize;
    pd.hwndOwner = m_Hwnd;
    pd.hInstance = m_Instance;
    pd.nCopies = ToInteger(m_Copies);
    pd.nFromPage = ToInteger(m_FromPage);
    pd.nMaxPage = ToInteger(m_MaxPage);
    pd.nMinPage = ToInteger(m_MinPage);
    pd.nToPage = ToInteger(m_ToPage);
    pd.Flags = static_cast<std::uint32_t>(m_Flags);

    if (!dialogs_->PrintDlg(pd)) return kFalse;
    // The returned Flags describe the user's choices; the property keeps the caller's value.
    m_Copies = pd.nCopies;
    m_FromPage = pd.nFromPage;
    m_MaxPage = pd.nMaxPage;
    m_MinPage = pd.nMinPage;
    m_ToPage = pd.nToPage;
    return kTrue;
}

Boolean CDialog::ShowColor() {
    // A fresh all-black set of custom colours on every call; what the user defines is dropped.
    std::array<COLORREF, 16> customColors{};
    CHOOSECOLOR cc;
    cc.lStructSize = kChooseColorSize;
    cc.hwndOwner = m_Hwnd;
    cc.hInstance = m_Instance;
    cc.lpCustColors = &customColors;

    if (!dialogs_->ChooseColor(cc)) return kFalse;
    m_Color = cc.rgbResult;
    return kTrue;
}

Boolean CDialog::ShowFont() {
    LOGFONTA font = DefaultLogFont();
    LockedBlock block(*kernel_, sizeof(LOGFONTA));
    kernel_->RtlMoveMemory(block.pointer(), &font, sizeof(LOGFONTA));

    CHOOSEFONT cf;
    cf.lStructSize = kChooseFontSize;
    cf.hwndOwner = m_Hwnd;
    cf.hDC = kernel_->DefaultPrinterDC();
    cf.lpLogFont = static_cast<LOGFONTA*>(block.pointer());
    cf.iPointSize = 120;
    cf.Flags = kFontFlags;
    cf.rgbColors = 0;
    cf.nFontType = kRegularFontType;
    cf.nSizeMin = 1;
    cf.nSizeMax = 72;

    if (!dialogs_->ChooseFont(cf)) return kFalse;
    kernel_->RtlMoveMemory(&font, block.pointer(), sizeof(LOGFONTA));
    m_FontName = FaceName(font);
    m_FontColor = cf.rgbColors;
    m_FontSize = TenthsToPoints(cf.iPointSize);
    m_CharSet = font.lfCharSet;
    // The three style tests differ on purpose: italic is 255, underline and strike-out are 1.
    m_Italic = ToBoolean(font.lfItalic == 255);
    m_Underline = ToBoolean(font.lfUnderline == 1);
    m_StrikeOut = ToBoolean(font.lfStrikeOut == 1);
    m_FontBlob = ToBoolean(font.lfWeight >= kBoldWeight);
    return kTrue;
}

}  // namespace scan39::dialogs
