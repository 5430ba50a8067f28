// The Qt layer's print, colour, font, find, replace and page-setup dialogs, driven offscreen.
// Modal dialogs are answered from a queued call once they are up; nothing here calls exec().

#include <QtTest>

#include <QCheckBox>
#include <QColorDialog>
#include <QFontDatabase>
#include <QFontDialog>
#include <QLineEdit>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QSpinBox>
#include <functional>

#include "qt_layer_p.h"
#include "qt_other_dialogs_p.h"
#include "scan39/dialogs/cdialog.h"
#include "scan39/dialogs/window_handles.h"

using namespace scan39::dialogs;

namespace {

// Acts on the modal dialog once the layer has opened it, and cancels it if the action (or a
// failed check in it) left it open. A test whose dialog never opened leaves the action undone.
template <class Dialog>
void WhenOpen(std::function<void(Dialog*)> act) {
    QTimer::singleShot(0, [act] {
        QPointer<Dialog> dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        act(dialog);
        if (dialog && dialog->isVisible()) dialog->reject();
    });
}

// Qt's page-setup widget keeps margins to two decimals of its own unit, so a value may come
// back a little off after the trip through the other unit.
bool Near(int actual, double expected) {
    return std::abs(actual - expected) <= std::max(2.0, std::abs(expected) / 100);
}

bool NoPrinter() {
    return QPrinterInfo::availablePrinters().isEmpty();
}

}  // namespace

class QtOtherDialogsTest : public QObject {
    Q_OBJECT

  private slots:
    void printDialog_data();
    void printDialog();
    void colorDialog_data();
    void colorDialog();
    void fontDialog_data();
    void fontDialog();
    void faceName_data();
    void faceName();
    void pageSetup_data();
    void pageSetup();
    void findReplace_data();
    void findReplace();
    void findReplaceRefusesWrongSize();
    void showFontThroughTheRealLayers();

  private:
    QtDialogLayer layer_;
};

void QtOtherDialogsTest::printDialog_data() {
    QTest::addColumn<quint32>("size");
    QTest::addColumn<quint32>("flags");
    QTest::addColumn<QList<int>>("in");   // copies, from, to, min, max
    QTest::addColumn<int>("userCopies");  // 0: accept as shown, -1: cancel, -2: no dialog
    QTest::addColumn<bool>("result");
    QTest::addColumn<QList<int>>("out");
    QTest::addColumn<quint32>("flagsSet");

    QTest::newRow("page range kept, copies changed")
        << 66u << PD_PAGENUMS << QList{3, 2, 5, 1, 9} << 4 << true << QList{4, 2, 5, 1, 9}
        << PD_PAGENUMS;
    QTest::newRow("all pages, values pulled into limits")
        << 66u << 0u << QList{1, 0, 20, 1, 9} << 0 << true << QList{1, 1, 9, 1, 9} << 0u;
    QTest::newRow("no copies asked means one")
        << 66u << 0u << QList{0, 0, 0, 0, 0} << 0 << true << QList{1, 0, 0, 0, 0} << 0u;
    QTest::newRow("cancel") << 66u << PD_PAGENUMS << QList{3, 2, 5, 1, 9} << -1 << false
                            << QList{3, 2, 5, 1, 9} << 0u;
    QTest::newRow("page range outside limits fails") << 66u << PD_PAGENUMS << QList{1, 0, 20, 1, 9}
                                                     << -2 << false << QList{1, 0, 20, 1, 9} << 0u;
    QTest::newRow("limits reversed fails")
        << 66u << 0u << QList{1, 1, 1, 9, 1} << -2 << false << QList{1, 1, 1, 9, 1} << 0u;
    QTest::newRow("wrong size fails")
        << 60u << 0u << QList{1, 1, 1, 1, 1} << -2 << false << QList{1, 1, 1, 1, 1} << 0u;
}

