#pragma once
// The common-dialog layer on Qt. File dialogs live in qt_file_dialogs.cpp, the others in
// qt_other_dialogs.cpp.

#include "scan39/dialogs/comdlg.h"

namespace scan39::dialogs {

class QtDialogLayer final : public CommonDialogLayer {
  public:
    bool GetOpenFileName(OPENFILENAME& ofn) override;
    bool GetSaveFileName(OPENFILENAME& ofn) override;
    bool PrintDlg(PRINTDLG& pd) override;
    bool ChooseColor(CHOOSECOLOR& cc) override;
    bool ChooseFont(CHOOSEFONT& cf) override;
    HWND FindText(FINDREPLACE& fr) override;
    HWND ReplaceText(FINDREPLACE& fr) override;
    bool PageSetupDlg(PAGESETUPDLG& psd) override;
};

}  // namespace scan39::dialogs
