// The picture box Image1: self-sizing, drawing, read-back and mouse reports in twips.

#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include "scan39/host/picture_box.h"

using scan39::host::Picture;
using scan39::host::PictureBox;
using scan39::host::PictureRef;

namespace {

// Pixel (x, y) has red 12x, green 20y, blue 7 (pictures up to 21 x 12 pixels): every pixel's
// colour value is distinct.
QRgb Synthetic(int x, int y) {
    return qRgb(12 * x, 20 * y, 7);
}
std::int32_t SyntheticValue(int x, int y) {
    return 12 * x + 256 * (20 * y) + 65536 * 7;
}

QImage MakeImage(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) image.setPixel(x, y, Synthetic(x, y));
    return image;
}

PictureRef MakePicture(int w, int h) {
    return std::make_shared<const Picture>(MakeImage(w, h));
}

constexpr std::int32_t kRed = 255;

}  // namespace

class PictureBoxTest : public QObject {
    Q_OBJECT

  private slots:
    void sizesToPicture_data() {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<QSize>("outer");
        QTest::newRow("no picture: just the border") << 0 << 0 << QSize(2, 2);
        QTest::newRow("one pixel") << 1 << 1 << QSize(3, 3);
        QTest::newRow("default picture size") << 250 << 86 << QSize(252, 88);
        QTest::newRow("wide") << 5000 << 3 << QSize(5002, 5);
    }
    void sizesToPicture() {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(QSize, outer);
        PictureBox box;
        box.setPicture(MakePicture(64, 64));
        box.setPicture(w > 0 ? MakePicture(w, h) : nullptr);
        QCOMPARE(box.size(), outer);
        QCOMPARE(box.widthTwips(), float(outer.width() * 15));
        QCOMPARE(box.heightTwips(), float(outer.height() * 15));
        // A move changes only the place.
        box.moveTwips(150, 300, 15000, 15000);
        QCOMPARE(box.size(), outer);
        QCOMPARE(box.pos(), QPoint(10, 20));
    }

    // Whole twips round to the nearest pixel; 15 is odd, so 7 stays and 8 goes to the next.
    void point_data() {
        QTest::addColumn<float>("x");
        QTest::addColumn<float>("y");
        QTest::addColumn<int>("expected");
        QTest::newRow("origin") << 0.f << 0.f << SyntheticValue(0, 0);
        QTest::newRow("7 twips rounds down") << 7.f << 7.f << SyntheticValue(0, 0);
        QTest::newRow("8 twips rounds up") << 8.f << 8.f << SyntheticValue(1, 1);
        QTest::newRow("pixel centre") << 45.f << 30.f << SyntheticValue(3, 2);
        QTest::newRow("-7 is still pixel 0") << -7.f << 0.f << SyntheticValue(0, 0);
        QTest::newRow("-8 is outside") << -8.f << 0.f << -1;
        QTest::newRow("last column") << 9 * 15.f + 7 << 0.f << SyntheticValue(9, 0);
        QTest::newRow("past the last column") << 9 * 15.f + 8 << 0.f << -1;
        QTest::newRow("past the last row") << 0.f << 6 * 15.f << -1;
        QTest::newRow("far away") << 3.0e9f << -3.0e9f << -1;
        QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << 0.f << -1;
        QTest::newRow("infinite") << std::numeric_limits<float>::infinity() << 0.f << -1;
    }
    void point() {
        QFETCH(float, x);
        QFETCH(float, y);
        QFETCH(int, expected);
        PictureBox box;
        box.setPicture(MakePicture(10, 6));
        QCOMPARE(box.Point(x, y), expected);
    }

    void pointWithoutPicture() {
        PictureBox box;
        QCOMPARE(box.Point(0, 0), -1);
        QVERIFY(box.shownRow(0).empty());
    }