void QtOtherDialogsTest::printDialog() {
    QFETCH(quint32, size);
    QFETCH(quint32, flags);
    QFETCH(QList<int>, in);
    QFETCH(int, userCopies);
    QFETCH(bool, result);
    QFETCH(QList<int>, out);
    QFETCH(quint32, flagsSet);

    PRINTDLG pd;
    pd.lStructSize = size;
    pd.Flags = flags;
    pd.nCopies = in[0];
    pd.nFromPage = in[1];
    pd.nToPage = in[2];
    pd.nMinPage = in[3];
    pd.nMaxPage = in[4];

    bool opened = false;
    WhenOpen<QPrintDialog>([&](QPrintDialog* dialog) {
        opened = true;
        QCOMPARE(dialog->printer()->copyCount(), std::max(1, in[0]));
        if (flags & PD_PAGENUMS) {
            QCOMPARE(dialog->printRange(), QAbstractPrintDialog::PageRange);
            QCOMPARE(dialog->fromPage(), in[1]);
            QCOMPARE(dialog->toPage(), in[2]);
        }
        if (userCopies < 0) return;
        if (userCopies > 0) {
            auto* copies = dialog->findChild<QSpinBox*>(QStringLiteral("copies"));
            QVERIFY(copies);
            copies->setValue(userCopies);
        }
        dialog->accept();
    });
    QCOMPARE(layer_.PrintDlg(pd), result);
    QCOMPARE(opened, userCopies != -2);
    QCOMPARE((QList<int>{pd.nCopies, pd.nFromPage, pd.nToPage, pd.nMinPage, pd.nMaxPage}), out);
    if (result) {
        QCOMPARE(pd.Flags & flagsSet, flagsSet);
        if (!(flagsSet & PD_PAGENUMS)) QCOMPARE(pd.Flags & PD_PAGENUMS, 0u);
        QCOMPARE(bool(pd.Flags & PD_PRINTTOFILE), NoPrinter());
    } else {
        QCOMPARE(pd.Flags, flags);
    }
}

void QtOtherDialogsTest::colorDialog_data() {
    QTest::addColumn<bool>("accept");
    QTest::newRow("accept") << true;
    QTest::newRow("cancel") << false;
}

void QtOtherDialogsTest::colorDialog() {
    QFETCH(bool, accept);
    const QColor othersColour(1, 2, 3);
    QColorDialog::setCustomColor(0, othersColour);  // someone else's, to be kept
    const QColor othersFifth = QColorDialog::customColor(5);

    std::array<COLORREF, 16> custom{};
    custom[2] = 0x0000FF;  // red
    CHOOSECOLOR cc;
    cc.lStructSize = 36;
    cc.Flags = CC_RGBINIT;
    cc.rgbResult = 0x336699;
    cc.lpCustColors = &custom;

    WhenOpen<QColorDialog>([&](QColorDialog* dialog) {
        QCOMPARE(dialog->currentColor(), QColor(0x99, 0x66, 0x33));
        QCOMPARE(QColorDialog::customColor(0), QColor(Qt::black));
        QCOMPARE(QColorDialog::customColor(2), QColor(Qt::red));
        dialog->setCurrentColor(QColor(10, 20, 30));
        QColorDialog::setCustomColor(5, QColor(Qt::blue));
        if (accept) dialog->accept();
    });
    QCOMPARE(layer_.ChooseColor(cc), accept);
    QCOMPARE(cc.rgbResult, accept ? 10 + 20 * 256 + 30 * 65536 : 0x336699);
    QCOMPARE(custom[2], 0x0000FF);
    QCOMPARE(custom[5], 0xFF0000);
    QCOMPARE(QColorDialog::customColor(0), othersColour);
    QCOMPARE(QColorDialog::customColor(5), othersFifth);
}

void QtOtherDialogsTest::fontDialog_data() {
    QTest::addColumn<int>("userPoints");  // 0: cancel
    QTest::addColumn<bool>("bold");
    QTest::addColumn<int>("expectedTenths");
    QTest::newRow("bold italic underlined 14") << 14 << true << 140;
    QTest::newRow("plain 9") << 9 << false << 90;
    QTest::newRow("size above the limit is capped") << 100 << false << 720;
    QTest::newRow("cancel") << 0 << false << 120;
}

