// The demonstration window, driven offscreen: the layer behind the open dialog is a scripted
// fake and the warning box is intercepted.

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "fake_layer.h"
#include "form1.h"
#include "scan39/encoder.h"
#include "scan39/host/picture_box.h"
#include "scan39/host/services.h"
#include "scan39/samples.h"
#include "scan39/uo_scan.h"

using scan39::Uo_Scan;
using scan39::app::Form1;
using scan39::dialogs::OPENFILENAME;
using scan39::dialogs::testing::FakeDialogLayer;

namespace {

const QString kError = QStringLiteral("错误：非39码或扫描位置不正确");

struct ShownBox {
    QString text;
    int style = 0;
    QString caption;
};

// Writes `result` into the file buffer the way the platform does: over the start of the
// buffer, the rest of it untouched.
std::function<bool(OPENFILENAME&)> Choose(const QString& result) {
    return [result](OPENFILENAME& ofn) {
        if (!ofn.lpstrFile || result.size() > ofn.lpstrFile->size()) return false;
        ofn.lpstrFile->replace(0, result.size(), result);
        return true;
    };
}

QString Single(const QString& path) {
    return path + QChar(0);
}

// A picture with the symbol for `text` at narrow 3, wide 7, gap 3 pixels from column `left`,
// rows 100 to 250, on white; from column `darkFrom` on, those rows are black.
QImage SymbolPicture(const std::string& text, int width, int height, int left, int darkFrom = -1) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    const auto runs = scan39::encoder::Runs(text, {3, 7, 3});
    int x = left;
    bool bar = true;
    for (int run : runs) {
        if (bar)
            for (int dx = 0; dx < run; ++dx)
                for (int y = 100; y <= 250 && y < height; ++y)
                    image.setPixel(x + dx, y, 0xFF000000);
        x += run;
        bar = !bar;
    }
    for (int dx = darkFrom; darkFrom >= 0 && dx < width; ++dx)
        for (int y = 100; y <= 250 && y < height; ++y) image.setPixel(dx, y, 0xFF000000);
    return image;
}

}  // namespace

class Form1Test : public QObject {
    Q_OBJECT

  private:
    FakeDialogLayer fake_;
    std::unique_ptr<Form1> form_;
    std::vector<ShownBox> boxes_;
    QTemporaryDir dir_;

    QLineEdit* text1() const { return form_->findChild<QLineEdit*>("Text1"); }
    QPushButton* button(const char* name) const { return form_->findChild<QPushButton*>(name); }
    Uo_Scan* scan() const { return form_->scanControl(); }

    // A drag on Image1 from pixel `from` to pixel `to` of the picture, with real mouse events.
    void drag(QPoint from, QPoint to) {
        QWidget* image = scan()->Image1();
        const QPoint border(1, 1);
        auto send = [image](QEvent::Type type, QPoint p, Qt::MouseButton b, Qt::MouseButtons bs) {
            QMouseEvent e(type, QPointF(p), image->mapToGlobal(QPointF(p)), b, bs, Qt::NoModifier);
            QApplication::sendEvent(image, &e);
        };
        send(QEvent::MouseButtonPress, from + border, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseMove, (from + to) / 2 + border, Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseMove, to + border, Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, to + border, Qt::LeftButton, Qt::NoButton);
    }
    QString decode() {
        button("Command1")->click();
        return text1()->text();
    }
    void load(std::function<bool(OPENFILENAME&)> script) {
        fake_.onOpen = std::move(script);
        button("Command2")->click();
    }
    QString save(const QImage& image, const QString& name) {
        const QString path = dir_.filePath(name);
        image.save(path, "BMP");
        return path;
    }

  private slots:
    void init() {
        fake_ = FakeDialogLayer{};
        boxes_.clear();
        scan39::host::SetMsgBoxHook(
            [this](QWidget*, const QString& text, int style, const QString& caption) {
                boxes_.push_back({text, style, caption});
            });
        form_ = std::make_unique<Form1>(&fake_);
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    }
    void cleanup() {
        form_.reset();
        scan39::host::SetMsgBoxHook({});
    }

