// scan39 on files of pages: a PDF and a multi-page TIFF, one record per page, damaged and
// hostile files, and --dpi.

#include <QJsonDocument>
#include <QJsonObject>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

#include <QBuffer>
#include <QElapsedTimer>

#include "scan39/encoder.h"

namespace {

// Code 39 bars of `text` from (x, y), `unit` wide a narrow element, on whatever `p` draws on.
void DrawSymbol(QPainter& p, const char* text, qreal x, qreal y, qreal unit, qreal height) {
    const auto runs = scan39::encoder::Runs(text, {1, 3, 1});
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (i % 2 == 0) p.fillRect(QRectF(x, y, runs[i] * unit, height), Qt::black);
        x += runs[i] * unit;
    }
}

QImage SymbolPicture(const char* text) {
    QImage image(360, 160, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    DrawSymbol(p, text, 40, 20, 2, 120);
    return image;
}

// One page per size; a null size repeats the one before. Drawn in points.
bool WritePdf(const QString& path, const QList<QPageSize>& pages, const QStringList& texts) {
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageSize(pages.first());
    writer.setPageMargins(QMarginsF());
    QPainter p(&writer);
    for (qsizetype i = 0; i < pages.size(); ++i) {
        if (i > 0 && (!writer.setPageSize(pages[i]) || !writer.newPage())) return false;
        if (i < texts.size()) DrawSymbol(p, texts[i].toLatin1().constData(), 40, 60, 1.5, 60);
    }
    return p.end();
}

// A PDF of `objects` (object 1 the catalogue), with its cross-reference table.
QByteArray PdfOf(const QList<QByteArray>& objects) {
    QByteArray pdf = "%PDF-1.5\n";
    QList<qsizetype> at;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        at << pdf.size();
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const qsizetype offset : at)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer << /Size " + QByteArray::number(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

QByteArray Stream(const QByteArray& dictionary, const QByteArray& data) {
    return "<< " + dictionary + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" +
           data + "\nendstream";
}

// One page of 300 by 200 points showing `content` (object 4) with the objects after it.
QByteArray OnePagePdf(const QByteArray& content, const QByteArray& resources,
                      const QList<QByteArray>& more) {
    return PdfOf(QList<QByteArray>{"<< /Type /Catalog /Pages 2 0 R >>",
                                   "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                   "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] "
                                   "/Contents 4 0 R /Resources << " +
                                       resources + " >> >>",
                                   content} +
                 more);
}

// Pages of forms that each draw the next level ten times: a few hundred bytes that ask for
// ten to the power `levels` rectangles.
QByteArray NestedFormsPdf(int pages, int levels) {
    QList<QByteArray> objects{"<< /Type /Catalog /Pages 2 0 R >>"};
    QByteArray kids;
    for (int i = 0; i < pages; ++i) kids += QByteArray::number(4 + levels + i) + " 0 R ";
    objects << "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pages) + " >>";
    objects << Stream("", "/F0 Do");                // 3: every page's contents
    for (int level = 0; level < levels; ++level) {  // objects 4 on: form F<level>
        const bool last = level == levels - 1;
        QByteArray draw;
        for (int i = 0; i < 10; ++i)
            draw += last ? "0 0 1 1 re f " : "/F" + QByteArray::number(level + 1) + " Do ";
        const QByteArray next = last ? ""
                                     : "/Resources << /XObject << /F" +
                                           QByteArray::number(level + 1) + " " +
                                           QByteArray::number(5 + level) + " 0 R >> >>";
        objects << Stream("/Type /XObject /Subtype /Form /BBox [0 0 300 200] " + next, draw);
    }
    for (int i = 0; i < pages; ++i) {
        objects << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Contents 3 0 R "
                   "/Resources << /XObject << /F0 4 0 R >> >> >>";
    }
    return PdfOf(objects);
}

