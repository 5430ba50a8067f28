#include "scan39/host/picture_box.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <optional>

#include "scan39/host/services.h"

namespace scan39::host {

namespace {

// Twips further out than this lie far outside any picture the loader accepts; clamping them
// keeps the pixel arithmetic inside int without changing what is drawn or read.
constexpr double kTwipsLimit = 1.0e9;

std::optional<int> PixelOf(float twips) {
    if (!std::isfinite(twips)) return std::nullopt;
    return TwipsToPixel(std::clamp(static_cast<double>(twips), -kTwipsLimit, kTwipsLimit));
}

std::int32_t ColourValueOf(QRgb p) {
    return static_cast<std::int32_t>(((p >> 16) & 0xFFu) | (p & 0xFF00u) | ((p & 0xFFu) << 16));
}

QRgb RgbOfColourValue(std::int32_t colour) {
    const auto v = static_cast<std::uint32_t>(colour);
    return qRgb(static_cast<int>(v & 0xFFu), static_cast<int>((v >> 8) & 0xFFu),
                static_cast<int>((v >> 16) & 0xFFu));
}

// The picture as opaque 32-bit RGB; transparent parts show the box's back colour.
QImage OpaqueImage(const QImage& image, const QColor& back) {
    if (!image.hasAlphaChannel()) return image.convertToFormat(QImage::Format_RGB32);
    QImage out(image.size(), QImage::Format_RGB32);
    out.fill(back);
    QPainter painter(&out);
    painter.drawImage(0, 0, image);
    return out;
}

}  // namespace

// The first drawing on a picture copies it; without memory for the copy, the drawing is left
// out and the picture keeps showing as it is.
bool PictureBox::detachShown() {
    if (shown_.bits() != nullptr) return true;
    shown_ = base_;
    drawn_.clear();
    return false;
}

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
    // Moves without a button are reported too; the receiver decides whether they matter.
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    sizeToPicture();
}

PictureBox::~PictureBox() = default;

void PictureBox::setPicture(PictureRef picture) {
    picture_ = std::move(picture);
    base_ = picture_ ? OpaqueImage(picture_->image(), palette().color(QPalette::Base)) : QImage();
    shown_ = base_;
    drawn_.clear();
    row_.clear();
    row_.shrink_to_fit();
    sizeToPicture();
    update();
}

void PictureBox::sizeToPicture() {
    resize(shown_.width() + 2 * kBorderPixels, shown_.height() + 2 * kBorderPixels);
}

void PictureBox::Cls() {
    if (drawn_.empty()) return;
    // A long drag leaves few areas; restoring them beats copying the whole picture back.
    constexpr std::size_t kRestoreLimit = 64;
    if (drawn_.size() > kRestoreLimit || !detachShown()) {
        shown_ = base_;
        update();
    } else {
        for (const QRect& r : drawn_) {
            for (int y = r.top(); y <= r.bottom(); ++y) {
                const auto* from = reinterpret_cast<const QRgb*>(base_.constScanLine(y));
                auto* to = reinterpret_cast<QRgb*>(shown_.scanLine(y));
                std::copy(from + r.left(), from + r.right() + 1, to + r.left());
            }
            updatePicturePixels(r);
        }
    }
    drawn_.clear();
}

void PictureBox::Box(float x1, float y1, float x2, float y2, std::int32_t colour) {
    const auto px1 = PixelOf(x1), py1 = PixelOf(y1), px2 = PixelOf(x2), py2 = PixelOf(y2);
    if (!px1 || !py1 || !px2 || !py2 || shown_.isNull()) return;
    const int left = std::min(*px1, *px2), right = std::max(*px1, *px2);
    const int top = std::min(*py1, *py2), bottom = std::max(*py1, *py2);
    const QRect edges[] = {
        QRect(QPoint(left, top), QPoint(right, top)),        // top
        QRect(QPoint(left, bottom), QPoint(right, bottom)),  // bottom
        QRect(QPoint(left, top), QPoint(left, bottom)),      // left
        QRect(QPoint(right, top), QPoint(right, bottom)),    // right
    };
    if (!detachShown()) return;
    const QRgb rgb = RgbOfColourValue(colour);
    const QRect picture = shown_.rect();
    for (const QRect& edge : edges) {
        const QRect r = edge.intersected(picture);
        if (r.isEmpty()) continue;
        for (int y = r.top(); y <= r.bottom(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(shown_.scanLine(y));
            std::fill(line + r.left(), line + r.right() + 1, rgb);
        }
        drawn_.push_back(r);
        updatePicturePixels(r);
    }
}

std::int32_t PictureBox::Point(float x, float y) const {
    const auto px = PixelOf(x), py = PixelOf(y);
    if (!px || !py || *px < 0 || *py < 0 || *px >= shown_.width() || *py >= shown_.height())
        return -1;
    return ColourValueOf(reinterpret_cast<const QRgb*>(shown_.constScanLine(*py))[*px]);
}

std::span<const std::int32_t> PictureBox::shownRow(int y) const {
    if (y < 0 || y >= shown_.height()) return {};
    const int width = shown_.width();
    row_.resize(static_cast<std::size_t>(width));
    const auto* line = reinterpret_cast<const QRgb*>(shown_.constScanLine(y));
    std::transform(line, line + width, row_.begin(), ColourValueOf);
    return row_;
}

float PictureBox::leftTwips() const {
    return static_cast<float>(x() * kTwipsPerPixel);
}
float PictureBox::topTwips() const {
    return static_cast<float>(y() * kTwipsPerPixel);
}
float PictureBox::widthTwips() const {
    return static_cast<float>(width() * kTwipsPerPixel);
}
float PictureBox::heightTwips() const {
    return static_cast<float>(height() * kTwipsPerPixel);
}

void PictureBox::moveTwips(float left, float top, float /*width*/, float /*height*/) {
    const auto px = PixelOf(left), py = PixelOf(top);
    if (px && py) move(*px, *py);
}

void PictureBox::updatePicturePixels(const QRect& pictureRect) {
    update(pictureRect.translated(kBorderPixels, kBorderPixels));
}

void PictureBox::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect inner =
        rect().adjusted(kBorderPixels, kBorderPixels, -kBorderPixels, -kBorderPixels);
    painter.setClipRect(event->rect().intersected(inner));
    painter.fillRect(inner, palette().color(QPalette::Base));
    if (!shown_.isNull()) painter.drawImage(inner.topLeft(), shown_);
    painter.setClipping(false);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setBrush(Qt::NoBrush);
    if (width() > 0 && height() > 0) painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

// Positions count whole pixels, like the pointer itself, from the picture's top-left pixel.
float PictureBox::eventX(const QMouseEvent* event) const {
    return static_cast<float>((std::floor(event->position().x()) - kBorderPixels) * kTwipsPerPixel);
}

float PictureBox::eventY(const QMouseEvent* event) const {
    return static_cast<float>((std::floor(event->position().y()) - kBorderPixels) * kTwipsPerPixel);
}

void PictureBox::mousePressEvent(QMouseEvent* event) {
    emit mousePressed(event->button(), eventX(event), eventY(event));
}

void PictureBox::mouseMoveEvent(QMouseEvent* event) {
    emit mouseMoved(event->buttons(), eventX(event), eventY(event));
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event) {
    emit mouseReleased(event->button(), eventX(event), eventY(event));
}

}  // namespace scan39::host

// The class is declared in the public include tree, which AUTOMOC does not scan on its own.
#include "scan39/host/moc_picture_box.cpp"
