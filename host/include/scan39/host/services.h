#pragma once
// Window services of the run time: file lookup, string replacement, message box, application.

#include <QString>
#include <functional>
#include <memory>

#include "scan39/box_geometry.h"

class QApplication;
class QWidget;

namespace scan39::host {

// A QApplication for a program without a window (scan39, Python's scan_box): made with only
// the program's name as its arguments (Qt takes none of the caller's), and without Qt's
// start-up notes about the desktop session or the thread it runs on, which mean nothing
// offscreen and would only mix into the results on stderr. Critical messages still pass.
std::unique_ptr<QApplication> QuietApplication(char* programName);

inline constexpr int kTwipsPerPixel = scan39::kTwipsPerPixel;

// Nearest pixel of a twip coordinate (15 is odd, so whole twips never tie; exact halves round
// up). Values beyond int clamp to INT_MIN / INT_MAX; NaN gives INT_MIN, outside every box.
int TwipsToPixel(double twips);

// rtcDir with attribute 0: the file's name (without folder) when `path` names an existing
// ordinary file that is neither hidden nor a system file, otherwise "". Trailing blanks of
// the path are ignored.
QString Dir(const QString& path);

// rtcReplace from position 1 with no limit, comparing character codes exactly.
QString Replace(const QString& text, const QString& find, const QString& replacement);

// Message box style 48: exclamation icon, one OK button (16, 32, 64 give the other icons).
// Application-modal, plain text; returns when closed.
inline constexpr int kMsgBoxExclamation = 48;
void MsgBox(QWidget* parent, const QString& text, int style, const QString& caption);

// Tests replace the real box with a recorder; pass an empty function to restore it.
using MsgBoxHook =
    std::function<void(QWidget* parent, const QString& text, int style, const QString& caption)>;
void SetMsgBoxHook(MsgBoxHook hook);

// The folder of the program's executable, and the application title (the application name,
// which Qt defaults to the program's file name; "scan39" before an application exists).
QString AppPath();
QString AppTitle();

}  // namespace scan39::host
