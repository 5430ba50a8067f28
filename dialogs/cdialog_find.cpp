// CDialog's find, replace and page-setup dialogs.

#include "scan39/dialogs/cdialog.h"

namespace scan39::dialogs {
namespace {

using host::kFalse;
using host::kTrue;
using host::ToBoolean;

constexpr std::uint16_t kFindWhatLength = 255;

// The find and replace dialogs take the same record. It names no text buffers; a layer whose
// modeless dialog needs the record after the call keeps its own copy.
FINDREPLACE FindReplaceRecord(HWND owner, HINSTANCE instance) {
    FINDREPLACE fr;
    fr.lStructSize = kFindReplaceSize;
    fr.hwndOwner = owner;
    fr.hInstance = instance;
    fr.Flags = 0;
    fr.wFindWhatLen = kFindWhatLength;
    fr.wReplaceWithLen = 0;
    return fr;
}

}  // namespace

// Starts the modeless find dialog and reports whether it was created. The dialog's handle
// is not kept.
Boolean CDialog::ShowFind() {
    FINDREPLACE fr = FindReplaceRecord(m_Hwnd, m_Instance);
    return ToBoolean(dialogs_->FindText(fr) != 0);
}

// Starts the modeless replace dialog and reports whether it was created.
Boolean CDialog::ShowReplace() {
    FINDREPLACE fr = FindReplaceRecord(m_Hwnd, m_Instance);
    return ToBoolean(dialogs_->ReplaceText(fr) != 0);
}

Boolean CDialog::ShowPageSetup() {
    PAGESETUPDLG psd;
    psd.lStructSize = kPageSetupDlgSize;
    psd.hwndOwner = m_Hwnd;
    psd.hInstance = m_Instance;
    psd.Flags = 0;  // no unit asked for: the locale's default unit comes back

    if (!dialogs_->PageSetupDlg(psd)) return kFalse;
    m_PaperWidth = psd.ptPaperSize.x;
    m_PaperHeight = psd.ptPaperSize.y;
    m_MarginLeft = psd.rtMargin.left;
    m_MarginTop = psd.rtMargin.top;
    m_MarginRight = psd.rtMargin.right;
    m_MarginBottom = psd.rtMargin.bottom;
    return kTrue;
}

}  // namespace scan39::dialogs
