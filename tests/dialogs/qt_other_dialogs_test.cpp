// The Qt layer's print, colour, font, find, replace and page-setup dialogs, driven offscreen.
// Modal dialogs are answered from a queued call once they are up; nothing here calls exec().

#include <QtTest>

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
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
#include "scan39/dialogs/find_replace_event.h"
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

// The font dialog is Qt's, embedded in ours next to the colour list: acts on both.
void WhenFontOpen(std::function<void(QDialog*, QFontDialog*)> act) {
    WhenOpen<QDialog>([act](QDialog* dialog) {
        auto* fonts = dialog->findChild<QFontDialog*>();
        QVERIFY(fonts);
        act(dialog, fonts);
    });
}

// Picks a writing system in Qt's font dialog as the user would, by its name in the list.
void PickWritingSystem(QFontDialog* fonts, QFontDatabase::WritingSystem system) {
    auto* combo = fonts->findChild<QComboBox*>();
    QVERIFY(combo);
    const int index = combo->findText(QFontDatabase::writingSystemName(system));
    QVERIFY(index >= 0);
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

// A window that keeps what its find or replace dialog tells it.
class FindOwner final : public QWidget {
  public:
    QList<FINDREPLACE> received;

  protected:
    bool event(QEvent* event) override {
        if (event->type() != FindReplaceEvent::RegisteredType()) return QWidget::event(event);
        received << static_cast<FindReplaceEvent*>(event)->record();
        return true;
    }
};

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
    void fontCharSet_data();
    void fontCharSet();
    void refusedRecords_data();
    void refusedRecords();
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
    QTest::addColumn<quint32>("flags");
    // 0: cancel; -1, -2: Escape or Enter in Qt's font list, which close ours
    QTest::addColumn<int>("userPoints");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<QString>("colour");  // picked from the colour list; empty: left as shown
    QTest::addColumn<bool>("refused");    // OK stays without effect
    QTest::addColumn<int>("expectedTenths");
    QTest::addColumn<int>("expectedColour");
    const quint32 asSent = 0x12143;  // as the class sends it
    const int incoming = 0x123456;   // not one of the list's colours
    QTest::newRow("bold italic underlined 14")
        << asSent << 14 << true << "" << false << 140 << incoming;
    QTest::newRow("plain 9") << asSent << 9 << false << "" << false << 90 << incoming;
    QTest::newRow("red picked") << asSent << 9 << false << "红色" << false << 90 << 0x0000FF;
    QTest::newRow("navy picked") << asSent << 9 << false << "深蓝色" << false << 90 << 0x800000;
    QTest::newRow("no effects: no colour list, colour kept")
        << (asSent & ~CF_EFFECTS) << 9 << false << "" << false << 90 << incoming;
    QTest::newRow("size above the limit refused")
        << asSent << 100 << false << "红色" << true << 120 << incoming;
    QTest::newRow("size above, no limit asked")
        << (asSent & ~CF_LIMITSIZE) << 100 << false << "" << false << 1000 << incoming;
    QTest::newRow("cancel") << asSent << 0 << false << "红色" << false << 120 << incoming;
    QTest::newRow("Escape in the font list cancels")
        << asSent << -1 << false << "红色" << false << 120 << incoming;
    QTest::newRow("Enter in the font list confirms")
        << asSent << -2 << false << "红色" << false << 120 << 0x0000FF;
}

