// scan39's argument parsing and JSON strings, in process.

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include "options_p.h"

using scan39::cli::Box;
using scan39::cli::ParseArguments;

Q_DECLARE_METATYPE(scan39::cli::Box)

class CliOptionsTest : public QObject {
    Q_OBJECT

  private slots:
    void wellFormed_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("json");
        QTest::addColumn<bool>("sample");
        QTest::addColumn<Box>("box");
        QTest::addColumn<QStringList>("pictures");
        QTest::newRow("box and one picture") << QStringList{"--box", "1,2,3,4", "a.bmp"} << false
                                             << false << Box{1, 2, 3, 4} << QStringList{"a.bmp"};
        QTest::newRow("box= form, options after pictures")
            << QStringList{"a.bmp", "--box=1,2,3,4", "b.gif", "--json"} << true << false
            << Box{1, 2, 3, 4} << QStringList{"a.bmp", "b.gif"};
        QTest::newRow("negative and blanks")
            << QStringList{"--box", " -5, 0 ,1000000,-1000000", "x"} << false << false
            << Box{-5, 0, 1000000, -1000000} << QStringList{"x"};
        QTest::newRow("after -- a dash name is a picture")
            << QStringList{"--box", "0,0,9,9", "--", "--json", "-"} << false << false
            << Box{0, 0, 9, 9} << QStringList{"--json", "-"};
        QTest::newRow("no box: the automatic read")
            << QStringList{"a.bmp"} << false << false << Box{} << QStringList{"a.bmp"};
        QTest::newRow("sample alone")
            << QStringList{"--sample"} << false << true << Box{} << QStringList{};
        QTest::newRow("sample with box and json")
            << QStringList{"--json", "--sample", "--box", "7,139,480,149"} << true << true
            << Box{7, 139, 480, 149} << QStringList{};
    }
    void wellFormed() {
        QFETCH(QStringList, args);
        QFETCH(bool, json);
        QFETCH(bool, sample);
        QFETCH(Box, box);
        QFETCH(QStringList, pictures);
        const auto r = ParseArguments(args);
        QVERIFY2(r.options.has_value(), qPrintable(r.error));
        QCOMPARE(r.options->json, json);
        QCOMPARE(r.options->sample, sample);
        QCOMPARE(r.options->box.value_or(Box{}), box);
        QCOMPARE(r.options->pictures, pictures);
        QVERIFY(!r.options->help);
    }

    void malformed_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("nothing") << QStringList{} << "--box";
        QTest::newRow("no picture") << QStringList{"--box", "1,2,3,4"} << "picture";
        QTest::newRow("box without value") << QStringList{"a.bmp", "--box"} << "value";
        QTest::newRow("three numbers") << QStringList{"--box", "1,2,3", "a"} << "four";
        QTest::newRow("five numbers") << QStringList{"--box", "1,2,3,4,5", "a"} << "four";
        QTest::newRow("empty number") << QStringList{"--box", "1,,3,4", "a"} << "whole number";
        QTest::newRow("fraction") << QStringList{"--box", "1.5,2,3,4", "a"} << "whole number";
        QTest::newRow("letters") << QStringList{"--box", "a,b,c,d", "a"} << "whole number";
        QTest::newRow("beyond the bound")
            << QStringList{"--box", "0,0,1000001,4", "a"} << "out of range";
        QTest::newRow("beyond 64 bits")
            << QStringList{"--box", "0,0,99999999999999999999,4", "a"} << "out of range";
        QTest::newRow("box twice")
            << QStringList{"--box", "1,2,3,4", "--box=1,2,3,4", "a"} << "more than once";
        QTest::newRow("unknown option") << QStringList{"--boxes", "1,2,3,4", "a"} << "--boxes";
        QTest::newRow("sample with files") << QStringList{"--sample", "a.bmp"} << "--sample";
    }
    void malformed() {
        QFETCH(QStringList, args);
        QFETCH(QString, mentions);
        const auto r = ParseArguments(args);
        QVERIFY(!r.options.has_value());
        QVERIFY2(r.error.contains(mentions), qPrintable(r.error));
    }

    void helpWinsOverEverythingElse() {
        const auto r = ParseArguments({"a.bmp", "-h"});
        QVERIFY(r.options && r.options->help);
    }

    // Whatever a file name or a message holds, the literal parses back to the same text.
    void jsonString_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << "a.bmp";
        QTest::newRow("quote and backslash") << QStringLiteral("C:\\dir\\\"x\".bmp");
        QTest::newRow("control characters") << QString(
            "a\nb\tc\rd\x01"
            "e\x1f\x7f");
        QTest::newRow("chinese") << QStringLiteral("错误：非39码或扫描位置不正确");
        QTest::newRow("surrogate pair") << QString::fromUtf8("\xF0\x9F\x93\xB7.gif");
        QTest::newRow("empty") << QString();
    }
    void jsonString() {
        QFETCH(QString, text);
        const QString literal = scan39::cli::JsonString(text);
        const auto doc = QJsonDocument::fromJson(("{\"k\":" + literal + "}").toUtf8());
        QVERIFY2(doc.isObject(), qPrintable(literal));
        QCOMPARE(doc.object().value("k").toString(), text);
        for (const QChar c : literal) QVERIFY(c.unicode() >= 0x20 && c.unicode() != 0x7F);
    }
};

QTEST_GUILESS_MAIN(CliOptionsTest)
#include "cli_options_test.moc"
