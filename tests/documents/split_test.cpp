// Splitting batches: the plan for every arrangement of separators and names, and the built
// scan39 split on PDFs and TIFFs made here: the parts' pages are the original's byte for byte,
// the input is untouched, names are never reused, a killed run leaves no partial part.

#define POINTERHOLDER_TRANSITION 4
#include <gtest/gtest.h>
#include <signal.h>
#include <tiffio.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "scan39/documents/split.h"
#include "scan39/encoder.h"

namespace {

using scan39::documents::PageFinding;
using scan39::documents::PlanParts;
using scan39::documents::SplitRules;

// ---- The plan -------------------------------------------------------------------------------

// Pages as letters: "S" a separator, "A1"/"A2" names ASN1/ASN2, "x" an unreadable page, "." a
// page with nothing; parts as "1,2|4" (pages from 1) with names "ASN1:1,2".
std::vector<PageFinding> Pages(const std::vector<std::string>& pages) {
    std::vector<PageFinding> findings;
    for (const std::string& p : pages) {
        PageFinding f;
        if (p == "x") f.error = QStringLiteral("damaged");
        for (const char c : p) {
            if (c == 'S') f.texts.push_back("PATCHT");
            if (c >= '1' && c <= '9') f.texts.push_back(std::string("ASN") + c);
        }
        findings.push_back(f);
    }
    return findings;
}

std::string Shown(const std::vector<scan39::documents::SplitPart>& parts) {
    std::string s;
    for (const auto& part : parts) {
        if (!s.empty()) s += '|';
        if (!part.name.isEmpty()) s += part.name.toStdString() + ':';
        for (size_t i = 0; i < part.pages.size(); ++i)
            s += (i ? "," : "") + std::to_string(part.pages[i] + 1);
    }
    return s;
}

struct PlanCase {
    const char* what;
    std::vector<std::string> pages;
    bool keep;
    const char* parts;
};

class Plan : public testing::TestWithParam<PlanCase> {};

TEST_P(Plan, CutsWhereAUserExpects) {
    const PlanCase& c = GetParam();
    SplitRules rules;
    rules.nameFrom = QRegularExpression(QStringLiteral("^ASN\\d+$"));
    rules.keepSeparators = c.keep;
    EXPECT_EQ(Shown(PlanParts(Pages(c.pages), rules)), c.parts) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Split, Plan,
    testing::Values(
        PlanCase{"no separator: one part", {".", "."}, false, "1,2"},
        PlanCase{"separator in the middle, dropped", {".", "S", "."}, false, "1|3"},
        PlanCase{"separator kept starts the next part", {".", "S", "."}, true, "1|2,3"},
        PlanCase{"separators at start, end and back to back",
                 {"S", ".", "S", "S", ".", "S"},
                 false,
                 "2|5"},
        PlanCase{"kept back-to-back separators join the next part; trailing the last",
                 {"S", ".", "S", "S", ".", "S"},
                 true,
                 "1,2|3,4,5,6"},
        PlanCase{"only separators: nothing", {"S", "S"}, false, ""},
        PlanCase{"name pages start documents and are kept",
                 {"A1", ".", "A2", "."},
                 false,
                 "ASN1:1,2|ASN2:3,4"},
        PlanCase{"pages before the first name are a part of their own",
                 {".", "A1", "."},
                 false,
                 "1|ASN1:2,3"},
        PlanCase{"the same name again continues the document",
                 {"A1", "A1", "A2"},
                 false,
                 "ASN1:1,2|ASN2:3"},
        PlanCase{
            "two names on one page: the first in reading order", {"12", "."}, false, "ASN1:1,2"},
        PlanCase{"a name right after a separator names that document",
                 {"S", "A1", ".", "S", "."},
                 false,
                 "ASN1:2,3|5"},
        PlanCase{"a separator with a name names the document after it",
                 {".", "S1", "."},
                 false,
                 "1|ASN1:3"},
        PlanCase{
            "an unreadable page stays in its document", {".", "x", "S", "."}, false, "1,2|4"}));

TEST(Split, RecordsCountPagesFromOneAndNameTheFolder) {
    scan39::documents::SplitResult r;
    r.input = "in/scan.pdf";
    r.pageCount = 4;
    scan39::documents::SplitPart part;
    part.pages = {0, 1};
    part.separators = {2};
    part.leaf = "scan-001.pdf";
    r.parts = {part};
    r.written = 1;
    r.pageErrors = {{3, QStringLiteral("damaged")}};
    const auto records = scan39::documents::SplitRecords(r, "out");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0], R"({"input":"in/scan.pdf","output":"out/scan-001.pdf","pages":[1,2],)"
                          R"("separators":[3],"name":null})");
    EXPECT_EQ(records[1], R"({"input":"in/scan.pdf","page":4,"pages":4,"error":"damaged"})");
}