void QtOtherDialogsTest::fontDialog() {
    QFETCH(quint32, flags);
    QFETCH(int, userPoints);
    QFETCH(bool, bold);
    QFETCH(QString, colour);
    QFETCH(bool, refused);
    QFETCH(int, expectedTenths);
    QFETCH(int, expectedColour);
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
    cf.Flags = flags;
    cf.rgbColors = 0x123456;
    cf.nSizeMin = 1;
    cf.nSizeMax = 72;

    QFont chosen;
    QString warning;
    bool stayedOpen = false;
    WhenFontOpen([&](QDialog* dialog, QFontDialog* fonts) {
        QCOMPARE(fonts->currentFont().family(), family);
        QCOMPARE(fonts->currentFont().pointSize(), 12);
        auto* colours = dialog->findChild<QComboBox*>(QStringLiteral("color"));
        QCOMPARE(bool(colours), bool(flags & CF_EFFECTS));
        if (colours) {
            QCOMPARE(colours->count(), 17);  // the 16 colours and the record's own
            QCOMPARE(colours->currentText(), QStringLiteral("自定义"));
            QCOMPARE(colours->itemText(0), QStringLiteral("黑色"));
            if (!colour.isEmpty()) {
                const int index = colours->findText(colour);
                QVERIFY(index >= 0 && index < 16);
                colours->setCurrentIndex(index);
            }
        }
        if (userPoints < 0) {
            chosen = fonts->currentFont();
            QTest::keyClick(fonts->findChild<QListView*>(),
                            userPoints == -1 ? Qt::Key_Escape : Qt::Key_Return);
            stayedOpen = dialog->isVisible() || fonts->isHidden();
            return;
        }
        if (userPoints == 0) return;
        QFont font(family, userPoints, bold ? QFont::Bold : QFont::Normal, bold);
        font.setUnderline(bold);
        font.setStrikeOut(bold);
        fonts->setCurrentFont(font);
        chosen = fonts->currentFont();  // what the font list could offer
        dialog->accept();
        stayedOpen = dialog->isVisible();
        if (auto* box = dialog->findChild<QMessageBox*>()) warning = box->text();
    });
    const bool confirmed = (userPoints > 0 && !refused) || userPoints == -2;
    QCOMPARE(layer_.ChooseFont(cf), confirmed);
    QCOMPARE(stayedOpen, refused);
    QCOMPARE(warning, refused ? QStringLiteral("字号必须介于 1 和 72 磅之间。") : QString());
    QCOMPARE(cf.iPointSize, expectedTenths);
    QCOMPARE(cf.rgbColors, expectedColour);
    if (!confirmed) {
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
    FindOwner owner;
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

    // The actions reach the owner window as posted events carrying the record.
    findNext->click();
    if (replace) {
        dialog->findChild<QLineEdit*>("replaceWith")->setText("Code 39");
        dialog->findChild<QPushButton*>("replaceAll")->click();
    }
    dialog->findChild<QPushButton*>("cancel")->click();
    QCoreApplication::sendPostedEvents(&owner, FindReplaceEvent::RegisteredType());
    const QList<FINDREPLACE>& received = owner.received;
    QCOMPARE(received.size(), replace ? 3 : 2);
    const FINDREPLACE& first = received.first();
    QCOMPARE(first.lStructSize, 40u);
    QCOMPARE(first.hwndOwner, HandleOf(&owner));
    QCOMPARE(first.Flags & (FR_FINDNEXT | FR_MATCHCASE), FR_FINDNEXT | FR_MATCHCASE);
    QCOMPARE(first.lpstrFindWhat.value_or(QString()), QStringLiteral("code 39"));
    if (replace) {
        const FINDREPLACE& all = received.at(1);
        QVERIFY(all.Flags & FR_REPLACEALL);
        QCOMPARE(all.lpstrReplaceWith.value_or(QString()), QStringLiteral("Code 39"));
    }
    QVERIFY(received.last().Flags & FR_DIALOGTERM);

    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!dialog);  // closing deletes it
    QCOMPARE(WidgetFromHandle(handle), nullptr);
}

void QtOtherDialogsTest::fontCharSet_data() {
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("picked");  // QFontDatabase::WritingSystem; Any: none picked
    QTest::addColumn<int>("incoming");
    QTest::addColumn<int>("expected");
    const QString zenHei = QStringLiteral("WenQuanYi Zen Hei");
    const QString dejaVu = QStringLiteral("DejaVu Sans");
    QTest::newRow("Simplified Chinese picked")
        << zenHei << int(QFontDatabase::SimplifiedChinese) << 1 << 134;
    QTest::newRow("Latin picked") << zenHei << int(QFontDatabase::Latin) << 134 << 0;
    QTest::newRow("Cyrillic picked") << dejaVu << int(QFontDatabase::Cyrillic) << 1 << 204;
    QTest::newRow("none picked, record's set covered")
        << zenHei << int(QFontDatabase::Any) << 134 << 134;
    QTest::newRow("none picked, record's set not covered")
        << dejaVu << int(QFontDatabase::Any) << 134 << 0;
    QTest::newRow("none picked, default set") << zenHei << int(QFontDatabase::Any) << 1 << 0;
}

// The character set follows the writing system chosen in the dialog.
void QtOtherDialogsTest::fontCharSet() {
    QFETCH(QString, family);
    QFETCH(int, picked);
    QFETCH(int, incoming);
    QFETCH(int, expected);
    if (!QFontDatabase::families().contains(family)) QSKIP("font not installed");

    LOGFONTA lf;
    lf.lfWeight = 400;
    lf.lfCharSet = static_cast<std::uint8_t>(incoming);
    detail::SetFaceName(lf, family);
    CHOOSEFONT cf;
    cf.lStructSize = 60;
    cf.lpLogFont = &lf;
    cf.iPointSize = 120;
    cf.Flags = 0x12143;

    WhenFontOpen([&](QDialog* dialog, QFontDialog* fonts) {
        if (picked != QFontDatabase::Any)
            PickWritingSystem(fonts, static_cast<QFontDatabase::WritingSystem>(picked));
        QCOMPARE(fonts->currentFont().family(), family);
        dialog->accept();
    });
    QVERIFY(layer_.ChooseFont(cf));
    QCOMPARE(int(lf.lfCharSet), expected);
}

