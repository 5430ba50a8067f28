#include "scan39/host/picture.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>
#include <cstdlib>
#include <functional>
#include <random>
#include <tuple>

#include "image_fixtures.h"
#include "scan39/host/errors.h"
#include "scan39/host/reader_view.h"

namespace scan39::host {
namespace {

using namespace test;

const std::vector<QRgb> kFour = {qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(255, 0, 0),
                                 qRgb(0, 0, 255)};
int FourIndex(int x, int y) {
    return (x / 3 + y / 5) % 4;
}

std::vector<QRgb> Palette256() {
    std::vector<QRgb> p = kFour;
    for (int i = 4; i < 256; ++i) p.push_back(qRgb(i, 255 - i, i / 2));
    return p;
}

// Black and white 8-pixel squares: survives JPEG without colour bleeding.
QRgb Squares(int x, int y) {
    return ((x / 8 + y / 8) % 2) ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
}
QImage SquaresImage(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) image.setPixel(x, y, Squares(x, y));
    return image;
}

// A progressive JPEG of `image` whose last scan is repeated `extraScans` more times.
QByteArray ProgressiveJpeg(const QImage& image, int extraScans) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    writer.setQuality(95);
    writer.write(image);
    const qsizetype last = bytes.lastIndexOf("\xFF\xDA");
    const QByteArray scan = bytes.mid(last, bytes.size() - 2 - last);  // up to the end marker
    for (int i = 0; i < extraScans; ++i) bytes.insert(last, scan);
    return bytes;
}

// `count` copies of one segment right after the start marker.
QByteArray WithSegments(QByteArray jpeg, const QByteArray& segment, int count) {
    jpeg.insert(2, segment.repeated(count));
    return jpeg;
}
const QByteArray kEmptyComment("\xFF\xFE\x00\x02", 4);
const QByteArray kSmallApp1(
    "\xFF\xE1\x00\x0C"
    "0123456789",
    14);

