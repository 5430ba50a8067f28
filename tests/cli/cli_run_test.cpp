// The built scan39 binary, run as a user would run it.

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

    // Runs scan39 with no display of any kind, as on a server.
    Result run(const QStringList& args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(v);
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir_.path());
        p.start(QStringLiteral(SCAN39_CLI), args);
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
        write("huge.bmp", BmpHeader(100000, 100000));
        write(QStringLiteral("we\"ird 名\\.bmp"), good);
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
                                       << "Usage:";
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << 2 << ""
                                        << "Usage:";
        QTest::newRow("no arguments") << QStringList{} << 2 << ""
                                      << "Usage:";
    }
    void exitAndOutput() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        const Result r = run(args);
        QCOMPARE(r.exitCode, exitCode);
        QCOMPARE(r.out, out);
        if (err.isEmpty()) {
            QCOMPARE(r.err, QString());
        } else {
            QVERIFY2(r.err.contains(err), qPrintable(r.err));
        }
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
