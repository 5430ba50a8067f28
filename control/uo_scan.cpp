#include "scan39/uo_scan.h"

#include <QByteArray>
#include <string>

#include "scan39/box_geometry.h"
#include "scan39/container_site.h"
#include "scan39/host/errors.h"
#include "scan39/host/picture_box.h"
#include "scan39/host/property_store.h"
#include "scan39/host/services.h"
#include "scan39/samples.h"
#include "scan39/scan.h"

namespace scan39 {

using host::Variant;

namespace {

// The designed default picture, decoded once and shared: pictures are immutable.
host::PictureRef DefaultPicture() {
    static const host::PictureRef picture = [] {
        const auto bytes = samples::ControlDefaultPicture();
        return host::LoadPictureFromData(QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<qsizetype>(bytes.size())),
                                         QStringLiteral("default picture"));
    }();
    return picture;
}

// A drag coordinate as a 32-bit float; the handlers only ever store floats (or nothing yet).
float SingleOf(const Variant& v) {
    return v.type() == Variant::Type::Float ? v.single() : 0.0f;
}

// Mouse handlers run from Qt's event delivery, which must not see exceptions. Pointer positions
// never overflow a coordinate, and a handler has no one to report to, so an error ends just
// that one event.
template <class F>
void Deliver(F&& handler) {
    try {
        handler();
    } catch (const std::exception&) {
    }
}

}  // namespace

Uo_Scan::Uo_Scan(host::ControlSite* site, QWidget* parent) : QWidget(parent) {
    if (site == nullptr) {
        ownSite_ = std::make_unique<ContainerSite>(/*userMode=*/true);
        ownSite_->setRecording(false);
        site = ownSite_.get();
    }
    if (auto* container = dynamic_cast<ContainerSite*>(site);
        container != nullptr && container->control() == nullptr) {
        container->attach(this);
    }
    site_ = site;

    setObjectName(QStringLiteral("Uo_Scan"));
    resize(host::TwipsToPixel(kDesignWidth), host::TwipsToPixel(kDesignHeight));
    image1_ = new host::PictureBox(this);
    image1_->setObjectName(QStringLiteral("Image1"));
    image1_->setFocusPolicy(Qt::StrongFocus);
    setFocusProxy(image1_);
    image1_->setPicture(DefaultPicture());
    image1_->moveTwips(0, 0, kImage1DesignWidth, kImage1DesignHeight);

    connect(
        image1_, &host::PictureBox::mousePressed, this,
        [this](Qt::MouseButton, float x, float y) { Deliver([&] { Image1_MouseDown(x, y); }); });
    connect(
        image1_, &host::PictureBox::mouseMoved, this,
        [this](Qt::MouseButtons, float x, float y) { Deliver([&] { Image1_MouseMove(x, y); }); });
    connect(image1_, &host::PictureBox::mouseReleased, this,
            [this](Qt::MouseButton, float, float) { Deliver([&] { Image1_MouseUp(); }); });

    Initialize();
}

Uo_Scan::~Uo_Scan() = default;

std::int16_t Uo_Scan::Scan() {
    try {
        const ScanLine line{m_xa, m_xb, m_ya};
        PixelRowSource source;
        source.width = image1_->shownWidth();
        source.height = image1_->shownHeight();
        source.unitsPerPixel = host::kTwipsPerPixel;
        source.row = [box = image1_](std::int32_t y) { return box->shownRow(y); };
        // The decoder leaves the text alone on most failures and empties it on one; handing it
        // the current text tells the two apart without a lossy round trip.
        std::string value = m_Value.toStdString();
        const std::int16_t result = scan39::Scan(line, source, PatternTable, value);
        if (result == kScanDecoded) {
            m_Value = QString::fromStdString(value);
        } else if (value.empty()) {
            m_Value.clear();
        }
        return result;
    } catch (...) {
        // Scan reports through its result only.
        return kScanFailed;
    }
}

host::PictureRef Uo_Scan::Picture() const {
    return image1_->picture();
}

void Uo_Scan::setPicture(const host::PictureRef& New_Picture) {
    image1_->setPicture(New_Picture);
    Site().SetExtenderProperty(QStringLiteral("Width"), Variant::fromFloat(image1_->widthTwips()));
    Site().SetExtenderProperty(QStringLiteral("Height"),
                               Variant::fromFloat(image1_->heightTwips()));
    Site().PropertyChanged(QStringLiteral("Picture"));
}

