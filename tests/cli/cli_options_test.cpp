// scan39's argument parsing and JSON strings, in process.

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include "io_p.h"
#include "options_p.h"
#include "scan39/read_options_names.h"

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
        QTest::newRow("nothing") << QStringList{} << "--files-from";
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

    // -q, --raw and -1 as zbarimg takes them, with a box and without, and what they refuse.
    void habits_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("outcome");  // the flags set, or the error's key words
        QTest::newRow("short forms") << QStringList{"-q", "-1", "a.png"} << "quiet oneshot";
        QTest::newRow("long forms") << QStringList{"--quiet", "--oneshot", "--raw", "a.png"}
                                    << "quiet raw oneshot";
        QTest::newRow("with --box")
            << QStringList{"--box", "1,2,3,4", "--raw", "-q", "a"} << "quiet raw";
        QTest::newRow("with --sample") << QStringList{"--sample", "-1"} << "oneshot";
        QTest::newRow("raw and json") << QStringList{"--raw", "--json", "a"} << "exclude";
        QTest::newRow("a flag takes no value") << QStringList{"--raw=1", "a"} << "--raw=1";
        QTest::newRow("unknown, said plainly")
            << QStringList{"--foo", "a"} << "unknown option --foo";
    }
    void habits() {
        QFETCH(QStringList, args);
        QFETCH(QString, outcome);
        const auto r = ParseArguments(args);
        if (!r.options) {
            QVERIFY2(r.error.contains(outcome), qPrintable(r.error));
            QVERIFY(!r.error.contains(QLatin1Char('\n')));  // one line
            return;
        }
        QStringList set;
        if (r.options->quiet) set << "quiet";
        if (r.options->raw) set << "raw";
        if (r.options->oneshot) set << "oneshot";
        QCOMPARE(set.join(' '), outcome);
    }

    // Every way in, and every option, in the help a user reads.
    void usageListsEveryWayIn() {
        for (const auto language : {scan39::cli::Language::kEnglish,
                                    scan39::cli::Language::kChinese}) {
            const QString usage = scan39::cli::UsageText(language);
            const QString synopsis = usage.section(QStringLiteral("\n\n"), 0, 0);
            for (const char* way : {"--files-from", "| -", "--box", "--sample", "--raw", "-q",
                                    "-1"})
                QVERIFY2(synopsis.contains(QLatin1String(way)), way);
            for (const char* option : {"-q, --quiet", "-1, --oneshot", "--raw"})
                QVERIFY2(usage.contains(QLatin1String(option)), option);
        }
    }

    // The options of the read without a box, and where they are refused.
    void automatic_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("outcome");  // the options set, or the error's key words
        QTest::newRow("plain") << QStringList{"a.png", "-"} << "jobs 0";
        QTest::newRow("every option")
            << QStringList{"--check-digit", "--full-ascii", "--effort", "fast", "--jobs", "3",
                           "--annotate",    "out",          "a.png"}
            << "check ascii fast jobs 3 annotate out";
        QTest::newRow("= forms") << QStringList{"--effort=thorough", "--jobs=256", "--annotate=o=1",
                                                "a"}
                                 << "jobs 256 annotate o=1";
        QTest::newRow("effort unknown")
            << QStringList{"--effort", "slow", "a"} << "fast or thorough";
        QTest::newRow("light bars") << QStringList{"--polarity", "light", "a"} << "light jobs 0";
        QTest::newRow("dark bars") << QStringList{"--polarity=dark", "a"} << "dark jobs 0";
        QTest::newRow("polarity unknown")
            << QStringList{"--polarity", "inverse", "a"} << "dark, light or both";
        QTest::newRow("polarity with --box")
            << QStringList{"--box", "1,2,3,4", "--polarity=both", "a"} << "--polarity works only";
        QTest::newRow("jobs zero") << QStringList{"--jobs", "0", "a"} << "1 to 256";
        QTest::newRow("jobs too many") << QStringList{"--jobs=257", "a"} << "1 to 256";
        QTest::newRow("jobs not a number") << QStringList{"--jobs", "two", "a"} << "1 to 256";
        QTest::newRow("jobs without value") << QStringList{"a", "--jobs"} << "needs a value";
        QTest::newRow("annotate empty") << QStringList{"--annotate=", "a"} << "needs a folder";
        QTest::newRow("with --box")
            << QStringList{"--box", "1,2,3,4", "--check-digit", "a"} << "--check-digit works only";
        QTest::newRow("with --sample")
            << QStringList{"--sample", "--jobs", "2"} << "--jobs works only";
        QTest::newRow("stdin twice") << QStringList{"-", "-"} << "more than once";
        QTest::newRow("grade") << QStringList{"--grade", "--aperture", "2.5", "--dpi=300", "a"}
                               << "jobs 0 grade 2.5 300";
        QTest::newRow("grade bands")
            << QStringList{"--grade", "--grade-bands=integer", "a"} << "jobs 0 grade 0 0 integer";
        QTest::newRow("grade bands unknown")
            << QStringList{"--grade", "--grade-bands", "half", "a"} << "integer or fractional";
        QTest::newRow("grade bands without --grade")
            << QStringList{"--grade-bands", "integer", "a"} << "--grade-bands works only";
        QTest::newRow("aperture zero") << QStringList{"--grade", "--aperture=0", "a"} << "above 0";
        QTest::newRow("dpi not a number")
            << QStringList{"--grade", "--dpi", "x", "a"} << "36 to 1200";
        QTest::newRow("grade with --box")
            << QStringList{"--box", "1,2,3,4", "--grade", "a"} << "--grade works only";
    }
    void automatic() {
        QFETCH(QStringList, args);
        QFETCH(QString, outcome);
        const auto r = ParseArguments(args);
        if (!r.options) {
            QVERIFY2(r.error.contains(outcome), qPrintable(r.error));
            return;
        }
        const auto& o = *r.options;
        QVERIFY(o.automatic());
        QStringList set;
        if (o.checkDigit) set << "check";
        if (o.fullAscii) set << "ascii";
        if (o.fastEffort) set << "fast";
        if (o.polarity == scan39::reader::Polarity::kDarkBars) set << "dark";
        if (o.polarity == scan39::reader::Polarity::kLightBars) set << "light";
        set << "jobs" << QString::number(o.jobs);
        if (o.annotateDir) set << "annotate" << *o.annotateDir;
        if (o.grade) set << "grade" << QString::number(o.aperture) << QString::number(o.dpi);
        if (o.integerBands) set << "integer";
        QCOMPARE(set.join(' '), outcome);
        QCOMPARE(QFile::decodeName(o.annotateDirBytes), o.annotateDir.value_or(QString()));
    }

    // --effort and --polarity take exactly the reader's names, the ones Python and the page
    // take too, and a refusal lists them all, in either language.
    void vocabulary_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<QString>("error");  // empty: accepted
        for (const auto name : scan39::reader::kEffortNames)
            QTest::addRow("effort %s", name.data())
                << "--effort" << QString::fromLatin1(name) << false << QString();
        for (const auto name : scan39::reader::kPolarityNames)
            QTest::addRow("polarity %s", name.data())
                << "--polarity" << QString::fromLatin1(name) << false << QString();
        QTest::newRow("effort case") << "--effort" << "Fast" << false
                                     << "--effort is fast or thorough, not \"Fast\"";
        QTest::newRow("effort empty") << "--effort" << "" << false
                                      << "--effort is fast or thorough, not \"\"";
        QTest::newRow("polarity case") << "--polarity" << "LIGHT" << false
                                       << "--polarity is dark, light or both, not \"LIGHT\"";
        QTest::newRow("effort chinese") << "--effort" << "slow" << true
                                        << "--effort 只能是 fast 或 thorough，不能是“slow”";
        QTest::newRow("polarity chinese") << "--polarity" << "grey" << true
                                          << "--polarity 只能是 dark、light 或 both，不能是“grey”";
    }
    void vocabulary() {
        QFETCH(QString, option);
        QFETCH(QString, value);
        QFETCH(bool, chinese);
        QFETCH(QString, error);
        const auto r = ParseArguments(
            {option, value, "a"},
            chinese ? scan39::cli::Language::kChinese : scan39::cli::Language::kEnglish);
        if (!error.isEmpty()) {
            QVERIFY(!r.options);
            QCOMPARE(r.error, error);
            return;
        }
        QVERIFY2(r.options, qPrintable(r.error));
        const std::string name = value.toStdString();
        if (option == "--effort")
            QCOMPARE(r.options->fastEffort,
                     scan39::reader::ParseEffort(name) == scan39::reader::Effort::kFast);
        else
            QCOMPARE(r.options->polarity, *scan39::reader::ParsePolarity(name));
    }

    // Each list is read where it stood among the pictures; standard input serves one of them.
    void fileLists_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("outcome");  // "at:name ...", or the error's key words
        QTest::newRow("between pictures")
            << QStringList{"a", "--files-from", "l", "b", "--files-from=-"} << "1:l 2:-";
        QTest::newRow("a list alone")
            << QStringList{"--box", "1,2,3,4", "--files-from", "l"} << "0:l";
        QTest::newRow("no name") << QStringList{"--files-from=", "a"} << "needs a file name";
        QTest::newRow("no value") << QStringList{"a", "--files-from"} << "needs a value FILE";
        QTest::newRow("stdin list and stdin picture")
            << QStringList{"--files-from", "-", "-"} << "more than once";
        QTest::newRow("stdin twice with --box")
            << QStringList{"--box", "1,2,3,4", "-", "-"} << "more than once";
        QTest::newRow("with --sample")
            << QStringList{"--sample", "--files-from", "l"} << "takes no picture files";
    }
    void fileLists() {
        QFETCH(QStringList, args);
        QFETCH(QString, outcome);
        const auto r = ParseArguments(args);
        if (!r.options) {
            QVERIFY2(r.error.contains(outcome), qPrintable(r.error));
            return;
        }
        QStringList lists;
        for (const auto& l : r.options->fileLists)
            lists << QStringLiteral("%1:%2").arg(l.at).arg(QString::fromUtf8(l.name));
        QCOMPARE(lists.join(' '), outcome);
    }

    // Names are kept as the bytes they came as, whatever they decode to.
    void rawNames() {
        const QList<QByteArray> raw{"--annotate", "d\xff", "bad\xff\xfe.png", "--", "-x "};
        QStringList args;
        for (const QByteArray& a : raw) args << QFile::decodeName(a);
        const auto r = ParseArguments(args, scan39::cli::Language::kEnglish, raw);
        QVERIFY(r.options);
        QCOMPARE(r.options->annotateDirBytes, QByteArray("d\xff"));
        QCOMPARE(r.options->pictureBytes, (QList<QByteArray>{"bad\xff\xfe.png", "-x "}));
    }

    void fileMembers_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("withBytes");
        QTest::newRow("utf-8") << QByteArray("名 a.png") << false;
        QTest::newRow("latin-1 byte") << QByteArray("caf\xe9.png") << true;
        QTest::newRow("cut sequence") << QByteArray("\xe5\x90") << true;
    }
    void fileMembers() {
        QFETCH(QByteArray, name);
        QFETCH(bool, withBytes);
        const QString members = scan39::cli::JsonFileMembers(name);
        const auto doc = QJsonDocument::fromJson(("{" + members + "}").toUtf8());
        QVERIFY2(doc.isObject(), qPrintable(members));
        QCOMPARE(doc.object().contains("file_bytes"), withBytes);
        if (withBytes) {
            QCOMPARE(QByteArray::fromBase64(doc.object()["file_bytes"].toString().toLatin1()),
                     name);
        } else {
            QCOMPARE(doc.object()["file"].toString().toUtf8(), name);
        }
    }

    void languageFromEnvironment_data() {
        QTest::addColumn<QByteArray>("lcAll");
        QTest::addColumn<QByteArray>("lcMessages");
        QTest::addColumn<QByteArray>("lang");
        QTest::addColumn<bool>("chinese");
        QTest::newRow("nothing set") << QByteArray() << QByteArray() << QByteArray() << false;
        QTest::newRow("LANG zh") << QByteArray() << QByteArray() << QByteArray("zh_CN.UTF-8")
                                 << true;
        QTest::newRow("LC_MESSAGES over LANG")
            << QByteArray() << QByteArray("en_US.UTF-8") << QByteArray("zh_CN.UTF-8") << false;
        QTest::newRow("LC_ALL over all")
            << QByteArray("zh_TW.UTF-8") << QByteArray("C") << QByteArray("C") << true;
    }
    void languageFromEnvironment() {
        QFETCH(QByteArray, lcAll);
        QFETCH(QByteArray, lcMessages);
        QFETCH(QByteArray, lang);
        QFETCH(bool, chinese);
        const auto set = [](const char* name, const QByteArray& value) {
            if (value.isEmpty()) {
                qunsetenv(name);
            } else {
                qputenv(name, value);
            }
        };
        set("LC_ALL", lcAll);
        set("LC_MESSAGES", lcMessages);
        set("LANG", lang);
        QCOMPARE(scan39::cli::LanguageFromEnvironment() == scan39::cli::Language::kChinese,
                 chinese);
    }

    // --help names every member each --json form writes, in both languages.
    void helpNamesJsonMembers() {
        for (const auto language :
             {scan39::cli::Language::kEnglish, scan39::cli::Language::kChinese}) {
            const QString help = scan39::cli::UsageText(language);
            for (const char* member :
                 {"\"symbol\"", "\"box\"", "\"expected\"", "\"result\"", "\"value\"", "\"text\"",
                  "\"position\"", "\"angle\"", "\"lines\"", "\"error\"", "\"file_bytes\"",
                  "\"unread\"", "\"characters\"", "\"failing\""})
                QVERIFY2(help.contains(QLatin1String(member)), member);
        }
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
    // A name may start with U+FEFF: it is part of the name, not a byte order mark, and stays
    // in the literal as it is (Qt's JSON reader would drop it, so compared as text).
    void jsonStringKeepsALeadingFeff() {
        const QString text = QString(QChar(0xFEFF)) + QStringLiteral("a.bmp");
        QCOMPARE(scan39::cli::JsonString(text), QLatin1Char('"') + text + QLatin1Char('"'));
    }
    // Text output: a name or text with a control character in shell quoting, any other as it is.
    void shown_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("shown");
        const auto row = [](const char* name, const QByteArray& text, const QByteArray& shown) {
            QTest::newRow(name) << text << shown;
        };
        row("plain", "a.png", "a.png");
        row("backslash, quote, blank: as they are", "C:\\x 'y'.png", "C:\\x 'y'.png");
        row("chinese", "错误.png", "错误.png");
        row("not UTF-8, no control", "bad\xff.png", "bad\xff.png");
        row("a forged result line", "x.png: FAKE\nreal", "$'x.png: FAKE\\nreal'");
        row("escape sequence", "\x1b[2J", "$'\\x1b[2J'");
        row("NUL and DEL", QByteArray("a\0b\x7f", 4), "$'a\\x00b\\x7f'");
        row("quote and backslash inside", "it's\t\\", "$'it\\'s\\t\\\\'");
        row("C1 control",
            "a\xc2\x9b"
            "1m",
            "$'a\\u009b1m'");
        row("not UTF-8 beside a control", "\xff\r", "$'\xff\\r'");
    }
    void shown() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, shown);
        QCOMPARE(scan39::cli::Shown(text), shown);
    }
};

QTEST_GUILESS_MAIN(CliOptionsTest)
#include "cli_options_test.moc"
