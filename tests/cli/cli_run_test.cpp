// The built scan39 binary, run as a user would run it.

#include <sys/stat.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "scan39/samples.h"

namespace {

const QString kNotDecoded = QStringLiteral("错误：非39码或扫描位置不正确");
// Press in the white margin left of the default picture's symbol, 14 pixels inside the bars'
// rows, release in the white margin right of it, 20 pixels lower.
const QString kGoodBox = QStringLiteral("2,20,246,40");

struct Result {
    int exitCode = -1;
    QString out;
    QString err;
};

// `out` exact; `err` contained, or stderr empty when `err` is.
void Expect(const Result& r, int exitCode, const QString& out, const QString& err) {
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(r.out, out);
    if (err.isEmpty()) {
        QCOMPARE(r.err, QString());
    } else {
        QVERIFY2(r.err.contains(err), qPrintable(r.err));
    }
}

QByteArray Bytes(std::span<const unsigned char> s) {
    return QByteArray(reinterpret_cast<const char*>(s.data()), static_cast<qsizetype>(s.size()));
}

// A BMP header that claims a picture of w x h pixels at 24 bits, followed by a few bytes.
QByteArray BmpHeader(qint32 w, qint32 h) {
    QByteArray b;
    QDataStream s(&b, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    const quint32 rowBytes = ((quint32(w) * 3 + 3) / 4) * 4;
    s.writeRawData("BM", 2);
    s << quint32(54 + 16) << quint32(0) << quint32(54);
    s << quint32(40) << w << h << quint16(1) << quint16(24) << quint32(0)
      << quint32(rowBytes * quint32(h)) << qint32(3780) << qint32(3780) << quint32(0) << quint32(0);
    b.append(16, '\xff');
    return b;
}

}  // namespace

class CliRunTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir dir_;

    QString path(const QString& name) const { return dir_.filePath(name); }

