#include "scan39/dialogs/cdialog.h"

namespace scan39::dialogs {
namespace {

// Both result buffers: 255 blanks and a NUL.
constexpr std::uint32_t kFileBufferLength = 256;

QString BlankFileBuffer() {
    QString buffer(kFileBufferLength - 1, QChar(u' '));
    buffer.append(QChar(u'\0'));
    return buffer;
}

}  // namespace

CDialog::CDialog(CommonDialogLayer* dialogs, KernelLayer* kernel)
    : dialogs_(dialogs ? dialogs : &QtCommonDialogs()),
      kernel_(kernel ? kernel : &SystemKernel()) {}

Boolean CDialog::ShowOpen() {
    return ShowFileDialog(&CommonDialogLayer::GetOpenFileName);
}

QString CDialog::Filter() const {
    return m_Filter.value_or(QString());
}

// Stored in the platform's list form: "|" becomes NUL, and one more NUL ends the last entry.
void CDialog::Filter(const QString& New_Filter) {
    QString stored = New_Filter;
    stored.replace(QChar(u'|'), QChar(u'\0'));
    stored.append(QChar(u'\0'));
    m_Filter = stored;
}

Boolean CDialog::ShowSave() {
    return ShowFileDialog(&CommonDialogLayer::GetSaveFileName);
}

Boolean CDialog::ShowFileDialog(bool (CommonDialogLayer::*show)(OPENFILENAME&)) {
    OPENFILENAME ofn{};
    ofn.lStructSize = kOpenFileNameSize;
    ofn.hwndOwner = m_Hwnd;
    ofn.hInstance = m_Instance;
    ofn.lpstrInitialDir = m_InitDir;
    ofn.lpstrFilter = m_Filter;
    // Fresh buffers every time: whatever FileName held never reaches the dialog.
    ofn.lpstrFile = BlankFileBuffer();
    ofn.nMaxFile = kFileBufferLength;
    ofn.lpstrFileTitle = BlankFileBuffer();
    ofn.nMaxFileTitle = kFileBufferLength;
    ofn.lpstrTitle = m_DialogTitle;
    ofn.Flags = static_cast<std::uint32_t>(m_Flags);

    if (!(dialogs_->*show)(ofn)) return host::kFalse;

    // Whole buffers, NULs and untouched blanks included; callers trim as they need.
    m_FileName = ofn.lpstrFile.value_or(QString());
    m_FileTitle = ofn.lpstrFileTitle.value_or(QString());
    return host::kTrue;
}

}  // namespace scan39::dialogs
