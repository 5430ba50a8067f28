#include "options_p.h"

namespace scan39::cli {

std::optional<Box> ParseBox(const QString& text, QString* error) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4) {
        *error = QStringLiteral("--box needs four numbers X1,Y1,X2,Y2, got \"%1\"").arg(text);
        return std::nullopt;
    }
    std::array<int, 4> v{};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const QString part = parts[i].trimmed();
        const qlonglong n = part.toLongLong(&ok, 10);
        if (!ok) {
            *error = QStringLiteral("--box: \"%1\" is not a whole number").arg(part);
            return std::nullopt;
        }
        if (n < -kMaxCoordinate || n > kMaxCoordinate) {
            *error = QStringLiteral("--box: %1 is out of range (-%2 to %2 pixels)")
                         .arg(part)
                         .arg(kMaxCoordinate);
            return std::nullopt;
        }
        v[static_cast<std::size_t>(i)] = static_cast<int>(n);
    }
    return Box{v[0], v[1], v[2], v[3]};
}

ParseResult ParseArguments(const QStringList& args) {
    Options o;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (optionsEnded || !a.startsWith(QLatin1Char('-')) || a == QLatin1String("-")) {
            o.pictures.append(a);
            continue;
        }
        if (a == QLatin1String("--")) {
            optionsEnded = true;
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            o.help = true;
        } else if (a == QLatin1String("--json")) {
            o.json = true;
        } else if (a == QLatin1String("--sample")) {
            o.sample = true;
        } else if (a == QLatin1String("--box") || a.startsWith(QLatin1String("--box="))) {
            if (o.box) return {std::nullopt, QStringLiteral("--box given more than once")};
            QString value;
            if (a == QLatin1String("--box")) {
                if (i + 1 >= args.size())
                    return {std::nullopt, QStringLiteral("--box needs a value X1,Y1,X2,Y2")};
                value = args[++i];
            } else {
                value = a.mid(6);
            }
            QString error;
            o.box = ParseBox(value, &error);
            if (!o.box) return {std::nullopt, error};
        } else {
            return {std::nullopt, QStringLiteral("unknown option \"%1\"").arg(a)};
        }
    }
    if (o.help) return {o, {}};
    if (o.sample) {
        if (!o.pictures.isEmpty())
            return {std::nullopt,
                    QStringLiteral("--sample scans the embedded sample picture and takes no "
                                   "picture files")};
        return {o, {}};
    }
    if (!o.box) return {std::nullopt, QStringLiteral("--box X1,Y1,X2,Y2 is required")};
    if (o.pictures.isEmpty()) return {std::nullopt, QStringLiteral("no picture file given")};
    return {o, {}};
}

QString UsageText() {
    return QStringLiteral(
        "Usage: scan39 --box X1,Y1,X2,Y2 [--json] PICTURE...\n"
        "       scan39 --sample [--box X1,Y1,X2,Y2] [--json]\n"
        "       scan39 --help\n"
        "\n"
        "Reads a Code 39 barcode out of BMP, JPEG or GIF pictures, the way the scanning\n"
        "control does when a red box is dragged over it with the mouse.\n"
        "\n"
        "  --box X1,Y1,X2,Y2  drag from pixel (X1,Y1) to pixel (X2,Y2) of the picture. The\n"
        "                     row just below the box's top edge is read from just inside its\n"
        "                     left edge to its right edge: start left of the symbol in the\n"
        "                     white margin, end right of it in the white margin, and drag\n"
        "                     down at least 2 pixels.\n"
        "  --json             one JSON object per picture and line:\n"
        "                     {\"file\":...,\"result\":0|1,\"value\":...|null} or\n"
        "                     {\"file\":...,\"error\":...}\n"
        "  --sample           decode the eight symbols of the embedded sample picture along\n"
        "                     built-in boxes; with --box, scan that box on it instead\n"
        "  -h, --help         show this text\n"
        "\n"
        "Prints the decoded text (one line per picture, prefixed with its name when there\n"
        "are several). Exit status: 0 all decoded, 1 a picture held no readable symbol along\n"
        "the box, 2 a picture could not be loaded or the arguments are wrong.\n");
}

QString JsonString(const QString& text) {
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        switch (c.unicode()) {
            case '"':
                out += QLatin1String("\\\"");
                break;
            case '\\':
                out += QLatin1String("\\\\");
                break;
            case '\b':
                out += QLatin1String("\\b");
                break;
            case '\f':
                out += QLatin1String("\\f");
                break;
            case '\n':
                out += QLatin1String("\\n");
                break;
            case '\r':
                out += QLatin1String("\\r");
                break;
            case '\t':
                out += QLatin1String("\\t");
                break;
            default:
                // Control characters and lone surrogates would not survive as UTF-8 text.
                if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.isSurrogate()) {
                    out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
                } else {
                    out += c;
                }
        }
    }
    out += QLatin1Char('"');
    return out;
}

}  // namespace scan39::cli