void QtOtherDialogsTest::fontDialog() {
    QFETCH(int, userPoints);
    QFETCH(bool, bold);
    QFETCH(int, expectedTenths);
    const QString family = QFontDatabase::families().value(0);
    QVERIFY2(!family.isEmpty(), "no fonts installed");

    LOGFONTA lf;
    lf.lfWeight = 400;
    lf.lfCharSet = 134;
    detail::SetFaceName(lf, family);
    const LOGFONTA original = lf;
    CHOOSEFONT cf;
    cf.lStructSize = 60;
    cf.lpLogFont = &lf;
    cf.iPointSize = 120;
    cf.Flags = 0x12143;  // as the class sends it
    cf.rgbColors = 0x123456;
    cf.nSizeMin = 1;
    cf.nSizeMax = 72;

    QFont chosen;
    WhenOpen<QFontDialog>([&](QFontDialog* dialog) {
        QCOMPARE(dialog->currentFont().family(), family);
        QCOMPARE(dialog->currentFont().pointSize(), 12);
        if (userPoints == 0) return;
        QFont font(family, userPoints, bold ? QFont::Bold : QFont::Normal, bold);
        font.setUnderline(bold);
        font.setStrikeOut(bold);
        dialog->setCurrentFont(font);
        chosen = dialog->currentFont();  // what the font list could offer
        dialog->accept();
    });
    QCOMPARE(layer_.ChooseFont(cf), userPoints != 0);
    QCOMPARE(cf.iPointSize, expectedTenths);
    QCOMPARE(cf.rgbColors, 0x123456);  // Qt offers no colour
    QCOMPARE(lf.lfCharSet, 134);
    if (userPoints == 0) {
        QCOMPARE(std::memcmp(&lf, &original, sizeof lf), 0);
        return;
    }
    QCOMPARE(detail::FaceName(lf), chosen.family());
    QCOMPARE(lf.lfWeight, std::clamp(int(chosen.weight()), 100, 900));
    QCOMPARE(lf.lfItalic, chosen.italic() ? 255 : 0);
    QCOMPARE(lf.lfUnderline, bold ? 1 : 0);
    QCOMPARE(lf.lfStrikeOut, bold ? 1 : 0);
    QVERIFY(lf.lfHeight < 0);
}

void QtOtherDialogsTest::faceName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("stored");
    const QString thirtyOne(31, u'a');
    QTest::newRow("short") << "Arial"
                           << "Arial";
    QTest::newRow("exactly 31 bytes") << thirtyOne << thirtyOne;
    QTest::newRow("32 bytes cut to 31") << thirtyOne + "b" << thirtyOne;
    // 10 Chinese characters are 30 bytes; the 11th would need 33.
    const QString ten = QString::fromUtf8("微软雅黑宋体楷体仿宋");
    QTest::newRow("cut on a character boundary") << ten + QString::fromUtf8("黑") << ten;
    QTest::newRow("29 bytes plus a 3-byte character")
        << QString(29, u'x') + QString::fromUtf8("体") << QString(29, u'x');
}

void QtOtherDialogsTest::faceName() {
    QFETCH(QString, name);
    QFETCH(QString, stored);
    LOGFONTA lf;
    std::memset(lf.lfFaceName, 'z', sizeof lf.lfFaceName);
    detail::SetFaceName(lf, name);
    QCOMPARE(detail::FaceName(lf), stored);
    QCOMPARE(lf.lfFaceName[31], '\0');
}