// A TIFF of `pages` one-pixel pages, each directory with `extra` private tags besides.
QByteArray TaggedTiff(int pages, int extra) {
    QByteArray tiff("II*\0\0\0\0\0", 8);
    const auto u16 = [&](quint16 v) { tiff += char(v & 0xff), tiff += char(v >> 8); };
    const auto u32 = [&](quint32 v) {
        for (int i = 0; i < 4; ++i) tiff += char(v >> (8 * i) & 0xff);
    };
    const auto patch = [&](qsizetype at, quint32 v) {
        for (int i = 0; i < 4; ++i) tiff[at + i] = char(v >> (8 * i) & 0xff);
    };
    qsizetype link = 4;  // where the offset of the next directory goes
    for (int p = 0; p < pages; ++p) {
        const auto pixel = quint32(tiff.size());
        tiff += char(0xff);
        if (tiff.size() % 2) tiff += '\0';
        patch(link, quint32(tiff.size()));
        const struct {
            quint16 tag, type;
            quint32 value;
        } plain[] = {{256, 3, 1},     {257, 3, 1}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1},
                     {273, 4, pixel}, {277, 3, 1}, {278, 3, 1}, {279, 4, 1}};
        u16(quint16(std::size(plain) + extra));
        for (const auto& e : plain) u16(e.tag), u16(e.type), u32(1), u32(e.value);
        for (int i = 0; i < extra; ++i) u16(quint16(40000 + i)), u16(3), u32(1), u32(quint32(i));
        link = tiff.size();
        u32(0);
    }
    return tiff;
}

bool Save(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

}  // namespace

class CliDocumentTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir dir_;
    bool tiffs_ = false;  // ImageMagick made the multi-page TIFFs

    QString path(const QString& name) const { return dir_.filePath(name); }

    struct Run {
        int exitCode = -1;
        QStringList records;  // "page:text" or "page:error", page empty when absent
        QByteArray out, err;
    };
    Run run(const QStringList& args) {
        QProcess p;
        p.setWorkingDirectory(dir_.path());
        QProcessEnvironment env;
        env.insert("LANG", "C.UTF-8");
        p.setProcessEnvironment(env);
#if defined(__SANITIZE_ADDRESS__)
        // GCC 12's AddressSanitizer keeps its allocator lock across fork(): a page drawn in a
        // child while another worker allocates can hang the child until its time runs out.
        // One worker keeps the sanitized runs to the code under test (--box takes no --jobs).
        p.start(SCAN39_CLI, args.contains("--box") ? args : QStringList{"--jobs", "1"} + args);
#else
        p.start(SCAN39_CLI, args);
#endif
        p.waitForFinished(180000);
        Run r;
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.err = p.readAllStandardError();
        r.out = p.readAllStandardOutput();
        for (const QByteArray& line : r.out.split('\n')) {
            if (!line.startsWith('{')) continue;
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            const QString page = o.contains("page") ? QString::number(o["page"].toInt()) : "";
            QStringList texts;
            for (const auto& symbol : o["symbols"].toArray())
                texts << symbol.toObject()["text"].toString();
            r.records << page + ':' +
                             (o.contains("error") ? "error " + o["error"].toString()
                                                  : texts.join(','));
        }
        return r;
    }

  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        const QPageSize a6(QPageSize::A6), a0(QPageSize::A0);
        QVERIFY(WritePdf(path("two.pdf"), {a6, a6}, {"PAGE-1", "PAGE-2"}));
        QVERIFY(WritePdf(path("one.pdf"), {a6}, {"ALONE"}));
        QVERIFY(WritePdf(path("a4.pdf"), {QPageSize(QPageSize::A4)}, {"A4-PAGE"}));
        QVERIFY(WritePdf(path("big2.pdf"), {a6, a0}, {"PAGE-1"}));
        QVERIFY(WritePdf(path("many.pdf"), QList<QPageSize>(1001, a6), {}));
        QFile two(path("two.pdf"));
        QVERIFY(two.open(QIODevice::ReadOnly));
        QFile cut(path("cut.pdf"));
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(two.readAll().left(two.size() / 2));
        cut.close();
        // The standard handler's dictionary with keys no password opens; the reader rebuilds
        // the missing cross-reference table.
        QFile enc(path("locked.pdf"));
        QVERIFY(enc.open(QIODevice::WriteOnly));
        enc.write(
            "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
            "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
            "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] >> endobj\n"
            "4 0 obj << /Filter /Standard /V 1 /R 2 /P -4 /O <" +
            QByteArray(64, '1') + "> /U <" + QByteArray(64, '2') +
            "> >> endobj\ntrailer << /Root 1 0 R /Encrypt 4 0 R /ID [<" + QByteArray(32, '3') +
            "> <" + QByteArray(32, '3') + ">] >>\n%%EOF\n");
        enc.close();

        // Pages the renderer cannot draw whole.
        QBuffer jpeg;
        jpeg.open(QIODevice::WriteOnly);
        QVERIFY(SymbolPicture("JPEG").save(&jpeg, "JPEG"));
        const QByteArray jpegBytes = jpeg.data();
        const QByteArray image = "/XObject << /Im 5 0 R >>";
        const QByteArray drawImage = Stream("", "q 300 0 0 200 0 0 cm /Im Do Q");
        const QByteArray imageDictionary =
            "/Type /XObject /Subtype /Image /Width 360 /Height 160 /ColorSpace /DeviceRGB "
            "/BitsPerComponent 8 /Filter /DCTDecode";
        QVERIFY(Save(path("jpeg.pdf"),
                     OnePagePdf(drawImage, image, {Stream(imageDictionary, jpegBytes)})));
        // Cut short inside its scan: the renderer would draw the top and say nothing.
        QVERIFY(Save(path("jpeg-cut.pdf"),
                     OnePagePdf(drawImage, image,
                                {Stream(imageDictionary, jpegBytes.left(jpegBytes.size() * 2 / 3))})));
        QVERIFY(Save(path("no-contents.pdf"), PdfOf({"<< /Type /Catalog /Pages 2 0 R >>",
                                                     "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                                     "<< /Type /Page /Parent 2 0 R /MediaBox [0 "
                                                     "0 300 200] /Contents 9 0 R >>"})));
        QVERIFY(Save(path("bad-flate.pdf"),
                     OnePagePdf(Stream("/Filter /FlateDecode", QByteArray(400, 'x')), "", {})));
        QVERIFY(Save(path("nested.pdf"), NestedFormsPdf(3, 9)));
        QVERIFY(Save(path("tagged.tif"), TaggedTiff(400, 200)));

        QVERIFY(SymbolPicture("TIFF-1").save(path("p1.png")));
        QImage marked = SymbolPicture("MARKED");
        marked.setText("Comment", "%PDF-1.4");
        QVERIFY(marked.save(path("marked.png")));
        QVERIFY(SymbolPicture("TIFF-2").save(path("p2.png")));
        const QString convert = QStandardPaths::findExecutable("convert");
        if (!convert.isEmpty() &&
            QProcess::execute(convert, {path("p1.png"), path("p2.png"), path("two.tif")}) == 0) {
            QFile tif(path("two.tif"));
            QVERIFY(tif.open(QIODevice::ReadOnly));
            QFile cutTif(path("cut.tif"));
            QVERIFY(cutTif.open(QIODevice::WriteOnly));
            cutTif.write(tif.readAll().chopped(tif.size() / 4));  // into the second page
            tiffs_ = true;
        }
    }

    void pages_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("records");
        QTest::newRow("pdf, a symbol a page")
            << QStringList{"two.pdf"} << 0 << QStringList{"1:PAGE-1", "2:PAGE-2"};
        QTest::newRow("pdf at 100 dpi")
            << QStringList{"--dpi", "100", "two.pdf"} << 0 << QStringList{"1:PAGE-1", "2:PAGE-2"};
        QTest::newRow("one page: no page member")
            << QStringList{"one.pdf", "p1.png"} << 0 << QStringList{":ALONE", ":TIFF-1"};
        QTest::newRow("a picture that holds the PDF marker")
            << QStringList{"marked.png"} << 0 << QStringList{":MARKED"};
        QTest::newRow("tiff, a symbol a page")
            << QStringList{"two.tif"} << 0 << QStringList{"1:TIFF-1", "2:TIFF-2"};
        QTest::newRow("a tiff page cut off")
            << QStringList{"cut.tif"} << 2 << QStringList{"1:TIFF-1", "2:error truncated"};
        // A0 at 300 dpi would be 139 million pixels: drawn at 208 dpi instead.
        QTest::newRow("a page too large at the resolution: drawn at the most that fits")
            << QStringList{"big2.pdf"} << 1 << QStringList{"1:PAGE-1", "2:"};
        QTest::newRow("encrypted") << QStringList{"locked.pdf"} << 2
                                   << QStringList{":error encrypted (the PDF needs a password)"};
        QTest::newRow("a pdf's jpeg") << QStringList{"jpeg.pdf"} << 0 << QStringList{":JPEG"};
        QTest::newRow("a pdf's jpeg cut short")
            << QStringList{"jpeg-cut.pdf"} << 2 << QStringList{":error truncated"};
        QTest::newRow("a page's contents missing")
            << QStringList{"no-contents.pdf"} << 2 << QStringList{":error damaged"};
        QTest::newRow("garbage in a flate stream")
            << QStringList{"bad-flate.pdf"} << 2 << QStringList{":error damaged"};
        QTest::newRow("too many pages, refused before any is drawn")
            << QStringList{"many.pdf"} << 2
            << QStringList{":error too many pages (at most 1000 are read)"};
    }
    void pages() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QStringList, records);
        if (args.last().endsWith(".tif") && !tiffs_) QSKIP("no ImageMagick to make the TIFFs");
        const Run r = run(QStringList{"--json"} + args);
        QCOMPARE(r.records, records);
        QCOMPARE(r.exitCode, exitCode);
    }

    // -1 ends at the first page with a symbol: the pages after it get no annotated copy.
    void oneshotAnnotatesPagesUpToTheFirstSymbol_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("made");
        QTest::newRow("pdf") << "two.pdf" << QStringList{"two-p1.png"};
        QTest::newRow("tiff") << "two.tif" << QStringList{"two-p1.png"};
        QTest::newRow("pdf, a large blank page after") << "big2.pdf" << QStringList{"big2-p1.png"};
    }
    void oneshotAnnotatesPagesUpToTheFirstSymbol() {
        QFETCH(QString, file);
        QFETCH(QStringList, made);
        if (file.endsWith(".tif") && !tiffs_) QSKIP("no ImageMagick to make the TIFFs");
        const QString folder = "one-" + QString(file).replace('.', '-');
        const Run r = run({"-1", "--annotate", folder, file});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(QDir(path(folder)).entryList(QDir::Files).join(' '), made.join(' '));
    }

    // A cut PDF may keep a page the reader can rebuild, never a page without its record.
    void damagedPdf() {
        const Run r = run({"--json", "cut.pdf"});
        QCOMPARE(r.exitCode, 2);
        QVERIFY(!r.records.isEmpty());
        QVERIFY2(r.records.last().contains("error damaged"), qPrintable(r.records.join('|')));
    }

    // Each page not read within the file's time gets its record, and the run ends in time.
    void fileTimeLimit() {
        QElapsedTimer clock;
        clock.start();
        const Run r = run({"--json", "--file-time-limit", "2", "nested.pdf"});
        QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(r.exitCode, 2);
        const QString late = "error not read: the file's time limit of 2 s ran out";
        QCOMPARE(r.records, (QStringList{"1:" + late, "2:" + late, "3:" + late}));
        QVERIFY(run({"--file-time-limit", "0", "two.pdf"})
                    .err.contains("--file-time-limit takes a number of seconds from 1 to 86400"));
        QVERIFY(run({"--help"}).out.contains("--file-time-limit SECONDS"));
    }

    // Every page of a TIFF is read in one pass, however many tags its directories hold.
    void tiffPagesReadInLinearTime() {
        QElapsedTimer clock;
        clock.start();
        const Run r = run({"--json", "--file-time-limit", "120", "tagged.tif"});
        QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(r.records.size(), 400);
        QCOMPARE(r.records.filter("error").size(), 0);
        QCOMPARE(r.exitCode, 1);  // blank pages: no symbol
    }

    // The child drawing a page dies with scan39, whatever ends it.
    void renderingChildDiesWithItsParent_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGKILL") << int(SIGKILL);
        QTest::newRow("SIGTERM") << int(SIGTERM);
    }
    void renderingChildDiesWithItsParent() {
        QFETCH(int, signal);
        QProcess p;
        p.setWorkingDirectory(dir_.path());
        p.start(SCAN39_CLI, {"--json", "--jobs", "1", "nested.pdf"});
        QVERIFY(p.waitForStarted());
        const auto parent = p.processId();
        const auto children = [&] {  // of any of its threads
            const QString tasks = QStringLiteral("/proc/%1/task").arg(parent);
            for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                QFile file(tasks + '/' + task + "/children");
                const QByteArray pids = file.open(QIODevice::ReadOnly) ? file.readAll() : "";
                if (!pids.trimmed().isEmpty()) return pids.trimmed().split(' ').first();
            }
            return QByteArray();
        };
        QByteArray child;
        for (int i = 0; i < 500 && child.isEmpty(); ++i) {
            QTest::qWait(20);
            child = children();
        }
        QVERIFY2(!child.isEmpty(), "no page was being drawn");
        ::kill(pid_t(parent), signal);
        QVERIFY(p.waitForFinished(10000));
        const auto alive = [&] {
            QFile stat("/proc/" + child + "/stat");
            if (!stat.open(QIODevice::ReadOnly)) return false;
            const QByteArray line = stat.readAll();
            return !line.mid(line.lastIndexOf(')') + 2).startsWith('Z');
        };
        for (int i = 0; i < 250 && alive(); ++i) QTest::qWait(20);
        const bool survived = alive();
        if (survived) ::kill(child.toInt(), SIGKILL);
        QVERIFY2(!survived, "the child outlived scan39");
    }

    void textNamesThePage() {
        const Run r = run({"two.pdf"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("two.pdf page 1: PAGE-1\ntwo.pdf page 2: PAGE-2\n"));
    }

    // The whole advertised range works on an A4 page: above 833 dpi it is drawn at 833, and
    // stderr says so; --grade's sizes follow the resolution drawn at.
    void dpiFitsThePage_data() {
        QTest::addColumn<QString>("dpi");
        QTest::addColumn<QByteArray>("note");
        QTest::newRow("1200") << "1200"
                              << QByteArray(
                                     "a4.pdf: drawn at 833 dpi, not 1200: the most "
                                     "at which the page stays within 67108864 pixels\n");
        QTest::newRow("833 fits") << "833" << QByteArray();
    }
    void dpiFitsThePage() {
        QFETCH(QString, dpi);
        QFETCH(QByteArray, note);
        const Run r = run({"--json", "--grade", "--effort", "fast", "--dpi", dpi, "a4.pdf"});
        QCOMPARE(r.records, QStringList{":A4-PAGE"});
        QCOMPARE(r.err, note);
        QCOMPARE(r.exitCode, 0);
        const QJsonObject grade = QJsonDocument::fromJson(r.out)["symbols"][0]["grade"].toObject();
        QCOMPARE(grade["dpi"].toDouble(), 833.0);
    }

    void dpiChecked_data() {
        QTest::addColumn<QString>("value");
        for (const char* v : {"35", "1201", "300dpi", "", "-1"}) QTest::newRow(v) << QString(v);
    }
    void dpiChecked() {
        QFETCH(QString, value);
        const Run r = run({"--dpi=" + value, "two.pdf"});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains("--dpi takes a number from 36 to 1200"), r.err.constData());
        QVERIFY(
            run({"--box", "0,0,9,9", "--dpi", "300", "p1.png"}).err.contains("--dpi works only"));
    }
};

QTEST_MAIN(CliDocumentTest)
#include "cli_document_test.moc"