    // Corners in any order give the same one-pixel outline, inclusive of both corners, and
    // only the outline: the inside and the outside keep the picture.
    void box_data() {
        QTest::addColumn<QPointF>("a");
        QTest::addColumn<QPointF>("b");
        QTest::addColumn<QRect>("outline");  // pixels, clipped to the 20 x 12 picture
        const QRect r(QPoint(2, 3), QPoint(8, 7));
        QTest::newRow("down right") << QPointF(30, 45) << QPointF(120, 105) << r;
        QTest::newRow("up left") << QPointF(120, 105) << QPointF(30, 45) << r;
        QTest::newRow("down left") << QPointF(120, 45) << QPointF(30, 105) << r;
        QTest::newRow("rounded corners") << QPointF(37, 38) << QPointF(127, 112) << r;
        QTest::newRow("one pixel high")
            << QPointF(30, 45) << QPointF(120, 60) << QRect(QPoint(2, 3), QPoint(8, 4));
        QTest::newRow("clipped right and bottom")
            << QPointF(150, 150) << QPointF(600, 600) << QRect(QPoint(10, 10), QPoint(40, 40));
        QTest::newRow("clipped left and top")
            << QPointF(-300, -300) << QPointF(60, 60) << QRect(QPoint(-20, -20), QPoint(4, 4));
        QTest::newRow("single pixel")
            << QPointF(45, 45) << QPointF(45, 45) << QRect(QPoint(3, 3), QPoint(3, 3));
    }
    void box() {
        QFETCH(QPointF, a);
        QFETCH(QPointF, b);
        QFETCH(QRect, outline);
        PictureBox box;
        const PictureRef picture = MakePicture(20, 12);
        box.setPicture(picture);
        box.Box(float(a.x()), float(a.y()), float(b.x()), float(b.y()), kRed);
        for (int y = 0; y < 12; ++y) {
            for (int x = 0; x < 20; ++x) {
                const bool onEdge =
                    outline.contains(x, y) && (x == outline.left() || x == outline.right() ||
                                               y == outline.top() || y == outline.bottom());
                const std::int32_t shown = box.Point(float(x * 15), float(y * 15));
                QVERIFY2(shown == (onEdge ? kRed : SyntheticValue(x, y)),
                         qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
            }
        }
        // The picture object itself is never drawn on, and Cls brings it back whole.
        QCOMPARE(picture->image(), MakeImage(20, 12));
        box.Cls();
        QCOMPARE(box.shownImage(), MakeImage(20, 12));
    }

    // Many boxes without Cls, then one Cls, restore the picture whichever way it is done.
    void clsAfterManyBoxes() {
        PictureBox box;
        const PictureRef picture = MakePicture(30, 30);
        box.setPicture(picture);
        for (int i = 0; i < 40; ++i) box.Box(float(i * 10), 0, float(i * 11), float(i * 7), kRed);
        QVERIFY(box.shownImage() != picture->image());
        box.Cls();
        QCOMPARE(box.shownImage(), picture->image());
        box.Box(0, 0, 150, 150, kRed);
        box.setPicture(picture);  // a new picture also drops the drawing
        QCOMPARE(box.shownImage(), picture->image());
    }

    // The row read-back and Point agree everywhere, drawing included.
    void shownRowMatchesPoint() {
        PictureBox box;
        box.setPicture(MakePicture(17, 5));
        box.Box(30, 15, 180, 45, kRed);
        for (int y = 0; y < 5; ++y) {
            const auto row = box.shownRow(y);
            QCOMPARE(int(row.size()), 17);
            for (int x = 0; x < 17; ++x) QCOMPARE(row[x], box.Point(float(x * 15), float(y * 15)));
        }
        QVERIFY(box.shownRow(-1).empty());
        QVERIFY(box.shownRow(5).empty());
    }

    // Transparent parts show the box's back colour, not whatever colour hides under them.
    void transparentPicture() {
        PictureBox box;
        QImage argb(2, 1, QImage::Format_ARGB32);
        argb.setPixel(0, 0, qRgba(0, 0, 0, 0));
        argb.setPixel(1, 0, qRgba(10, 20, 30, 255));
        box.setPicture(std::make_shared<const Picture>(argb));
        const QColor back = box.palette().color(QPalette::Base);
        QCOMPARE(box.Point(0, 0), back.red() + 256 * back.green() + 65536 * back.blue());
        QCOMPARE(box.Point(15, 0), 10 + 256 * 20 + 65536 * 30);
    }

    // Mouse positions arrive in twips from the picture's top-left pixel, for any button, and
    // keep coming from outside the box while the button is held.
    void mouse_data() {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::newRow("left") << Qt::LeftButton;
        QTest::newRow("right") << Qt::RightButton;
        QTest::newRow("middle") << Qt::MiddleButton;
    }
    void mouse() {
        QFETCH(Qt::MouseButton, button);
        QWidget window;
        window.resize(200, 200);
        PictureBox box(&window);
        box.setPicture(MakePicture(40, 30));
        box.move(50, 50);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QSignalSpy pressed(&box, &PictureBox::mousePressed);
        QSignalSpy moved(&box, &PictureBox::mouseMoved);
        QSignalSpy released(&box, &PictureBox::mouseReleased);
        // Widget pixel (1, 1) is the picture's pixel (0, 0).
        QTest::mousePress(&box, button, {}, QPoint(11, 21));
        QTest::mouseMove(&box, QPoint(-30, 100));  // outside, left of and below the box
        QTest::mouseRelease(&box, button, {}, QPoint(-30, 100));

        QCOMPARE(pressed.count(), 1);
        QCOMPARE(pressed[0][0].value<Qt::MouseButton>(), button);
        QCOMPARE(pressed[0][1].toFloat(), 150.f);
        QCOMPARE(pressed[0][2].toFloat(), 300.f);
        QVERIFY(!moved.isEmpty());
        QCOMPARE(moved.last()[0].value<Qt::MouseButtons>(), Qt::MouseButtons(button));
        QCOMPARE(moved.last()[1].toFloat(), -31.f * 15);
        QCOMPARE(moved.last()[2].toFloat(), 99.f * 15);
        QCOMPARE(released.count(), 1);
        QCOMPARE(released[0][1].toFloat(), -31.f * 15);
    }
};

QTEST_MAIN(PictureBoxTest)
#include "picture_box_test.moc"