// ---- Files made here ------------------------------------------------------------------------

// A page of a batch: the symbol's text ("" none), or "!" for a page that cannot be drawn.
QImage SymbolSheet(const std::string& text, int dpi) {
    // Half a letter sheet: the tests stay quick.
    QImage page(int(4.25 * dpi), int(5.5 * dpi), QImage::Format_Grayscale8);
    page.fill(255);
    if (text.empty()) return page;
    QPainter p(&page);
    const auto runs = scan39::encoder::Runs(text, {1, 3, 1});
    qreal x = dpi * 0.3;
    const qreal unit = dpi / 75.0;
    for (size_t i = 0; i < runs.size(); ++i) {
        if (i % 2 == 0) p.fillRect(QRectF(x, dpi * 0.5, runs[i] * unit, dpi * 0.6), Qt::black);
        x += runs[i] * unit;
    }
    return page;
}

QByteArray Hash(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

// A PDF of pictures with a text layer; page `rotated` turned by 90 degrees, page `broken`
// given contents that cannot be drawn.
void WritePdf(const QString& path, const std::vector<std::string>& texts, int rotated, int broken) {
    const QString plain = path + ".plain";
    {
        QPdfWriter writer(plain);
        writer.setResolution(72);
        writer.setPageSize(QPageSize(QSizeF(4.25, 5.5), QPageSize::Inch));
        writer.setPageMargins(QMarginsF());
        QPainter p(&writer);
        for (size_t i = 0; i < texts.size(); ++i) {
            if (i > 0) writer.newPage();
            p.drawImage(QRectF(0, 0, 306, 396), SymbolSheet(texts[i], 150));
            p.drawText(QPointF(72, 300), QStringLiteral("page %1").arg(i + 1));
        }
    }
    QPDF pdf;
    pdf.processFile(plain.toLocal8Bit().constData());
    auto pages = QPDFPageDocumentHelper(pdf).getAllPages();
    if (rotated >= 0) pages[size_t(rotated)].rotatePage(90, false);
    if (broken >= 0) {
        auto bad = QPDFObjectHandle::newStream(&pdf, std::string(400, 'x'));
        bad.getDict().replaceKey("/Filter", QPDFObjectHandle::newName("/FlateDecode"));
        pages[size_t(broken)].getObjectHandle().replaceKey("/Contents", bad);
    }
    // The writer keeps the name's pointer until it writes: the bytes must outlive it.
    const QByteArray name = path.toLocal8Bit();
    QPDFWriter w(pdf, name.constData());
    w.write();
    QFile::remove(plain);
}

// A page's content and resources as they are in the file, for comparing a part's pages with
// the original's.
std::string PageBytes(QPDFPageObjectHelper page) {
    std::string s;
    for (auto& stream : page.getPageContents()) {
        const auto raw = stream.getRawStreamData();
        s.append(reinterpret_cast<const char*>(raw->getBuffer()), raw->getSize());
    }
    auto xobjects = page.getObjectHandle().getKey("/Resources").getKey("/XObject");
    if (xobjects.isDictionary()) {
        for (const auto& key : xobjects.getKeys()) {
            auto image = xobjects.getKey(key);
            const auto raw = image.getRawStreamData();
            s += key + image.getDict().unparse();
            s.append(reinterpret_cast<const char*>(raw->getBuffer()), raw->getSize());
        }
    }
    for (const char* key : {"/MediaBox", "/Rotate"})
        s += key + page.getObjectHandle().getKey(key).unparse();
    return s;
}

std::vector<std::string> PdfPages(const QString& path) {
    QPDF pdf;
    pdf.processFile(path.toLocal8Bit().constData());
    QPDFPageDocumentHelper(pdf).pushInheritedAttributesToPage();
    std::vector<std::string> pages;
    for (auto& page : QPDFPageDocumentHelper(pdf).getAllPages()) pages.push_back(PageBytes(page));
    return pages;
}

// A multi-page TIFF, Deflate-compressed at 300 dpi; page `broken` holds data that does not
// inflate.
void WriteTiff(const QString& path, const std::vector<std::string>& texts, int broken) {
    TIFF* t = TIFFOpen(path.toLocal8Bit().constData(), "w");
    ASSERT_NE(t, nullptr);
    for (size_t i = 0; i < texts.size(); ++i) {
        const QImage page = SymbolSheet(texts[i], 300);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(page.width()));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(page.height()));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(1));
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_MINISBLACK));
        TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_ADOBE_DEFLATE));
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(64));
        TIFFSetField(t, TIFFTAG_XRESOLUTION, 300.0f);
        TIFFSetField(t, TIFFTAG_YRESOLUTION, 300.0f);
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, uint16_t(RESUNIT_INCH));
        TIFFSetField(t, TIFFTAG_SUBFILETYPE, uint32_t(FILETYPE_PAGE));
        if (int(i) == broken) {
            const std::string junk(1000, 'x');
            for (uint32_t s = 0; s < TIFFNumberOfStrips(t); ++s)
                TIFFWriteRawStrip(t, s, const_cast<char*>(junk.data()), tmsize_t(junk.size()));
        } else {
            for (int y = 0; y < page.height(); ++y)
                TIFFWriteScanline(t, const_cast<uchar*>(page.constScanLine(y)), uint32_t(y), 0);
        }
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
}

