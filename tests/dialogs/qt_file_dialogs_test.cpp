// The Qt open/save dialogs driven offscreen: the test's runner stands in for the user and
// answers the dialog without a nested event loop.

#include <QAbstractItemView>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "qt_file_dialogs_p.h"
#include "scan39/dialogs/comdlg.h"
#include "scan39/dialogs/window_handles.h"

using namespace scan39::dialogs;

namespace {

QString Nul() {
    return QString(QChar(u'\0'));
}
QString Blanks() {
    return QString(255, u' ') + Nul();
}
// `text` written over the start of a blank 256-character buffer.
QString Over(const QString& text) {
    return text + Blanks().mid(text.size());
}

OPENFILENAME Record(std::uint32_t flags, const QString& initialDir) {
    OPENFILENAME ofn;
    ofn.lStructSize = 76;
    ofn.lpstrFile = Blanks();
    ofn.nMaxFile = 256;
    ofn.lpstrFileTitle = Blanks();
    ofn.nMaxFileTitle = 256;
    ofn.lpstrInitialDir = initialDir;
    ofn.Flags = flags;
    return ofn;
}

// Installs a runner for the lifetime of the object.
struct ScopedRunner {
    explicit ScopedRunner(detail::FileDialogRunner runner)
        : previous(detail::SetFileDialogRunner(std::move(runner))) {}
    ~ScopedRunner() { detail::SetFileDialogRunner(std::move(previous)); }
    detail::FileDialogRunner previous;
};

// What the user did in the dialog, and what the test saw there.
struct User {
    QString typed;  // typed into the file name box and confirmed; null: press Cancel
    bool ran = false;
    bool refused = false;  // the dialog stayed open after the confirmation
    bool blockingBox = false;
    bool focused = false;
    QString warning;

    int operator()(QFileDialog& dialog) {
        ran = true;
        dialog.open();
        if (typed.isNull()) {
            dialog.reject();
            return dialog.result();
        }
        auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!edit) return QDialog::Rejected;
        // Typing happens with the focus in the box; without it Qt rewrites the box's text
        // from the rows it selects.
        QApplication::setActiveWindow(&dialog);
        edit->setFocus();
        focused = edit->hasFocus();
        edit->setText(typed);
        // A box shown with a nested event loop would hang the test: note it and close it.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                blockingBox = true;
                box->reject();
            }
        });
        guard.start(0);
        static_cast<QDialog&>(dialog).accept();  // what the Open button calls
        guard.stop();
        if (dialog.isVisible()) {
            refused = true;
            if (auto* box = dialog.findChild<QMessageBox*>()) warning = box->text();
            dialog.reject();
        }
        return dialog.result();
    }
};

}  // namespace

class QtFileDialogsTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void nameFilters_data();
    void nameFilters();
    void choice_data();
    void choice();
    void setup_data();
    void setup();
    void defaultsForNullTexts();
    void ownerThatIsGoneFails();
    void refusedRecords_data();
    void refusedRecords();
    void windowHandles();

  private:
    QTemporaryDir tmp_;
    QString dir_;
};