void QtOtherDialogsTest::pageSetup_data() {
    QTest::addColumn<quint32>("flags");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("action");  // 1 accept, 0 cancel, -1 no dialog
    QTest::addColumn<quint32>("unitFlag");
    QTest::newRow("metric by flag, margins in") << (PSD_INHUNDREDTHSOFMILLIMETERS | PSD_MARGINS)
                                                << "en_US" << 1 << PSD_INHUNDREDTHSOFMILLIMETERS;
    QTest::newRow("inches by flag")
        << PSD_INTHOUSANDTHSOFINCHES << "de_DE" << 1 << PSD_INTHOUSANDTHSOFINCHES;
    QTest::newRow("US locale: inches") << 0u << "en_US" << 1 << PSD_INTHOUSANDTHSOFINCHES;
    QTest::newRow("Chinese locale: millimetres")
        << 0u << "zh_CN" << 1 << PSD_INHUNDREDTHSOFMILLIMETERS;
    QTest::newRow("cancel") << 0u << "zh_CN" << 0 << 0u;
    QTest::newRow("default without dialog")
        << PSD_RETURNDEFAULT << "zh_CN" << -1 << PSD_INHUNDREDTHSOFMILLIMETERS;
}

void QtOtherDialogsTest::pageSetup() {
    QFETCH(quint32, flags);
    QFETCH(QString, locale);
    QFETCH(int, action);
    QFETCH(quint32, unitFlag);
    const QLocale previous;
    QLocale::setDefault(QLocale(locale));

    PAGESETUPDLG psd;
    psd.lStructSize = 84;
    psd.Flags = flags;
    psd.rtMargin = {1000, 2000, 1500, 2500};  // 10, 20, 15, 25 mm when asked for

    QPageLayout seen;
    bool opened = false;
    WhenOpen<QPageSetupDialog>([&](QPageSetupDialog* dialog) {
        opened = true;
        if (flags & PSD_MARGINS) {
            const QMarginsF m = dialog->printer()->pageLayout().margins(QPageLayout::Millimeter);
            QCOMPARE(m, QMarginsF(10, 20, 15, 25));
        }
        seen = dialog->printer()->pageLayout();
        if (action == 1) dialog->accept();
    });
    const bool ok = layer_.PageSetupDlg(psd);
    QLocale::setDefault(previous);

    QCOMPARE(ok, action != 0);
    QCOMPARE(opened, action != -1);
    if (!ok) {
        QCOMPARE(psd.ptPaperSize.x, 0);
        QCOMPARE(psd.rtMargin.top, 2000);
        QCOMPARE(psd.Flags, flags);
        return;
    }
    QCOMPARE(psd.Flags & (PSD_INHUNDREDTHSOFMILLIMETERS | PSD_INTHOUSANDTHSOFINCHES), unitFlag);
    if (action == -1) seen = QPrinter(QPrinter::HighResolution).pageLayout();
    const bool metric = unitFlag == PSD_INHUNDREDTHSOFMILLIMETERS;
    const auto unit = metric ? QPageLayout::Millimeter : QPageLayout::Inch;
    const double scale = metric ? 100 : 1000;
    const QRectF paper = seen.fullRect(unit);
    const QMarginsF margins = seen.margins(unit);
    QVERIFY(Near(psd.ptPaperSize.x, paper.width() * scale));
    QVERIFY(Near(psd.ptPaperSize.y, paper.height() * scale));
    QVERIFY(Near(psd.rtMargin.left, margins.left() * scale));
    QVERIFY(Near(psd.rtMargin.top, margins.top() * scale));
    QVERIFY(Near(psd.rtMargin.right, margins.right() * scale));
    QVERIFY(Near(psd.rtMargin.bottom, margins.bottom() * scale));
    QVERIFY(psd.ptPaperSize.x > 0 && psd.ptPaperSize.y > psd.ptPaperSize.x);
}

void QtOtherDialogsTest::findReplace_data() {
    QTest::addColumn<bool>("replace");
    QTest::newRow("find") << false;
    QTest::newRow("replace") << true;
}