// Each page's tags that matter and its raw strips.
std::vector<std::string> TiffPages(const QString& path) {
    std::vector<std::string> pages;
    TIFF* t = TIFFOpen(path.toLocal8Bit().constData(), "r");
    if (!t) return pages;
    do {
        uint32_t w = 0, h = 0, rows = 0;
        uint16_t compression = 0, unit = 0;
        float xres = 0, yres = 0;
        TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
        TIFFGetField(t, TIFFTAG_ROWSPERSTRIP, &rows);
        TIFFGetField(t, TIFFTAG_COMPRESSION, &compression);
        TIFFGetField(t, TIFFTAG_XRESOLUTION, &xres);
        TIFFGetField(t, TIFFTAG_YRESOLUTION, &yres);
        TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &unit);
        std::string s = std::to_string(w) + 'x' + std::to_string(h) + '/' + std::to_string(rows) +
                        '/' + std::to_string(compression) + '/' + std::to_string(xres) + ',' +
                        std::to_string(yres) + '/' + std::to_string(unit) + ':';
        for (uint32_t i = 0; i < TIFFNumberOfStrips(t); ++i) {
            std::string strip(size_t(TIFFGetStrileByteCount(t, i)), '\0');
            TIFFReadRawStrip(t, i, strip.data(), tmsize_t(strip.size()));
            s += strip;
        }
        pages.push_back(s);
    } while (TIFFReadDirectory(t));
    TIFFClose(t);
    return pages;
}

struct SplitRun {
    int status = -1;
    QList<QJsonObject> records;
    QString err;
};

SplitRun Split(const QStringList& args,
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(SCAN39_CLI),
            QStringList{QStringLiteral("split"), QStringLiteral("--json")} + args);
    p.waitForFinished(120000);
    SplitRun r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
        if (!line.isEmpty()) r.records.append(QJsonDocument::fromJson(line).object());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

std::vector<int> PagesOf(const QJsonObject& record) {
    std::vector<int> pages;
    for (const auto v : record["pages"].toArray()) pages.push_back(v.toInt());
    return pages;
}

// What each input kind needs from the test: how to make it and how to see its pages.
struct Kind {
    const char* name;
    const char* extension;
    void (*write)(const QString&, const std::vector<std::string>&, int broken);
    std::vector<std::string> (*pages)(const QString&);
};

