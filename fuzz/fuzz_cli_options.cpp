// The command-line parser on arbitrary argument lists, and the JSON quoting of arbitrary text.
//
// Input: byte 0 chooses how arguments are decoded (even: UTF-8, odd: raw UTF-16, which can
// hold lone surrogates); the rest is the argument list, split at NUL bytes (UTF-8) or NUL
// code units (UTF-16).
//
// With SCAN39_FUZZ_SEEDS=<dir> in the environment the target writes its seed corpus there
// and exits instead.

#include <QString>
#include <QStringDecoder>
#include <QStringList>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support_p.h"
#include "options_p.h"

namespace {

using namespace scan39::cli;
using scan39::fuzz::Fail;
using scan39::fuzz::WriteSeed;
using scan39::fuzz::WriteSeedsIfAsked;

QStringList Arguments(const std::uint8_t* data, std::size_t size) {
    QStringList args;
    if (size == 0) return args;
    const bool utf16 = data[0] % 2 != 0;
    ++data;
    --size;
    if (!utf16) {
        const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
        for (const QByteArray& a : bytes.split('\0')) args.append(QString::fromUtf8(a));
        return args;
    }
    QString current;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0) {
            args.append(current);
            current.clear();
        } else {
            current.append(QChar(unit));
        }
    }
    args.append(current);
    return args;
}

int HexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'a' && u <= 'f') return u - 'a' + 10;
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    return -1;
}

// Reads a JSON string literal back, strictly: nothing a JSON reader or a UTF-8 encoder would
// choke on may appear raw (a character beyond U+FFFF may: it is a surrogate pair here, which
// UTF-8 encodes as one character). std::nullopt when the literal is not well formed.
std::optional<QString> ReadJsonString(const QString& literal) {
    if (literal.size() < 2 || literal.front() != u'"' || literal.back() != u'"') return {};
    QString out;
    for (qsizetype i = 1; i + 1 < literal.size(); ++i) {
        const QChar c = literal[i];
        if (c.isHighSurrogate() && i + 2 < literal.size() && literal[i + 1].isLowSurrogate()) {
            out.append(c);
            out.append(literal[++i]);
            continue;
        }
        if (c == u'"' || c.unicode() < 0x20 || c.unicode() == 0x7F || c.isSurrogate()) return {};
        if (c != u'\\') {
            out.append(c);
            continue;
        }
        if (++i + 1 >= literal.size()) return {};
        switch (literal[i].unicode()) {
            case '"':
                out.append(u'"');
                break;
            case '\\':
                out.append(u'\\');
                break;
            case 'b':
                out.append(u'\b');
                break;
            case 'f':
                out.append(u'\f');
                break;
            case 'n':
                out.append(u'\n');
                break;
            case 'r':
                out.append(u'\r');
                break;
            case 't':
                out.append(u'\t');
                break;
            case 'u': {
                if (i + 4 >= literal.size() - 1) return {};
                int v = 0;
                for (int k = 1; k <= 4; ++k) {
                    const int d = HexDigit(literal[i + k]);
                    if (d < 0) return {};
                    v = v * 16 + d;
                }
                out.append(QChar(static_cast<char16_t>(v)));
                i += 4;
                break;
            }
            default:
                return {};
        }
    }
    return out;
}

QString FromUtf8KeepingBom(const QByteArray& utf8) {
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decode(utf8);
}

void CheckParse(const QStringList& args) {
    const ParseResult result = ParseArguments(args);
    if (result.options.has_value() == !result.error.isEmpty()) {
        Fail("a parse gives both or neither of options and an error");
    }
    if (!result.options) return;
    const Options& o = *result.options;
    if (o.box) {
        for (const int v : {o.box->x1, o.box->y1, o.box->x2, o.box->y2}) {
            if (v < -kMaxCoordinate || v > kMaxCoordinate) Fail("a box corner out of range");
        }
    }
    for (const QString& p : o.pictures) {
        if (!args.contains(p)) Fail("a picture name that was not among the arguments");
    }
    if (o.help) return;
    if (o.sample && !o.pictures.isEmpty()) Fail("--sample accepted with picture files");
    if (!o.sample && o.pictures.isEmpty() && o.fileLists.isEmpty()) Fail("a scan without pictures");
    if (o.pictureBytes.size() != o.pictures.size()) Fail("picture names lost their bytes");
    if (!o.automatic() &&
        (o.checkDigit || o.fullAscii || o.fastEffort || o.jobs != 0 || o.annotateDir))
        Fail("an option of the automatic read accepted with --box or --sample");
}

void CheckBox(const QString& text) {
    QString error;
    const std::optional<Box> box = ParseBox(text, &error);
    if (!box) {
        if (error.isEmpty()) Fail("a rejected box without an error");
        return;
    }
    for (const int v : {box->x1, box->y1, box->x2, box->y2}) {
        if (v < -kMaxCoordinate || v > kMaxCoordinate) Fail("a box corner out of range");
    }
    // The four numbers must read back as the same box.
    const QString again =
        QStringLiteral("%1,%2,%3,%4").arg(box->x1).arg(box->y1).arg(box->x2).arg(box->y2);
    QString ignored;
    if (ParseBox(again, &ignored) != box) Fail("a box does not read back");
}

// A string literal's bytes, NULs included.
template <std::size_t N>
std::string Raw(const char (&s)[N]) {
    return std::string(s, N - 1);
}

void WriteSeeds(const std::filesystem::path& dir) {
    const std::vector<std::pair<std::string, std::string>> seeds = {
        {"scan", Raw("\0--box\0"
                     "10,20,300,22\0a.bmp")},
        {"scan_eq", Raw("\0--json\0--box= -5 , 0,1000000,-1000000\0--\0-x.gif")},
        {"sample", Raw("\0--sample\0--box=1,2,3,4\0--json")},
        {"help", Raw("\0-h\0--unknown")},
        {"twice", Raw("\0--box\0"
                      "1,1,1,1\0--box=2,2,2,2\0-\0b.jpg")},
        {"quote", Raw("\0--box=0,0,9,9\0\"\\\b\f\n\r\t\x01\x7F\xE9\x94\x99.bmp")},
        {"astral", Raw("\0--box=0,0,9,9\0\xF0\x9F\x93\xB7\xF3\xA9\xA9\xA9.png")},
        {"bom", Raw("\x01\xFF\xFE"
                    "a\0.\0b\0m\0p\0")},  // U+FEFF starts the name
        {"utf16", Raw("\x01-\0-\0b\0o\0x\0\0\0"
                      "1\0,\0"
                      "2\0,\0"
                      "3\0,\0"
                      "4\0\0\0\x00\xD8")},
    };
    for (const auto& [name, bytes] : seeds) WriteSeed(dir, name, bytes);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    WriteSeedsIfAsked(WriteSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QStringList args = Arguments(data, size);
    CheckParse(args);
    for (const QString& a : args) {
        CheckBox(a);
        // JSON is written as UTF-8, which has no form for a lone surrogate (argv, made of
        // bytes, never holds one): the text must read back as its UTF-8 form does. A leading
        // U+FEFF is part of the text (QString::fromUtf8 would drop it as a byte order mark).
        if (ReadJsonString(JsonString(a)) != FromUtf8KeepingBom(a.toUtf8()))
            Fail("JsonString does not read back as the text");
    }
    return 0;
}
