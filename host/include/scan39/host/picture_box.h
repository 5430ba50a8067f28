#pragma once
// The picture box: shows a picture inside a flat one-pixel border, can be drawn on at run time,
// reads back the colours it shows and reports the mouse in twips.

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <span>
#include <vector>

#include "scan39/host/picture.h"

namespace scan39::host {

class PictureBox : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kBorderPixels = 1;

    explicit PictureBox(QWidget* parent = nullptr);
    ~PictureBox() override;

    // The picture shown at the top left inside the border (nullptr: none). Taking a picture
    // erases run-time drawing and sizes the box: its outer size always follows the picture plus
    // the border (just the border, 2 x 2 pixels, without a picture).
    const PictureRef& picture() const { return picture_; }
    void setPicture(PictureRef picture);

    // Erases everything drawn at run time; the picture shows again.
    void Cls();
    // Unfilled one-pixel solid rectangle outline with opposite corners in twips (any order),
    // relative to the picture's top-left pixel, in a colour value (red + 256 green + 65536
    // blue; bits above the low 24 are ignored). Pixels outside the picture are clipped.
    void Box(float x1, float y1, float x2, float y2, std::int32_t colour);
    // Colour value shown at (x, y) twips, drawing included; -1 outside the picture.
    std::int32_t Point(float x, float y) const;

    // Placement inside the parent, in twips.
    float leftTwips() const;
    float topTwips() const;
    float widthTwips() const;
    float heightTwips() const;
    // Moves the box. It keeps sizing itself to its picture, so width and height change nothing:
    // a container that sizes itself to the box and then moves the box to its own size ends up
    // exactly as large as the box, whichever dimension it sets first.
    void moveTwips(float left, float top, float width, float height);

    // Fast read-back for scanning: the shown image is shownWidth() x shownHeight() pixels (the
    // picture's size) and shownRow(y) holds the colour values of its pixel row y, drawing
    // included. The span stays valid until the next call or the next change of the box.
    int shownWidth() const { return shown_.width(); }
    int shownHeight() const { return shown_.height(); }
    std::span<const std::int32_t> shownRow(int y) const;
    // The shown image (picture plus drawing) as 32-bit RGB; null without a picture.
    const QImage& shownImage() const { return shown_; }

  signals:
    // Mouse positions in twips relative to the picture's top-left pixel. While a button is
    // held the box keeps receiving moves and the release, also from outside it, so positions
    // may be negative or beyond the picture.
    void mousePressed(Qt::MouseButton button, float x, float y);
    void mouseMoved(Qt::MouseButtons buttons, float x, float y);
    void mouseReleased(Qt::MouseButton button, float x, float y);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool detachShown();
    void sizeToPicture();
    void updatePicturePixels(const QRect& pictureRect);
    float eventX(const QMouseEvent* event) const;
    float eventY(const QMouseEvent* event) const;

    PictureRef picture_;
    QImage base_;               // the picture as 32-bit RGB
    QImage shown_;              // base_ plus run-time drawing (shares base_ until drawn on)
    std::vector<QRect> drawn_;  // picture areas drawn on since the last Cls
    mutable std::vector<std::int32_t> row_;
};

}  // namespace scan39::host
