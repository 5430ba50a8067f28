// The open and save dialogs on QFileDialog. The widget-based dialog is used everywhere, so the
// flags behave the same on every platform and the dialog also works without a display server.

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <algorithm>
#include <utility>

#include "qt_file_dialogs_p.h"
#include "qt_layer_p.h"
#include "scan39/dialogs/window_handles.h"

namespace scan39::dialogs {

namespace detail {
namespace {

FileDialogRunner& CurrentRunner() {
    static FileDialogRunner runner;
    return runner;
}

}  // namespace

FileDialogRunner SetFileDialogRunner(FileDialogRunner runner) {
    return std::exchange(CurrentRunner(), std::move(runner));
}

QStringList NameFiltersFromList(const QString& list) {
    QStringList filters;
    const QStringList parts = list.split(QChar(u'\0'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts.at(i);
        QStringList patterns;
        for (const QString& pattern : parts.at(i + 1).split(u';')) {
            if (const QString trimmed = pattern.trimmed(); !trimmed.isEmpty()) patterns << trimmed;
        }
        // Two NULs in a row mark the end of the list.
        if (description.isEmpty() || patterns.isEmpty()) break;
        filters << description + QStringLiteral(" (") + patterns.join(u' ') + u')';
    }
    return filters;
}

}  // namespace detail

namespace {

bool Has(std::uint32_t flags, std::uint32_t bit) {
    return (flags & bit) != 0;
}

// The platform reads the record's texts as C strings.
QString UpToNul(const QString& text) {
    return text.left(text.indexOf(QChar(u'\0')));
}

// What the options hold against the chosen files, or an empty text when they allow them.
QString Objection(const QStringList& files, std::uint32_t flags, bool multiSelect) {
    if (!multiSelect && files.size() > 1) {
        return QStringLiteral("%1\n文件名无效。\n只能选择一个文件。").arg(files.join(u' '));
    }
    const bool fileMustExist = Has(flags, OFN_FILEMUSTEXIST);
    const bool pathMustExist = fileMustExist || Has(flags, OFN_PATHMUSTEXIST);
    for (const QString& file : files) {
        const QFileInfo info(file);
        if (pathMustExist && !QFileInfo(info.absolutePath()).isDir()) {
            return QStringLiteral("%1\n路径不存在。\n请检查路径是否正确。")
                .arg(QDir::toNativeSeparators(info.absolutePath()));
        }
        if (fileMustExist && !info.exists()) {
            return QStringLiteral("%1\n找不到文件。\n请检查文件名是否正确。").arg(info.fileName());
        }
    }
    return {};
}

// Whether `text` fits the buffer: its own length and the record's stated size both count.
bool Fits(const QString& buffer, std::uint32_t statedSize, const QString& text) {
    return text.size() <= std::min<qsizetype>(buffer.size(), statedSize);
}

// Writes the chosen files into the record's buffers as the platform does: one file as its full
// path and a NUL, several as the dialog's folder, a NUL, each name and a NUL, and a final NUL.
// The buffers keep their length; what the result does not cover keeps its characters. Returns
// false, leaving the record untouched, when the result does not fit or when one of several
// files lies outside the folder, which the list cannot express.
bool WriteFileResult(OPENFILENAME& ofn, const QStringList& files, const QString& dialogFolder) {
    if (files.isEmpty()) return false;
    const QChar nul(u'\0');
    QStringList paths;
    for (const QString& file : files) paths << QDir::cleanPath(QFileInfo(file).absoluteFilePath());

    QString fileResult;
    QString titleResult;  // stays empty for several files: their title buffer is left alone
    if (paths.size() == 1) {
        fileResult = QDir::toNativeSeparators(paths.first()) + nul;
        titleResult = QFileInfo(paths.first()).fileName() + nul;
    } else {
        const QString folder = QDir::cleanPath(QFileInfo(dialogFolder).absoluteFilePath());
        fileResult = QDir::toNativeSeparators(folder) + nul;
        for (const QString& path : paths) {
            const QFileInfo info(path);
            if (info.absolutePath() != folder) return false;
            fileResult += info.fileName() + nul;
        }
        fileResult += nul;
    }

    if (!Fits(*ofn.lpstrFile, ofn.nMaxFile, fileResult)) return false;
    const bool writeTitle = !titleResult.isEmpty() && ofn.lpstrFileTitle.has_value();
    if (writeTitle && !Fits(*ofn.lpstrFileTitle, ofn.nMaxFileTitle, titleResult)) return false;
    ofn.lpstrFile->replace(0, fileResult.size(), fileResult);
    if (writeTitle) ofn.lpstrFileTitle->replace(0, titleResult.size(), titleResult);
    return true;
}

// QFileDialog that enforces the record's existence options before it closes.
class FileDialog final : public QFileDialog {
  public:
    FileDialog(QWidget* owner, std::uint32_t flags, bool multiSelect)
        : QFileDialog(owner), flags_(flags), multiSelect_(multiSelect) {}

    // The files the user chose. Qt prefers the rows selected in the list to the quoted names
    // in the name box, and selects only the rows of files that exist, so a typed list naming a
    // new file would lose that name: a quoted list is read from the box itself.
    QStringList ChosenFiles() const {
        const QStringList names = QuotedNames();
        if (names.isEmpty()) return selectedFiles();
        const QDir folder = directory();
        QStringList files;
        for (const QString& name : names) files << folder.absoluteFilePath(name);
        return files;
    }

