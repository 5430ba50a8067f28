#pragma once
// The message box behind MsgBox, built without being shown so that tests can inspect it.

#include <QString>
#include <memory>

class QMessageBox;
class QWidget;

namespace scan39::host {

std::unique_ptr<QMessageBox> CreateMsgBox(QWidget* parent, const QString& text, int style,
                                          const QString& caption);

}  // namespace scan39::host
