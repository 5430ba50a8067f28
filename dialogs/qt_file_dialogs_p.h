#pragma once
// Internals of the Qt file dialogs, open to the tests that drive them without a nested event
// loop.

#include <QStringList>
#include <functional>

class QFileDialog;

namespace scan39::dialogs::detail {

// Runs a file dialog that is ready to be shown and returns its QDialog result code. The default
// runs it modally with exec(), which is what callers of the layer rely on.
using FileDialogRunner = std::function<int(QFileDialog&)>;

// Replaces the runner; an empty function restores the modal default. Returns the previous one.
FileDialogRunner SetFileDialogRunner(FileDialogRunner runner);

// Qt name filters ("desc (*.a *.b)") from a NUL-separated list of description and pattern
// pairs, patterns separated by ';'. An empty description or pattern list ends the list.
QStringList NameFiltersFromList(const QString& list);

}  // namespace scan39::dialogs::detail