class TempFiles {
  public:
    QString write(const QString& name, const QByteArray& bytes) {
        const QString path = dir_.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    QString path(const QString& name) const { return dir_.filePath(name); }

  private:
    QTemporaryDir dir_;
};

// ---- pictures that load ------------------------------------------------------------------

struct GoodCase {
    const char* name;
    const char* file;
    std::function<QByteArray()> bytes;
    int width;
    int height;
    std::function<QRgb(int, int)> expected;
    int tolerance;  // per colour component
};
void PrintTo(const GoodCase& c, std::ostream* os) {
    *os << c.name;
}

class LoadGoodTest : public ::testing::TestWithParam<GoodCase> {};

TEST_P(LoadGoodTest, GivesEveryPixelInOneFormat) {
    const GoodCase& c = GetParam();
    TempFiles files;
    const PictureRef picture = LoadPicture(files.write(c.file, c.bytes()));
    ASSERT_NE(picture, nullptr);
    const QImage& image = picture->image();
    ASSERT_EQ(image.size(), QSize(c.width, c.height));
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    int bad = 0;
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            const QRgb got = image.pixel(x, y);
            const QRgb want = c.expected(x, y);
            if (std::abs(qRed(got) - qRed(want)) > c.tolerance ||
                std::abs(qGreen(got) - qGreen(want)) > c.tolerance ||
                std::abs(qBlue(got) - qBlue(want)) > c.tolerance) {
                if (++bad <= 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << std::hex << " got " << got
                                  << " want " << want;
            }
        }
    }
    EXPECT_EQ(bad, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, LoadGoodTest,
    ::testing::Values(
        GoodCase{
            "Bmp1", "one.bmp",
            [] {
                return MakeBmp(21, 9, 1, {qRgb(255, 255, 255), qRgb(0, 0, 0)},
                               [](int x, int y) { return quint32(FourIndex(x, y) % 2); });
            },
            21, 9,
            [](int x, int y) { return FourIndex(x, y) % 2 ? qRgb(0, 0, 0) : qRgb(255, 255, 255); },
            0},
        GoodCase{"Bmp4", "four.bmp",
                 [] {
                     return MakeBmp(13, 7, 4, kFour,
                                    [](int x, int y) { return quint32(FourIndex(x, y)); });
                 },
                 13, 7, [](int x, int y) { return kFour[FourIndex(x, y)]; }, 0},
        GoodCase{"Bmp8", "eight.bmp",
                 [] {
                     return MakeBmp(13, 7, 8, Palette256(), [](int x, int y) {
                         return quint32(x == 12 ? 200 : FourIndex(x, y));
                     });
                 },
                 13, 7,
                 [](int x, int y) { return x == 12 ? Palette256()[200] : kFour[FourIndex(x, y)]; },
                 0},
        GoodCase{"Bmp16", "sixteen.bmp",
                 [] {
                     return MakeBmp(13, 7, 16, {},
                                    [](int x, int y) { return quint32(PatternColor(x, y)); });
                 },
                 13, 7, PatternColor, 8},
        GoodCase{"Bmp24", "x.bmp",
                 [] {
                     return MakeBmp(13, 7, 24, {},
                                    [](int x, int y) { return quint32(PatternColor(x, y)); });
                 },
                 13, 7, PatternColor, 0},
        GoodCase{"Bmp24TopDown", "down.bmp",
                 [] {
                     return MakeBmp(
                         13, 7, 24, {}, [](int x, int y) { return quint32(PatternColor(x, y)); },
                         true);
                 },
                 13, 7, PatternColor, 0},
        GoodCase{"Bmp32", "thirtytwo.bmp",
                 [] {
                     return MakeBmp(13, 7, 32, {},
                                    [](int x, int y) { return quint32(PatternColor(x, y)); });
                 },
                 13, 7, PatternColor, 0},
        GoodCase{"Rle8", "rle.bmp",
                 [] {
                     return MakeRle8Bmp(10, {{{4, 0}, {6, 1}}, {{10, 2}}, {{5, 3}, {5, 1}}}, kFour);
                 },
                 // rows are stored bottom-up: the first run list is the last row
                 10, 3,
                 [](int x, int y) {
                     if (y == 2) return x < 4 ? kFour[0] : kFour[1];
                     if (y == 1) return kFour[2];
                     return x < 5 ? kFour[3] : kFour[1];
                 },
                 0},
        GoodCase{"Jpeg", "photo.jpg", [] { return Encode(SquaresImage(32, 24), "JPEG", 95); }, 32,
                 24, Squares, 48},
        GoodCase{"JpegSomeComments", "comments.jpg",
                 [] {
                     return WithSegments(Encode(SquaresImage(32, 24), "JPEG", 95), kEmptyComment,
                                         300);
                 },
                 32, 24, Squares, 48},
        GoodCase{"JpegProgressive", "progressive.jpg",
                 [] { return ProgressiveJpeg(SquaresImage(32, 24), 0); }, 32, 24, Squares, 48},
        GoodCase{"Gif", "anim.gif",
                 [] { return MakeGif(300, 3, kFour, FourIndex); },  // several clear codes per row
                 300, 3, [](int x, int y) { return kFour[FourIndex(x, y)]; }, 0},
        GoodCase{"Png", "lossless.png", [] { return Encode(PatternImage(13, 7), "PNG"); }, 13, 7,
                 PatternColor, 0},
        GoodCase{"BmpNamedJpg", "really-a-bmp.jpg",
                 [] {
                     return MakeBmp(5, 5, 24, {},
                                    [](int x, int y) { return quint32(PatternColor(x, y)); });
                 },
                 5, 5, PatternColor, 0}),
    [](const ::testing::TestParamInfo<GoodCase>& p) { return p.param.name; });

TEST(LoadPictureTest, IgnoresTrailingBlanksOfThePath) {
    TempFiles files;
    const QString path = files.write("with blank.gif", MakeGif(4, 4, kFour, FourIndex));
    EXPECT_EQ(LoadPicture(path + "    ")->image().size(), QSize(4, 4));
}

TEST(LoadPictureTest, ShowsTransparentPartsOverWhite) {
    QImage argb(3, 1, QImage::Format_ARGB32);
    argb.setPixel(0, 0, qRgba(255, 0, 0, 0));
    argb.setPixel(1, 0, qRgba(0, 0, 0, 128));
    argb.setPixel(2, 0, qRgba(0, 0, 255, 255));
    const QImage png = LoadPictureFromData(Encode(argb, "PNG"), "png")->image();
    EXPECT_EQ(png.pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_NEAR(qRed(png.pixel(1, 0)), 127, 1);
    EXPECT_EQ(png.pixel(2, 0), qRgb(0, 0, 255));

    const QImage gif = LoadPictureFromData(MakeGif(
                                               2, 1, kFour, [](int x, int) { return x; }, 0),
                                           "gif")
                           ->image();
    EXPECT_EQ(gif.pixel(0, 0), qRgb(255, 255, 255));  // index 0 (black) is transparent
    EXPECT_EQ(gif.pixel(1, 0), qRgb(255, 255, 255));
}

// ---- grey for the reader -----------------------------------------------------------------

// A JPEG whose first segment is an EXIF block giving `orientation`, in either byte order.
QByteArray WithExifOrientation(const QByteArray& jpeg, int orientation, bool bigEndian) {
    const auto number = [&](quint32 v, int bytes) {
        QByteArray out;
        for (int i = 0; i < bytes; ++i) {
            const int shift = 8 * (bigEndian ? bytes - 1 - i : i);
            out += char((v >> shift) & 0xff);
        }
        return out;
    };
    // Header, then one directory of one entry: orientation, a SHORT, one value.
    const QByteArray tiff = QByteArray(bigEndian ? "MM" : "II") + number(42, 2) + number(8, 4) +
                            number(1, 2) + number(0x0112, 2) + number(3, 2) + number(1, 4) +
                            number(quint32(orientation), 2) + number(0, 2) + number(0, 4);
    const QByteArray data = QByteArray("Exif\0\0", 6) + tiff;
    const int length = int(data.size()) + 2;
    const QByteArray segment =
        QByteArray("\xFF\xE1", 2) + char(length >> 8) + char(length & 0xff) + data;
    return WithSegments(jpeg, segment, 1);
}

// Lightness of an RGB32 picture, the reader's weights rounded.
int Lightness(QRgb c) {
    return (299 * qRed(c) + 587 * qGreen(c) + 114 * qBlue(c) + 500) / 1000;
}

// Asked for grey, a JPEG comes as its luma, a grey PNG as it is, and everything else as before:
// the same size and orientation, the same lightness, within the JPEG library's rounding.
TEST(LoadGreyTest, MatchesTheColourPicture) {
    QImage colour(29, 17, QImage::Format_RGB32);  // no symmetry: any wrong turn shows
    for (int y = 0; y < colour.height(); ++y)
        for (int x = 0; x < colour.width(); ++x)
            colour.setPixel(x, y, qRgb(x * 8, y * 14, (x * y) % 200));
    const QImage grey = colour.convertToFormat(QImage::Format_Grayscale8);
    struct Case {
        const char* name;
        QByteArray bytes;
        QImage::Format format;  // when asked for grey
        int tolerance;
        bool exif;  // tried in all eight orientations
    };
    const Case cases[] = {
        {"jpeg", Encode(colour, "JPEG", 100), QImage::Format_Grayscale8, 3, true},
        {"grey jpeg", Encode(grey, "JPEG", 100), QImage::Format_Grayscale8, 0, true},
        {"progressive jpeg", ProgressiveJpeg(colour, 0), QImage::Format_Grayscale8, 3, true},
        {"grey png", Encode(grey, "PNG"), QImage::Format_Grayscale8, 0, false},
        {"16-bit grey png", Encode(colour.convertToFormat(QImage::Format_Grayscale16), "PNG"),
         QImage::Format_Grayscale8, 0, false},
        {"colour png", Encode(colour, "PNG"), QImage::Format_RGB32, 0, false},
        {"png with alpha", Encode(colour.convertToFormat(QImage::Format_ARGB32), "PNG"),
         QImage::Format_RGB32, 0, false}};
    for (const Case& c : cases) {
        for (int orientation = 1; orientation <= (c.exif ? 8 : 1); ++orientation) {
            for (const bool bigEndian : {false, true}) {
                SCOPED_TRACE(testing::Message() << c.name << " orientation " << orientation
                                                << (bigEndian ? " MM" : " II"));
                const QByteArray file =
                    c.exif ? WithExifOrientation(c.bytes, orientation, bigEndian) : c.bytes;
                const QImage want = LoadPictureFromData(file, "colour")->image();
                const QImage got = LoadPictureFromData(file, "grey", Tone::Grey)->image();
                ASSERT_EQ(got.format(), c.format);
                ASSERT_EQ(got.size(), want.size());
                int worst = 0;
                for (int y = 0; y < got.height(); ++y)
                    for (int x = 0; x < got.width(); ++x)
                        worst = std::max(worst, std::abs(Lightness(got.pixel(x, y)) -
                                                         Lightness(want.pixel(x, y))));
                EXPECT_LE(worst, c.tolerance);
            }
        }
    }
}

// Pictures of several megabytes decode into buffers of their own (aligned for huge pages):
// every pixel as from a small one, and a copy that is changed leaves the loaded picture as it was.
TEST(LoadGreyTest, LargePicturesKeepEveryPixelAndTheirCopies) {
    QImage colour(1500, 1400, QImage::Format_RGB32);  // 8 MB as RGB32, 2 MB as grey
    for (int y = 0; y < colour.height(); ++y)
        for (int x = 0; x < colour.width(); ++x)
            colour.setPixel(x, y, qRgb((x * 7 + y) % 256, (y * 3) % 256, (x ^ y) % 256));
    QImage grey(2500, 1800, QImage::Format_Grayscale8);  // 4.5 MB
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 0; x < grey.width(); ++x) grey.scanLine(y)[x] = static_cast<uchar>(x * y);
    const std::tuple<const char*, QImage, QByteArray, Tone> cases[] = {
        {"grey png", grey, Encode(grey, "PNG"), Tone::Grey},
        {"colour png", colour, Encode(colour, "PNG"), Tone::Colour},
        {"grey jpeg", grey, Encode(grey, "JPEG", 100), Tone::Grey}};
    for (const auto& [name, source, bytes, tone] : cases) {
        SCOPED_TRACE(name);
        const QImage loaded = LoadPictureFromData(bytes, name, tone)->image();
        ASSERT_EQ(loaded.size(), source.size());
        const bool exact = QByteArray(name).endsWith("png");
        int worst = 0;
        for (int y = 0; y < source.height(); y += 7)
            for (int x = 0; x < source.width(); x += 5)
                worst = std::max(worst, std::abs(Lightness(loaded.pixel(x, y)) -
                                                 Lightness(source.pixel(x, y))));
        EXPECT_LE(worst, exact ? 0 : 3);
        const QRgb corner = loaded.pixel(0, 0);
        QImage copy = loaded;
        copy.fill(Qt::white);
        EXPECT_EQ(loaded.pixel(0, 0), corner);
        EXPECT_EQ(copy.pixel(0, 0), qRgb(255, 255, 255));
    }
}

// ---- pictures that do not load -----------------------------------------------------------

QByteArray Bmp24(int w, int h) {
    return MakeBmp(w, h, 24, {}, [](int x, int y) { return quint32(PatternColor(x, y)); });
}

QByteArray WithBmpSize(QByteArray b, quint32 w, quint32 h) {
    SetLe32(b, 18, w);
    SetLe32(b, 22, h);
    return b;
}

QByteArray WithJpegSize(QByteArray b, int w, int h) {
    const int sof = b.indexOf("\xFF\xC0");
    if (sof < 0) return b;
    b[sof + 5] = char(h >> 8);
    b[sof + 6] = char(h & 0xFF);
    b[sof + 7] = char(w >> 8);
    b[sof + 8] = char(w & 0xFF);
    return b;
}

struct BadCase {
    const char* name;
    const char* file;
    std::function<QByteArray()> bytes;  // null: the file is not written
    int number;
    std::vector<const char*> says;
};
void PrintTo(const BadCase& c, std::ostream* os) {
    *os << c.name;
}

class LoadBadTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(LoadBadTest, FailsWithAnErrorSayingWhat) {
    const BadCase& c = GetParam();
    TempFiles files;
    const QString path = c.bytes ? files.write(c.file, c.bytes()) : files.path(c.file);
    try {
        LoadPicture(path);
        ADD_FAILURE() << "loaded";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), c.number) << e.description().toStdString();
        EXPECT_TRUE(e.description().contains(QString::fromUtf8(c.file)))
            << e.description().toStdString();
        for (const char* part : c.says) {
            EXPECT_TRUE(e.description().contains(QString::fromUtf8(part)))
                << part << " not in " << e.description().toStdString();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, LoadBadTest,
    ::testing::Values(
        BadCase{"Missing", "missing.bmp", nullptr, 53, {"文件未找到"}},
        BadCase{"EmptyFile", "empty.bmp", [] { return QByteArray(); }, 481, {"空"}},
        BadCase{"TextNamedBmp",
                "notes.bmp",
                [] { return QByteArray("just some text\n"); },
                481,
                {"不是 BMP、JPEG、GIF 或 PNG 图片"}},
        BadCase{"BmpHuge",
                "huge.bmp",
                [] { return WithBmpSize(Bmp24(4, 4), 100000, 100000); },
                7,
                {"太大", "100000 × 100000"}},
        BadCase{"BmpOneRowTooWide",
                "wide.bmp",
                [] { return WithBmpSize(Bmp24(4, 4), 0x7FFFFFFF, 1); },
                7,
                {"太大"}},
        BadCase{"BmpNegativeWidth",
                "negative.bmp",
                [] { return WithBmpSize(Bmp24(4, 4), quint32(-4), 4); },
                481,
                {}},
        BadCase{"BmpBadDepth",
                "depth.bmp",
                [] {
                    QByteArray b = Bmp24(4, 4);
                    b[28] = 7;
                    return b;
                },
                481,
                {"已损坏"}},
        BadCase{"BmpPixelsCut",
                "cut.bmp",
                [] { return Bmp24(20, 20).left(600); },
                481,
                {"不完整", "截断"}},
        BadCase{"JpegHuge",
                "huge.jpg",
                [] { return WithJpegSize(Encode(SquaresImage(16, 16), "JPEG"), 60000, 60000); },
                7,
                {"太大"}},
        BadCase{"JpegWithoutEnd",
                "cut.jpg",
                [] {
                    const QByteArray b = Encode(SquaresImage(32, 32), "JPEG");
                    return b.left(b.size() - 2);
                },
                481,
                {"截断", "结束标记"}},
        BadCase{"JpegNoImage",
                "noimage.jpg",
                [] { return QByteArray("\xFF\xD8\xFF\xD9", 4); },
                481,
                {"已损坏"}},
        BadCase{"JpegEndlessScans",  // each scan is a pass over the picture: a time bomb
                "scans.jpg",
                [] { return ProgressiveJpeg(SquaresImage(16, 16), 200); },
                481,
                {"已损坏", "扫描段"}},
        // The JPEG library takes time quadratic in the number of these segments.
        BadCase{
            "JpegEndlessComments",
            "comments.jpg",
            [] { return WithSegments(Encode(SquaresImage(16, 16), "JPEG"), kEmptyComment, 5000); },
            481,
            {"已损坏", "标记段"}},
        BadCase{"JpegEndlessApp1",
                "app1.jpg",
                [] { return WithSegments(Encode(SquaresImage(16, 16), "JPEG"), kSmallApp1, 5000); },
                481,
                {"已损坏", "标记段"}},
        // Beyond what the JPEG library reads at all: too large all the same, not damaged.
        BadCase{"JpegLargestSides",
                "sides.jpg",
                [] { return WithJpegSize(Encode(SquaresImage(16, 16), "JPEG"), 65535, 65535); },
                7,
                {"太大", "65535 × 65535"}},
        BadCase{"GifHugeScreen",
                "huge.gif",
                [] {
                    QByteArray b = MakeGif(4, 4, kFour, FourIndex);
                    b[6] = b[7] = b[8] = b[9] = char(0xFF);
                    return b;
                },
                7,
                {"太大"}},
        BadCase{"GifHugeFrame",
                "frame.gif",
                [] {
                    QByteArray b = MakeGif(4, 4, kFour, FourIndex);
                    const int d = 13 + 768;  // image descriptor
                    b[d + 5] = b[d + 6] = b[d + 7] = b[d + 8] = char(0xFF);
                    return b;
                },
                7,
                {"太大"}},
        // The data end long before the picture the header declares: Qt's readers would show
        // the rest blank.
        BadCase{"JpegDataEndEarly",
                "short.jpg",
                [] { return WithJpegSize(Encode(SquaresImage(64, 64), "JPEG"), 8000, 8000); },
                481,
                {"不完整", "截断"}},
        BadCase{"GifDataEndEarly",
                "short.gif",
                [] {
                    QByteArray b = MakeGif(4, 4, kFour, FourIndex);
                    const int d = 13 + 768;  // image descriptor
                    for (const int at : {6, d + 5}) {
                        b[at] = b[at + 2] = char(0x40);  // 8000 × 8000
                        b[at + 1] = b[at + 3] = char(0x1F);
                    }
                    return b;
                },
                481,
                {"截断"}},
        BadCase{"GifCut",
                "cut.gif",
                [] { return MakeGif(40, 4, kFour, FourIndex).left(800); },
                481,
                {"截断"}},
        BadCase{"PngHuge",
                "huge.png",
                [] { return WithPngSize(Encode(PatternImage(4, 4), "PNG"), 100000, 100000); },
                7,
                {"太大"}}),
    [](const ::testing::TestParamInfo<BadCase>& p) { return p.param.name; });

TEST(LoadPictureTest, PathErrors) {
    TempFiles files;
    const struct {
        QString path;
        int number;
    } cases[] = {{QString(), 53},
                 {"    ", 53},
                 {files.path(""), 75},
                 {"/dev/null", 75},
                 {QString::fromUtf16(u"a\0.bmp", 6), 53}};
    for (const auto& c : cases) {
        try {
            LoadPicture(c.path);
            ADD_FAILURE() << c.path.toStdString() << " loaded";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), c.number) << c.path.toStdString();
        }
    }
}

