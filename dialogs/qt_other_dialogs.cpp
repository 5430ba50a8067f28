// The print, colour, font, find, replace and page-setup dialogs of the Qt layer.
//
// Every function checks the record's size as the platform does and answers 0 for a record it
// cannot serve, or for an owner handle whose window is gone. All need a running QApplication
// and return 0 without one. Qt has no find or replace dialog, so a small modeless one lives
// here; Qt's font dialog has no colour, so it is shown inside one of ours that adds it.

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPageLayout>
#include <QPageSetupDialog>
#include <QPixmap>
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
#include <optional>
#include <utility>

#include "qt_layer_p.h"
#include "qt_other_dialogs_p.h"
#include "scan39/dialogs/find_replace_event.h"
#include "scan39/dialogs/window_handles.h"

namespace scan39::dialogs {

QEvent::Type FindReplaceEvent::RegisteredType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

FindReplaceEvent::FindReplaceEvent(const FINDREPLACE& record)
    : QEvent(RegisteredType()), record_(record) {}

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
// actions to its owner. It keeps its own copy of the record for as long as it is open and
// deletes itself when closed.
class FindReplaceDialog final : public QDialog {
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

    // Posts the record to the owner as the platform would hand it over: the action's bit (find
    // next, replace, replace all, dialog closing), the options and the current texts.
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
        if (QWidget* owner = parentWidget())
            QCoreApplication::postEvent(owner, new FindReplaceEvent(record_));
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

// The dialog reports to its owner, so, as on the platform, there is none without one.
HWND StartFindReplace(const FINDREPLACE& fr, bool replace) {
    if (fr.lStructSize != kFindReplaceSize || !HaveApplication()) return 0;
    QWidget* owner = nullptr;
    if (!ResolveOwner(fr.hwndOwner, owner) || !owner) return 0;
    auto* dialog = new FindReplaceDialog(fr, replace, owner);
    dialog->show();
    return HandleOf(dialog);
}

}  // namespace

// The platform's rules for the page numbers: with "pages" asked for, the start and end must
// lie within the limits or the call fails; otherwise they are pulled into them. Qt numbers
// pages from 1, so a range that does not reach page 2 offers no page choice.
bool QtDialogLayer::PrintDlg(PRINTDLG& pd) {
    if (pd.lStructSize != kPrintDlgSize || !HaveApplication()) return false;
    QWidget* owner = nullptr;
    if (!ResolveOwner(pd.hwndOwner, owner)) return false;
    const int minPage = pd.nMinPage;
    const int maxPage = pd.nMaxPage;
    if (minPage > maxPage) return false;
    const auto inRange = [&](int page) { return page >= minPage && page <= maxPage; };
    if ((pd.Flags & PD_PAGENUMS) && !(inRange(pd.nFromPage) && inRange(pd.nToPage))) return false;
    const int from = std::clamp<int>(pd.nFromPage, minPage, maxPage);
    const int to = std::clamp<int>(pd.nToPage, minPage, maxPage);

    // The default printer, or PDF output when there is none.
    QPrinter printer(QPrinter::HighResolution);
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
    QWidget* owner = nullptr;
    if (!ResolveOwner(cc.hwndOwner, owner)) return false;
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
        OwnedDialog<QColorDialog> dialog(initial, owner);
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

namespace {

// The colours the platform's font dialog offers under its effects, in its order.
struct EffectColour {
    COLORREF value;
    const char16_t* name;
};
constexpr std::array<EffectColour, 16> kEffectColours = {{
    {0x000000, u"黑色"},
    {0x000080, u"褐红色"},
    {0x008000, u"绿色"},
    {0x008080, u"橄榄色"},
    {0x800000, u"深蓝色"},
    {0x800080, u"紫色"},
    {0x808000, u"蓝绿色"},
    {0x808080, u"灰色"},
    {0xC0C0C0, u"银色"},
    {0x0000FF, u"红色"},
    {0x00FF00, u"酸橙色"},
    {0x00FFFF, u"黄色"},
    {0xFF0000, u"蓝色"},
    {0xFF00FF, u"紫红色"},
    {0xFFFF00, u"水绿色"},
    {0xFFFFFF, u"白色"},
}};

// The platform's character set for a writing system, when it has one.
std::optional<std::uint8_t> CharSetOf(QFontDatabase::WritingSystem system) {
    switch (system) {
        case QFontDatabase::Latin:
            return 0;  // ANSI
        case QFontDatabase::Symbol:
            return 2;
        case QFontDatabase::Japanese:
            return 128;
        case QFontDatabase::Korean:
            return 129;
        case QFontDatabase::SimplifiedChinese:
            return 134;
        case QFontDatabase::TraditionalChinese:
            return 136;
        case QFontDatabase::Greek:
            return 161;
        case QFontDatabase::Vietnamese:
            return 163;
        case QFontDatabase::Hebrew:
            return 177;
        case QFontDatabase::Arabic:
            return 178;
        case QFontDatabase::Cyrillic:
            return 204;
        case QFontDatabase::Thai:
            return 222;
        default:
            return std::nullopt;
    }
}

// The character set to report: the writing system the user picked, or else the record's own
// set when the family covers it, or else the family's first one that has a number. The
// record's set stays when nothing maps.
std::uint8_t ChosenCharSet(QFontDatabase::WritingSystem picked, const QString& family,
                           std::uint8_t incoming) {
    if (const auto set = CharSetOf(picked)) return *set;
    const QList<QFontDatabase::WritingSystem> systems = QFontDatabase::writingSystems(family);
    for (const QFontDatabase::WritingSystem system : systems)
        if (CharSetOf(system) == incoming) return incoming;
    for (const QFontDatabase::WritingSystem system : systems)
        if (const auto set = CharSetOf(system)) return *set;
    return incoming;
}

double PointsOf(const QFont& font, double dpi) {
    return font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize() * 72.0 / dpi;
}

struct SizeLimits {
    int min;
    int max;
};

// Qt's font dialog, embedded without its buttons, with the effect colour below it and our
// own OK and Cancel. OK is refused while the size lies outside the record's limits.
class FontChooser final : public QDialog {
  public:
    FontChooser(const QFont& initial, QFontDialog::FontDialogOptions options,
                std::optional<COLORREF> colour, std::optional<SizeLimits> limits, double dpi,
                QWidget* owner)
        : QDialog(owner), limits_(limits), dpi_(dpi) {
        setWindowTitle(QStringLiteral("字体"));
        fonts_ = new QFontDialog(this);
        fonts_->setObjectName(QStringLiteral("fontDialog"));
        fonts_->setWindowFlags(Qt::Widget);
        fonts_->setSizeGripEnabled(false);  // ours has the window's edge
        fonts_->setOptions(options | QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
        fonts_->setCurrentFont(initial);
        // Enter in its lists or Escape closes the embedded dialog itself: keep it shown and
        // let the keys act on ours.
        connect(fonts_, &QDialog::finished, this, [this](int result) {
            fonts_->show();
            if (result == QDialog::Accepted)
                accept();
            else
                reject();
        });

        auto* layout = new QVBoxLayout(this);
        layout->addWidget(fonts_);
        if (colour) AddColours(layout, *colour);

        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
        buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        layout->addWidget(buttons);
    }

    QFont CurrentFont() const { return fonts_->currentFont(); }

    // The colour shown; none when the dialog offers no colour.
    std::optional<COLORREF> Colour() const {
        if (!colours_) return std::nullopt;
        return colours_->currentData().toInt();
    }

    // The writing system picked in Qt's own list, Any when it cannot be read.
    QFontDatabase::WritingSystem PickedWritingSystem() const {
        const auto* combo = fonts_->findChild<QComboBox*>();
        if (!combo) return QFontDatabase::Any;
        for (int i = 0; i < QFontDatabase::WritingSystemsCount; ++i) {
            const auto system = static_cast<QFontDatabase::WritingSystem>(i);
            if (QFontDatabase::writingSystemName(system) == combo->currentText()) return system;
        }
        return QFontDatabase::Any;
    }

    void accept() override {
        const double points = PointsOf(CurrentFont(), dpi_);
        if (limits_ && (points < limits_->min || points > limits_->max)) {
            Warn(QStringLiteral("字号必须介于 %1 和 %2 磅之间。")
                     .arg(limits_->min)
                     .arg(limits_->max));
            return;
        }
        QDialog::accept();
    }

  private:
    void AddColours(QVBoxLayout* layout, COLORREF colour) {
        colours_ = new QComboBox;
        colours_->setObjectName(QStringLiteral("color"));
        const auto add = [this](COLORREF value, const QString& name) {
            QPixmap swatch(16, 12);
            swatch.fill(FromColorRef(value));
            colours_->addItem(QIcon(swatch), name, int{value});
        };
        for (const EffectColour& entry : kEffectColours)
            add(entry.value, QString::fromUtf16(entry.name));
        // A colour the list lacks is offered as it came, so OK alone keeps it.
        if (colours_->findData(int{colour}) < 0) add(colour, QStringLiteral("自定义"));
        colours_->setCurrentIndex(colours_->findData(int{colour}));
        connect(colours_, &QComboBox::currentIndexChanged, this, &FontChooser::ShowColour);
        ShowColour();

        auto* label = new QLabel(QStringLiteral("颜色(&C):"));
        label->setBuddy(colours_);
        auto* row = new QHBoxLayout;
        row->addWidget(label);
        row->addWidget(colours_);
        row->addStretch();
        layout->addLayout(row);
    }

    // The sample text takes the colour, as on the platform.
    void ShowColour() {
        auto* sample = fonts_->findChild<QLineEdit*>(QStringLiteral("qt_fontDialog_sampleEdit"));
        if (!sample) return;
        QPalette palette = sample->palette();
        palette.setColor(QPalette::Text, FromColorRef(Colour().value_or(0)));
        sample->setPalette(palette);
    }

    // Window-modal without a nested event loop: the dialog stays open behind the box.
    void Warn(const QString& text) {
        auto* box =
            new QMessageBox(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }

    QFontDialog* fonts_ = nullptr;
    QComboBox* colours_ = nullptr;
    std::optional<SizeLimits> limits_;
    double dpi_;
};

}  // namespace

// The colour list appears with CF_EFFECTS, as on the platform. Qt's font dialog offers
// underline and strike-out always.
bool QtDialogLayer::ChooseFont(CHOOSEFONT& cf) {
    if (cf.lStructSize != kChooseFontSize || !cf.lpLogFont || !HaveApplication()) return false;
    QWidget* owner = nullptr;
    if (!ResolveOwner(cf.hwndOwner, owner)) return false;
    LOGFONTA& lf = *cf.lpLogFont;
    const double dpi = ScreenDpi();
    std::optional<SizeLimits> limits;
    if ((cf.Flags & CF_LIMITSIZE) && cf.nSizeMin > 0 && cf.nSizeMin <= cf.nSizeMax)
        limits = SizeLimits{cf.nSizeMin, cf.nSizeMax};
    const bool effects = cf.Flags & CF_EFFECTS;

    QFont initial =
        (cf.Flags & CF_INITTOLOGFONTSTRUCT) ? FontFromLogFont(lf, cf.iPointSize, dpi) : QFont();
    // The dialog starts within the limits; what the user then picks is checked on OK.
    if (limits && initial.pointSizeF() > 0)
        initial.setPointSizeF(std::clamp<double>(initial.pointSizeF(), limits->min, limits->max));

    QFontDialog::FontDialogOptions options;
    if (cf.Flags & CF_FIXEDPITCHONLY) options |= QFontDialog::MonospacedFonts;
    if (cf.Flags & (CF_SCALABLEONLY | CF_TTONLY)) options |= QFontDialog::ScalableFonts;

    QFont chosen;
    std::optional<COLORREF> colour;
    QFontDatabase::WritingSystem writingSystem = QFontDatabase::Any;
    {
        OwnedDialog<FontChooser> dialog(initial, options,
                                        effects ? std::optional(cf.rgbColors) : std::nullopt,
                                        limits, dpi, owner);
        if (!dialog.exec()) return false;
        chosen = dialog->CurrentFont();
        colour = dialog->Colour();
        writingSystem = dialog->PickedWritingSystem();
    }

    const double points = PointsOf(chosen, dpi);
    SetFaceName(lf, chosen.family());
    lf.lfHeight = -static_cast<std::int32_t>(std::lround(points * dpi / 72.0));
    lf.lfWeight = std::clamp<int>(chosen.weight(), 100, 900);
    lf.lfItalic = chosen.italic() ? 255 : 0;
    lf.lfUnderline = chosen.underline() ? 1 : 0;
    lf.lfStrikeOut = chosen.strikeOut() ? 1 : 0;
    lf.lfCharSet = ChosenCharSet(writingSystem, chosen.family(), lf.lfCharSet);
    cf.iPointSize = static_cast<std::int32_t>(std::lround(points * 10.0));
    if (colour) cf.rgbColors = *colour;
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
    QWidget* owner = nullptr;
    if (!ResolveOwner(psd.hwndOwner, owner)) return false;
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
        OwnedDialog<QPageSetupDialog> dialog(&printer, owner);
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