void WritePdfKind(const QString& path, const std::vector<std::string>& texts, int broken) {
    WritePdf(path, texts, 2, broken);  // the third page is turned
}
void WriteTiffKind(const QString& path, const std::vector<std::string>& texts, int broken) {
    WriteTiff(path, texts, broken);
}

class Files : public testing::TestWithParam<Kind> {};

TEST_P(Files, PartsHoldTheOriginalPagesAndTheInputStaysAsItWas) {
    const Kind& kind = GetParam();
    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("batch") + kind.extension);
    // Separators at the start, in the middle, back to back and at the end; a document named
    // by its number; a turned page (PDF) in the first document.
    kind.write(input, {"PATCHT", "", "", "", "PATCHT", "PATCHT", "ASN00123", "", "PATCHT"}, -1);
    const QByteArray before = Hash(input);
    const auto original = kind.pages(input);
    ASSERT_EQ(original.size(), 9u);
    const QString out = dir.filePath(QStringLiteral("out"));
    const SplitRun r = Split({input, QStringLiteral("--out"), out, QStringLiteral("--name-from"),
                              QStringLiteral("^ASN\\d+$")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    ASSERT_EQ(r.records.size(), 2)
        << r.err.toStdString() << QJsonDocument(r.records[0]).toJson().toStdString();
    EXPECT_EQ(PagesOf(r.records[0]), (std::vector<int>{2, 3, 4}));
    EXPECT_EQ(PagesOf(r.records[1]), (std::vector<int>{7, 8}));
    EXPECT_EQ(r.records[1]["name"].toString(), QStringLiteral("ASN00123"));
    EXPECT_EQ(r.records[0]["output"].toString(), out + "/batch-001" + kind.extension);
    EXPECT_EQ(r.records[1]["output"].toString(), out + "/ASN00123" + kind.extension);
    for (const QJsonObject& record : r.records) {
        const auto part = kind.pages(record["output"].toString());
        const auto pages = PagesOf(record);
        ASSERT_EQ(part.size(), pages.size());
        for (size_t i = 0; i < pages.size(); ++i)
            EXPECT_TRUE(part[i] == original[size_t(pages[i] - 1)]) << "page " << pages[i];
    }
    EXPECT_EQ(Hash(input), before);

    // Again into the same folder: new names, the first parts untouched.
    const QByteArray first = Hash(out + "/ASN00123" + kind.extension);
    const SplitRun again = Split({input, QStringLiteral("--out"), out,
                                  QStringLiteral("--name-from"), QStringLiteral("^ASN\\d+$")});
    ASSERT_EQ(again.records.size(), 2);
    EXPECT_EQ(again.records[1]["output"].toString(), out + "/ASN00123-2" + kind.extension);
    EXPECT_EQ(Hash(out + "/ASN00123" + kind.extension), first);

    // A dry run names what it would write and writes nothing.
    const int files = int(QDir(out).entryList(QDir::Files | QDir::Hidden).size());
    const SplitRun dry = Split({input, QStringLiteral("--out"), out, QStringLiteral("--dry-run")});
    ASSERT_EQ(dry.records.size(), 2);
    EXPECT_EQ(dry.records[0]["output"].toString(), out + "/batch-001-3" + kind.extension);
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), files);
}

TEST_P(Files, AnUnreadablePageIsAnErrorNotAGuess) {
    const Kind& kind = GetParam();
    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("b") + kind.extension);
    kind.write(input, {"", "", "PATCHT", "", "ASN7"}, 1);
    const QString out = dir.filePath(QStringLiteral("out"));
    const SplitRun keep = Split({input, QStringLiteral("--out"), out});
    EXPECT_EQ(keep.status, 2);
    ASSERT_EQ(keep.records.size(), 3);
    EXPECT_EQ(PagesOf(keep.records[0]), (std::vector<int>{1, 2}));
    EXPECT_EQ(keep.records[2]["page"].toInt(), 2);
    EXPECT_TRUE(keep.records[2].contains("error"));

    const QString stopped = dir.filePath(QStringLiteral("stopped"));
    const SplitRun stop = Split({input, QStringLiteral("--out"), stopped,
                                 QStringLiteral("--on-error"), QStringLiteral("stop")});
    EXPECT_EQ(stop.status, 2);
    ASSERT_EQ(stop.records.size(), 1);
    EXPECT_TRUE(stop.records[0].contains("error"));
    EXPECT_TRUE(QDir(stopped).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Split, Files,
                         testing::Values(Kind{"Pdf", ".pdf", WritePdfKind, PdfPages},
                                         Kind{"Tiff", ".tif", WriteTiffKind, TiffPages}),
                         [](const auto& kind) { return std::string(kind.param.name); });

