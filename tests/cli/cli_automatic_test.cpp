// scan39 without --box, its file names, its output failures and its memory, run as a user runs
// it: a child process with exact byte arguments, its streams redirected and its limits set.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
#include <optional>

#include "scan39/encoder.h"
#include "scan39/samples.h"

namespace {

struct Result {
    int exitCode = -1;  // -1: killed by a signal
    int signal = 0;
    QByteArray out;
    QByteArray err;
    long maxRssKb = 0;
};

enum class Stdout { kFile, kDevFull, kClosed, kBrokenPipe };

struct Launch {
    explicit Launch(QList<QByteArray> a) : args(std::move(a)) {}
    QList<QByteArray> args;
    QByteArray lang = "C.UTF-8";
    QByteArray stdinFile;  // empty: /dev/null
    Stdout stdoutTo = Stdout::kFile;
    rlim_t addressSpace = 0;  // 0: no limit
    rlim_t openFiles = 0;     // 0: as inherited
};

// A picture of `text` in Code 39, upright, with wide margins.
QImage Symbol(const char* text) {
    const auto runs = scan39::encoder::Runs(text, {3, 8, 3});
    int width = 0;
    for (const int r : runs) width += r;
    QImage image(width + 80, 120, QImage::Format_RGB32);
    image.fill(Qt::white);
    int x = 40;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        for (int dx = 0; dx < runs[i] && i % 2 == 0; ++dx)
            for (int y = 20; y < 100; ++y) image.setPixel(x + dx, y, qRgb(0, 0, 0));
        x += runs[i];
    }
    return image;
}

// The same picture with a fault that no line reads past: "cut" (the first wide bar of the
// first data character cut through by a light line 2 px wide, top to bottom), "spot" (a dark one
// in its wide space) or "quiet" (dark from 2 X left of the bars, and above and below); "stripes"
// and "bars"
// draw no symbol at all but bars: even stripes, and bars and spaces of 1 to 9 px at random.
QImage Faulty(const char* text, const QByteArray& fault) {
    QImage image = Symbol(text);
    const auto runs = scan39::encoder::Runs(text, {3, 8, 3});
    int width = 0;
    for (const int r : runs) width += r;
    const auto column = [&](int x, QRgb colour) {
        for (int y = 20; y < 100; ++y) image.setPixel(x, y, colour);
    };
    // Symbol() draws from x = 40; the first data character is 10 runs on.
    int at = 40, wideBar = -1, wideSpace = -1;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (i >= 10 && i < 19 && runs[i] == 8) {
            if (i % 2 == 0 && wideBar < 0) wideBar = at;
            if (i % 2 == 1 && wideSpace < 0) wideSpace = at;
        }
        at += runs[i];
    }
    if (fault == "cut" && wideBar >= 0)
        column(wideBar + 3, qRgb(255, 255, 255)), column(wideBar + 4, qRgb(255, 255, 255));
    if (fault == "spot" && wideSpace >= 0)
        column(wideSpace + 3, qRgb(0, 0, 0)), column(wideSpace + 4, qRgb(0, 0, 0));
    if (fault == "quiet")
        for (int x = 0; x < image.width(); ++x)
            for (int y = 0; y < image.height(); ++y)
                if (x < 40 - 6 || y < 14 || y >= 106) image.setPixel(x, y, qRgb(0, 0, 0));
    if (fault == "stripes" || fault == "bars") {
        image.fill(Qt::white);
        std::uint32_t seed = 39;
        bool dark = true;
        for (int x = 20; x < image.width() - 20;) {
            seed = seed * 1664525u + 1013904223u;
            const int w = fault == "stripes" ? 4 : 1 + static_cast<int>(seed >> 28) % 9;
            for (int dx = 0; dx < w && x + dx < image.width() - 20; ++dx)
                if (dark) column(x + dx, qRgb(0, 0, 0));
            x += w;
            dark = !dark;
        }
    }
    return image;
}

QList<QJsonObject> JsonLines(const QByteArray& out) {
    QList<QJsonObject> objects;
    for (const QByteArray& line : out.split('\n')) {
        if (line.isEmpty()) continue;
        const auto doc = QJsonDocument::fromJson(line);
        if (!doc.isObject()) return {};
        objects.append(doc.object());
    }
    return objects;
}

}  // namespace

class CliAutomaticTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir dir_;
    bool readerReads_ = false;  // the reader finds the test symbol (not while it is a stub)
    int oneshotRuns_ = 0;       // each run its own --annotate folder

    QByteArray path(const QByteArray& name) const {
        return QFile::encodeName(dir_.path()) + '/' + name;
    }

    Result run(const Launch& l) {
        const QByteArray outFile = path("stdout.txt"), errFile = path("stderr.txt");
        int pipeEnds[2] = {-1, -1};
        if (l.stdoutTo == Stdout::kBrokenPipe) {
            if (pipe(pipeEnds) != 0) return {};
            close(pipeEnds[0]);  // no reader, ever
        }
        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir(QFile::encodeName(dir_.path()).constData()) != 0) _exit(120);
            const int in =
                open(l.stdinFile.isEmpty() ? "/dev/null" : l.stdinFile.constData(), O_RDONLY);
            dup2(in, 0);
            dup2(open(errFile.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
            int out = -1;
            switch (l.stdoutTo) {
                case Stdout::kFile:
                    out = open(outFile.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                    break;
                case Stdout::kDevFull:
                    out = open("/dev/full", O_WRONLY);
                    break;
                case Stdout::kClosed:
                    break;
                case Stdout::kBrokenPipe:
                    out = pipeEnds[1];
                    break;
            }
            if (out >= 0)
                dup2(out, 1);
            else
                close(1);
            if (l.addressSpace != 0) {
                const rlimit limit{l.addressSpace, l.addressSpace};
                setrlimit(RLIMIT_AS, &limit);
            }
            if (l.openFiles != 0) {
                const rlimit limit{l.openFiles, l.openFiles};
                setrlimit(RLIMIT_NOFILE, &limit);
            }
            std::vector<char*> argv{const_cast<char*>(SCAN39_CLI)};
            for (const QByteArray& a : l.args) argv.push_back(const_cast<char*>(a.constData()));
            argv.push_back(nullptr);
            const QByteArray lang = "LANG=" + l.lang;
            char* envp[] = {const_cast<char*>(lang.constData()), nullptr};
            execve(SCAN39_CLI, argv.data(), envp);
            _exit(127);
        }
        if (pipeEnds[1] >= 0) close(pipeEnds[1]);
        int status = 0;
        rusage usage{};
        if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return {};
        Result r;
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        r.maxRssKb = usage.ru_maxrss;
        QFile o(QFile::decodeName(outFile)), e(QFile::decodeName(errFile));
        if (l.stdoutTo == Stdout::kFile && o.open(QIODevice::ReadOnly)) r.out = o.readAll();
        if (e.open(QIODevice::ReadOnly)) r.err = e.readAll();
        return r;
    }
    Result run(const QList<QByteArray>& args) { return run(Launch(args)); }

    void write(const QByteArray& name, const QByteArray& bytes) {
        const int fd = open(path(name).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
        close(fd);
    }

  private slots:
    // QTemporaryDir cannot name it.
    void cleanupTestCase() { unlink(path("bad\xff\xfe.png").constData()); }

    void initTestCase() {
        QVERIFY(dir_.isValid());
        QVERIFY(Symbol("SCAN39").save(QFile::decodeName(path("sym.png")), "PNG"));
        QVERIFY(Symbol("-01234562").save(QFile::decodeName(path("pzn.png")), "PNG"));
        // "%" is the mod 43 check of SCAN39, "J" that of "A+B" (full ASCII "Ab").
        QVERIFY(Symbol("SCAN39%").save(QFile::decodeName(path("chk.png")), "PNG"));
        QVERIFY(Symbol("A+BJ").save(QFile::decodeName(path("asc.png")), "PNG"));
        QVERIFY(Symbol("TIFF").save(QFile::decodeName(path("sym.tif")), "TIFF"));
        QVERIFY(Symbol("WEBP").save(QFile::decodeName(path("sym.webp")), "WEBP", 100));
        {  // light bars on a dark ground, cropped to the bars' ends
            QImage reversed = Symbol("REV").copy(36, 20, Symbol("REV").width() - 72, 80);
            reversed.invertPixels();
            QVERIFY(reversed.save(QFile::decodeName(path("rev.png")), "PNG"));
        }
        QImage blank(200, 100, QImage::Format_RGB32);
        blank.fill(Qt::white);
        QVERIFY(blank.save(QFile::decodeName(path("blank.png")), "PNG"));
        write("text.png", "not a picture\n");
        const QByteArray good(
            reinterpret_cast<const char*>(scan39::samples::ControlDefaultPicture().data()),
            qsizetype(scan39::samples::ControlDefaultPicture().size()));
        write("good.bmp", good);
        QFile sym(QFile::decodeName(path("sym.png")));
        QVERIFY(sym.open(QIODevice::ReadOnly));
        // Two names one trailing blank apart, and a name that is not UTF-8.
        write(
            "sp.png", blank.isNull() ? QByteArray() : [&] {
                QFile b(QFile::decodeName(path("blank.png")));
                return b.open(QIODevice::ReadOnly) ? b.readAll() : QByteArray();
            }());
        const QByteArray symBytes = sym.readAll();
        write("sp.png ", symBytes);
        write("bad\xff\xfe.png", symBytes);
        write("good.bmp ", {});
        for (const char* name : {"sym.tif", "sym.webp"}) {
            QFile f(QFile::decodeName(path(name)));
            QVERIFY(f.open(QIODevice::ReadOnly));
            write(QByteArray("cut.") + QFileInfo(f).suffix().toLatin1(),
                  f.readAll().chopped(f.size() / 2));
        }
        {  // a JPEG whose header says 8000 × 8000 over the data of 64 × 64 pixels
            QByteArray jpeg;
            QBuffer buffer(&jpeg);
            QVERIFY(buffer.open(QIODevice::WriteOnly) &&
                    Symbol("A").scaled(64, 64).save(&buffer, "JPEG"));
            const qsizetype sof = jpeg.indexOf("\xFF\xC0");
            QVERIFY(sof > 0);
            jpeg.replace(sof + 5, 4, QByteArray("\x1F\x40\x1F\x40", 4));
            write("short.jpg", jpeg);
        }
        QByteArray huge = good;  // a BMP header of 100000 × 100000 pixels
        huge.replace(18, 8, QByteArray("\xA0\x86\x01\x00\xA0\x86\x01\x00", 8));
        write("huge.bmp", huge);
        readerReads_ = run({"sym.png"}).out == "SCAN39\n";
    }

    // Exit status and where each kind of result goes, text and JSON.
    void statuses_data() {
        QTest::addColumn<QList<QByteArray>>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("err");    // contained
        QTest::addColumn<QStringList>("json");  // the members of each line, in order
        QTest::addColumn<bool>("needsReader");
        const QStringList symbol{"file", "symbols"};
        QTest::newRow("symbol") << QList<QByteArray>{"sym.png"} << 0 << QByteArray() << symbol
                                << true;
        QTest::newRow("tiff and webp") << QList<QByteArray>{"sym.tif", "sym.webp"} << 0
                                       << QByteArray() << (symbol + symbol) << true;
        QTest::newRow("none") << QList<QByteArray>{"blank.png"} << 1
                              << QByteArray("no Code 39 symbol found (searched 200×100 pixels")
                              << QStringList{"file", "symbols"} << false;
        QTest::newRow("not a picture")
            << QList<QByteArray>{"text.png"} << 2 << QByteArray("text.png: not a BMP, JPEG")
            << QStringList{"file", "error"} << false;
        QTest::newRow("missing beats none")
            << QList<QByteArray>{"blank.png", "missing.png"} << 2
            << QByteArray("missing.png: file not found")
            << QStringList{"file", "symbols", "file", "error"} << false;
        QTest::newRow("the name exactly as given")
            << QList<QByteArray>{"good.bmp "} << 2 << QByteArray("good.bmp : empty")
            << QStringList{"file", "error"} << false;
        QTest::newRow("truncated tiff and webp")
            << QList<QByteArray>{"cut.tif", "cut.webp"} << 2 << QByteArray("cut.webp: truncated")
            << QStringList{"file", "error", "file", "error"} << false;
        QTest::newRow("data end early")
            << QList<QByteArray>{"short.jpg"} << 2 << QByteArray("short.jpg: truncated")
            << QStringList{"file", "error"} << false;
        QTest::newRow("a device") << QList<QByteArray>{"/dev/null"} << 2
                                  << QByteArray("/dev/null: not an ordinary file")
                                  << QStringList{"file", "error"} << false;
        QTest::newRow("too large") << QList<QByteArray>{"huge.bmp"} << 2
                                   << QByteArray("huge.bmp: too large (at most 67108864 pixels")
                                   << QStringList{"file", "error"} << false;
    }
    void statuses() {
        QFETCH(QList<QByteArray>, args);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, err);
        QFETCH(QStringList, json);
        QFETCH(bool, needsReader);
        if (needsReader && !readerReads_) QSKIP("the reader does not read the test symbol yet");
        const Result text = run(args);
        QCOMPARE(text.exitCode, exitCode);
        QVERIFY2(text.err.contains(err), text.err.constData());
        const Result js = run(QList<QByteArray>{"--json"} + args);
        QCOMPARE(js.exitCode, exitCode);
        QCOMPARE(js.err, QByteArray());
        QStringList members;
        for (const QJsonObject& o : JsonLines(js.out)) {
            const QStringList keys = o.keys();
            for (const char* k : {"file", "symbols", "error"})
                if (keys.contains(k)) members << k;
        }
        QCOMPARE(members, json);
    }

    void symbolObject() {
        if (!readerReads_) QSKIP("the reader does not read the test symbol yet");
        const auto lines = JsonLines(run({"--json", "sym.png"}).out);
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines[0]["symbols"].toArray().size(), 1);
        const QJsonObject symbol = lines[0]["symbols"][0].toObject();
        QCOMPARE(symbol.keys(), (QStringList{"aim", "angle", "lines", "position", "text"}));
        QCOMPARE(symbol["text"].toString(), QStringLiteral("SCAN39"));
        const QJsonArray corners = symbol["position"].toArray();
        QCOMPARE(corners.size(), 4);
        for (const auto& c : corners) {
            const QJsonArray xy = c.toArray();
            QCOMPARE(xy.size(), 2);
            QVERIFY(xy[0].toDouble() >= 30 && xy[0].toDouble() <= Symbol("SCAN39").width() - 30);
            QVERIFY(xy[1].toDouble() >= 10 && xy[1].toDouble() <= 110);
        }
        QVERIFY(symbol["lines"].toInt() >= 1);
    }

    // Each polarity reads its own bars and only those; "both" reads either.
    void polarity_data() {
        QTest::addColumn<QByteArray>("polarity");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("both") << QByteArray("both") << QByteArray("sym.png: SCAN39\nrev.png: REV\n")
                              << 0;
        QTest::newRow("dark") << QByteArray("dark") << QByteArray("sym.png: SCAN39\n") << 1;
        QTest::newRow("light") << QByteArray("light") << QByteArray("rev.png: REV\n") << 1;
    }
    void polarity() {
        QFETCH(QByteArray, polarity);
        QFETCH(QByteArray, out);
        QFETCH(int, exitCode);
        if (!readerReads_) QSKIP("the reader does not read the test symbol yet");
        const Result r = run({"--polarity", polarity, "sym.png", "rev.png"});
        QCOMPARE(r.out, out);
        QCOMPARE(r.exitCode, exitCode);
    }

    // The AIM symbology identifier says how the text was read, as a scanner would prefix it.
    void aimIdentifier_data() {
        QTest::addColumn<QList<QByteArray>>("args");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("aim");
        QTest::newRow("plain") << QList<QByteArray>{"sym.png"} << "SCAN39" << "]A0";
        QTest::newRow("full ASCII asked, no pairs")
            << QList<QByteArray>{"--full-ascii", "sym.png"} << "SCAN39" << "]A0";
        QTest::newRow("check stripped")
            << QList<QByteArray>{"--check-digit", "chk.png"} << "SCAN39" << "]A3";
        QTest::newRow("full ASCII") << QList<QByteArray>{"--full-ascii", "asc.png"} << "AbJ"
                                    << "]A4";
        QTest::newRow("both") << QList<QByteArray>{"--check-digit", "--full-ascii", "asc.png"}
                              << "Ab" << "]A7";
    }
    void aimIdentifier() {
        QFETCH(QList<QByteArray>, args);
        QFETCH(QString, text);
        QFETCH(QString, aim);
        if (!readerReads_) QSKIP("the reader does not read the test symbol yet");
        const auto lines = JsonLines(run(QList<QByteArray>{"--json"} + args).out);
        QCOMPARE(lines.size(), 1);
        const QJsonObject symbol = lines[0]["symbols"][0].toObject();
        QCOMPARE(symbol["text"].toString(), text);
        QCOMPARE(symbol["aim"].toString(), aim);
    }

    // zbarimg's habits without a box: -q, --raw, -1.
    void habits_data() {
        QTest::addColumn<QList<QByteArray>>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("out");  // exact
        QTest::addColumn<QByteArray>("err");  // exact
        QTest::newRow("quiet: a picture without a symbol")
            << QList<QByteArray>{"-q", "blank.png", "sym.png"} << 1
            << QByteArray("sym.png: SCAN39\n") << QByteArray();
        QTest::newRow("quiet: an empty folder") << QList<QByteArray>{"-q", "nothing"} << 1
                                                << QByteArray() << QByteArray();
        QTest::newRow("quiet keeps errors")
            << QList<QByteArray>{"-q", "missing.png"} << 2 << QByteArray()
            << QByteArray("missing.png: file not found\n");
        QTest::newRow("raw: no names, no quoting")
            << QList<QByteArray>{"--raw", "sym.png", "asc.png", "--full-ascii"} << 0
            << QByteArray("SCAN39\nAbJ\n") << QByteArray();
        QTest::newRow("raw: no grades")
            << QList<QByteArray>{"--raw", "--grade", "sym.png"} << 0 << QByteArray("SCAN39\n")
            << QByteArray();
        QTest::newRow("oneshot: the first found ends the run")
            << QList<QByteArray>{"-1", "-q", "blank.png", "sym.png", "missing.png"} << 0
            << QByteArray("sym.png: SCAN39\n") << QByteArray();
        QTest::newRow("oneshot: none found")
            << QList<QByteArray>{"-1", "-q", "blank.png"} << 1 << QByteArray() << QByteArray();
        QTest::newRow("oneshot in JSON: one record of one symbol")
            << QList<QByteArray>{"-1", "--json", "--jobs", "2", "sym.png", "rev.png"} << 0
            << QByteArray("{\"file\":\"sym.png\",\"symbols\":[{\"text\":\"SCAN39\"")
            << QByteArray();
    }
    void habits() {
        QFETCH(QList<QByteArray>, args);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        if (!readerReads_) QSKIP("the reader does not read the test symbol yet");
        QDir(dir_.path()).mkpath("nothing");
        const Result r = run(args);
        QCOMPARE(r.exitCode, exitCode);
        QCOMPARE(r.err, err);
        if (args.contains("--json")) {
            QVERIFY2(r.out.startsWith(out), r.out.constData());
            QCOMPARE(r.out.count('\n'), 1);
        } else {
            QCOMPARE(r.out, out);
        }
    }

    // --grade adds the grade object; a text of a known scheme always gets its meaning.
    void gradeAndInterpretation() {
        if (!readerReads_) QSKIP("the reader does not read the test symbol yet");
        const auto lines =
            JsonLines(run({"--json", "--grade", "--dpi", "300", "sym.png", "pzn.png"}).out);
        QCOMPARE(lines.size(), 2);
        const QJsonObject grade = lines[0]["symbols"][0]["grade"].toObject();
        QCOMPARE(grade["overall"].toString(), QStringLiteral("A"));
        QCOMPARE(grade["scans"].toInt(), 10);
        QCOMPARE(grade["parameters"].toObject().keys().size(), 8);
        QCOMPARE(grade["x_dimension_px"].toDouble(), 3.0);
        QVERIFY(grade["code39_rules"].isObject());
        QVERIFY(!lines[0]["symbols"][0].toObject().contains("interpretation"));
        QCOMPARE(lines[1]["symbols"][0]["interpretation"]["value"].toString(),
                 QStringLiteral("01234562"));
        QCOMPARE(run({"--grade", "sym.png"}).out, QByteArray("SCAN39\tgrade A 4.0\n"));
        QVERIFY(!JsonLines(run({"--json", "pzn.png"}).out)
                     .value(0)["symbols"][0]
                     .toObject()
                     .contains("grade"));
    }

    // The text names what keeps a grade from A; the grade shown is the interpolated one unless
    // --grade-bands integer. X is 3 px: a left quiet zone of 30 px is 10 X, of 27 px 9 X.
    void gradeText_data() {
        QTest::addColumn<int>("crop");
        QTest::addColumn<QByteArray>("bands");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("10 X") << 10 << QByteArray() << QByteArray("SCAN39\tgrade A 4.0\n");
        QTest::newRow("9 X") << 13 << QByteArray()
                             << QByteArray("SCAN39\tgrade F 0.0 (quiet zones 9.0 X < 10 X F)\n");
        // 2 X: the reader still reads it, no profile decodes: decode and the quiet zone fail
        // (X then comes from the symbol's length at a ratio of 2.5, 3.1 px here).
        QTest::newRow("2 X") << 34 << QByteArray()
                             << QByteArray(
                                    "SCAN39\tgrade F 0.0 (decode 0 of 10 profiles F; quiet "
                                    "zones 1.9 X < 10 X F)\n");
        QTest::newRow("9 X integer")
            << 13 << QByteArray("integer")
            << QByteArray("SCAN39\tgrade F 0.0 (quiet zones 9.0 X < 10 X F)\n");
    }
    void gradeText() {
        QFETCH(int, crop);
        QFETCH(QByteArray, bands);
        QFETCH(QByteArray, out);
        if (!readerReads_) QSKIP("the reader does not read the test symbol yet");
        const QImage full = Symbol("SCAN39");
        QVERIFY(full.copy(crop, 0, full.width() - crop, full.height())
                    .save(QFile::decodeName(path("cropped.png")), "PNG"));
        QList<QByteArray> args{"--grade", "cropped.png"};
        if (!bands.isEmpty()) args << "--grade-bands" << bands;
        QCOMPARE(run(args).out, out);
        const QJsonObject grade = JsonLines(run({"--json", "--grade", "cropped.png"}).out)
                                      .value(0)["symbols"][0]["grade"]
                                      .toObject();
        QCOMPARE(grade["profiles"].toArray().size(), 10);
        QCOMPARE(grade["fractional"]["overall"].toString(),
                 QString(QChar(out[out.indexOf(' ') + 1])));
        QCOMPARE(grade["rules"]["quiet_zones"]["ok"].toBool(), crop == 10);
        // X and the ratio are measured or null, never 0.
        QVERIFY(grade["x_dimension_px"].isNull() || grade["x_dimension_px"].toDouble() > 0);
        QCOMPARE(grade["x_dimension_px"].isNull(), crop == 34);
    }

    // With --grade, a symbol located but not read is graded F and named with the parameter that
    // failed: on standard error in text, under "unread" in JSON, never as a text; the picture
    // gave no text, so the status is 1. Without --grade nothing changes. Bars that are no
    // symbol give none.
    void unreadGraded_data() {
        QTest::addColumn<QByteArray>("fault");
        QTest::addColumn<QByteArray>("failing");  // empty: no unread symbol
        QTest::newRow("bar cut through") << QByteArray("cut") << QByteArray("decode");
        QTest::newRow("spot above the threshold") << QByteArray("spot") << QByteArray("decode");
        QTest::newRow("left quiet zone of 2 X") << QByteArray("quiet") << QByteArray("quiet_zones");
        QTest::newRow("stripes") << QByteArray("stripes") << QByteArray();
        QTest::newRow("random bars") << QByteArray("bars") << QByteArray();
    }
    void unreadGraded() {
        QFETCH(QByteArray, fault);
        QFETCH(QByteArray, failing);
        if (!readerReads_) QSKIP("the reader does not read the test symbol yet");
        const QImage picture = Faulty("SCAN39", fault);
        QVERIFY(picture.save(QFile::decodeName(path("faulty.png")), "PNG"));
        const QByteArray nothing = "no Code 39 symbol found (searched " +
                                   QByteArray::number(picture.width()) +
                                   "×120 pixels at every position and angle, thorough effort; "
                                   "check character off, full ASCII off)\n";
        // A plain read as ever: no text, nothing said of the located symbol.
        const Result plain = run({"faulty.png"});
        QCOMPARE(plain.exitCode, 1);
        QCOMPARE(plain.out, QByteArray());
        QCOMPARE(plain.err, nothing);
        const QByteArray plainJson = run({"--json", "faulty.png"}).out;
        QCOMPARE(plainJson, QByteArray("{\"file\":\"faulty.png\",\"symbols\":[]}\n"));

        const Result text = run({"--grade", "faulty.png"});
        QCOMPARE(text.exitCode, 1);
        QCOMPARE(text.out, QByteArray());
        const Result json = run({"--json", "--grade", "faulty.png"});
        QCOMPARE(json.exitCode, 1);
        const QJsonObject record = JsonLines(json.out).value(0);
        QVERIFY(record["symbols"].toArray().isEmpty());
        if (failing.isEmpty()) {
            QCOMPARE(text.err, nothing);
            QCOMPARE(json.out, plainJson);
            return;
        }
        const QString name = QString::fromLatin1(failing).replace(u'_', u' ');
        QVERIFY2(text.err.startsWith("unread symbol at "), text.err.constData());
        QVERIFY2(text.err.contains(" (" + name.toUtf8() + " failed): grade F 0.0 ("),
                 text.err.constData());
        QCOMPARE(text.err.count('\n'), 1);
        const QJsonArray unread = record["unread"].toArray();
        QCOMPARE(unread.size(), 1);
        const QJsonObject u = unread[0].toObject();
        QVERIFY(u["text"].isNull());
        QCOMPARE(u["unread"].toBool(), true);
        QCOMPARE(u["failing"].toString(), QString::fromLatin1(failing));
        QCOMPARE(u["characters"].toInt(), 6);
        QCOMPARE(u["position"].toArray().size(), 4);
        QCOMPARE(u["grade"]["overall"].toString(), QStringLiteral("F"));
        QCOMPARE(u["grade"]["decoded"].toInt(), 0);
        QCOMPARE(u["grade"]["parameters"][failing]["grade"].toString(), QStringLiteral("F"));
    }

    // Twelve pictures on four threads come out in the order given.
    void jobsKeepOrder() {
        QList<QByteArray> args{"--json", "--jobs", "4"};
        QStringList files;
        for (int i = 0; i < 12; ++i) {
            const QByteArray name = QList<QByteArray>{"sym.png", "blank.png", "missing.png"}[i % 3];
            args << name;
            files << QString::fromLatin1(name);
        }
        const Result r = run(args);
        QCOMPARE(r.exitCode, 2);
        QStringList got;
        for (const QJsonObject& o : JsonLines(r.out)) got << o["file"].toString();
        if (!readerReads_) QCOMPARE(got, files);
        got.removeDuplicates();
        QCOMPARE(got, (QStringList{"sym.png", "blank.png", "missing.png"}));
    }

    void standardInput() {
        if (!readerReads_) QSKIP("the reader does not read the test symbol yet");
        Launch l{{"-"}};
        l.stdinFile = path("sym.png");
        const Result r = run(l);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("SCAN39\n"));
    }

    void annotateWritesPictures() {
        const Result r = run({"--annotate", "marked", "sym.png", "blank.png", "./blank.png"});
        QCOMPARE(r.exitCode, 1);
        for (const char* name : {"marked/sym.png", "marked/blank.png", "marked/blank-2.png"}) {
            QImage image(QFile::decodeName(path(name)));
            QVERIFY2(!image.isNull(), name);
        }
        QCOMPARE(QImage(QFile::decodeName(path("marked/sym.png"))).size(), Symbol("SCAN39").size());
        if (readerReads_)
            QVERIFY(QImage(QFile::decodeName(path("marked/sym.png"))) != Symbol("SCAN39"));
    }

    // -1 ends the run at the first symbol: a copy for each picture up to it, none for those
    // read ahead of it (whose results are never printed).
    void oneshotAnnotatesOnlyWhatItPrints_data() {
        QTest::addColumn<QList<QByteArray>>("args");
        QTest::addColumn<QList<QByteArray>>("made");
        QTest::addColumn<QList<QByteArray>>("notMade");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("pictures read ahead")
            << QList<QByteArray>{"--jobs", "2", "blank.png", "sym.png", "rev.png", "chk.png",
                                 "asc.png", "pzn.png"}
            << QList<QByteArray>{"blank.png", "sym.png"}
            << QList<QByteArray>{"rev.png", "chk.png", "asc.png", "pzn.png"} << 0;
        QTest::newRow("one job") << QList<QByteArray>{"--jobs", "1", "sym.png", "rev.png"}
                                 << QList<QByteArray>{"sym.png"} << QList<QByteArray>{"rev.png"}
                                 << 0;
        QTest::newRow("errors before the symbol")
            << QList<QByteArray>{"--jobs", "2", "text.png", "missing.png", "sym.png", "asc.png"}
            << QList<QByteArray>{"sym.png"}
            << QList<QByteArray>{"text.png", "missing.png", "asc.png"} << 0;
        QTest::newRow("none found: every picture its copy")
            << QList<QByteArray>{"--jobs", "2", "blank.png", "sp.png"}
            << QList<QByteArray>{"blank.png", "sp.png"} << QList<QByteArray>{} << 1;
    }
    void oneshotAnnotatesOnlyWhatItPrints() {
        QFETCH(QList<QByteArray>, args);
        QFETCH(QList<QByteArray>, made);
        QFETCH(QList<QByteArray>, notMade);
        QFETCH(int, exitCode);
        if (!readerReads_) QSKIP("the reader does not read the test symbol yet");
        const QByteArray folder = "one-" + QByteArray::number(++oneshotRuns_);
        const Result r = run(QList<QByteArray>{"-1", "-q", "--annotate", folder} + args);
        QCOMPARE(r.exitCode, exitCode);
        for (const QByteArray& name : made)
            QVERIFY2(QFile::exists(QFile::decodeName(path(folder + '/' + name))), name);
        for (const QByteArray& name : notMade)
            QVERIFY2(!QFile::exists(QFile::decodeName(path(folder + '/' + name))), name);
        QCOMPARE(QDir(QFile::decodeName(path(folder))).entryList(QDir::Files).size(),
                 made.size());
    }

    // Copies are new files in the folder: an input, an existing file or a link's target is
    // never written over; a name that is taken gets a suffix; a JPEG stays a JPEG.
    void annotateNeverOverwrites() {
        QVERIFY(QDir(dir_.path()).mkpath("w/s"));
        QVERIFY(Symbol("A").save(QFile::decodeName(path("w/x.jpg")), "JPEG"));
        QVERIFY(
            QFile::copy(QFile::decodeName(path("blank.png")), QFile::decodeName(path("w/x.png"))));
        write("w/victim.txt", "victim\n");
        QVERIFY(symlink("../victim.txt", path("w/s/blank.png").constData()) == 0);
        const auto bytesOf = [&](const char* name) {
            QFile f(QFile::decodeName(path(name)));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        const QByteArray png = bytesOf("w/x.png");
        run({"--jobs", "1", "--annotate", "w", "w/x.jpg", "w/x.png", "w/gone.png", "w/gone.jpg"});
        run({"--annotate", "w/s", "blank.png"});
        QCOMPARE(bytesOf("w/x.png"), png);
        QCOMPARE(bytesOf("w/victim.txt"), QByteArray("victim\n"));
        QCOMPARE(QImageReader(QFile::decodeName(path("w/x-2.jpg"))).format(), QByteArray("jpeg"));
        QCOMPARE(QImage(QFile::decodeName(path("w/x-2.png"))).size(), QSize(200, 100));
        QVERIFY(!QFile::exists(QFile::decodeName(path("w/gone.png"))));  // a missing input's name
        QCOMPARE(QImage(QFile::decodeName(path("w/s/blank-2.png"))).size(), QSize(200, 100));
    }

    // Nothing said on standard error is lost while other threads decode PNGs.
    void everyMessageArrives() {
        QList<QByteArray> args{"--jobs", "2"};
        for (int i = 0; i < 100; ++i) args << "blank.png";
        const Result r = run(args);
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err.count('\n'), 100);
    }

    // A name or a decoded text can hold a line feed or an escape sequence: in text output it
    // stays on its own line, quoted, and never reaches the terminal raw.
    void noForgedLines_data() {
        QTest::addColumn<QList<QByteArray>>("args");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");  // contained
        QTest::newRow("a name that forges a result line")
            << QList<QByteArray>{"x.png: TOTALLY-FAKE\nreal", "sym.png"}
            << QByteArray("$'x.png: TOTALLY-FAKE\\nreal': SCAN39\nsym.png: SCAN39\n")
            << QByteArray();
        QTest::newRow("full ASCII text with a line feed and ESC")
            << QList<QByteArray>{"--full-ascii", "ctl.png"} << QByteArray("$'A\\nB\\x1b'\n")
            << QByteArray();
        QTest::newRow("an error line naming a file")
            << QList<QByteArray>{"no\x1b[2J.png"} << QByteArray()
            << QByteArray("$'no\\x1b[2J.png': file not found");
        QTest::newRow("with a box") << QList<QByteArray>{"--box", "1,1,9,9", "no\n.png"}
                                    << QByteArray() << QByteArray("$'no\\n.png': file not found");
    }
    void noForgedLines() {
        QFETCH(QList<QByteArray>, args);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        if (!out.isEmpty() && !readerReads_) QSKIP("the reader does not read the test symbol yet");
        QVERIFY(Symbol("SCAN39").save(QFile::decodeName(path("x.png: TOTALLY-FAKE\nreal")), "PNG"));
        QVERIFY(Symbol("A$JB%A").save(QFile::decodeName(path("ctl.png")), "PNG"));
        const Result r = run(args);
        QCOMPARE(r.out, out);
        QVERIFY2(r.err.contains(err), r.err.constData());
        QCOMPARE(r.err.count('\n'), err.isEmpty() ? 0 : 1);
    }

    // A tree deeper than the descriptors a process may hold is walked to its last picture.
    void deepTree() {
        if (!readerReads_) QSKIP("the reader does not read the test symbol yet");
        QByteArray deep = "deep";
        for (int i = 0; i < 200; ++i) deep += "/d";
        QVERIFY(QDir().mkpath(QFile::decodeName(path(deep))));
        QVERIFY(QFile::copy(QFile::decodeName(path("sym.png")),
                            QFile::decodeName(path(deep + "/sym.png"))));
        Launch l{{"--jobs", "1", "deep"}};
        l.openFiles = 100;
        const Result r = run(l);
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(r.out, deep + "/sym.png: SCAN39\n");
        QCOMPARE(r.exitCode, 0);
    }

    // A list is read as the run goes: a long one needs no more memory than a short one, its
    // names come back in order, and an endless line is refused, not gathered.
    void longList() {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("AddressSanitizer keeps freed memory in quarantine");
#endif
        QByteArray names;
        for (int i = 0; i < 150000; ++i) names += "missing-" + QByteArray::number(i) + ".png\n";
        write("long.list", names);
        write("short.list", names.left(names.indexOf("missing-10.png")));
        const Result small = run({"--json", "--jobs", "2", "--files-from", "short.list"});
        const Result big = run({"--json", "--jobs", "2", "--files-from", "long.list"});
        QCOMPARE(big.exitCode, 2);
        QCOMPARE(big.err, QByteArray());
        const QList<QByteArray> lines = big.out.split('\n');
        QCOMPARE(lines.size(), 150001);
        QCOMPARE(lines[149999],
                 QByteArray(R"({"file":"missing-149999.png","error":"file not found"})"));
        // Each name held at once would cost about 22 MB here.
        QVERIFY2(big.maxRssKb < small.maxRssKb + 8 * 1024,
                 qPrintable(QStringLiteral("%1 KB for 10 names, %2 KB for 150000")
                                .arg(small.maxRssKb)
                                .arg(big.maxRssKb)));
        const Result zero = run({"--files-from", "/dev/zero", "sym.png"});
        QCOMPARE(zero.exitCode, 2);
        QVERIFY2(zero.err.contains("cannot read the list /dev/zero (File name too long)"),
                 zero.err.constData());
    }

    // Non-UTF-8 names reach the file and come back byte for byte; JSON stays valid and carries
    // the exact bytes.
    void namesAsBytes() {
        const QByteArray name = "bad\xff\xfe.png";
        const Result text = run({"--box", "1,1,9,9", name, "sp.png"});
        QVERIFY2(text.err.startsWith(name + ": "), text.err.constData());
        const Result js = run({"--json", name});
        const auto lines = JsonLines(js.out);
        QCOMPARE(lines.size(), 1);
        QVERIFY(!lines[0].contains("error"));
        QCOMPARE(QByteArray::fromBase64(lines[0]["file_bytes"].toString().toLatin1()), name);
    }

    // "sp.png " holds a symbol, "sp.png" none: the blank counts.
    void trailingBlankKept() {
        if (!readerReads_) QSKIP("the reader does not read the test symbol yet");
        QCOMPARE(run({"sp.png "}).out, QByteArray("SCAN39\n"));
    }

    void lostOutput_data() {
        QTest::addColumn<QList<QByteArray>>("args");
        QTest::addColumn<int>("to");
        for (const auto& [name, to] : {std::pair{"full disk", Stdout::kDevFull},
                                       {"closed", Stdout::kClosed},
                                       {"broken pipe", Stdout::kBrokenPipe}}) {
            QTest::addRow("help, %s", name) << QList<QByteArray>{"--help"} << int(to);
            QTest::addRow("sample, %s", name) << QList<QByteArray>{"--sample"} << int(to);
            QTest::addRow("box, %s", name)
                << QList<QByteArray>{"--box", "2,20,246,40", "good.bmp"} << int(to);
            QTest::addRow("json, %s", name) << QList<QByteArray>{"--json", "blank.png"} << int(to);
        }
    }
    void lostOutput() {
        QFETCH(QList<QByteArray>, args);
        QFETCH(int, to);
        Launch l{args};
        l.stdoutTo = Stdout(to);
        const Result r = run(l);
        if (l.stdoutTo == Stdout::kBrokenPipe) {
            // The reader went away: ended by SIGPIPE like any filter, without a word.
            QCOMPARE(r.signal, SIGPIPE);
            QCOMPARE(r.err, QByteArray());
            return;
        }
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains("scan39: cannot write the results: "), r.err.constData());
    }

    // Under an address-space limit the big picture is an error record and the batch goes on.
    void outOfMemory() {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("AddressSanitizer reserves more address space than the limit allows");
#endif
        QFile big(QFile::decodeName(path("big.bmp")));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QByteArray header;
        QDataStream h(&header, QIODevice::WriteOnly);
        h.setByteOrder(QDataStream::LittleEndian);
        const quint32 side = 6464, data = side * 3 * side;
        h.writeRawData("BM", 2);
        h << quint32(54 + data) << quint32(0) << quint32(54) << quint32(40) << side << side
          << quint16(1) << quint16(24) << quint32(0) << data << quint32(3780) << quint32(3780)
          << quint32(0) << quint32(0);
        QCOMPARE(header.size(), 54);
        big.write(header);
        QVERIFY(big.resize(54 + qint64{data}));  // sparse: 125 MB of black
        big.close();
        for (const QList<QByteArray>& mode :
             {QList<QByteArray>{"--json", "--jobs", "2"},
              QList<QByteArray>{"--json", "--box", "2,20,246,40"}}) {
            Launch l{mode + QList<QByteArray>{"big.bmp", "good.bmp"}};
            l.addressSpace = rlim_t{150} << 20;
            const Result r = run(l);
            QCOMPARE(r.exitCode, 2);
            const auto lines = JsonLines(r.out);
            QCOMPARE(lines.size(), 2);
            QCOMPARE(lines[0]["error"].toString(), QStringLiteral("out of memory"));
            QCOMPARE(lines[1]["file"].toString(), QStringLiteral("good.bmp"));
        }
    }

    // Two big pictures in one run need no more memory than one.
    void memoryOfABatch() {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("AddressSanitizer keeps freed memory in quarantine");
#endif
        QImage big(4000, 4000, QImage::Format_RGB32);
        big.fill(Qt::white);
        QVERIFY(big.save(QFile::decodeName(path("big1.jpg")), "JPEG"));
        QVERIFY(big.save(QFile::decodeName(path("big2.jpg")), "JPEG"));
        const long pictureKb = 4000L * 4000 * 4 / 1024;
        for (const QList<QByteArray>& mode :
             {QList<QByteArray>{"--jobs", "1"}, QList<QByteArray>{"--box", "2,20,246,40"}}) {
            const Result one = run(mode + QList<QByteArray>{"big1.jpg"});
            const Result two = run(mode + QList<QByteArray>{"big1.jpg", "big2.jpg"});
            QCOMPARE(two.exitCode, 1);
            QVERIFY2(two.maxRssKb < one.maxRssKb + pictureKb / 2,
                     qPrintable(QStringLiteral("%1 KB for one, %2 KB for two")
                                    .arg(one.maxRssKb)
                                    .arg(two.maxRssKb)));
        }
    }

    // One language for every message; the control's own text stays as it is.
    void language_data() {
        QTest::addColumn<QByteArray>("lang");
        QTest::addColumn<QList<QByteArray>>("args");
        QTest::addColumn<QByteArray>("err");
        QTest::newRow("chinese error")
            << QByteArray("zh_CN.UTF-8") << QList<QByteArray>{"missing.png"}
            << QByteArray("missing.png: 文件未找到");
        // The loader's reasons in the user's language, the name said once, by the scanner.
        const struct {
            const char* name;
            const char* says;
        } reasons[] = {
            {"good.bmp ", "good.bmp : 无效图片：文件是空的，没有图片数据\n"},
            {"short.jpg", "short.jpg: 无效图片：文件不完整，JPEG 数据被截断（"},
            {"/dev/null", "/dev/null: 路径/文件访问错误：文件不是普通文件\n"},
            {"huge.bmp",
             "huge.bmp: 内存溢出：文件太大（100000 × 100000 像素，最多允许 67108864 像素）"},
        };
        for (const auto& r : reasons) {
            QTest::addRow("chinese %s", r.name)
                << QByteArray("zh_CN.UTF-8") << QList<QByteArray>{r.name} << QByteArray(r.says);
        }
        QTest::newRow("chinese none") << QByteArray("zh_CN.UTF-8") << QList<QByteArray>{"blank.png"}
                                      << QByteArray("未找到 Code 39 条码");
        QTest::newRow("chinese usage") << QByteArray("zh_CN.UTF-8") << QList<QByteArray>{"--frob"}
                                       << QByteArray("scan39: 未知选项 --frob\n详见 scan39 --help。\n");
        QTest::newRow("box text, english")
            << QByteArray("C.UTF-8") << QList<QByteArray>{"--box", "1,1,9,9", "blank.png"}
            << QByteArray("错误：非39码或扫描位置不正确\n");
        QTest::newRow("box text, chinese")
            << QByteArray("zh_CN.UTF-8") << QList<QByteArray>{"--box", "1,1,9,9", "blank.png"}
            << QByteArray("错误：非39码或扫描位置不正确\n");
    }
    void language() {
        QFETCH(QByteArray, lang);
        QFETCH(QList<QByteArray>, args);
        QFETCH(QByteArray, err);
        Launch l{args};
        l.lang = lang;
        const Result r = run(l);
        QVERIFY2(r.err.contains(err), r.err.constData());
    }
};

QTEST_GUILESS_MAIN(CliAutomaticTest)
#include "cli_automatic_test.moc"
