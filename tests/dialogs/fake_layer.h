#pragma once
// A scripted stand-in for the common-dialog layer: records every record it is handed and
// answers with whatever the test scripted.

#include <functional>
#include <optional>

#include "scan39/dialogs/comdlg.h"

namespace scan39::dialogs::testing {

class FakeDialogLayer final : public CommonDialogLayer {
  public:
    // Scripts: fill the record as the user's choice would, return the platform's result.
    // Unset scripts behave like Cancel.
    std::function<bool(OPENFILENAME&)> onOpen, onSave;
    std::function<bool(PRINTDLG&)> onPrint;
    std::function<bool(CHOOSECOLOR&)> onColor;
    std::function<bool(CHOOSEFONT&)> onFont;
    std::function<HWND(FINDREPLACE&)> onFind, onReplace;
    std::function<bool(PAGESETUPDLG&)> onPageSetup;

    // What went in: a copy of each record as the class handed it over, before the script ran.
    std::optional<OPENFILENAME> openIn, saveIn;
    std::optional<PRINTDLG> printIn;
    std::optional<CHOOSECOLOR> colorIn;
    std::optional<COLORREF> firstCustomColorIn;  // lpCustColors[0] as handed over
    std::optional<CHOOSEFONT> fontIn;
    std::optional<LOGFONTA> logFontIn;  // *lpLogFont as handed over
    std::optional<FINDREPLACE> findIn, replaceIn;
    std::optional<PAGESETUPDLG> pageSetupIn;
    int calls = 0;

    bool GetOpenFileName(OPENFILENAME& r) override { return run(r, openIn, onOpen); }
    bool GetSaveFileName(OPENFILENAME& r) override { return run(r, saveIn, onSave); }
    bool PrintDlg(PRINTDLG& r) override { return run(r, printIn, onPrint); }
    bool ChooseColor(CHOOSECOLOR& r) override {
        if (r.lpCustColors) firstCustomColorIn = (*r.lpCustColors)[0];
        return run(r, colorIn, onColor);
    }
    bool ChooseFont(CHOOSEFONT& r) override {
        if (r.lpLogFont) logFontIn = *r.lpLogFont;
        return run(r, fontIn, onFont);
    }
    HWND FindText(FINDREPLACE& r) override { return run(r, findIn, onFind); }
    HWND ReplaceText(FINDREPLACE& r) override { return run(r, replaceIn, onReplace); }
    bool PageSetupDlg(PAGESETUPDLG& r) override { return run(r, pageSetupIn, onPageSetup); }

  private:
    template <class Record, class Script>
    auto run(Record& record, std::optional<Record>& in, const Script& script)
        -> decltype(script(record)) {
        ++calls;
        in = record;
        if (!script) return {};
        return script(record);
    }
};

}  // namespace scan39::dialogs::testing