void Uo_Scan::setXa(std::int32_t New_xa) {
    m_xa = New_xa;
    Site().PropertyChanged(QStringLiteral("xa"));
}

void Uo_Scan::setXb(std::int32_t New_xb) {
    m_xb = New_xb;
    Site().PropertyChanged(QStringLiteral("xb"));
}

void Uo_Scan::setYa(std::int32_t New_ya) {
    m_ya = New_ya;
    Site().PropertyChanged(QStringLiteral("ya"));
}

void Uo_Scan::setYb(const Variant& New_yb) {
    m_yb = New_yb;
    Site().PropertyChanged(QStringLiteral("yb"));
}

void Uo_Scan::setValue(const QString& New_Value) {
    Q_UNUSED(New_Value);
    throw host::RuntimeError(Site().UserMode() ? host::kErrPropertyNotSupportedAtRunTime
                                               : host::kErrSetNotPermitted);
}

void Uo_Scan::Initialize() {
    BuildPatternTable(PatternTable);
}

void Uo_Scan::InitProperties() {
    m_xa = 0;
    m_xb = 0;
    m_ya = 0;
    m_yb = Variant::fromInt16(0);
    m_Value.clear();
}

void Uo_Scan::ReadProperties(const host::PropertyStore& store) {
    const Variant zero = Variant::fromInt16(0);
    setPicture(store.read(QStringLiteral("Picture"), Variant::fromPicture(nullptr)).toPicture());
    m_xa = store.read(QStringLiteral("xa"), zero).toInt32();
    m_xb = store.read(QStringLiteral("xb"), zero).toInt32();
    m_ya = store.read(QStringLiteral("ya"), zero).toInt32();
    m_yb = store.read(QStringLiteral("yb"), zero);
    m_Value = store.read(QStringLiteral("Value"), Variant::fromText(QString())).toText();
}

void Uo_Scan::WriteProperties(host::PropertyStore& store) const {
    const Variant zero = Variant::fromInt16(0);
    store.write(QStringLiteral("Picture"), Variant::fromPicture(Picture()),
                Variant::fromPicture(nullptr));
    store.write(QStringLiteral("xa"), Variant::fromInt32(m_xa), zero);
    store.write(QStringLiteral("xb"), Variant::fromInt32(m_xb), zero);
    store.write(QStringLiteral("ya"), Variant::fromInt32(m_ya), zero);
    store.write(QStringLiteral("yb"), m_yb, zero);
    store.write(QStringLiteral("Value"), Variant::fromText(m_Value), Variant::fromText(QString()));
}

void Uo_Scan::Resize() {
    try {
        image1_->moveTwips(0, 0, static_cast<float>(width() * host::kTwipsPerPixel),
                           static_cast<float>(height() * host::kTwipsPerPixel));
    } catch (...) {
        // A container refusing the size leaves Image1 where it was.
    }
}

void Uo_Scan::Image1_MouseDown(float X, float Y) {
    image1_->Cls();
    Dragging = host::kTrue;
    PressX = Variant::fromFloat(X);
    PressY = Variant::fromFloat(Y);
}

void Uo_Scan::Image1_MouseMove(float X, float Y) {
    if (Dragging == host::kFalse) return;
    image1_->Cls();
    MoveX = Variant::fromFloat(X);
    MoveY = Y;
    const float left = image1_->leftTwips();
    const float top = image1_->topTwips();
    BoxX1 = Variant::fromFloat(SingleOf(PressX) + left);
    BoxY1 = Variant::fromFloat(SingleOf(PressY) + top);
    BoxX2 = Variant::fromFloat((SingleOf(MoveX) + left) - static_cast<float>(kBoxRightInset));
    BoxY2 = top + MoveY;
    image1_->Box(SingleOf(BoxX1), SingleOf(BoxY1), SingleOf(BoxX2), BoxY2, kBoxColour);
    m_xa = BoxX1.toInt32();
    m_ya = BoxY1.toInt32();
    m_xb = BoxX2.toInt32();
    m_yb = Variant::fromFloat(BoxY2);
}

void Uo_Scan::Image1_MouseUp() {
    Dragging = host::kFalse;
}

void Uo_Scan::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Resize();
}

}  // namespace scan39