void QtOtherDialogsTest::refusedRecords_data() {
    QTest::addColumn<QString>("function");
    QTest::addColumn<bool>("rightSize");
    QTest::addColumn<int>("owner");  // 0: handle 0, 1: a live window, 2: a window that is gone
    for (const char* function :
         {"PrintDlg", "ChooseColor", "ChooseFont", "PageSetupDlg", "FindText", "ReplaceText"}) {
        QTest::addRow("%s, wrong size", function) << function << false << 1;
        QTest::addRow("%s, owner gone", function) << function << true << 2;
    }
    QTest::newRow("FindText, no owner") << "FindText" << true << 0;
    QTest::newRow("ReplaceText, no owner") << "ReplaceText" << true << 0;
}

// Records the layer cannot serve fail before anything is shown, and stay as they were.
void QtOtherDialogsTest::refusedRecords() {
    QFETCH(QString, function);
    QFETCH(bool, rightSize);
    QFETCH(int, owner);

    QWidget live;
    auto* gone = new QWidget;
    const HWND goneHandle = HandleOf(gone);
    delete gone;
    const HWND hwnd = owner == 0 ? 0 : owner == 1 ? HandleOf(&live) : goneHandle;
    const auto size = [rightSize](std::uint32_t right) { return rightSize ? right : right + 1; };

    bool opened = false;
    WhenOpen<QDialog>([&](QDialog*) { opened = true; });
    const qsizetype windowsBefore = QApplication::topLevelWidgets().size();
    bool result = true;
    if (function == "PrintDlg") {
        PRINTDLG pd;
        pd.lStructSize = size(kPrintDlgSize);
        pd.hwndOwner = hwnd;
        pd.nCopies = 3;
        result = layer_.PrintDlg(pd);
        QCOMPARE(pd.nCopies, 3);
    } else if (function == "ChooseColor") {
        CHOOSECOLOR cc;
        cc.lStructSize = size(kChooseColorSize);
        cc.hwndOwner = hwnd;
        cc.rgbResult = 0x123456;
        result = layer_.ChooseColor(cc);
        QCOMPARE(cc.rgbResult, 0x123456);
    } else if (function == "ChooseFont") {
        LOGFONTA lf;
        CHOOSEFONT cf;
        cf.lStructSize = size(kChooseFontSize);
        cf.hwndOwner = hwnd;
        cf.lpLogFont = &lf;
        cf.iPointSize = 120;
        result = layer_.ChooseFont(cf);
        QCOMPARE(cf.iPointSize, 120);
        QCOMPARE(lf.lfFaceName[0], '\0');
    } else if (function == "PageSetupDlg") {
        PAGESETUPDLG psd;
        psd.lStructSize = size(kPageSetupDlgSize);
        psd.hwndOwner = hwnd;
        result = layer_.PageSetupDlg(psd);
        QCOMPARE(psd.ptPaperSize.x, 0);
    } else {
        FINDREPLACE fr;
        fr.lStructSize = size(kFindReplaceSize);
        fr.hwndOwner = hwnd;
        fr.wFindWhatLen = 255;
        result = (function == "FindText" ? layer_.FindText(fr) : layer_.ReplaceText(fr)) != 0;
    }
    QVERIFY(!result);
    QCoreApplication::processEvents();  // lets the queued check run
    QVERIFY(!opened);
    QCOMPARE(QApplication::topLevelWidgets().size(), windowsBefore);
}

// The whole way: CDialog, the real kernel's block and printer context, and Qt's dialog.
void QtOtherDialogsTest::showFontThroughTheRealLayers() {
    const QString zenHei = QStringLiteral("WenQuanYi Zen Hei");
    if (!QFontDatabase::families().contains(zenHei)) QSKIP("WenQuanYi Zen Hei not installed");
    CDialog dialog;
    WhenFontOpen([&](QDialog* d, QFontDialog* fonts) {
        auto* colours = d->findChild<QComboBox*>(QStringLiteral("color"));
        QVERIFY(colours);
        QCOMPARE(colours->currentText(), QStringLiteral("黑色"));  // the class sends black
        colours->setCurrentIndex(colours->findText(QStringLiteral("红色")));
        QFont font(zenHei, 16);
        font.setItalic(true);
        fonts->setCurrentFont(font);
        PickWritingSystem(fonts, QFontDatabase::SimplifiedChinese);
        d->accept();
    });
    QCOMPARE(dialog.ShowFont(), scan39::host::kTrue);
    QCOMPARE(dialog.FontName(), zenHei);
    QCOMPARE(dialog.FontSize(), 16);
    QCOMPARE(dialog.CharSet(), 134);
    QCOMPARE(dialog.FontColor(), 0x0000FF);
    QCOMPARE(dialog.Underline(), scan39::host::kFalse);

    const HDC first = SystemKernel().DefaultPrinterDC();
    QVERIFY(first != 0);
    QCOMPARE(SystemKernel().DefaultPrinterDC(), first);  // same printer, same context
}

QTEST_MAIN(QtOtherDialogsTest)
#include "qt_other_dialogs_test.moc"