// The file's bytes as they are, for callers that decode page by page; the same path rules and
// errors as loading it, with the name kept exactly or trimmed as asked.
TEST(ReadPictureFileTest, GivesTheBytesUnderTheLoadersRules) {
    TempFiles files;
    const QByteArray text("not judged here\n");
    const QString path = files.write("blank.gif ", text);
    QString what;
    EXPECT_EQ(ReadPictureFile(path, PathBlanks::Keep, &what), text);
    EXPECT_TRUE(what.contains("blank.gif ")) << what.toStdString();
    for (const auto& [name, blanks, number] :
         {std::tuple{path, PathBlanks::Ignore, 53},
          std::tuple{files.path(""), PathBlanks::Keep, 75},
          std::tuple{QStringLiteral("/dev/null"), PathBlanks::Keep, 75}}) {
        try {
            ReadPictureFile(name, blanks);
            ADD_FAILURE() << name.toStdString() << " was read";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), number) << name.toStdString();
        }
    }
}

// ---- cut and damaged files ---------------------------------------------------------------

struct SweepCase {
    const char* name;
    std::function<QByteArray()> bytes;
    qsizetype wholeFrom;  // cuts this many bytes short or less still give the whole picture
};
void PrintTo(const SweepCase& c, std::ostream* os) {
    *os << c.name;
}