    // Why the current choice cannot be confirmed, or an empty text. Several files are
    // reported as names in one folder, so a typed list may not reach into other folders.
    QString Refusal() const {
        const QStringList files = ChosenFiles();
        if (files.isEmpty()) return {};
        if (multiSelect_) {
            const QStringList names = QuotedNames();
            if (names.size() > 1) {
                for (const QString& name : names) {
                    if (QDir::fromNativeSeparators(name).contains(u'/')) {
                        return QStringLiteral(
                                   "%1\n文件名无效。\n选择多个文件时，文件名中不能含有路径。")
                            .arg(name);
                    }
                }
            }
        }
        return Objection(files, flags_, multiSelect_);
    }

    void accept() override {
        const QStringList files = ChosenFiles();
        // A folder name opens that folder, which QFileDialog does itself.
        const bool opensFolder = files.size() == 1 && QFileInfo(files.first()).isDir();
        if (!opensFolder) {
            if (const QString refusal = Refusal(); !refusal.isEmpty()) {
                Warn(refusal);
                return;
            }
        }
        QFileDialog::accept();
    }

  private:
    // The names of a quoted list typed into the name box ("a.bmp" "b.jpg"); empty when the box
    // holds no quote.
    QStringList QuotedNames() const {
        const auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        const QString typed = edit ? edit->text() : QString();
        if (!typed.contains(u'"')) return {};
        QStringList names;
        const QStringList tokens = typed.split(u'"');
        for (qsizetype i = 1; i < tokens.size(); i += 2) {  // quoted names sit at odd places
            if (!tokens.at(i).isEmpty()) names << tokens.at(i);
        }
        return names;
    }

    // Window-modal without a nested event loop: the file dialog stays open behind the box.
    void Warn(const QString& text) {
        auto* box =
            new QMessageBox(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }

    std::uint32_t flags_;
    bool multiSelect_;
};

bool ShowFileDialog(OPENFILENAME& ofn, QFileDialog::AcceptMode mode) {
    // Widgets need a QApplication; without one Qt would abort the process.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
    if (ofn.lStructSize != kOpenFileNameSize || !ofn.lpstrFile || ofn.nMaxFile == 0) return false;
    QWidget* owner = nullptr;
    if (!ResolveOwner(ofn.hwndOwner, owner)) return false;

    const bool save = mode == QFileDialog::AcceptSave;
    const bool multiSelect = !save && Has(ofn.Flags, OFN_ALLOWMULTISELECT);
    QPointer<FileDialog> dialog = new FileDialog(owner, ofn.Flags, multiSelect);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    // The descriptions already say what they show, as they do on the platform.
    dialog->setOption(QFileDialog::HideNameFilterDetails);
    dialog->setOption(QFileDialog::DontConfirmOverwrite, !Has(ofn.Flags, OFN_OVERWRITEPROMPT));
    dialog->setAcceptMode(mode);
    if (!save && Has(ofn.Flags, OFN_FILEMUSTEXIST)) {
        dialog->setFileMode(multiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    } else {
        // AnyFile accepts the name of a file that does not exist yet; its views select one
        // row only, so open them up for a multiple selection.
        dialog->setFileMode(QFileDialog::AnyFile);
        if (multiSelect) {
            for (const char* name : {"listView", "treeView"}) {
                if (auto* view = dialog->findChild<QAbstractItemView*>(QLatin1String(name))) {
                    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
                }
            }
        }
    }

    if (ofn.lpstrTitle) {
        // An empty title keeps Qt's own ("Open", "Save As").
        if (const QString title = UpToNul(*ofn.lpstrTitle); !title.isEmpty()) {
            dialog->setWindowTitle(title);
        }
    }
    const QString initialDir = ofn.lpstrInitialDir ? UpToNul(*ofn.lpstrInitialDir) : QString();
    const QFileInfo initialDirInfo(initialDir);
    dialog->setDirectory(!initialDir.isEmpty() && initialDirInfo.isDir()
                             ? initialDirInfo.absoluteFilePath()
                             : QDir::currentPath());
    const QStringList filters =
        ofn.lpstrFilter ? detail::NameFiltersFromList(*ofn.lpstrFilter) : QStringList();
    if (!filters.isEmpty()) {
        dialog->setNameFilters(filters);
    }

    const detail::FileDialogRunner& runner = detail::CurrentRunner();
    const int result = runner ? runner(*dialog) : dialog->exec();
    // The dialog goes with its owner if the owner closes while it is open.
    if (!dialog) return false;
    const QStringList files = dialog->ChosenFiles();
    const bool refused = !dialog->Refusal().isEmpty();
    const QString folder = dialog->directory().absolutePath();
    delete dialog.data();

    if (result != QDialog::Accepted || refused) return false;
    return WriteFileResult(ofn, files, folder);
}

}  // namespace

bool QtDialogLayer::GetOpenFileName(OPENFILENAME& ofn) {
    return ShowFileDialog(ofn, QFileDialog::AcceptOpen);
}

bool QtDialogLayer::GetSaveFileName(OPENFILENAME& ofn) {
    return ShowFileDialog(ofn, QFileDialog::AcceptSave);
}

CommonDialogLayer& QtCommonDialogs() {
    static QtDialogLayer layer;
    return layer;
}

}  // namespace scan39::dialogs
