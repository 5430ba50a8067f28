#pragma once
// What the find and replace dialogs post to their owner window for each action of the user,
// the way the platform's dialogs send their registered message: a copy of the dialog's record
// with Flags holding the action (FR_FINDNEXT, FR_REPLACE, FR_REPLACEALL or FR_DIALOGTERM) and
// the options, and lpstrFindWhat / lpstrReplaceWith holding the texts in the dialog.

#include <QEvent>

#include "scan39/dialogs/comdlg.h"

namespace scan39::dialogs {

class FindReplaceEvent final : public QEvent {
  public:
    // The event type, registered with Qt on first use; the same for every dialog.
    static QEvent::Type RegisteredType();

    explicit FindReplaceEvent(const FINDREPLACE& record);
    FindReplaceEvent* clone() const override { return new FindReplaceEvent(*this); }

    const FINDREPLACE& record() const { return record_; }

  private:
    FindReplaceEvent(const FindReplaceEvent&) = default;

    FINDREPLACE record_;
};

}  // namespace scan39::dialogs