class SweepTest : public ::testing::TestWithParam<SweepCase> {};

// Both tones: the grey path must judge a file exactly as the colour one does.
TEST_P(SweepTest, EveryCutIsRejected) {
    const QByteArray bytes = GetParam().bytes();
    for (const Tone tone : {Tone::Colour, Tone::Grey}) {
        ASSERT_NO_THROW(LoadPictureFromData(bytes, "whole", tone));
        for (qsizetype length = 0; length < bytes.size() - GetParam().wholeFrom; ++length) {
            try {
                LoadPictureFromData(bytes.left(length), "cut", tone);
                ADD_FAILURE() << "cut at " << length << " of " << bytes.size() << " loaded";
            } catch (const RuntimeError& e) {
                ASSERT_EQ(e.number(), 481) << "cut at " << length;
            }
        }
    }
}

// The error number, or 0 and the size of what loaded.
std::tuple<int, QSize> Outcome(const QByteArray& bytes, Tone tone) {
    try {
        const PictureRef p = LoadPictureFromData(bytes, "damaged", tone);
        const QImage::Format format = p->image().format();
        EXPECT_TRUE(format == QImage::Format_RGB32 ||
                    (tone == Tone::Grey && format == QImage::Format_Grayscale8));
        EXPECT_LE(qint64{p->width()} * p->height(), kMaxPicturePixels);
        return {0, p->image().size()};
    } catch (const RuntimeError& e) {
        EXPECT_TRUE(e.number() == 481 || e.number() == 7) << e.number();
        return {e.number(), QSize()};
    }
}

