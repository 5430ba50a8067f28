// Uo_Scan: properties, persistence, the drag and Scan, driven offscreen.

#include <QtTest>
#include <memory>

#include "scan39/container_site.h"
#include "scan39/create_control.h"
#include "scan39/host/errors.h"
#include "scan39/host/picture_box.h"
#include "scan39/host/property_store.h"
#include "scan39/samples.h"
#include "scan39/scan.h"
#include "scan39/uo_scan.h"

using scan39::ContainerSite;
using scan39::Uo_Scan;
using scan39::host::Picture;
using scan39::host::PictureRef;
using scan39::host::PropertyStore;
using scan39::host::RuntimeError;
using scan39::host::Variant;

Q_DECLARE_METATYPE(scan39::host::Variant)

namespace {

PictureRef BlankPicture(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::white);
    return std::make_shared<const Picture>(image);
}

void Drag(Uo_Scan& c, float x1, float y1, float x2, float y2) {
    c.Image1_MouseDown(x1, y1);
    c.Image1_MouseMove(x2, y2);
    c.Image1_MouseUp();
}

// The error number a call throws, or 0.
template <class F>
int ErrorOf(F&& f) {
    try {
        f();
    } catch (const RuntimeError& e) {
        return e.number();
    }
    return 0;
}

// A site whose extender has no size properties.
class NoExtenderSite : public scan39::host::ControlSite {
  public:
    void PropertyChanged(const QString& name) override { changes.append(name); }
    bool UserMode() const override { return true; }
    void SetExtenderProperty(const QString&, const Variant&) override {
        throw RuntimeError(scan39::host::kErrObjectDoesNotSupport);
    }
    QStringList changes;
};

const QStringList kKeys = {"Picture", "xa", "xb", "ya", "yb", "Value"};

}  // namespace

class UoScanTest : public QObject {
    Q_OBJECT

  private slots:
    void newInstanceShowsDesignedLayout() {
        ContainerSite site;
        Uo_Scan c(&site);
        c.InitProperties();
        QCOMPARE(c.size(), QSize(4035 / 15, 1560 / 15));
        auto* image1 = c.Image1();
        QCOMPARE(image1->objectName(), QStringLiteral("Image1"));
        QCOMPARE(image1->pos(), QPoint(0, 0));
        QCOMPARE(image1->widthTwips(), 3780.f);
        QCOMPARE(image1->heightTwips(), 1320.f);
        QVERIFY(c.Picture() != nullptr);
        QCOMPARE(c.Picture()->image().size(), QSize(250, 86));
        QCOMPARE(c.xa(), 0);
        QCOMPARE(c.xb(), 0);
        QCOMPARE(c.ya(), 0);
        QCOMPARE(c.yb().type(), Variant::Type::Int16);
        QCOMPARE(c.yb().int16(), std::int16_t{0});
        QCOMPARE(c.Value(), QString());
        QVERIFY(!c.dragging());
        QVERIFY(site.changes().isEmpty());
    }

