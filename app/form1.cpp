#include "form1.h"

#include <QFont>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <cmath>

#include "scan39/container_site.h"
#include "scan39/create_control.h"
#include "scan39/dialogs/cdialog.h"
#include "scan39/dialogs/window_handles.h"
#include "scan39/host/errors.h"
#include "scan39/host/picture.h"
#include "scan39/host/property_store.h"
#include "scan39/host/services.h"
#include "scan39/samples.h"
#include "scan39/uo_scan.h"
#include "ui_form1.h"

namespace scan39::app {
namespace {

const QString kDecodeError = QStringLiteral("错误：非39码或扫描位置不正确");
const QString kPictureFilter = QStringLiteral("图片文件(*.bmp;*.jpg;*.gif)|*.bmp;*.jpg;*.gif");
const QString kLoadTitle = QStringLiteral("装入图片");
// Explorer style, the folder of a typed name must exist, several files may be chosen. The
// file itself need not exist: the lookup after the dialog decides.
constexpr std::int32_t kLoadFlags = 0x80A00;

// Colours as the stored layout gives them: red + 256*green + 65536*blue.
QColor FromColourValue(std::int32_t v) {
    return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
}

// The stored extent is in hundredths of a millimetre.
int HimetricToPixels(int himetric) {
    const double twips = std::round(himetric * 1440.0 / 2540.0);
    return host::TwipsToPixel(twips);
}

// The control's saved properties as the window stores them: only its picture.
host::PropertyStore SavedScanProperties() {
    const auto bytes = samples::FormSamplePicture();
    host::PropertyStore bag;
    bag.write(QStringLiteral("Picture"),
              host::Variant::fromPicture(
                  host::LoadPictureFromData(QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                                       static_cast<qsizetype>(bytes.size())),
                                            QStringLiteral("sample picture"))),
              host::Variant::fromPicture(nullptr));
    return bag;
}

QString WithoutTrailingBlanks(QString s) {
    qsizetype n = s.size();
    while (n > 0 && s.at(n - 1) == QLatin1Char(' ')) --n;
    s.truncate(n);
    return s;
}

}  // namespace

Form1::Form1(dialogs::CommonDialogLayer* dialogs, QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::Form1>()), dialogs_(dialogs) {
    ui_->setupUi(this);
    setFixedSize(size());  // nothing in the window reacts to a size change

    // Text1: "宋体" 12 pt bold, GB2312; fall back to an installed CJK font.
    QFont textFont = ui_->Text1->font();
    textFont.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                          QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC")});
    textFont.setPointSize(12);
    textFont.setWeight(QFont::Bold);
    ui_->Text1->setFont(textFont);
    QPalette textPalette = ui_->Text1->palette();
    textPalette.setColor(QPalette::Text, FromColourValue(0x00FF0000));
    textPalette.setColor(QPalette::Base, FromColourValue(0x00FFFFC0));
    ui_->Text1->setPalette(textPalette);

    // Label1 sits in a 12-pixel line: its text is drawn 12 pixels high so it fits.
    QFont labelFont = ui_->Label1->font();
    labelFont.setPixelSize(12);
    ui_->Label1->setFont(labelFont);
    QPalette labelPalette = ui_->Label1->palette();
    labelPalette.setColor(QPalette::WindowText, FromColourValue(0x000000FF));
    ui_->Label1->setPalette(labelPalette);

    createScanControl();

    connect(ui_->Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(ui_->Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    ui_->Text1->setFocus();
}

// The control calls its site until it is gone, so it goes first.
Form1::~Form1() {
    delete uo_scan1_;
}

// The stored description names the control by its class identifier and gives its extent; the
// placeholder from the .ui carries both and is replaced by the real control.
void Form1::createScanControl() {
    QWidget* placeholder = ui_->Uo_Scan1;
    const QString classId = placeholder->property("classId").toString();
    const int width = HimetricToPixels(placeholder->property("extentWidth").toInt());
    const int height = HimetricToPixels(placeholder->property("extentHeight").toInt());

    site_ = std::make_unique<ContainerSite>(/*userMode=*/true);
    QWidget* control = CreateControl(classId, this, site_.get());
    uo_scan1_ = qobject_cast<Uo_Scan*>(control);
    if (uo_scan1_ == nullptr) qFatal("Form1: no control of class %s", qPrintable(classId));
    uo_scan1_->setObjectName(QStringLiteral("Uo_Scan1"));
    uo_scan1_->setGeometry(placeholder->x(), placeholder->y(), width, height);
    uo_scan1_->ReadProperties(SavedScanProperties());

    // The control takes the placeholder's place in the tab order; the widget that really takes
    // the focus is its focus proxy.
    ui_->Uo_Scan1 = nullptr;
    delete placeholder;
    QWidget* focusTarget = uo_scan1_->focusProxy() ? uo_scan1_->focusProxy() : uo_scan1_;
    QWidget::setTabOrder(ui_->Text1, ui_->Command1);
    QWidget::setTabOrder(ui_->Command1, focusTarget);
    QWidget::setTabOrder(focusTarget, ui_->Command2);
    uo_scan1_->show();
}

void Form1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (centred_) return;
    centred_ = true;
    if (const QScreen* screen =
            this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

// Decode: the control's text, or the fixed error text when nothing was decoded.
void Form1::Command1_Click() {
    const std::int16_t r = uo_scan1_->Scan();
    ui_->Text1->setText(r == 1 ? kDecodeError : uo_scan1_->Value());
}

// Load picture: choose a file, and show it in the control. Any run-time error on the way ends
// in a warning box; the control keeps the picture it had.
void Form1::Command2_Click() {
    try {
        dialogs::CDialog dialog(dialogs_);
        dialog.Hwnd(dialogs::HandleOf(this));
        dialog.Filter(kPictureFilter);
        dialog.Flags(kLoadFlags);
        dialog.InitDir(host::AppPath());
        dialog.DialogTitle(kLoadTitle);
        if (!dialog.ShowOpen()) return;

        // The result is the whole buffer: path, NUL, then the blanks it was filled with.
        const QString name =
            WithoutTrailingBlanks(host::Replace(dialog.FileName(), QString(QChar(0)), QString()));
        if (host::Dir(name).isEmpty()) return;  // missing, hidden or not an ordinary file
        uo_scan1_->setPicture(host::LoadPicture(name));
    } catch (const host::RuntimeError& e) {
        ShowLoadError(e.description());
    } catch (const std::exception& e) {
        ShowLoadError(QString::fromUtf8(e.what()));
    }
}

bool Form1::OpenPicture(const QString& path) {
    try {
        uo_scan1_->setPicture(host::LoadPicture(path, host::PathBlanks::Keep));
        return true;
    } catch (const host::RuntimeError& e) {
        ShowLoadError(e.description());
    } catch (const std::exception& e) {
        ShowLoadError(QString::fromUtf8(e.what()));
    }
    return false;
}

void Form1::ShowLoadError(const QString& description) {
    host::MsgBox(this, description, host::kMsgBoxExclamation, host::AppTitle());
}

}  // namespace scan39::app