    void write(const QString& name, const QByteArray& bytes) {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(bytes), bytes.size());
    }

    // Runs scan39 with no display of any kind, as on a server; `locale`, when given, is LC_ALL.
    Result run(const QStringList& args, const QByteArray& input = {}, const QString& locale = {}) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(v);
        if (!locale.isEmpty()) env.insert("LC_ALL", locale);
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir_.path());
        p.start(QStringLiteral(SCAN39_CLI), args);
        p.write(input);
        p.closeWriteChannel();
        if (!p.waitForFinished(60000)) return {};
        Result r;
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        const QByteArray good = Bytes(scan39::samples::ControlDefaultPicture());
        write("good.bmp", good);
        QImage image;
        QVERIFY(image.loadFromData(good));
        QVERIFY(image.save(path("good.jpg"), "JPEG", 100));
        QImage blank(250, 86, QImage::Format_RGB32);
        blank.fill(Qt::white);
        QVERIFY(blank.save(path("blank.bmp"), "BMP"));
        write("empty.bmp", {});
        write("truncated.bmp", good.left(1000));
        QFile jpg(path("good.jpg"));
        QVERIFY(jpg.open(QIODevice::ReadOnly));
        write("truncated.jpg", jpg.readAll().left(300));
        write("truncated.gif", QByteArray("GIF89a\x10\x00\x10\x00\x80\x00\x00", 13));
        write("text.bmp", "This is not a picture.\n");
        write("doc.pdf", "%PDF-1.4\n1 0 obj << >> endobj\ntrailer << >>\n%%EOF\n");
        write("huge.bmp", BmpHeader(100000, 100000));
        write(QStringLiteral("we\"ird 名\\.bmp"), good);
        // A tree of pictures among other things, and a list of names.
        QDir(dir_.path()).mkpath("tree/sub/.hidden");
        QDir(dir_.path()).mkpath("tree/a-c");
        QDir(dir_.path()).mkpath("empty");
        write("tree/b.bmp", good);
        write("tree/a-c/c.bmp", good);
        write("tree/sub/by-content.dat", good);
        write("tree/sub/.hidden/d.bmp", good);
        write("tree/sub/notes.txt", "not a picture\n");
        write("tree/sub/parts.txt", "BMW spare parts, 4 in stock\n");  // starts like a bitmap
        QDir(dir_.path()).mkpath("shots/out");
        write("shots/s.bmp", good);
        write("shots/out/s.bmp", good);  // a copy from an earlier run
        QVERIFY(QFile::link("..", path("tree/sub/loop")));
        QVERIFY(QFile::link("../b.bmp", path("tree/sub/link.bmp")));
        QCOMPARE(::mkfifo(QFile::encodeName(path("tree/sub/pipe.bmp")).constData(), 0600), 0);
        write("list", "good.jpg\n\ntree/a-c\nblank.bmp\n");
        write("ends in a blank.bmp ", good);
        write("odd list", "we\"ird 名\\.bmp\nends in a blank.bmp ");
    }

    void exitAndOutput_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");  // exact
        QTest::addColumn<QString>("err");  // contained; empty means stderr stays empty
        QTest::newRow("good picture")
            << QStringList{"--box", kGoodBox, "good.bmp"} << 0 << "1234567\n"
            << "";
        QTest::newRow("jpeg") << QStringList{"--box", kGoodBox, "good.jpg"} << 0 << "1234567\n"
                              << "";
        QTest::newRow("box dragged upward")
            << QStringList{"--box", "2,40,246,20", "good.bmp"} << 1 << "" << kNotDecoded;
        QTest::newRow("box one pixel high")
            << QStringList{"--box", "2,20,246,21", "good.bmp"} << 1 << "" << kNotDecoded;
        QTest::newRow("blank picture")
            << QStringList{"--box", kGoodBox, "blank.bmp"} << 1 << "" << kNotDecoded;
        for (const char* bad : {"empty.bmp", "truncated.bmp", "truncated.jpg", "truncated.gif",
                                "text.bmp", "huge.bmp", "missing.bmp"}) {
            QTest::newRow(bad) << QStringList{"--box", kGoodBox, bad} << 2 << "" << bad;
        }
        QTest::newRow("several: worst is not decoded")
            << QStringList{"--box", kGoodBox, "good.bmp", "blank.bmp", "good.jpg"} << 1
            << "good.bmp: 1234567\ngood.jpg: 1234567\n"
            << "blank.bmp: " + kNotDecoded;
        QTest::newRow("several: worst is a bad picture")
            << QStringList{"--box", kGoodBox, "text.bmp", "blank.bmp", "good.bmp"} << 2
            << "good.bmp: 1234567\n"
            << "text.bmp: ";
        QTest::newRow("sample with a box")
            << QStringList{"--sample", "--box", "7,139,480,149"} << 0 << "ABCDEFG\n"
            << "";
        QTest::newRow("malformed box") << QStringList{"--box", "1,2,3", "good.bmp"} << 2 << ""
                                       << "Try 'scan39 --help'.";
        QTest::newRow("unknown option")
            << QStringList{"--frobnicate"} << 2 << ""
            << "scan39: unknown option --frobnicate\nTry 'scan39 --help'.\n";
        QTest::newRow("no arguments") << QStringList{} << 2 << ""
                                      << "Try 'scan39 --help'.";
        // zbarimg's habits: quiet, raw texts, the first symbol only.
        QTest::newRow("quiet: nothing read, nothing said")
            << QStringList{"-q", "--box", kGoodBox, "blank.bmp"} << 1 << "" << "";
        QTest::newRow("quiet still says errors")
            << QStringList{"-q", "--box", kGoodBox, "text.bmp"} << 2 << "" << "text.bmp: ";
        QTest::newRow("raw: texts without names")
            << QStringList{"--raw", "--box", kGoodBox, "good.bmp", "blank.bmp", "good.jpg"} << 1
            << "1234567\n1234567\n"
            << "blank.bmp: " + kNotDecoded;
        QTest::newRow("oneshot: stops at the first, found")
            << QStringList{"-1", "--box", kGoodBox, "blank.bmp", "good.bmp", "good.jpg"} << 0
            << "good.bmp: 1234567\n"
            << "blank.bmp: " + kNotDecoded;
        QTest::newRow("oneshot: none found")
            << QStringList{"--oneshot", "--box", kGoodBox, "blank.bmp"} << 1 << "" << kNotDecoded;
        QTest::newRow("sample, oneshot and raw")
            << QStringList{"--sample", "-1", "--raw"} << 0 << "BARCODE-SCANNER\n"
            << "";
        QTest::newRow("a PDF with a box")
            << QStringList{"--box", kGoodBox, "doc.pdf"} << 2 << ""
            << "doc.pdf: a PDF: --box reads pictures only";
    }
    void exitAndOutput() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        const Result r = run(args);
        Expect(r, exitCode, out, err);
    }

    // Folders, lists and standard input as sources of pictures.
    void inputs_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");  // exact
        QTest::addColumn<QString>("err");  // contained; empty means stderr stays empty
        QTest::newRow("folder: nested, pictures by content, sorted, no hidden, no loop")
            << QStringList{"--box", kGoodBox, "tree"} << QByteArray() << 0
            << "tree/a-c/c.bmp: 1234567\ntree/b.bmp: 1234567\ntree/sub/by-content.dat: "
               "1234567\ntree/sub/link.bmp: 1234567\n"
            << "";
        QTest::newRow("folder without --box, its --annotate folder passed over")
            << QStringList{"--annotate", "shots/out", "shots/"} << QByteArray() << 0
            << "shots/s.bmp: 1234567\n"
            << "";
        QTest::newRow("folder without pictures")
            << QStringList{"--box", kGoodBox, "empty", "good.bmp"} << QByteArray() << 1
            << "good.bmp: 1234567\n"
            << "empty: no pictures";
        QTest::newRow("list from a file, where it stands")
            << QStringList{"--box", kGoodBox, "good.bmp", "--files-from", "list"} << QByteArray()
            << 1 << "good.bmp: 1234567\ngood.jpg: 1234567\ntree/a-c/c.bmp: 1234567\n"
            << "blank.bmp: " + kNotDecoded;
        QTest::newRow("list from standard input")
            << QStringList{"--files-from", "-", "--box", kGoodBox} << QByteArray("good.jpg\n-") << 2
            << "good.jpg: 1234567\n"
            << "./-: file not found";
        QTest::newRow("list names exactly as written")
            << QStringList{"--box", kGoodBox, "--files-from", "odd list"} << QByteArray() << 0
            << QStringLiteral("we\"ird 名\\.bmp: 1234567\nends in a blank.bmp : 1234567\n") << "";
        QTest::newRow("list missing")
            << QStringList{"--files-from", "none", "good.bmp"} << QByteArray() << 2 << ""
            << "cannot read the list none";
        QTest::newRow("picture from standard input with --box")
            << QStringList{"--box", kGoodBox, "-"}
            << Bytes(scan39::samples::ControlDefaultPicture()) << 0 << "1234567\n"
            << "";
    }
    void inputs() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, input);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        const Result r = run(args, input);
        Expect(r, exitCode, out, err);
    }

    // A box that reads nothing says why in the user's language, after the control's own text,
    // and the same in --json's "reason".
    void boxFailure_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("reason");
        QTest::newRow("upward") << "2,40,246,20"
                                << "good.bmp"
                                << "C.UTF-8"
                                << "dragged upward";
        QTest::newRow("upward, Chinese") << "2,40,246,20"
                                         << "good.bmp"
                                         << "zh_CN.UTF-8"
                                         << "向上拖";
        QTest::newRow("too short") << "2,20,246,21"
                                   << "good.bmp"
                                   << "C.UTF-8"
                                   << "too short, 244 pixels across and 1 down";
        QTest::newRow("too short, Chinese") << "2,20,246,21"
                                            << "good.bmp"
                                            << "zh_CN.UTF-8"
                                            << "拖动太短：横向 244 像素，向下 1";
        QTest::newRow("nothing readable") << kGoodBox << "blank.bmp"
                                          << "C.UTF-8"
                                          << "nothing readable";
        QTest::newRow("nothing readable, Chinese") << kGoodBox << "blank.bmp"
                                                   << "zh_CN.UTF-8"
                                                   << "读不出条码";
        QTest::newRow("outside") << "300,20,400,40"
                                 << "good.bmp"
                                 << "C.UTF-8"
                                 << "outside the picture of 250×86";
    }
    void boxFailure() {
        QFETCH(QString, box);
        QFETCH(QString, picture);
        QFETCH(QString, locale);
        QFETCH(QString, reason);
        const Result plain = run({"--box", box, picture}, {}, locale);
        QCOMPARE(plain.exitCode, 1);
        QVERIFY2(plain.err.startsWith(kNotDecoded) && plain.err.contains(reason),
                 qPrintable(plain.err));
        const Result json = run({"--json", "--box", box, picture}, {}, locale);
        const QJsonObject o = QJsonDocument::fromJson(json.out.toUtf8()).object();
        QCOMPARE(o.value("result").toInt(-1), 1);
        QVERIFY(o.value("value").isNull());
        QVERIFY2(plain.err.contains(o.value("reason").toString()) &&
                     o.value("reason").toString().contains(reason),
                 qPrintable(json.out));
    }

    void help() {
        const Result r = run({"--help"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.startsWith("Usage: scan39 --box X1,Y1,X2,Y2"));
        QCOMPARE(r.err, QString());
    }

    // Every symbol of the sample picture reads back as its text, one line each, in order.
    void sample() {
        const Result r = run({"--sample"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString());
        QStringList expected;
        for (const auto& s : scan39::samples::FormSampleSymbols())
            expected << QString::fromLatin1(s.text.data(), qsizetype(s.text.size()));
        QStringList got = r.out.split('\n', Qt::SkipEmptyParts);
        QVERIFY(got.contains("band 3: ABCDEFG"));
        for (QString& line : got) line = line.section(QStringLiteral(": "), 1);
        QCOMPARE(got, expected);
    }

    void json() {
        const QString odd = QStringLiteral("we\"ird 名\\.bmp");
        const Result r =
            run({"--json", "--box", kGoodBox, "good.bmp", "blank.bmp", "text.bmp", odd});
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.err, QString());
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        QList<QJsonObject> objects;
        for (const QString& line : lines) {
            QJsonParseError error;
            const auto doc = QJsonDocument::fromJson(line.toUtf8(), &error);
            QVERIFY2(doc.isObject(), qPrintable(line + ": " + error.errorString()));
            objects.append(doc.object());
        }
        QCOMPARE(objects[0].value("file").toString(), QStringLiteral("good.bmp"));
        QCOMPARE(objects[0].value("result").toInt(-1), 0);
        QCOMPARE(objects[0].value("value").toString(), QStringLiteral("1234567"));
        QCOMPARE(objects[1].value("result").toInt(-1), 1);
        QVERIFY(objects[1].value("value").isNull());
        QVERIFY(!objects[2].contains("result"));
        QVERIFY(!objects[2].value("error").toString().isEmpty());
        QCOMPARE(objects[3].value("file").toString(), odd);
        QCOMPARE(objects[3].value("value").toString(), QStringLiteral("1234567"));
        QCOMPARE(lines[0], QStringLiteral(R"({"file":"good.bmp","result":0,"value":"1234567"})"));
    }
};

QTEST_GUILESS_MAIN(CliRunTest)
#include "cli_run_test.moc"