void QtOtherDialogsTest::findReplace() {
    QFETCH(bool, replace);
    QWidget owner;
    owner.show();
    HWND handle = 0;
    {
        // The caller's record is gone before the dialog is used: the dialog keeps its own.
        FINDREPLACE fr;
        fr.lStructSize = 40;
        fr.hwndOwner = HandleOf(&owner);
        fr.Flags = FR_MATCHCASE;
        fr.wFindWhatLen = 255;
        handle = replace ? layer_.ReplaceText(fr) : layer_.FindText(fr);
    }
    QVERIFY(handle != 0);
    QPointer<QDialog> dialog = qobject_cast<QDialog*>(WidgetFromHandle(handle));
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QVERIFY(!dialog->isModal());
    QCOMPARE(dialog->parentWidget(), &owner);
    QCOMPARE(bool(dialog->findChild<QLineEdit*>("replaceWith")), replace);
    QCOMPARE(bool(dialog->findChild<QPushButton*>("replaceAll")), replace);
    QVERIFY(dialog->findChild<QCheckBox*>("matchCase")->isChecked());

    auto* findNext = dialog->findChild<QPushButton*>("findNext");
    QVERIFY(!findNext->isEnabled());  // nothing to find yet
    dialog->findChild<QLineEdit*>("findWhat")->setText("code 39");
    QVERIFY(findNext->isEnabled());

    QSignalSpy spy(dialog.data(), SIGNAL(message(scan39::dialogs::FINDREPLACE)));
    QVERIFY(spy.isValid());
    findNext->click();
    if (replace) {
        dialog->findChild<QLineEdit*>("replaceWith")->setText("Code 39");
        dialog->findChild<QPushButton*>("replaceAll")->click();
    }
    dialog->findChild<QPushButton*>("cancel")->click();
    QCOMPARE(spy.size(), replace ? 3 : 2);
    const auto first = spy.first().first().value<FINDREPLACE>();
    QCOMPARE(first.lStructSize, 40u);
    QCOMPARE(first.Flags & (FR_FINDNEXT | FR_MATCHCASE), FR_FINDNEXT | FR_MATCHCASE);
    QCOMPARE(first.lpstrFindWhat.value_or(QString()), QStringLiteral("code 39"));
    if (replace) {
        const auto all = spy.at(1).first().value<FINDREPLACE>();
        QVERIFY(all.Flags & FR_REPLACEALL);
        QCOMPARE(all.lpstrReplaceWith.value_or(QString()), QStringLiteral("Code 39"));
    }
    QVERIFY(spy.last().first().value<FINDREPLACE>().Flags & FR_DIALOGTERM);

    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!dialog);  // closing deletes it
    QCOMPARE(WidgetFromHandle(handle), nullptr);
}

void QtOtherDialogsTest::findReplaceRefusesWrongSize() {
    FINDREPLACE fr;
    fr.lStructSize = 41;
    fr.wFindWhatLen = 255;
    QCOMPARE(layer_.FindText(fr), 0);
    QCOMPARE(layer_.ReplaceText(fr), 0);
}

// The whole way: CDialog, the real kernel's block and printer context, and Qt's dialog.
void QtOtherDialogsTest::showFontThroughTheRealLayers() {
    CDialog dialog;
    WhenOpen<QFontDialog>([](QFontDialog* d) {
        QFont font = d->currentFont();
        font.setPointSize(16);
        font.setItalic(true);
        d->setCurrentFont(font);
        d->accept();
    });
    QCOMPARE(dialog.ShowFont(), scan39::host::kTrue);
    QVERIFY(!dialog.FontName().isEmpty());
    QCOMPARE(dialog.FontSize(), 16);
    QCOMPARE(dialog.CharSet(), 1);
    QCOMPARE(dialog.FontColor(), 0);
    QCOMPARE(dialog.Underline(), scan39::host::kFalse);

    const HDC first = SystemKernel().DefaultPrinterDC();
    QVERIFY(first != 0);
    QCOMPARE(SystemKernel().DefaultPrinterDC(), first);  // same printer, same context
}

QTEST_MAIN(QtOtherDialogsTest)
#include "qt_other_dialogs_test.moc"