void QtFileDialogsTest::initTestCase() {
    QStandardPaths::setTestModeEnabled(true);  // the dialog saves its state on the way out
    QVERIFY(tmp_.isValid());
    dir_ = QDir::cleanPath(tmp_.path());
    QVERIFY(QDir(dir_).mkdir("sub"));
    for (const char* name : {"a.bmp", "b.jpg", "sub/c.gif"}) {
        QFile file(dir_ + '/' + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
}

void QtFileDialogsTest::nameFilters_data() {
    QTest::addColumn<QString>("list");
    QTest::addColumn<QStringList>("filters");
    const QString n = Nul();
    QTest::newRow("window filter")
        << QStringLiteral("图片文件(*.bmp;*.jpg;*.gif)") + n + "*.bmp;*.jpg;*.gif" + n
        << QStringList{QStringLiteral("图片文件(*.bmp;*.jpg;*.gif) (*.bmp *.jpg *.gif)")};
    QTest::newRow("two entries, end mark")
        << "Pictures" + n + "*.bmp" + n + "All" + n + "*.*" + n + n
        << QStringList{"Pictures (*.bmp)", "All (*.*)"};
    QTest::newRow("no final NUL") << "A" + n + "*.a" << QStringList{"A (*.a)"};
    QTest::newRow("blanks around patterns")
        << "A" + n + " *.a ; *.b " + n << QStringList{"A (*.a *.b)"};
    QTest::newRow("unpaired description")
        << "A" + n + "*.a" + n + "B" + n << QStringList{"A (*.a)"};
    QTest::newRow("empty description ends")
        << "A" + n + "*.a" + n + n + "B" + n + "*.b" + n << QStringList{"A (*.a)"};
    QTest::newRow("empty patterns end") << "A" + n + n + "B" + n + "*.b" + n << QStringList{};
    QTest::newRow("empty") << QString() << QStringList{};
}

void QtFileDialogsTest::nameFilters() {
    QFETCH(QString, list);
    QFETCH(QStringList, filters);
    QCOMPARE(detail::NameFiltersFromList(list), filters);
}

void QtFileDialogsTest::choice_data() {
    QTest::addColumn<bool>("save");
    QTest::addColumn<uint>("flags");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("maxFile");  // -1: 256
    QTest::addColumn<bool>("confirmed");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QString>("file");   // buffer afterwards
    QTest::addColumn<QString>("title");  // title buffer afterwards

    const uint window = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_ALLOWMULTISELECT;  // 0x80A00
    const QString n = Nul();
    const QString a = dir_ + "/a.bmp";
    const QString missing = dir_ + "/nowhere/x.bmp";
    const QString untouched = Blanks();
    const QString two = dir_ + n + "a.bmp" + n + "b.jpg" + n + n;
    const QString cancel;  // null: the user cancels

    QTest::newRow("existing file")
        << false << window << "a.bmp" << -1 << true << false << Over(a + n) << Over("a.bmp" + n);
    QTest::newRow("path typed") << false << window << dir_ + "/sub/c.gif" << -1 << true << false
                                << Over(dir_ + "/sub/c.gif" + n) << Over("c.gif" + n);
    QTest::newRow("missing file, existing folder")
        << false << window << "new.bmp" << -1 << true << false << Over(dir_ + "/new.bmp" + n)
        << Over("new.bmp" + n);
    QTest::newRow("missing folder")
        << false << window << missing << -1 << false << true << untouched << untouched;
    QTest::newRow("missing folder, path need not exist")
        << false << uint(OFN_EXPLORER) << missing << -1 << true << false << Over(missing + n)
        << Over("x.bmp" + n);
    QTest::newRow("two files") << false << window << "\"a.bmp\" \"b.jpg\"" << -1 << true << false
                               << Over(two) << untouched;
    QTest::newRow("two files, one missing")
        << false << window << "\"a.bmp\" \"new.bmp\"" << -1 << true << false
        << Over(dir_ + n + "a.bmp" + n + "new.bmp" + n + n) << untouched;
    QTest::newRow("two files, one in a subfolder") << false << window << "\"sub/c.gif\" \"a.bmp\""
                                                   << -1 << false << true << untouched << untouched;
    QTest::newRow("one quoted file in a subfolder")
        << false << window << "\"sub/c.gif\"" << -1 << true << false
        << Over(dir_ + "/sub/c.gif" + n) << Over("c.gif" + n);
    QTest::newRow("two files, single selection")
        << false << uint(OFN_PATHMUSTEXIST) << "\"a.bmp\" \"b.jpg\"" << -1 << false << true
        << untouched << untouched;
    QTest::newRow("file must exist, missing") << false << uint(OFN_FILEMUSTEXIST) << "new.bmp" << -1
                                              << false << true << untouched << untouched;
    QTest::newRow("file must exist, existing") << false << uint(OFN_FILEMUSTEXIST) << "a.bmp" << -1
                                               << true << false << Over(a + n) << Over("a.bmp" + n);
    QTest::newRow("cancel") << false << window << cancel << -1 << false << false << untouched
                            << untouched;
    QTest::newRow("path exactly fits") << false << window << "a.bmp" << int(a.size() + 1) << true
                                       << false << Over(a + n) << Over("a.bmp" + n);
    QTest::newRow("path one too long")
        << false << window << "a.bmp" << int(a.size()) << false << false << untouched << untouched;
    QTest::newRow("save, missing file")
        << true << uint(OFN_PATHMUSTEXIST) << "new.bmp" << -1 << true << false
        << Over(dir_ + "/new.bmp" + n) << Over("new.bmp" + n);
    QTest::newRow("save over existing, no prompt asked")
        << true << 0u << "a.bmp" << -1 << true << false << Over(a + n) << Over("a.bmp" + n);
    QTest::newRow("save, multiple selection ignored")
        << true << window << "\"a.bmp\" \"b.jpg\"" << -1 << false << true << untouched << untouched;
}

void QtFileDialogsTest::choice() {
    QFETCH(bool, save);
    QFETCH(uint, flags);
    QFETCH(QString, typed);
    QFETCH(int, maxFile);
    QFETCH(bool, confirmed);
    QFETCH(bool, refused);
    QFETCH(QString, file);
    QFETCH(QString, title);

    User user;
    user.typed = typed;
    ScopedRunner runner(std::ref(user));
    OPENFILENAME ofn = Record(flags, dir_);
    if (maxFile >= 0) ofn.nMaxFile = static_cast<std::uint32_t>(maxFile);
    const bool result =
        save ? QtCommonDialogs().GetSaveFileName(ofn) : QtCommonDialogs().GetOpenFileName(ofn);

    QVERIFY(user.ran);
    QVERIFY(typed.isNull() || user.focused);
    QVERIFY(!user.blockingBox);
    QCOMPARE(result, confirmed);
    QCOMPARE(user.refused, refused);
    QCOMPARE(user.warning.isEmpty(), !refused);  // a refusal says why
    QCOMPARE(ofn.lpstrFile.value_or("<null>"), file);
    QCOMPARE(ofn.lpstrFileTitle.value_or("<null>"), title);
}

void QtFileDialogsTest::setup_data() {
    QTest::addColumn<bool>("save");
    QTest::addColumn<uint>("flags");
    QTest::addColumn<int>("mode");  // QFileDialog::FileMode
    QTest::addColumn<bool>("several");

    QTest::newRow("window's flags") << false << 0x80A00u << int(QFileDialog::AnyFile) << true;
    QTest::newRow("single file") << false << 0x800u << int(QFileDialog::AnyFile) << false;
    QTest::newRow("file must exist") << false << 0x1000u << int(QFileDialog::ExistingFile) << false;
    QTest::newRow("file must exist, several")
        << false << 0x1200u << int(QFileDialog::ExistingFiles) << true;
    QTest::newRow("save") << true << 0x80A00u << int(QFileDialog::AnyFile) << false;
}

// Owner, title, folder, filters and selection mode as the record asks for them.
void QtFileDialogsTest::setup() {
    QFETCH(bool, save);
    QFETCH(uint, flags);
    QFETCH(int, mode);
    QFETCH(bool, several);

    QWidget owner;
    OPENFILENAME ofn = Record(flags, dir_ + "/sub");
    ofn.hwndOwner = HandleOf(&owner);
    ofn.lpstrTitle = QStringLiteral("装入图片") + Nul() + "ignored";
    ofn.lpstrFilter = "Pictures" + Nul() + "*.bmp;*.gif" + Nul() + "All" + Nul() + "*" + Nul();
    bool ran = false;
    ScopedRunner runner([&](QFileDialog& d) {
        ran = true;
        const auto* list = d.findChild<QAbstractItemView*>(QStringLiteral("listView"));
        [&] {
            QCOMPARE(d.parentWidget(), &owner);
            QVERIFY(d.testOption(QFileDialog::DontUseNativeDialog));
            QCOMPARE(d.acceptMode(), save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
            QCOMPARE(int(d.fileMode()), mode);
            QVERIFY(list);
            QCOMPARE(list->selectionMode() == QAbstractItemView::ExtendedSelection, several);
            QCOMPARE(d.windowTitle(), QStringLiteral("装入图片"));
            QCOMPARE(d.directory().absolutePath(), dir_ + "/sub");
            QCOMPARE(d.nameFilters(), (QStringList{"Pictures (*.bmp *.gif)", "All (*)"}));
        }();
        return int(QDialog::Rejected);
    });
    QVERIFY(
        !(save ? QtCommonDialogs().GetSaveFileName(ofn) : QtCommonDialogs().GetOpenFileName(ofn)));
    QVERIFY(ran);
}

void QtFileDialogsTest::defaultsForNullTexts() {
    QString title;
    QString folder;
    ScopedRunner runner([&](QFileDialog& d) {
        title = d.windowTitle();
        folder = d.directory().absolutePath();
        return int(QDialog::Rejected);
    });
    OPENFILENAME ofn = Record(0x80A00, QString());
    ofn.lpstrInitialDir.reset();
    QVERIFY(!QtCommonDialogs().GetOpenFileName(ofn));
    QVERIFY(!title.isEmpty());
    QCOMPARE(folder, QDir::currentPath());

    ofn.lpstrInitialDir = dir_ + "/nowhere";  // a missing start folder: the current one
    QVERIFY(!QtCommonDialogs().GetOpenFileName(ofn));
    QCOMPARE(folder, QDir::currentPath());
}

void QtFileDialogsTest::ownerThatIsGoneFails() {
    bool ran = false;
    ScopedRunner runner([&](QFileDialog&) {
        ran = true;
        return int(QDialog::Accepted);
    });
    auto* owner = new QWidget;
    OPENFILENAME ofn = Record(0x80A00, dir_);
    ofn.hwndOwner = HandleOf(owner);
    delete owner;
    QVERIFY(!QtCommonDialogs().GetOpenFileName(ofn));
    QVERIFY(!ran);
    QCOMPARE(ofn.lpstrFile.value_or("<null>"), Blanks());
}

void QtFileDialogsTest::refusedRecords_data() {
    QTest::addColumn<bool>("save");
    QTest::addColumn<quint32>("size");
    QTest::addColumn<bool>("ownerGone");
    QTest::newRow("open, size 0") << false << 0u << false;
    QTest::newRow("open, size one short") << false << kOpenFileNameSize - 1 << false;
    QTest::newRow("save, size one over") << true << kOpenFileNameSize + 1 << false;
    QTest::newRow("save, owner gone") << true << kOpenFileNameSize << true;
}

// A record the layer cannot serve fails before any dialog is built, buffers untouched.
void QtFileDialogsTest::refusedRecords() {
    QFETCH(bool, save);
    QFETCH(quint32, size);
    QFETCH(bool, ownerGone);
    bool ran = false;
    ScopedRunner runner([&](QFileDialog&) {
        ran = true;
        return int(QDialog::Accepted);
    });
    OPENFILENAME ofn = Record(0x80A00, dir_);
    ofn.lStructSize = size;
    if (ownerGone) {
        auto* owner = new QWidget;
        ofn.hwndOwner = HandleOf(owner);
        delete owner;
    }
    QVERIFY(
        !(save ? QtCommonDialogs().GetSaveFileName(ofn) : QtCommonDialogs().GetOpenFileName(ofn)));
    QVERIFY(!ran);
    QCOMPARE(ofn.lpstrFile.value_or("<null>"), Blanks());
    QCOMPARE(ofn.lpstrFileTitle.value_or("<null>"), Blanks());
}

void QtFileDialogsTest::windowHandles() {
    QCOMPARE(HandleOf(nullptr), 0);
    QCOMPARE(WidgetFromHandle(0), nullptr);
    auto* first = new QWidget;
    QWidget second;
    const HWND h1 = HandleOf(first);
    const HWND h2 = HandleOf(&second);
    QVERIFY(h1 > 0 && h2 > 0 && h1 != h2);
    QCOMPARE(HandleOf(first), h1);  // stable
    QCOMPARE(WidgetFromHandle(h1), first);
    QCOMPARE(WidgetFromHandle(h2), &second);
    QCOMPARE(WidgetFromHandle(h2 + 1000), nullptr);

    delete first;
    QCOMPARE(WidgetFromHandle(h1), nullptr);
    QWidget third;  // may reuse the address, not the handle
    QVERIFY(HandleOf(&third) != h1);
    QCOMPARE(WidgetFromHandle(h1), nullptr);
}

QTEST_MAIN(QtFileDialogsTest)
#include "qt_file_dialogs_test.moc"