    // Black bars on white from column 8 to 239 and row 6 to 70, digits in rows 72 to 80.
    void defaultPictureGeometry() {
        const auto bytes = scan39::samples::ControlDefaultPicture();
        QCOMPARE(bytes.size(), std::size_t{64726});
        QCOMPARE(int(bytes[28]), 24);  // bits per pixel
        Uo_Scan c;
        const QImage image = c.Picture()->image();
        QRect bars, digits;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y) & 0xFFFFFF;
                QVERIFY2(p == 0 || p == 0xFFFFFF, "only black and white");
                if (p != 0) continue;
                QRect& r = y <= 70 ? bars : digits;
                r = r.isNull() ? QRect(x, y, 1, 1) : r.united(QRect(x, y, 1, 1));
            }
        }
        QCOMPARE(bars, QRect(QPoint(8, 6), QPoint(239, 70)));
        QVERIFY(digits.top() >= 72 && digits.bottom() <= 80);
    }

    void dragState_data() {
        QTest::addColumn<QPointF>("press");
        QTest::addColumn<QPointF>("move");
        QTest::addColumn<int>("xa");
        QTest::addColumn<int>("ya");
        QTest::addColumn<int>("xb");
        QTest::addColumn<float>("yb");
        QTest::newRow("down right")
            << QPointF(1500, 900) << QPointF(3000, 1200) << 1500 << 900 << 2990 << 1200.f;
        QTest::newRow("up left") << QPointF(3000, 1200) << QPointF(1500, 900) << 3000 << 1200
                                 << 1490 << 900.f;
        QTest::newRow("outside the picture")
            << QPointF(-150, -30) << QPointF(9000, 4500) << -150 << -30 << 8990 << 4500.f;
        QTest::newRow("halves round to even")
            << QPointF(1500.5, 901.5) << QPointF(2010.5, 7.25) << 1500 << 902 << 2000 << 7.25f;
    }
    void dragState() {
        QFETCH(QPointF, press);
        QFETCH(QPointF, move);
        QFETCH(int, xa);
        QFETCH(int, ya);
        QFETCH(int, xb);
        QFETCH(float, yb);
        ContainerSite site;
        Uo_Scan c(&site);
        c.InitProperties();
        c.Image1_MouseDown(float(press.x()), float(press.y()));
        QVERIFY(c.dragging());
        QCOMPARE(c.xa(), 0);  // a press alone sets no corner
        c.Image1_MouseMove(float(move.x()), float(move.y()));
        c.Image1_MouseUp();
        QVERIFY(!c.dragging());
        QCOMPARE(c.xa(), xa);
        QCOMPARE(c.ya(), ya);
        QCOMPARE(c.xb(), xb);
        QCOMPARE(c.yb().type(), Variant::Type::Float);
        QCOMPARE(c.yb().single(), yb);
        QVERIFY(site.changes().isEmpty());  // the drag writes fields, not properties
    }

    // A real drag with the mouse: any button, the red box at the stated corners, capture
    // keeps the drag going outside Image1.
    void mouseDrag_data() {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::newRow("left") << Qt::LeftButton;
        QTest::newRow("right") << Qt::RightButton;
        QTest::newRow("middle") << Qt::MiddleButton;
    }
    void mouseDrag() {
        QFETCH(Qt::MouseButton, button);
        QWidget window;
        window.resize(400, 200);
        ContainerSite site;
        Uo_Scan c(&site, &window);
        c.InitProperties();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* image1 = c.Image1();
        // Widget pixel (101, 61) is picture pixel (100, 60): 1500, 900 twips.
        QTest::mousePress(image1, button, {}, QPoint(101, 61));
        QTest::mouseMove(image1, QPoint(201, 81));
        QTest::mouseRelease(image1, button, {}, QPoint(201, 81));
        QCOMPARE(c.xa(), 1500);
        QCOMPARE(c.ya(), 900);
        QCOMPARE(c.xb(), 2990);
        QCOMPARE(c.yb().type(), Variant::Type::Float);
        QCOMPARE(c.yb().single(), 1200.f);
        // The outline from pixel (100, 60) to (199, 80), red, and nothing red inside.
        QCOMPARE(image1->Point(1500, 900), 255);
        QCOMPARE(image1->Point(2990, 900), 255);
        QCOMPARE(image1->Point(1500, 1200), 255);
        QCOMPARE(image1->Point(2990, 1200), 255);
        QCOMPARE(image1->Point(3005, 1200), 0xFFFFFF);
        QVERIFY(image1->Point(2250, 1050) != 255);

        // Past the picture's right edge: the capture still reports the pointer.
        QTest::mousePress(image1, button, {}, QPoint(101, 61));
        QTest::mouseMove(image1, QPoint(image1->width() + 40, 81));
        QTest::mouseRelease(image1, button, {}, QPoint(image1->width() + 40, 81));
        QCOMPARE(c.xb(), (image1->width() + 40 - 1) * 15 - 10);
        QVERIFY(c.xb() > 250 * 15);
    }

    void pressAndReleaseClearsBoxKeepsCorners() {
        Uo_Scan c;
        c.InitProperties();
        Drag(c, 4 * 15, 20 * 15, 246 * 15, 40 * 15);
        c.Image1_MouseDown(1500, 900);
        c.Image1_MouseUp();
        QCOMPARE(c.Image1()->shownImage(),
                 c.Picture()->image().convertToFormat(QImage::Format_RGB32));
        QCOMPARE(c.xa(), 60);
        QCOMPARE(c.ya(), 300);
        QCOMPARE(c.xb(), 246 * 15 - 10);
        QCOMPARE(c.yb().single(), 600.f);
        // Scan uses the old corners, now without the red edge that closed the quiet zone.
        QCOMPARE(c.Scan(), std::int16_t{1});
    }

    void movesWithoutButtonChangeNothing() {
        QWidget window;
        window.resize(400, 200);
        Uo_Scan c(nullptr, &window);
        c.InitProperties();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QImage before = c.Image1()->shownImage();
        QTest::mouseMove(c.Image1(), QPoint(30, 30));
        QTest::mouseMove(c.Image1(), QPoint(120, 70));
        c.Image1_MouseMove(3000, 1200);
        QCOMPARE(c.xa(), 0);
        QCOMPARE(c.xb(), 0);
        QCOMPARE(c.yb().type(), Variant::Type::Int16);
        QCOMPARE(c.Image1()->shownImage(), before);
    }

    // Across the default picture's symbol; then a failed scan keeps the last text, except that a
    // right-to-left line empties it.
    void scanAcrossDefaultPicture() {
        Uo_Scan c;
        c.InitProperties();
        Drag(c, 4 * 15, 20 * 15, 246 * 15, 40 * 15);
        QCOMPARE(c.Scan(), std::int16_t{0});
        QCOMPARE(c.Value(), QStringLiteral("1234567"));
        Drag(c, 4 * 15, 40 * 15, 246 * 15, 20 * 15);  // upward: no red edge closes the line
        QCOMPARE(c.Scan(), std::int16_t{1});
        QCOMPARE(c.Value(), QStringLiteral("1234567"));
        Drag(c, 246 * 15, 20 * 15, 4 * 15, 40 * 15);
        QVERIFY(c.xb() < c.xa());
        QCOMPARE(c.Scan(), std::int16_t{1});
        QCOMPARE(c.Value(), QString());
    }

    // Scan through the fast row path reads exactly what the per-twip walk through Point reads.
    void rowPathEqualsPointWalk_data() {
        QTest::addColumn<QPointF>("press");
        QTest::addColumn<QPointF>("move");
        QTest::newRow("across the symbol") << QPointF(60, 300) << QPointF(3690, 600);
        QTest::newRow("upward") << QPointF(60, 600) << QPointF(3690, 300);
        QTest::newRow("one pixel high") << QPointF(60, 300) << QPointF(3690, 315);
        QTest::newRow("starting inside a bar") << QPointF(135, 300) << QPointF(3690, 600);
        QTest::newRow("past the right edge") << QPointF(60, 300) << QPointF(4500, 600);
        QTest::newRow("from left of the picture") << QPointF(-150, 300) << QPointF(3690, 600);
        QTest::newRow("below the picture") << QPointF(60, 1500) << QPointF(3690, 1800);
        QTest::newRow("through the digits") << QPointF(60, 1110) << QPointF(3690, 1200);
        QTest::newRow("ends inside the symbol") << QPointF(60, 300) << QPointF(1800, 600);
        QTest::newRow("shorter than the offset") << QPointF(60, 300) << QPointF(75, 600);
        QTest::newRow("right to left") << QPointF(3690, 300) << QPointF(60, 600);
        QTest::newRow("odd twips") << QPointF(67, 307) << QPointF(3683, 611);
    }
    void rowPathEqualsPointWalk() {
        QFETCH(QPointF, press);
        QFETCH(QPointF, move);
        Uo_Scan c;
        c.InitProperties();
        Drag(c, 60, 300, 3690, 600);
        QCOMPARE(c.Scan(), std::int16_t{0});
        Drag(c, float(press.x()), float(press.y()), float(move.x()), float(move.y()));
        const scan39::ScanLine line{c.xa(), c.xb(), c.ya()};
        auto* image1 = c.Image1();
        const scan39::PixelReader read = [image1](std::int32_t x, std::int32_t y) {
            return std::optional<std::int32_t>(image1->Point(float(x), float(y)));
        };
        scan39::PatternTable table{};
        scan39::BuildPatternTable(table);

        // Scan keeps or empties the previous text depending on how it fails: start from one.
        std::string expected = "1234567";
        const std::int16_t expectedResult = scan39::Scan(line, read, table, expected);
        QCOMPARE(c.Scan(), expectedResult);
        QCOMPARE(c.Value(), QString::fromStdString(expected));
        if (line.xb > line.xa) {
            scan39::PixelRowSource source;
            source.width = image1->shownWidth();
            source.height = image1->shownHeight();
            source.row = [image1](std::int32_t y) { return image1->shownRow(y); };
            QVERIFY(scan39::SampleRow(line, source) == scan39::SampleLine(line, read));
        }
    }

    // Setters store, then notify; nothing else notifies.
    void notifications_data() {
        QTest::addColumn<int>("action");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("xa setter") << 0 << QStringList{"xa"};
        QTest::newRow("xb setter") << 1 << QStringList{"xb"};
        QTest::newRow("ya setter") << 2 << QStringList{"ya"};
        QTest::newRow("yb setter") << 3 << QStringList{"yb"};
        QTest::newRow("Picture setter") << 4 << QStringList{"Picture"};
        QTest::newRow("drag") << 5 << QStringList{};
        QTest::newRow("Scan") << 6 << QStringList{};
        QTest::newRow("InitProperties") << 7 << QStringList{};
        QTest::newRow("ReadProperties (through the Picture setter)") << 8 << QStringList{"Picture"};
        QTest::newRow("WriteProperties") << 9 << QStringList{};
        QTest::newRow("Value setter") << 10 << QStringList{};
        QTest::newRow("Resize") << 11 << QStringList{};
    }
    void notifications() {
        QFETCH(int, action);
        QFETCH(QStringList, expected);
        ContainerSite site;
        Uo_Scan c(&site);
        c.InitProperties();
        Drag(c, 60, 300, 3690, 600);
        PropertyStore store;
        switch (action) {
            case 0:
                c.setXa(-7);
                QCOMPARE(c.xa(), -7);
                break;
            case 1:
                c.setXb(123456789);
                QCOMPARE(c.xb(), 123456789);
                break;
            case 2:
                c.setYa(INT32_MIN);
                QCOMPARE(c.ya(), INT32_MIN);
                break;
            case 3:
                c.setYb(Variant::fromText("x"));
                QCOMPARE(c.yb().type(), Variant::Type::Text);
                break;
            case 4:
                c.setPicture(BlankPicture(3, 3));
                break;
            case 5:
                Drag(c, 0, 0, 300, 300);
                break;
            case 6:
                c.Scan();
                break;
            case 7:
                c.InitProperties();
                break;
            case 8:
                c.ReadProperties(store);
                break;
            case 9:
                c.WriteProperties(store);
                break;
            case 10:
                ErrorOf([&] { c.setValue("x"); });
                break;
            case 11:
                c.Resize();
                break;
        }
        QCOMPARE(site.changes(), expected);
    }

    void valueSetterAlwaysFails_data() {
        QTest::addColumn<bool>("userMode");
        QTest::addColumn<int>("error");
        QTest::newRow("run time") << true << 382;
        QTest::newRow("designer") << false << 387;
    }
    void valueSetterAlwaysFails() {
        QFETCH(bool, userMode);
        QFETCH(int, error);
        ContainerSite site(userMode);
        Uo_Scan c(&site);
        c.InitProperties();
        Drag(c, 60, 300, 3690, 600);
        c.Scan();
        QCOMPARE(ErrorOf([&] { c.setValue(QStringLiteral("other")); }), error);
        QCOMPARE(ErrorOf([&] { c.setValue(QString()); }), error);
        QCOMPARE(c.Value(), QStringLiteral("1234567"));
        QVERIFY(site.changes().isEmpty());
    }

    void standaloneSiteIsRunTime() {
        Uo_Scan c;
        QCOMPARE(ErrorOf([&] { c.setValue("x"); }), 382);
        c.setPicture(BlankPicture(10, 4));  // the built-in extender sizes the control itself
        QCOMPARE(c.size(), QSize(12, 6));
    }

    void newPictureResizesAndKeepsCoordinates_data() {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("outer");
        QTest::newRow("smaller") << QSize(100, 50) << QSize(102, 52);
        QTest::newRow("window sample size") << QSize(564, 393) << QSize(566, 395);
        QTest::newRow("taller than wide") << QSize(20, 700) << QSize(22, 702);
        QTest::newRow("no picture") << QSize() << QSize(2, 2);
    }
    void newPictureResizesAndKeepsCoordinates() {
        QFETCH(QSize, picture);
        QFETCH(QSize, outer);
        ContainerSite site;
        Uo_Scan c(&site);
        c.InitProperties();
        Drag(c, 60, 300, 3690, 600);
        QCOMPARE(c.Scan(), std::int16_t{0});
        site.clearChanges();
        c.setPicture(picture.isValid() ? BlankPicture(picture.width(), picture.height()) : nullptr);
        QCOMPARE(c.size(), outer);
        QCOMPARE(c.Image1()->geometry(), QRect(QPoint(0, 0), outer));
        QCOMPARE(c.xa(), 60);
        QCOMPARE(c.ya(), 300);
        QCOMPARE(c.xb(), 3680);
        QCOMPARE(c.yb().single(), 600.f);
        QCOMPARE(c.Value(), QStringLiteral("1234567"));
        QCOMPARE(site.changes(), QStringList{"Picture"});
        if (picture == QSize(564, 393)) {
            QCOMPARE(c.width() * 15, 8490);
            QCOMPARE(c.height() * 15, 5925);
        }
    }

    void pictureSetterFailsAfterImage1TookThePicture() {
        NoExtenderSite site;
        Uo_Scan c(&site);
        const PictureRef p = BlankPicture(7, 7);
        QCOMPARE(ErrorOf([&] { c.setPicture(p); }), 438);
        QCOMPARE(c.Picture(), p);
        QVERIFY(site.changes.isEmpty());
    }

    // The extender resizes a hidden control and its Resize runs at once.
    void extenderResizesSynchronously() {
        ContainerSite site;
        Uo_Scan c(&site);
        QVERIFY(!c.isVisible());
        c.Image1()->move(30, 40);
        site.SetExtenderProperty("Width", Variant::fromFloat(1500.f));
        QCOMPARE(c.width(), 100);
        QCOMPARE(c.Image1()->pos(), QPoint(0, 0));
        c.Image1()->move(30, 40);
        site.SetExtenderProperty("Height", Variant::fromInt16(300));
        QCOMPARE(c.height(), 20);
        QCOMPARE(c.Image1()->pos(), QPoint(0, 0));
    }

    void extenderRejects_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Variant>("value");
        QTest::addColumn<int>("error");
        QTest::newRow("unknown name") << "Left" << Variant::fromInt32(15) << 438;
        QTest::newRow("not numeric") << "Width" << Variant::fromText("wide") << 13;
        QTest::newRow("negative") << "Height" << Variant::fromInt32(-15) << 380;
        QTest::newRow("too large") << "Width" << Variant::fromDouble(2.0e9) << 380;
    }
    void extenderRejects() {
        QFETCH(QString, name);
        QFETCH(Variant, value);
        QFETCH(int, error);
        ContainerSite site;
        Uo_Scan c(&site);
        const QSize before = c.size();
        QCOMPARE(ErrorOf([&] { site.SetExtenderProperty(name, value); }), error);
        QCOMPARE(c.size(), before);
    }

    // Saved and loaded through the byte form, an instance comes back the same, yb with its
    // type; a new instance saves only its picture.
    void persistenceRoundTrip_data() {
        QTest::addColumn<bool>("dragged");
        QTest::addColumn<Variant>("yb");
        QTest::addColumn<int>("keys");
        QTest::newRow("new instance") << false << Variant::fromInt16(0) << 1;
        QTest::newRow("after a drag: 32-bit float") << true << Variant::fromFloat(600.f) << 6;
        QTest::newRow("16-bit") << true << Variant::fromInt16(-7) << 6;
        QTest::newRow("32-bit") << true << Variant::fromInt32(70000) << 6;
        QTest::newRow("64-bit float") << true << Variant::fromDouble(2.5) << 6;
        QTest::newRow("text") << true << Variant::fromText(QStringLiteral("下")) << 6;
        QTest::newRow("empty") << true << Variant() << 6;
    }
    void persistenceRoundTrip() {
        QFETCH(bool, dragged);
        QFETCH(Variant, yb);
        QFETCH(int, keys);
        Uo_Scan a;
        a.InitProperties();
        if (dragged) {
            Drag(a, 60, 300, 3690, 600);
            QCOMPARE(a.Scan(), std::int16_t{0});
            if (yb.type() != Variant::Type::Float) a.setYb(yb);
        }
        PropertyStore saved;
        a.WriteProperties(saved);
        QCOMPARE(saved.size(), std::size_t(keys));
        QVERIFY(saved.contains("Picture"));

        ContainerSite site;
        Uo_Scan b(&site);
        b.ReadProperties(PropertyStore::fromBytes(saved.toBytes()));
        QCOMPARE(b.xa(), a.xa());
        QCOMPARE(b.xb(), a.xb());
        QCOMPARE(b.ya(), a.ya());
        QVERIFY(b.yb() == yb);
        QCOMPARE(b.Value(), a.Value());
        QCOMPARE(b.Picture()->image(), a.Picture()->image());
        QCOMPARE(b.size(), QSize(252, 88));
        QCOMPARE(site.changes(), QStringList{"Picture"});
    }

    void emptyStoreGivesNoPicture() {
        ContainerSite site;
        Uo_Scan c(&site);
        c.ReadProperties(PropertyStore());
        QCOMPARE(c.Picture(), nullptr);
        QCOMPARE(c.size(), QSize(2, 2));
        QCOMPARE(c.xa(), 0);
        QCOMPARE(c.yb().type(), Variant::Type::Int16);
        QCOMPARE(c.Value(), QString());
        QCOMPARE(c.Scan(), std::int16_t{1});
    }

    void readConversions_data() {
        QTest::addColumn<Variant>("stored");
        QTest::addColumn<int>("expected");
        QTest::newRow("2.5 to even 2") << Variant::fromDouble(2.5) << 2;
        QTest::newRow("3.5 to even 4") << Variant::fromDouble(3.5) << 4;
        QTest::newRow("-2.5 to even -2") << Variant::fromFloat(-2.5f) << -2;
        QTest::newRow("numeric text") << Variant::fromText("3.5") << 4;
        QTest::newRow("16-bit") << Variant::fromInt16(-15) << -15;
        QTest::newRow("largest") << Variant::fromInt32(INT32_MAX) << INT32_MAX;
    }
    void readConversions() {
        QFETCH(Variant, stored);
        QFETCH(int, expected);
        for (const char* key : {"xa", "xb", "ya"}) {
            PropertyStore store;
            store.write(key, stored, Variant());
            Uo_Scan c;
            c.ReadProperties(store);
            const int got = QLatin1String(key) == QLatin1String("xa")   ? c.xa()
                            : QLatin1String(key) == QLatin1String("xb") ? c.xb()
                                                                        : c.ya();
            QCOMPARE(got, expected);
        }
    }

    // A value that does not convert stops the load at its key; earlier keys are applied,
    // later ones keep their values.
    void readStopsAtBadKey_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<Variant>("bad");
        QTest::addColumn<int>("error");
        QTest::newRow("Picture holds text") << "Picture" << Variant::fromText("x") << 13;
        QTest::newRow("xa not numeric") << "xa" << Variant::fromText("abc") << 13;
        QTest::newRow("xb overflows") << "xb" << Variant::fromDouble(3.0e9) << 6;
        QTest::newRow("ya numeric text overflows") << "ya" << Variant::fromText("1e12") << 6;
        QTest::newRow("ya is a picture") << "ya" << Variant::fromPicture(BlankPicture(1, 1)) << 13;
        QTest::newRow("Value is a picture")
            << "Value" << Variant::fromPicture(BlankPicture(1, 1)) << 13;
    }
    void readStopsAtBadKey() {
        QFETCH(QString, key);
        QFETCH(Variant, bad);
        QFETCH(int, error);
        ContainerSite site;
        Uo_Scan c(&site);
        const PictureRef oldPicture = c.Picture();
        PropertyStore old;
        old.write("Picture", Variant::fromPicture(oldPicture), Variant());
        for (const char* k : {"xa", "xb", "ya"}) old.write(k, Variant::fromInt32(111), Variant());
        old.write("yb", Variant::fromInt16(111), Variant());
        old.write("Value", Variant::fromText("old"), Variant());
        c.ReadProperties(old);

        const PictureRef newPicture = BlankPicture(40, 20);
        PropertyStore store;
        store.write("Picture", Variant::fromPicture(newPicture), Variant());
        store.write("xa", Variant::fromInt32(5), Variant());
        store.write("xb", Variant::fromInt32(6), Variant());
        store.write("ya", Variant::fromInt32(7), Variant());
        store.write("yb", Variant::fromFloat(8.5f), Variant());
        store.write("Value", Variant::fromText("new"), Variant());
        store.write(key, bad, Variant());
        site.clearChanges();
        QCOMPARE(ErrorOf([&] { c.ReadProperties(store); }), error);

        const auto applied = [&](const char* k) {
            return kKeys.indexOf(QLatin1String(k)) < kKeys.indexOf(key);
        };
        QCOMPARE(c.Picture(), applied("Picture") ? newPicture : oldPicture);
        QCOMPARE(site.changes(), applied("Picture") ? QStringList{"Picture"} : QStringList{});
        QCOMPARE(c.xa(), applied("xa") ? 5 : 111);
        QCOMPARE(c.xb(), applied("xb") ? 6 : 111);
        QCOMPARE(c.ya(), applied("ya") ? 7 : 111);
        QVERIFY(c.yb() == (applied("yb") ? Variant::fromFloat(8.5f) : Variant::fromInt16(111)));
        QCOMPARE(c.Value(), QStringLiteral("old"));
    }

    void createControl_data() {
        QTest::addColumn<QString>("classId");
        QTest::addColumn<bool>("created");
        QTest::newRow("the scanning control") << "Florimant.Uo_Scan" << true;
        QTest::newRow("case does not matter") << "florimant.uo_scan" << true;
        QTest::newRow("unknown") << "Florimant.Other" << false;
        QTest::newRow("empty") << "" << false;
    }
    void createControl() {
        QFETCH(QString, classId);
        QFETCH(bool, created);
        QWidget parent;
        ContainerSite site;
        std::unique_ptr<QWidget> w(scan39::CreateControl(classId, &parent, &site));
        QCOMPARE(w != nullptr, created);
        if (!created) return;
        auto* c = qobject_cast<Uo_Scan*>(w.get());
        QVERIFY(c != nullptr);
        QCOMPARE(c->parentWidget(), &parent);
        QCOMPARE(site.control(), c);
        QCOMPARE(c->site(), &site);
        c->setPicture(BlankPicture(564, 393));
        QCOMPARE(c->size(), QSize(566, 395));
    }
};

QTEST_MAIN(UoScanTest)
#include "uo_scan_test.moc"
