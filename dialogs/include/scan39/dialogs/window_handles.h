#pragma once
// Window handles for the dialog layer: a small non-zero integer per widget, so that a record's
// hwndOwner can name the owning window in a 32-bit field.

#include "scan39/dialogs/comdlg.h"

class QWidget;

namespace scan39::dialogs {

// The handle of `widget`, assigned on first use and forgotten when the widget is destroyed.
// 0 for nullptr.
HWND HandleOf(QWidget* widget);
// The widget of `handle`, or nullptr when the handle is 0, unknown or its widget is gone.
QWidget* WidgetFromHandle(HWND handle);
// The owner a record's hwndOwner names, for every dialog function: 0 is no owner (true, with
// `owner` nullptr); a handle naming a live widget gives that widget (true); any other handle,
// such as one whose window has closed, gives false, and the dialog must not be shown.
bool ResolveOwner(HWND handle, QWidget*& owner);

}  // namespace scan39::dialogs