TEST_P(SweepTest, RandomDamageLoadsOrFailsCleanly) {
    const QByteArray bytes = GetParam().bytes();
    std::mt19937 random(481);
    std::uniform_int_distribution<qsizetype> position(0, bytes.size() - 1);
    std::uniform_int_distribution<int> value(0, 255);
    for (int round = 0; round < 400; ++round) {
        QByteArray damaged = bytes;
        for (int f = 1 + round % 3; f > 0; --f) damaged[position(random)] = char(value(random));
        ASSERT_EQ(Outcome(damaged, Tone::Grey), Outcome(damaged, Tone::Colour)) << round;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SweepTest,
    ::testing::Values(
        SweepCase{"Bmp1",
                  [] {
                      return MakeBmp(19, 6, 1, {qRgb(0, 0, 0), qRgb(255, 255, 255)},
                                     [](int x, int y) { return quint32((x + y) % 2); });
                  },
                  0},
        SweepCase{"Bmp8",
                  [] {
                      return MakeBmp(9, 6, 8, kFour,
                                     [](int x, int y) { return quint32(FourIndex(x, y)); });
                  },
                  0},
        SweepCase{"Bmp24", [] { return Bmp24(11, 6); }, 0},
        SweepCase{
            "Rle8",
            [] {
                return MakeRle8Bmp(10, {{{4, 0}, {6, 1}}, {{10, 2}}, {{3, 3}, {7, 1}}}, kFour);
            },
            0},
        SweepCase{"Jpeg", [] { return Encode(SquaresImage(24, 16), "JPEG"); }, 0},
        // The trailer after a complete image may be missing.
        SweepCase{"Gif", [] { return MakeGif(30, 5, kFour, FourIndex); }, 1},
        SweepCase{"Png", [] { return Encode(PatternImage(9, 6), "PNG"); }, 0},
        SweepCase{"GreyPng",
                  [] {
                      return Encode(PatternImage(9, 6).convertToFormat(QImage::Format_Grayscale8),
                                    "PNG");
                  },
                  0}),
    [](const ::testing::TestParamInfo<SweepCase>& p) { return p.param.name; });

}  // namespace
// The reader sees a loaded picture's pixels in place; any other picture once converted, and
// the grey it gets is the same either way.
TEST(ReaderView, FormatsAsTheyLieOrConverted) {
    const struct {
        QImage::Format format;
        bool asItLies;
    } cases[] = {{QImage::Format_Grayscale8, true},
                 {QImage::Format_RGB32, true},
                 {QImage::Format_ARGB32, false},
                 {QImage::Format_RGB888, false},
                 {QImage::Format_Indexed8, false}};
    QImage source(3, 2, QImage::Format_RGB32);
    source.fill(qRgb(10, 200, 30));
    source.setPixel(1, 1, qRgb(255, 255, 255));
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.format));
        QImage picture = c.format == QImage::Format_Indexed8
                             ? source.convertToFormat(c.format, Qt::ThresholdDither)
                             : source.convertToFormat(c.format);
        const uchar* before = picture.constBits();
        if (c.asItLies) {
            const reader::ImageView view = ReaderView(picture);
            EXPECT_EQ(view.data, before);
            EXPECT_EQ(view.stride, picture.bytesPerLine());
        } else {
            EXPECT_THROW(ReaderView(picture), std::invalid_argument);
        }
        const reader::ImageView view = ToReaderView(picture);
        EXPECT_EQ(view.format, picture.format() == QImage::Format_Grayscale8
                                   ? reader::PixelFormat::kGrey
                                   : reader::PixelFormat::kArgb32);
        std::uint8_t grey[6];
        reader::ToGrey(view, grey);
        const QColor at = picture.pixelColor(0, 0);
        EXPECT_EQ(grey[0], reader::Grey(at.red(), at.green(), at.blue()));
        EXPECT_EQ(grey[4], 255);
    }
}

}  // namespace scan39::host