    void layout_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::newRow("Text1") << "Text1" << QRect(8, 8, 353, 33) << "";
        QTest::newRow("Command1") << "Command1" << QRect(360, 8, 81, 33) << "开始解码";
        QTest::newRow("Uo_Scan1") << "Uo_Scan1" << QRect(8, 80, 566, 395) << "";
        QTest::newRow("Command2") << "Command2" << QRect(496, 8, 81, 33) << "装入图片";
        QTest::newRow("Label1") << "Label1" << QRect(120, 64, 324, 12)
                                << "请用鼠标框选需要扫描的图片部分（红色线条必须穿过条码）";
    }
    void layout() {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QWidget* w = form_->findChild<QWidget*>(name);
        QVERIFY(w);
        QCOMPARE(w->geometry(), geometry);
        if (auto* b = qobject_cast<QPushButton*>(w)) {
            QCOMPARE(b->text(), text);
            QVERIFY(!b->isDefault());
            QVERIFY(!b->autoDefault());
        }
        if (auto* l = qobject_cast<QLabel*>(w)) {
            QCOMPARE(l->text(), text);
            QCOMPARE(l->palette().color(QPalette::WindowText), QColor(255, 0, 0));
            QCOMPARE(l->focusPolicy(), Qt::NoFocus);
        }
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            QCOMPARE(e->text(), text);
            QVERIFY(e->font().bold());
            QCOMPARE(e->font().pointSize(), 12);
            QCOMPARE(e->palette().color(QPalette::Text), QColor(0, 0, 255));
            QCOMPARE(e->palette().color(QPalette::Base), QColor(192, 255, 255));
        }
    }

    void window() {
        QCOMPARE(form_->windowTitle(), QStringLiteral("条码解码演示程序"));
        QCOMPARE(form_->size(), QSize(582, 484));
        QCOMPARE(form_->focusWidget(), text1());
        // Tab order: Text1, Command1, Uo_Scan1 (its picture box takes the focus), Command2.
        auto windowChild = [this](QWidget* w) {
            while (w && w->parentWidget() != form_.get()) w = w->parentWidget();
            return w;
        };
        QWidget* w = text1();
        QStringList order{w->objectName()};
        while (order.size() < 4) {
            w = w->nextInFocusChain();
            if (w == text1()) break;
            if (!(w->focusPolicy() & Qt::TabFocus)) continue;
            QWidget* child = windowChild(w);
            if (child && order.last() != child->objectName()) order << child->objectName();
        }
        QCOMPARE(order, (QStringList{"Text1", "Command1", "Uo_Scan1", "Command2"}));
        // The control shows the sample picture, plus its border.
        QVERIFY(scan()->Picture());
        QCOMPARE(scan()->Picture()->image().size(), QSize(564, 393));
        QCOMPARE(scan()->xa(), 0);
        QCOMPARE(scan()->Value(), QString());
    }

    void decodeBeforeAnyDragFails() { QCOMPARE(decode(), kError); }

    void decodesTheSampleSymbols_data() {
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("to");
        QTest::addColumn<QString>("expected");
        QTest::newRow("band 3, down and right") << QPoint(4, 140) << QPoint(490, 200) << "ABCDEFG";
        QTest::newRow("band 3, dragged upward") << QPoint(4, 200) << QPoint(490, 140) << kError;
        QTest::newRow("band 2, left symbol") << QPoint(4, 86) << QPoint(226, 112) << "1234567890";
        QTest::newRow("band 2, right symbol") << QPoint(228, 86) << QPoint(450, 112) << "BARCODE39";
        QTest::newRow("right to left") << QPoint(490, 140) << QPoint(4, 200) << kError;
    }
    void decodesTheSampleSymbols() {
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        QFETCH(QString, expected);
        drag(from, to);
        QCOMPARE(decode(), expected);
    }

    void everySampleSymbolDecodes() {
        for (const auto& s : scan39::samples::FormSampleSymbols()) {
            drag(QPoint(s.left - 8, s.top + 4), QPoint(s.right + 8, s.bottom - 4));
            QCOMPARE(decode(), QString::fromLatin1(s.text.data(), qsizetype(s.text.size())));
        }
    }

    void failedDecodeAfterGoodOneShowsTheError() {
        drag({4, 140}, {490, 200});
        QCOMPARE(decode(), QStringLiteral("ABCDEFG"));
        text1()->setText("typed by the user");
        drag({4, 300}, {490, 380});  // a line across two different symbols and their gap
        QCOMPARE(decode(), kError);
        QCOMPARE(scan()->Value(), QStringLiteral("ABCDEFG"));  // kept, but not shown
    }

    void loadUsesTheDialogAsTheWindowSetsIt() {
        load({});  // cancel
        QVERIFY(fake_.openIn);
        const OPENFILENAME& in = *fake_.openIn;
        QCOMPARE(in.Flags, 0x80A00u);
        QCOMPARE(*in.lpstrTitle, QStringLiteral("装入图片"));
        QCOMPARE(*in.lpstrInitialDir, scan39::host::AppPath());
        QCOMPARE(*in.lpstrFilter, QStringLiteral("图片文件(*.bmp;*.jpg;*.gif)") + QChar(0) +
                                      QStringLiteral("*.bmp;*.jpg;*.gif") + QChar(0));
        QVERIFY(in.hwndOwner != 0);
    }

    // Loads that must change nothing: not the picture, not the line, not Text1, no box.
    void loadsThatChangeNothing_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("cancel") << 0;
        QTest::newRow("typed missing name") << 1;
        QTest::newRow("two files selected") << 2;
        QTest::newRow("a folder") << 3;
        QTest::newRow("hidden file") << 4;
    }
    void loadsThatChangeNothing() {
        QFETCH(int, kind);
        drag({4, 140}, {490, 200});
        text1()->setText("before");
        const auto picture = scan()->Picture();
        const QString a = save(SymbolPicture("A", 200, 300, 20), "a.bmp");
        const QString b = save(SymbolPicture("B", 200, 300, 20), "b.bmp");
        const QString hidden = save(SymbolPicture("C", 200, 300, 20), ".hidden.bmp");
        switch (kind) {
            case 0:
                load({});
                break;
            case 1:
                load(Choose(Single(dir_.filePath("missing.bmp"))));
                break;
            case 2:
                load(Choose(dir_.path() + QChar(0) + "a.bmp" + QChar(0) + "b.bmp" + QChar(0) +
                            QChar(0)));
                break;
            case 3:
                load(Choose(Single(dir_.path())));
                break;
            case 4:
                load(Choose(Single(hidden)));
                break;
        }
        Q_UNUSED(a);
        Q_UNUSED(b);
        QCOMPARE(fake_.calls, 1);
        QCOMPARE(scan()->Picture(), picture);
        QCOMPARE(text1()->text(), QStringLiteral("before"));
        QVERIFY(boxes_.empty());
        QCOMPARE(decode(), QStringLiteral("ABCDEFG"));
    }

    void aTextFileNamedBmpShowsTheWarningAndKeepsThePicture() {
        const QString path = dir_.filePath("text.bmp");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("this is not a picture\n");
        f.close();
        const auto picture = scan()->Picture();
        load(Choose(Single(path)));
        QCOMPARE(boxes_.size(), size_t{1});
        QCOMPARE(boxes_[0].style, 48);
        QCOMPARE(boxes_[0].caption, scan39::host::AppTitle());
        QVERIFY(!boxes_[0].text.isEmpty());
        QCOMPARE(scan()->Picture(), picture);
    }

    void aLoadKeepsTheLineAndDecodesTheNewPicture() {
        drag({4, 140}, {490, 200});
        // The new picture carries no red box, so dark content after the quiet zone ends the
        // line's last light run instead.
        const QString path = save(SymbolPicture("XYZ", 564, 393, 30, 300), "xyz.bmp");
        load(Choose(Single(path)));
        QVERIFY(boxes_.empty());
        QCOMPARE(scan()->Picture()->image().size(), QSize(564, 393));
        QCOMPARE(scan()->xa(), 4 * 15);
        QCOMPARE(decode(), QStringLiteral("XYZ"));
    }

    // A picture named on the command line: the name exactly as given, trailing blank and all;
    // a failure warns like the load command and keeps the picture.
    void openPictureUsesTheExactName() {
        const QString path = save(SymbolPicture("XYZ", 564, 393, 30, 300), "opened.bmp ");
        QVERIFY(form_->OpenPicture(path));
        QVERIFY(boxes_.empty());
        QCOMPARE(scan()->Picture()->image().size(), QSize(564, 393));
        const auto picture = scan()->Picture();
        QVERIFY(!form_->OpenPicture(path.chopped(1)));
        QCOMPARE(boxes_.size(), size_t{1});
        QCOMPARE(boxes_[0].style, 48);
        QCOMPARE(scan()->Picture(), picture);
    }

    void aLargerPictureGrowsTheControlNotTheWindow() {
        const QString path = save(SymbolPicture("BIG", 900, 700, 30), "big.bmp");
        load(Choose(Single(path)));
        QVERIFY(boxes_.empty());
        QCOMPARE(scan()->size(), QSize(902, 702));
        QCOMPARE(scan()->pos(), QPoint(8, 80));
        QCOMPARE(form_->size(), QSize(582, 484));
    }
};

QTEST_MAIN(Form1Test)
#include "form1_test.moc"