TEST(Split, AKilledRunLeavesNoPartialPartUnderAFinalName) {
    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("k.pdf"));
    WritePdf(input, {"", "PATCHT", ""}, -1, -1);
    const QString out = dir.filePath(QStringLiteral("out"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SCAN39_TEST_PAUSE_BEFORE_RENAME"), QStringLiteral("60000"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(SCAN39_CLI),
            {QStringLiteral("split"), input, QStringLiteral("--out"), out});
    ASSERT_TRUE(p.waitForStarted());
    // The first part is whole in its temporary file, waiting to be named.
    QStringList temporary;
    for (int i = 0; i < 600 && temporary.isEmpty(); ++i) {
        QThread::msleep(50);
        temporary = QDir(out).entryList({QStringLiteral(".*.part-*")}, QDir::Files | QDir::Hidden);
    }
    ASSERT_FALSE(temporary.isEmpty());
    ::kill(pid_t(p.processId()), SIGKILL);
    p.waitForFinished();
    const QStringList names = QDir(out).entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : names) EXPECT_TRUE(name.startsWith('.')) << name.toStdString();
}

struct ArgumentCase {
    QStringList args;
    const char* said;
};

class Arguments : public testing::TestWithParam<ArgumentCase> {};

TEST_P(Arguments, RefusedWithTheReason) {
    QProcess p;
    p.start(QStringLiteral(SCAN39_CLI), QStringList{QStringLiteral("split")} + GetParam().args);
    p.waitForFinished(60000);
    EXPECT_EQ(p.exitCode(), 2);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_TRUE(err.startsWith(QStringLiteral("scan39 split: ") + GetParam().said))
        << err.toStdString();
    EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Split, Arguments,
    testing::Values(
        ArgumentCase{{"a.pdf"}, "split needs --out DIR"},
        ArgumentCase{{"--out", "o"}, "split needs a PDF or TIFF"},
        ArgumentCase{{"a.pdf", "--out"}, "--out needs a folder\n"},
        ArgumentCase{{"a.pdf", "--out="}, "--out needs a folder\n"},
        ArgumentCase{{"a.pdf", "--out", "o", "--separator="}, "--separator needs a text\n"},
        ArgumentCase{{"a.pdf", "--out", "o", "--name-from"}, "--name-from needs REGEX\n"},
        ArgumentCase{{"a.pdf", "--out", "o", "--on-error", "maybe"}, "--on-error is keep or stop"},
        ArgumentCase{{"a.pdf", "--out", "o", "--name-from", "("},
                     "--name-from: \"(\" is not a regular expression"},
        ArgumentCase{{"a.pdf", "--out", "o", "--jobs", "0"}, "--jobs takes a number"},
        ArgumentCase{{"a.pdf", "--out", "o", "--file-time-limit", "0"},
                     "--file-time-limit takes a number from 1 to 86400"},
        ArgumentCase{{"a.pdf", "--out", "o", "--keep-separators=yes"},
                     "--keep-separators takes no value"},
        ArgumentCase{{"a.pdf", "--out", "o", "--box", "1,2,3,4"}, "unknown option --box"}));

TEST(Split, TextLinesQuoteNamesAsTheRestOfTheCommandLine) {
    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("a\nb.tif"));
    WriteTiff(input, {"", "PATCHT", ""}, -1);
    QProcess p;
    p.start(QStringLiteral(SCAN39_CLI),
            {QStringLiteral("split"), input, QStringLiteral("--out"), dir.filePath("out")});
    p.waitForFinished(60000);
    EXPECT_EQ(p.exitCode(), 0);
    const QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
    ASSERT_EQ(lines.size(), 3);  // two parts and the end
    EXPECT_TRUE(lines[0].startsWith("$'")) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains("a\\nb.tif': pages 1 -> ")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith("a\\nb-002.tif'")) << lines[1].toStdString();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
