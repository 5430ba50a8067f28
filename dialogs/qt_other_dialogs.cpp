// The print, colour, font, find, replace and page-setup dialogs of the Qt layer.
//
// Every function checks the record's size as the platform does and answers 0 for a record it
// cannot serve. The modal ones need a running QApplication and return false without one.
// Qt has no find or replace dialog, so a small modeless one lives here.

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPageLayout>
#include <QPageSetupDialog>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "qt_layer_p.h"
#include "qt_other_dialogs_p.h"
#include "scan39/dialogs/window_handles.h"

namespace scan39::dialogs {

namespace detail {

QString FaceName(const LOGFONTA& font) {
    const auto* end =
        static_cast<const char*>(std::memchr(font.lfFaceName, '\0', sizeof(font.lfFaceName)));
    const qsizetype length = end ? end - font.lfFaceName : qsizetype{sizeof(font.lfFaceName)};
    return QString::fromUtf8(font.lfFaceName, length);
}

void SetFaceName(LOGFONTA& font, const QString& name) {
    constexpr qsizetype kRoom = sizeof(LOGFONTA::lfFaceName) - 1;  // the last byte stays NUL
    QByteArray bytes = name.toUtf8();
    if (bytes.size() > kRoom) {
        qsizetype cut = kRoom;
        while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80) --cut;
        bytes.truncate(cut);
    }
    std::memset(font.lfFaceName, 0, sizeof(font.lfFaceName));
    std::memcpy(font.lfFaceName, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace detail

namespace {

using detail::FaceName;
using detail::SetFaceName;

bool HaveApplication() {
    return qobject_cast<QApplication*>(QCoreApplication::instance());
}

// A dialog on the heap, owned by the record's owner window while it runs and deleted on the
// way out. The owner may close (and so delete) it while it runs; that counts as Cancel.
template <class Dialog>
class OwnedDialog {
  public:
    template <class... Args>
    explicit OwnedDialog(Args&&... args) : dialog_(new Dialog(std::forward<Args>(args)...)) {}
    ~OwnedDialog() { delete dialog_.data(); }
    OwnedDialog(const OwnedDialog&) = delete;
    OwnedDialog& operator=(const OwnedDialog&) = delete;

    Dialog* operator->() const { return dialog_.data(); }

    bool exec() {
        const int result = dialog_->exec();
        return dialog_ && result == QDialog::Accepted;
    }

  private:
    QPointer<Dialog> dialog_;
};

QColor FromColorRef(COLORREF color) {
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

COLORREF ToColorRef(const QColor& color) {
    return color.red() + 256 * color.green() + 65536 * color.blue();
}

std::int16_t ToInt16(int value) {
    return static_cast<std::int16_t>(std::clamp<int>(
        value, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
}

double ScreenDpi() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInchY() : 96.0;
}

// The dialog's starting font from the logical font. A height (in screen pixels) wins over
// the record's point size, as the platform's does; with neither, Qt's default size stays.
QFont FontFromLogFont(const LOGFONTA& lf, std::int32_t pointSizeTenths, double dpi) {
    QFont font;
    const QString face = FaceName(lf);
    if (!face.isEmpty()) font.setFamilies({face});
    font.setWeight(lf.lfWeight <= 0 ? QFont::Normal
                                    : static_cast<QFont::Weight>(std::min(lf.lfWeight, 1000)));
    font.setItalic(lf.lfItalic != 0);
    font.setUnderline(lf.lfUnderline != 0);
    font.setStrikeOut(lf.lfStrikeOut != 0);
    if (lf.lfHeight != 0 && lf.lfHeight != std::numeric_limits<std::int32_t>::min())
        font.setPointSizeF(std::abs(lf.lfHeight) * 72.0 / dpi);
    else if (pointSizeTenths > 0)
        font.setPointSizeF(pointSizeTenths / 10.0);
    return font;
}

// What the platform's find or replace dialog is: a modeless window that reports the user's
// actions to whoever listens. It keeps its own copy of the record for as long as it is open
// and deletes itself when closed.
class FindReplaceDialog final : public QDialog {
    Q_OBJECT
  public:
    FindReplaceDialog(const FINDREPLACE& record, bool replace, QWidget* owner)
        : QDialog(owner), record_(record), replace_(replace) {
        setAttribute(Qt::WA_DeleteOnClose);
        setModal(false);
        setWindowTitle(replace ? QStringLiteral("替换") : QStringLiteral("查找"));

        auto* form = new QFormLayout;
        findWhat_ = AddLine(form, QStringLiteral("查找内容(&N):"), QStringLiteral("findWhat"),
                            record.lpstrFindWhat, record.wFindWhatLen);
        if (replace)
            replaceWith_ =
                AddLine(form, QStringLiteral("替换为(&P):"), QStringLiteral("replaceWith"),
                        record.lpstrReplaceWith, record.wReplaceWithLen);

        const std::uint32_t flags = record.Flags;
        wholeWord_ =
            AddOption(QStringLiteral("全字匹配(&W)"), QStringLiteral("wholeWord"),
                      flags & FR_WHOLEWORD, flags & FR_NOWHOLEWORD, flags & FR_HIDEWHOLEWORD);
        matchCase_ =
            AddOption(QStringLiteral("区分大小写(&C)"), QStringLiteral("matchCase"),
                      flags & FR_MATCHCASE, flags & FR_NOMATCHCASE, flags & FR_HIDEMATCHCASE);
        auto* options = new QVBoxLayout;
        options->addWidget(wholeWord_);
        options->addWidget(matchCase_);

        auto* lower = new QHBoxLayout;
        lower->addLayout(options);
        if (!replace) {
            auto* direction = new QGroupBox(QStringLiteral("方向"));
            direction->setObjectName(QStringLiteral("direction"));
            up_ = new QRadioButton(QStringLiteral("向上(&U)"));
            up_->setObjectName(QStringLiteral("up"));
            auto* down = new QRadioButton(QStringLiteral("向下(&D)"));
            down->setObjectName(QStringLiteral("down"));
            ((flags & FR_DOWN) ? down : up_)->setChecked(true);
            auto* directionLayout = new QHBoxLayout(direction);
            directionLayout->addWidget(up_);
            directionLayout->addWidget(down);
            direction->setEnabled(!(flags & FR_NOUPDOWN));
            direction->setVisible(!(flags & FR_HIDEUPDOWN));
            lower->addWidget(direction);
        }

        auto* buttons = new QDialogButtonBox(Qt::Vertical);
        findNext_ = AddButton(buttons, QStringLiteral("查找下一个(&F)"), QStringLiteral("findNext"),
                              FR_FINDNEXT);
        findNext_->setDefault(true);
        if (replace) {
            replaceButton_ = AddButton(buttons, QStringLiteral("替换(&R)"),
                                       QStringLiteral("replace"), FR_REPLACE);
            replaceAll_ = AddButton(buttons, QStringLiteral("全部替换(&A)"),
                                    QStringLiteral("replaceAll"), FR_REPLACEALL);
        }
        QPushButton* cancel =
            buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
        cancel->setObjectName(QStringLiteral("cancel"));
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

        auto* left = new QVBoxLayout;
        left->addLayout(form);
        left->addLayout(lower);
        auto* top = new QHBoxLayout(this);
        top->addLayout(left);
        top->addWidget(buttons);

        connect(findWhat_, &QLineEdit::textChanged, this, &FindReplaceDialog::UpdateButtons);
        UpdateButtons();
    }

    void done(int result) override {
        Send(FR_DIALOGTERM);
        QDialog::done(result);
    }

  signals:
    // The record as the platform would hand it to the owner: the action's bit (find next,
    // replace, replace all, dialog closing), the options and the current texts.
    void message(const scan39::dialogs::FINDREPLACE& record);

  private:
    QLineEdit* AddLine(QFormLayout* form, const QString& label, const QString& name,
                       const std::optional<QString>& text, std::uint16_t bufferLength) {
        auto* edit = new QLineEdit;
        edit->setObjectName(name);
        // A supplied buffer holds text and its NUL; without one the dialog keeps the text.
        if (text) edit->setText(text->left(text->indexOf(QChar(u'\0'))));
        if (text && bufferLength > 0) edit->setMaxLength(bufferLength - 1);
        auto* caption = new QLabel(label);
        caption->setBuddy(edit);
        form->addRow(caption, edit);
        return edit;
    }

    QCheckBox* AddOption(const QString& label, const QString& name, bool checked, bool disabled,
                         bool hidden) {
        auto* box = new QCheckBox(label);
        box->setObjectName(name);
        box->setChecked(checked);
        box->setEnabled(!disabled);
        box->setVisible(!hidden);
        return box;
    }

    QPushButton* AddButton(QDialogButtonBox* buttons, const QString& label, const QString& name,
                           std::uint32_t action) {
        QPushButton* button = buttons->addButton(label, QDialogButtonBox::ActionRole);
        button->setObjectName(name);
        connect(button, &QPushButton::clicked, this, [this, action] { Send(action); });
        return button;
    }

    // Nothing to find, nothing to do: the action buttons wait for a text.
    void UpdateButtons() {
        const bool haveText = !findWhat_->text().isEmpty();
        for (QPushButton* button : {findNext_, replaceButton_, replaceAll_})
            if (button) button->setEnabled(haveText);
    }

    void Send(std::uint32_t action) {
        constexpr std::uint32_t kReported =
            FR_WHOLEWORD | FR_MATCHCASE | FR_FINDNEXT | FR_REPLACE | FR_REPLACEALL | FR_DIALOGTERM;
        std::uint32_t flags = (record_.Flags & ~kReported) | action;
        if (wholeWord_->isChecked()) flags |= FR_WHOLEWORD;
        if (matchCase_->isChecked()) flags |= FR_MATCHCASE;
        if (up_) flags = up_->isChecked() ? flags & ~FR_DOWN : flags | FR_DOWN;
        record_.Flags = flags;
        record_.lpstrFindWhat = findWhat_->text();
        if (replace_) record_.lpstrReplaceWith = replaceWith_->text();
        emit message(record_);
    }

    FINDREPLACE record_;
    bool replace_;
    QLineEdit* findWhat_ = nullptr;
    QLineEdit* replaceWith_ = nullptr;
    QCheckBox* wholeWord_ = nullptr;
    QCheckBox* matchCase_ = nullptr;
    QRadioButton* up_ = nullptr;
    QPushButton* findNext_ = nullptr;
    QPushButton* replaceButton_ = nullptr;
    QPushButton* replaceAll_ = nullptr;
};

HWND StartFindReplace(const FINDREPLACE& fr, bool replace) {
    if (fr.lStructSize != kFindReplaceSize || !HaveApplication()) return 0;
    auto* dialog = new FindReplaceDialog(fr, replace, WidgetFromHandle(fr.hwndOwner));
    dialog->show();
    return HandleOf(dialog);
}

}  // namespace

// The platform's rules for the page numbers: with "pages" asked for, the start and end must
// lie within the limits or the call fails; otherwise they are pulled into them. Qt numbers
// pages from 1, so a range that does not reach page 2 offers no page choice.
bool QtDialogLayer::PrintDlg(PRINTDLG& pd) {
    if (pd.lStructSize != kPrintDlgSize || !HaveApplication()) return false;
    const int minPage = pd.nMinPage;
    const int maxPage = pd.nMaxPage;
    if (minPage > maxPage) return false;
    const auto inRange = [&](int page) { return page >= minPage && page <= maxPage; };
    if ((pd.Flags & PD_PAGENUMS) && !(inRange(pd.nFromPage) && inRange(pd.nToPage))) return false;
    const int from = std::clamp<int>(pd.nFromPage, minPage, maxPage);
    const int to = std::clamp<int>(pd.nToPage, minPage, maxPage);

    // The default printer, or PDF output when there is none.
    QPrinter printer(QPrinter::HighResolution);
    QWidget* owner = WidgetFromHandle(pd.hwndOwner);
    if (pd.Flags & PD_RETURNDEFAULT) {
        pd.nFromPage = ToInt16(from);
        pd.nToPage = ToInt16(to);
        return true;
    }
    if (pd.Flags & PD_PRINTSETUP) {
        OwnedDialog<QPageSetupDialog> setup(&printer, owner);
        return setup.exec();
    }

    printer.setCopyCount(std::max<int>(1, pd.nCopies));
    printer.setCollateCopies(pd.Flags & PD_COLLATE);
    OwnedDialog<QPrintDialog> dialog(&printer, owner);

    const bool pageChoice = !(pd.Flags & PD_NOPAGENUMS) && minPage < maxPage && maxPage >= 2;
    QAbstractPrintDialog::PrintDialogOptions options = QAbstractPrintDialog::PrintToFile |
                                                       QAbstractPrintDialog::PrintShowPageSize |
                                                       QAbstractPrintDialog::PrintCollateCopies;
    if (pageChoice) {
        const int firstPage = std::max(1, minPage);
        const int qtFrom = std::max(firstPage, from);
        dialog->setMinMax(firstPage, maxPage);
        dialog->setFromTo(qtFrom, std::max(qtFrom, to));
        options |= QAbstractPrintDialog::PrintPageRange;
    }
    if (!(pd.Flags & PD_NOSELECTION)) options |= QAbstractPrintDialog::PrintSelection;
    const bool currentPage = (pd.Flags & PD_CURRENTPAGE) && !(pd.Flags & PD_NOCURRENTPAGE);
    if (currentPage) options |= QAbstractPrintDialog::PrintCurrentPage;
    dialog->setOptions(options);

    if ((pd.Flags & PD_PAGENUMS) && pageChoice)
        dialog->setPrintRange(QAbstractPrintDialog::PageRange);
    else if ((pd.Flags & PD_SELECTION) && !(pd.Flags & PD_NOSELECTION))
        dialog->setPrintRange(QAbstractPrintDialog::Selection);
    else if (currentPage)
        dialog->setPrintRange(QAbstractPrintDialog::CurrentPage);
    else
        dialog->setPrintRange(QAbstractPrintDialog::AllPages);

    if (!dialog.exec()) return false;

    std::uint32_t flags =
        pd.Flags & ~(PD_SELECTION | PD_PAGENUMS | PD_CURRENTPAGE | PD_COLLATE | PD_PRINTTOFILE);
    pd.nFromPage = ToInt16(from);
    pd.nToPage = ToInt16(to);
    switch (dialog->printRange()) {
        case QAbstractPrintDialog::PageRange:
            flags |= PD_PAGENUMS;
            pd.nFromPage = ToInt16(dialog->fromPage());
            pd.nToPage = ToInt16(dialog->toPage());
            break;
        case QAbstractPrintDialog::Selection:
            flags |= PD_SELECTION;
            break;
        case QAbstractPrintDialog::CurrentPage:
            flags |= PD_CURRENTPAGE;
            break;
        case QAbstractPrintDialog::AllPages:
            break;
    }
    if (printer.collateCopies()) flags |= PD_COLLATE;
    if (printer.outputFormat() == QPrinter::PdfFormat) flags |= PD_PRINTTOFILE;
    pd.Flags = flags;
    pd.nCopies = ToInt16(printer.copyCount());
    return true;
}

bool QtDialogLayer::ChooseColor(CHOOSECOLOR& cc) {
    if (cc.lStructSize != kChooseColorSize || !HaveApplication()) return false;
    const QColor initial = (cc.Flags & CC_RGBINIT) ? FromColorRef(cc.rgbResult) : QColor(Qt::black);

    // Qt keeps custom colours application-wide: lend it the record's for this dialog and put
    // everybody else's back afterwards.
    constexpr int kCustom = 16;
    static_assert(std::tuple_size_v<std::remove_pointer_t<decltype(cc.lpCustColors)>> == kCustom);
    std::array<QColor, kCustom> saved;
    for (int i = 0; i < kCustom; ++i) saved[i] = QColorDialog::customColor(i);
    if (cc.lpCustColors)
        for (int i = 0; i < kCustom; ++i)
            QColorDialog::setCustomColor(i, FromColorRef((*cc.lpCustColors)[i]));

    bool accepted = false;
    {
        OwnedDialog<QColorDialog> dialog(initial, WidgetFromHandle(cc.hwndOwner));
        accepted = dialog.exec();
        if (accepted) cc.rgbResult = ToColorRef(dialog->selectedColor());
    }
    // As on the platform, colours the user defined stay in the block even after Cancel.
    if (cc.lpCustColors)
        for (int i = 0; i < kCustom; ++i)
            (*cc.lpCustColors)[i] = ToColorRef(QColorDialog::customColor(i));
    for (int i = 0; i < kCustom; ++i) QColorDialog::setCustomColor(i, saved[i]);
    return accepted;
}

// Qt's font dialog offers underline and strike-out always and no colour at all: rgbColors
// comes back as it went in. The character set is kept; Qt picks scripts by itself.
bool QtDialogLayer::ChooseFont(CHOOSEFONT& cf) {
    if (cf.lStructSize != kChooseFontSize || !cf.lpLogFont || !HaveApplication()) return false;
    LOGFONTA& lf = *cf.lpLogFont;
    const double dpi = ScreenDpi();
    const bool limitSize =
        (cf.Flags & CF_LIMITSIZE) && cf.nSizeMin > 0 && cf.nSizeMin <= cf.nSizeMax;
    const auto limited = [&](double points) {
        return limitSize ? std::clamp<double>(points, cf.nSizeMin, cf.nSizeMax) : points;
    };

    QFont initial =
        (cf.Flags & CF_INITTOLOGFONTSTRUCT) ? FontFromLogFont(lf, cf.iPointSize, dpi) : QFont();
    if (initial.pointSizeF() > 0) initial.setPointSizeF(limited(initial.pointSizeF()));

    QFontDialog::FontDialogOptions options;
    if (cf.Flags & CF_FIXEDPITCHONLY) options |= QFontDialog::MonospacedFonts;
    if (cf.Flags & (CF_SCALABLEONLY | CF_TTONLY)) options |= QFontDialog::ScalableFonts;

    QFont chosen;
    {
        OwnedDialog<QFontDialog> dialog(initial, WidgetFromHandle(cf.hwndOwner));
        dialog->setOptions(options);
        if (!dialog.exec()) return false;
        chosen = dialog->selectedFont();
    }

    double points = chosen.pointSizeF();
    if (points <= 0) points = chosen.pixelSize() * 72.0 / dpi;
    points = limited(points);

    SetFaceName(lf, chosen.family());
    lf.lfHeight = -static_cast<std::int32_t>(std::lround(points * dpi / 72.0));
    lf.lfWeight = std::clamp<int>(chosen.weight(), 100, 900);
    lf.lfItalic = chosen.italic() ? 255 : 0;
    lf.lfUnderline = chosen.underline() ? 1 : 0;
    lf.lfStrikeOut = chosen.strikeOut() ? 1 : 0;
    cf.iPointSize = static_cast<std::int32_t>(std::lround(points * 10.0));
    cf.nFontType =
        static_cast<std::uint16_t>((lf.lfWeight >= 700 ? BOLD_FONTTYPE : REGULAR_FONTTYPE) |
                                   (chosen.italic() ? ITALIC_FONTTYPE : 0) | SCREEN_FONTTYPE);
    return true;
}

HWND QtDialogLayer::FindText(FINDREPLACE& fr) {
    return StartFindReplace(fr, false);
}

HWND QtDialogLayer::ReplaceText(FINDREPLACE& fr) {
    return StartFindReplace(fr, true);
}

// Sizes and margins come back in the unit the record asks for, or else the locale's:
// thousandths of an inch for imperial, hundredths of a millimetre for metric. The unit used
// is reported in Flags.
bool QtDialogLayer::PageSetupDlg(PAGESETUPDLG& psd) {
    if (psd.lStructSize != kPageSetupDlgSize || !HaveApplication()) return false;
    const bool metric = (psd.Flags & PSD_INHUNDREDTHSOFMILLIMETERS) ||
                        (!(psd.Flags & PSD_INTHOUSANDTHSOFINCHES) &&
                         QLocale().measurementSystem() == QLocale::MetricSystem);
    const QPageLayout::Unit unit = metric ? QPageLayout::Millimeter : QPageLayout::Inch;
    const double perUnit = metric ? 100.0 : 1000.0;

    QPrinter printer(QPrinter::HighResolution);
    if (psd.Flags & PSD_MARGINS) {
        const RECT& m = psd.rtMargin;
        printer.setPageMargins(
            QMarginsF(m.left / perUnit, m.top / perUnit, m.right / perUnit, m.bottom / perUnit),
            unit);
    }
    if (!(psd.Flags & PSD_RETURNDEFAULT)) {
        OwnedDialog<QPageSetupDialog> dialog(&printer, WidgetFromHandle(psd.hwndOwner));
        if (!dialog.exec()) return false;
    }

    const auto scaled = [perUnit](double value) {
        return static_cast<std::int32_t>(std::lround(value * perUnit));
    };
    const QPageLayout layout = printer.pageLayout();
    const QRectF paper = layout.fullRect(unit);
    const QMarginsF margins = layout.margins(unit);
    psd.ptPaperSize = {scaled(paper.width()), scaled(paper.height())};
    psd.rtMargin = {scaled(margins.left()), scaled(margins.top()), scaled(margins.right()),
                    scaled(margins.bottom())};
    psd.Flags = (psd.Flags & ~(PSD_INTHOUSANDTHSOFINCHES | PSD_INHUNDREDTHSOFMILLIMETERS)) |
                (metric ? PSD_INHUNDREDTHSOFMILLIMETERS : PSD_INTHOUSANDTHSOFINCHES);
    return true;
}

}  // namespace scan39::dialogs

#include "qt_other_dialogs.moc"
