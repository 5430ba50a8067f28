#include "options_p.h"

#include <QFile>
#include <QRegularExpression>

#include "scan39/documents/limits.h"
#include "scan39/host/picture_error.h"
#include "scan39/read_options_names.h"
#include "scan39/record_json.h"

namespace scan39::cli {

Language LanguageFromEnvironment() {
    return host::MessageLanguageFromEnvironment() == host::MessageLanguage::Chinese
               ? Language::kChinese
               : Language::kEnglish;
}

std::optional<Box> ParseBox(const QString& text, QString* error, Language language) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4) {
        *error = Tr(language, QStringLiteral("--box needs four numbers X1,Y1,X2,Y2, got \"%1\""),
                    QStringLiteral("--box 需要四个数 X1,Y1,X2,Y2，得到的是“%1”"))
                     .arg(text);
        return std::nullopt;
    }
    static const QRegularExpression kDigits(QStringLiteral("^[+-]?[0-9]+$"));
    std::array<int, 4> v{};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const QString part = parts[i].trimmed();
        const qlonglong n = part.toLongLong(&ok, 10);
        // Digits that do not fit 64 bits are a number all the same, just far out of range.
        if (!ok && !kDigits.match(part).hasMatch()) {
            *error = Tr(language, QStringLiteral("--box: \"%1\" is not a whole number"),
                        QStringLiteral("--box：“%1”不是整数"))
                         .arg(part);
            return std::nullopt;
        }
        if (!ok || n < -kMaxCoordinate || n > kMaxCoordinate) {
            *error = Tr(language, QStringLiteral("--box: %1 is out of range (-%2 to %2 pixels)"),
                        QStringLiteral("--box：%1 超出范围（-%2 到 %2 像素）"))
                         .arg(part)
                         .arg(kMaxCoordinate);
            return std::nullopt;
        }
        v[static_cast<std::size_t>(i)] = static_cast<int>(n);
    }
    return Box{v[0], v[1], v[2], v[3]};
}

namespace {

// Where an option belongs: every run, only the automatic read (no --box, no --sample), or only
// --grade (itself of the automatic read).
enum class Scope { kAny, kAutomatic, kGrade };
// Where --help lists it.
enum class Section { kBox, kAutomatic, kGeneral };

struct Value {
    QString text;
    QByteArray bytes;  // the same, exactly as given (file names)
};

// Takes the option's value into the options; what is wrong with it, if anything.
using Apply = std::optional<QString> (*)(Options&, const Value&, Language);

struct OptionEntry {
    QLatin1StringView name;
    char shortName;  // "-h" for 'h'; 0 when there is none
    // The value's name in --help, English and Chinese; null for an option without a value.
    const char* valueEnglish;
    const char* valueChinese;
    Scope scope;
    Section section;
    Apply apply;  // null for a line of --help that is not an option ("-")
    // --help's description; each line after the first goes under the first.
    const char* english;
    const char* chinese;
};

std::optional<QString> ApplyBox(Options& o, const Value& v, Language language) {
    if (o.box)
        return Tr(language, QStringLiteral("--box given more than once"),
                  QStringLiteral("--box 给出了不止一次"));
    QString error;
    o.box = ParseBox(v.text, &error, language);
    return o.box ? std::nullopt : std::optional(error);
}

// The accepted names as the messages list them: "fast or thorough", "fast 或 thorough".
QString Names(std::span<const std::string_view> names, Language language) {
    return QString::fromStdString(language == Language::kChinese
                                      ? reader::NameList(names, {}, "、", " 或 ")
                                      : reader::NameList(names));
}

std::optional<QString> ApplyEffort(Options& o, const Value& v, Language language) {
    const auto effort = reader::ParseEffort(v.text.toStdString());
    if (!effort)
        return Tr(language, QStringLiteral("--effort is %1, not \"%2\""),
                  QStringLiteral("--effort 只能是 %1，不能是“%2”"))
            .arg(Names(reader::kEffortNames, language), v.text);
    o.fastEffort = *effort == reader::Effort::kFast;
    return std::nullopt;
}

std::optional<QString> ApplyPolarity(Options& o, const Value& v, Language language) {
    const auto polarity = reader::ParsePolarity(v.text.toStdString());
    if (!polarity)
        return Tr(language, QStringLiteral("--polarity is %1, not \"%2\""),
                  QStringLiteral("--polarity 只能是 %1，不能是“%2”"))
            .arg(Names(reader::kPolarityNames, language), v.text);
    o.polarity = *polarity;
    return std::nullopt;
}

std::optional<QString> ApplyJobs(Options& o, const Value& v, Language language) {
    bool ok = false;
    o.jobs = v.text.toInt(&ok, 10);
    if (ok && o.jobs >= 1 && o.jobs <= kMaxJobs) return std::nullopt;
    return Tr(language, QStringLiteral("--jobs takes a number from 1 to %1"),
              QStringLiteral("--jobs 需要 1 到 %1 之间的数"))
        .arg(kMaxJobs);
}

std::optional<QString> ApplyDpi(Options& o, const Value& v, Language language) {
    bool ok = false;
    o.dpi = v.text.toInt(&ok, 10);
    if (ok && o.dpi >= documents::kMinDpi && o.dpi <= documents::kMaxDpi) return std::nullopt;
    return Tr(language, QStringLiteral("--dpi takes a number from %1 to %2"),
              QStringLiteral("--dpi 需要 %1 到 %2 之间的数"))
        .arg(documents::kMinDpi)
        .arg(documents::kMaxDpi);
}

std::optional<QString> ApplyFileTimeLimit(Options& o, const Value& v, Language language) {
    bool ok = false;
    o.fileSeconds = v.text.toInt(&ok, 10);
    if (ok && o.fileSeconds >= 1 && o.fileSeconds <= documents::kMaxFileSeconds) return std::nullopt;
    return Tr(language, QStringLiteral("--file-time-limit takes a number of seconds from 1 to %1"),
              QStringLiteral("--file-time-limit 需要 1 到 %1 之间的秒数"))
        .arg(documents::kMaxFileSeconds);
}

std::optional<QString> ApplyAnnotate(Options& o, const Value& v, Language language) {
    if (v.text.isEmpty())
        return Tr(language, QStringLiteral("--annotate needs a folder"),
                  QStringLiteral("--annotate 需要一个文件夹"));
    o.annotateDir = v.text;
    o.annotateDirBytes = v.bytes;
    return std::nullopt;
}

std::optional<QString> ApplyAperture(Options& o, const Value& v, Language language) {
    bool ok = false;
    const double d = v.text.trimmed().toDouble(&ok);
    if (!ok || !(d > 0 && d <= 1000))
        return Tr(language,
                  QStringLiteral("--aperture takes a diameter in pixels above 0, up to 1000, not "
                                 "\"%1\""),
                  QStringLiteral("--aperture 需要大于 0、不超过 1000 的像素直径，不能是“%1”"))
            .arg(v.text);
    o.aperture = d;
    return std::nullopt;
}

std::optional<QString> ApplyGradeBands(Options& o, const Value& v, Language language) {
    if (v.text != QLatin1String("integer") && v.text != QLatin1String("fractional"))
        return Tr(language, QStringLiteral("--grade-bands is integer or fractional, not \"%1\""),
                  QStringLiteral("--grade-bands 只能是 integer 或 fractional，不能是“%1”"))
            .arg(v.text);
    o.integerBands = v.text == QLatin1String("integer");
    return std::nullopt;
}

std::optional<QString> ApplyFilesFrom(Options& o, const Value& v, Language language) {
    if (v.bytes.isEmpty())
        return Tr(language, QStringLiteral("--files-from needs a file name (- for standard input)"),
                  QStringLiteral("--files-from 需要一个文件名（- 表示标准输入）"));
    o.fileLists.append({o.pictureBytes.size(), v.bytes});
    return std::nullopt;
}

// Every option, in the order --help lists them.
const OptionEntry kOptionTable[] = {
    {QLatin1StringView("--box"), 0, "X1,Y1,X2,Y2", "X1,Y1,X2,Y2", Scope::kAny, Section::kBox,
     ApplyBox,
     "drag from pixel (X1,Y1) to pixel (X2,Y2) of the picture. The\n"
     "row just below the box's top edge is read from just inside its\n"
     "left edge to its right edge: start left of the symbol in the\n"
     "white margin, end right of it in the white margin, and drag\n"
     "down at least 2 pixels.",
     "从图片的像素 (X1,Y1) 拖到像素 (X2,Y2)。读取框上边缘下面一行，\n"
     "从框左边缘内侧读到右边缘：从条码左侧的空白处开始，到右侧的\n"
     "空白处结束，并向下拖动至少 2 个像素。"},
    {QLatin1StringView("--check-digit"), 0, nullptr, nullptr, Scope::kAutomatic,
     Section::kAutomatic,
     [](Options& o, const Value&, Language) -> std::optional<QString> {
         o.checkDigit = true;
         return std::nullopt;
     },
     "the last character is a mod 43 check: a symbol that fails it\n"
     "is not reported, and the check character is left out",
     "最后一个字符是模 43 检验字符：校验不符的条码不报告，\n"
     "报告的文本中去掉检验字符"},
    {QLatin1StringView("--full-ascii"), 0, nullptr, nullptr, Scope::kAutomatic, Section::kAutomatic,
     [](Options& o, const Value&, Language) -> std::optional<QString> {
         o.fullAscii = true;
         return std::nullopt;
     },
     "read the $, %, / and + pairs as the ASCII characters",
     "把 $、%、/、+ 与字母组成的字符对译为 ASCII 字符"},
    {QLatin1StringView("--effort"), 0, "fast|thorough", "fast|thorough", Scope::kAutomatic,
     Section::kAutomatic, ApplyEffort,
     "a quick search (upright, clean pictures) or a thorough\n"
     "one (the default)",
     "快速查找（端正、清晰的图片）或细致查找（默认）"},
    {QLatin1StringView("--polarity"), 0, "dark|light|both", "dark|light|both", Scope::kAutomatic,
     Section::kAutomatic, ApplyPolarity,
     "dark bars on a light ground, light bars on a dark\n"
     "one (printed reversed, laser-marked), or either (the default)",
     "浅底深条、深底浅条（反色印刷、激光打标）或两者都读\n"
     "（默认）"},
    {QLatin1StringView("--jobs"), 0, "N", "N", Scope::kAutomatic, Section::kAutomatic, ApplyJobs,
     "read N pictures at a time (default: one per core); results\n"
     "still come in the order of the arguments",
     "同时读取 N 幅图片（默认：处理器核数）；结果仍按参数顺序输出"},
    {QLatin1StringView("--dpi"), 0, "N", "N", Scope::kAutomatic, Section::kAutomatic, ApplyDpi,
     "the pictures' resolution in dots per inch (36 to 1200): PDF\n"
     "pages are drawn at it (default 300), a page that would exceed\n"
     "67108864 pixels at the largest dpi that fits (said on stderr;\n"
     "A4 fits up to 833, Letter 847); with --grade, X is also given\n"
     "in mm and mils, with Code 39's rules",
     "图片的分辨率（每英寸点数）：PDF 页面按此绘制（36 到 1200，默认\n"
     "300），超过 67108864 像素的页面按不超过的最大分辨率绘制（在标准\n"
     "错误上说明；A4 最多 833，Letter 847）；带 --grade 时另给出以毫米和密尔计的 X\n"
     "及 Code 39 的规则"},
    {QLatin1StringView("--file-time-limit"), 0, "SECONDS", "秒数", Scope::kAutomatic,
     Section::kAutomatic, ApplyFileTimeLimit,
     "the time one file may take, reading and every page together\n"
     "(default 30); each page of a PDF or TIFF not read by then\n"
     "gets its own error record, \"not read: the file's time limit\n"
     "of N s ran out\"",
     "每个文件（读取及其所有页面合计）可用的时间（默认 30 秒）；到时\n"
     "未读的 PDF 或 TIFF 页面各得一条错误记录（“文件的时间限额已用完”）"},
    {QLatin1StringView("--annotate"), 0, "DIR", "文件夹", Scope::kAutomatic, Section::kAutomatic,
     ApplyAnnotate,
     "save each picture with its symbols outlined and labelled as a\n"
     "new file in DIR, in the picture's format (PNG where that\n"
     "cannot be written); -2, -3 added where a name exists",
     "把每幅图片连同框出并标注的条码另存为该文件夹中的新文件（格式\n"
     "同原图，无法写出时用 PNG；同名文件已存在时加 -2、-3）"},
    {QLatin1StringView("--grade"), 0, nullptr, nullptr, Scope::kAutomatic, Section::kAutomatic,
     [](Options& o, const Value&, Language) -> std::optional<QString> {
         o.grade = true;
         return std::nullopt;
     },
     "grade each symbol's print quality A-F by the scan reflectance\n"
     "profile method of ISO/IEC 15416; a camera picture is no\n"
     "calibrated verifier: grades are as good as the light and lens",
     "按 ISO/IEC 15416 的扫描反射率曲线方法给每个条码评定印刷质量\n"
     "（A–F）；相机照片不是经过校准的检测仪，等级取决于光照和镜头"},
    {QLatin1StringView("--aperture"), 0, "PX", "像素", Scope::kGrade, Section::kAutomatic,
     ApplyAperture,
     "the measuring aperture's diameter (default: 0.8 X, the\n"
     "narrow element's width)",
     "测量孔径的直径（默认：窄单元宽度 X 的 0.8 倍）"},
    {QLatin1StringView("--grade-bands"), 0, "integer|fractional", "integer|fractional",
     Scope::kGrade, Section::kAutomatic, ApplyGradeBands,
     "the grade shown:\n"
     "fractional (the default), interpolated as verifiers do since\n"
     "2016, 0.0-4.0 linear within each band, or integer, the mean\n"
     "of whole bands per profile; the JSON has both. Parameters\n"
     "below A are named after the grade, and\n"
     "Code 39's rules when broken: wide/narrow 2.0-3.0 (2.2 below\n"
     "X = 0.5 mm, with --dpi), quiet zones of 10 X. Edges, X and\n"
     "quiet zones are measured to within 0.2 X (0.3 X under blur):\n"
     "a quiet zone passes from 9.7 X, a ratio 0.05 short of its rule",
     "显示的等级：\n"
     "2016 年起检测仪所用的插值等级（fractional，默认：\n"
     "各级之间线性插值的 0.0–4.0）或每条曲线整数等级的平均（integer）；\n"
     "JSON 两者都有。低于 A 的参数列在等级之后，违反 Code 39 规则时也\n"
     "列出：宽窄比 2.0–3.0（带 --dpi 且 X 小于 0.5 毫米时至少 2.2），\n"
     "空白区 10 X。边缘、X 与空白区的测量误差在 0.2 X 以内（模糊时\n"
     "0.3 X）：空白区从 9.7 X 起合格，宽窄比可比规则少 0.05"},
    {QLatin1StringView("-"), 0, nullptr, nullptr, Scope::kAny, Section::kGeneral, nullptr,
     "read one picture from standard input", "从标准输入读取一幅图片"},
    {QLatin1StringView("--files-from"), 0, "FILE", "文件", Scope::kAny, Section::kGeneral,
     ApplyFilesFrom,
     "also read the pictures (or folders) named in FILE, one a line,\n"
     "exactly as written; empty lines are skipped, and a line \"-\" is\n"
     "a file of that name. --files-from - reads the names from\n"
     "standard input. A list is read as the run goes, so one of any\n"
     "length fits in memory",
     "另外读取文件中列出的图片（或文件夹），每行一个，按原样使用；\n"
     "空行跳过，一行“-”指名为 - 的文件。--files-from - 从标准输入\n"
     "读取名字。名单边读边处理，任意长的名单都不会占满内存"},
    {QLatin1StringView("--json"), 0, nullptr, nullptr, Scope::kAny, Section::kGeneral,
     [](Options& o, const Value&, Language) -> std::optional<QString> {
         o.json = true;
         return std::nullopt;
     },
     "one JSON object per line (see below)", "每行一个 JSON 对象（见下）"},
    {QLatin1StringView("--raw"), 0, nullptr, nullptr, Scope::kAny, Section::kGeneral,
     [](Options& o, const Value&, Language) -> std::optional<QString> {
         o.raw = true;
         return std::nullopt;
     },
     "the decoded texts alone, one a line, exactly as read: no names,\n"
     "no grades, no quoting (for scripts)",
     "只输出解码的文本，每行一个，按原样输出：不加图片名、等级和\n"
     "引用（供脚本使用）"},
    {QLatin1StringView("--quiet"), 'q', nullptr, nullptr, Scope::kAny, Section::kGeneral,
     [](Options& o, const Value&, Language) -> std::optional<QString> {
         o.quiet = true;
         return std::nullopt;
     },
     "nothing on stderr but errors: no lines for a picture without a\n"
     "symbol or a box that read nothing, no notes (the exit status\n"
     "still tells)",
     "标准错误上只输出错误：没有条码的图片、读不出的框和各种提示都\n"
     "不再输出（退出状态照样反映）"},
    {QLatin1StringView("--oneshot"), '1', nullptr, nullptr, Scope::kAny, Section::kGeneral,
     [](Options& o, const Value&, Language) -> std::optional<QString> {
         o.oneshot = true;
         return std::nullopt;
     },
     "stop after the first symbol read, with exit status 0",
     "读出第一个条码后即停止，退出状态为 0"},
    {QLatin1StringView("--sample"), 0, nullptr, nullptr, Scope::kAny, Section::kGeneral,
     [](Options& o, const Value&, Language) -> std::optional<QString> {
         o.sample = true;
         return std::nullopt;
     },
     "decode the eight symbols of the embedded sample picture along\n"
     "built-in boxes; with --box, scan that box on it instead",
     "沿内置的框解码内置示例图片的八个条码；带 --box 时改为在\n"
     "示例图片上扫描该框"},
    {QLatin1StringView("--help"), 'h', nullptr, nullptr, Scope::kAny, Section::kGeneral,
     [](Options& o, const Value&, Language) -> std::optional<QString> {
         o.help = true;
         return std::nullopt;
     },
     "show this text", "显示本说明"},
    {QLatin1StringView("--version"), 0, nullptr, nullptr, Scope::kAny, Section::kGeneral,
     [](Options& o, const Value&, Language) -> std::optional<QString> {
         o.version = true;
         return std::nullopt;
     },
     "show the version", "显示版本号"},
};

// The option `arg` names ("--name", "-h", or "--name=VALUE" for one that takes a value); in
// the last case `inlineValue` receives where the value starts.
const OptionEntry* FindOption(const QString& arg, qsizetype* inlineValue) {
    for (const OptionEntry& entry : kOptionTable) {
        if (!entry.apply) continue;
        if (arg == entry.name ||
            (entry.shortName != 0 && arg.size() == 2 && arg[1] == QLatin1Char(entry.shortName)))
            return &entry;
        if (entry.valueEnglish && arg.startsWith(entry.name) && arg.size() > entry.name.size() &&
            arg[entry.name.size()] == QLatin1Char('=')) {
            *inlineValue = entry.name.size() + 1;
            return &entry;
        }
    }
    return nullptr;
}

// Columns a text takes on a terminal: CJK characters and full-width punctuation take two.
qsizetype Columns(const QString& text) {
    qsizetype n = 0;
    for (const QChar c : text) n += c.unicode() >= 0x1100 ? 2 : 1;
    return n;
}

// The options of one section as --help lists them: the description starts in column 22, or
// two blanks after a longer name.
QString OptionLines(Section section, Language language) {
    constexpr qsizetype kColumn = 21;
    const QString indent(kColumn, QLatin1Char(' '));
    QString text;
    for (const OptionEntry& entry : kOptionTable) {
        if (entry.section != section) continue;
        QString label = QStringLiteral("  ");
        if (entry.shortName != 0)
            label += QStringLiteral("-%1, ").arg(QLatin1Char(entry.shortName));
        label += entry.name;
        if (entry.valueEnglish)
            label += QLatin1Char(' ') + QString::fromUtf8(language == Language::kChinese
                                                              ? entry.valueChinese
                                                              : entry.valueEnglish);
        const qsizetype width = Columns(label);
        label += QString(width + 2 <= kColumn ? kColumn - width : 2, QLatin1Char(' '));
        const QString description =
            QString::fromUtf8(language == Language::kChinese ? entry.chinese : entry.english);
        text += label +
                QString(description).replace(QLatin1Char('\n'), QLatin1Char('\n') + indent) +
                QLatin1Char('\n');
    }
    return text;
}

}  // namespace

ParseResult ParseArguments(const QStringList& args, Language language,
                           const QList<QByteArray>& raw) {
    const auto fail = [](const QString& error) { return ParseResult{std::nullopt, error}; };
    const auto bytesOf = [&](qsizetype i) {
        return raw.size() == args.size() ? raw[i] : QFile::encodeName(args[i]);
    };
    Options o;
    o.language = language;
    bool optionsEnded = false;
    QStringList automaticOnly;  // given options that only the automatic read takes
    QStringList gradeOnly;      // given options that only --grade takes
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (optionsEnded || !a.startsWith(QLatin1Char('-')) || a == QLatin1String("-")) {
            o.pictures.append(a);
            o.pictureBytes.append(bytesOf(i));
            continue;
        }
        if (a == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        qsizetype inlineValue = -1;
        const OptionEntry* entry = FindOption(a, &inlineValue);
        if (!entry)
            return fail(Tr(language, QStringLiteral("unknown option %1"),
                           QStringLiteral("未知选项 %1"))
                            .arg(a));
        Value value;
        if (inlineValue >= 0) {
            value = {a.mid(inlineValue), bytesOf(i).mid(inlineValue)};
        } else if (entry->valueEnglish) {
            if (i + 1 >= args.size())
                return fail(Tr(language, QStringLiteral("%1 needs a value %2"),
                               QStringLiteral("%1 需要一个值 %2"))
                                .arg(entry->name, QString::fromUtf8(language == Language::kChinese
                                                                        ? entry->valueChinese
                                                                        : entry->valueEnglish)));
            ++i;
            value = {args[i], bytesOf(i)};
        }
        if (const auto error = entry->apply(o, value, language)) return fail(*error);
        if (entry->scope == Scope::kAutomatic) automaticOnly << entry->name;
        if (entry->scope == Scope::kGrade) gradeOnly << entry->name;
    }
    if (o.help || o.version) return {o, {}};
    if (o.raw && o.json)
        return fail(Tr(language, QStringLiteral("--raw and --json exclude each other"),
                       QStringLiteral("--raw 与 --json 不能同时使用")));
    if (!o.grade && !gradeOnly.isEmpty())
        return fail(Tr(language, QStringLiteral("%1 works only with --grade"),
                       QStringLiteral("%1 只能与 --grade 一起使用"))
                        .arg(gradeOnly.first()));
    if (!o.automatic() && !automaticOnly.isEmpty())
        return fail(Tr(language, QStringLiteral("%1 works only without --box and --sample"),
                       QStringLiteral("%1 只能在不带 --box 和 --sample 时使用"))
                        .arg(automaticOnly.first()));
    if (o.sample) {
        if (!o.pictures.isEmpty() || !o.fileLists.isEmpty())
            return fail(Tr(language,
                           QStringLiteral("--sample scans the embedded sample picture and takes no "
                                          "picture files"),
                           QStringLiteral("--sample 扫描内置的示例图片，不接受图片文件")));
        return {o, {}};
    }
    if (o.pictures.isEmpty() && o.fileLists.isEmpty())
        return fail(
            Tr(language,
               QStringLiteral("no picture given (a file, a folder, --files-from FILE, or - for "
                              "standard input)"),
               QStringLiteral("没有给出图片（文件、文件夹、--files-from 文件，或 - 表示标准输入）")));
    // Standard input holds one picture or one list of names.
    qsizetype stdinUses = o.pictureBytes.count(QByteArrayLiteral("-"));
    for (const auto& list : o.fileLists) stdinUses += list.name == "-" ? 1 : 0;
    if (stdinUses > 1)
        return fail(Tr(language, QStringLiteral("standard input (-) given more than once"),
                       QStringLiteral("标准输入（-）给出了不止一次")));
    return {o, {}};
}

QString UsageText(Language language) {
    const auto options = [language](Section s) { return OptionLines(s, language); };
    if (language == Language::kChinese) {
        return QStringLiteral(
                   "用法：scan39 --box X1,Y1,X2,Y2 [--json|--raw] [-q] [-1] 来源...\n"
                   "      scan39 [--json|--raw] [-q] [-1] [--check-digit] [--full-ascii]\n"
                   "             [--effort fast|thorough] [--polarity dark|light|both] [--jobs N]\n"
                   "             [--dpi N] [--annotate 文件夹]\n"
                   "             [--grade [--aperture 像素] [--grade-bands integer|fractional]] "
                   "来源...\n"
                   "      scan39 --sample [--box X1,Y1,X2,Y2] [--json|--raw] [-q] [-1]\n"
                   "      scan39 split [选项]... 文件... --out 文件夹   （scan39 split --help）\n"
                   "      scan39 --help | --version\n"
                   "来源：图片 | 文件夹 | --files-from 文件 | -（标准输入的一幅图片）\n"
                   "\n"
                   "从 BMP、JPEG、GIF、PNG、TIFF 或 WebP 图片中读出 Code 39 条码；不带 --box "
                   "时\n"
                   "也读 PDF 文件和多页 TIFF 的每一页。图片参数（及 --files-from 名单中的名字）也\n"
                   "可以是文件夹：其中及各级子文件夹中装入程序按内容认得的图片（不带 --box 时也有\n"
                   "PDF）按路径的字节顺序逐个读取；其他文件、名字以点开头的文件和文件夹、--"
                   "annotate\n"
                   "文件夹、指向文件夹的符号链接、设备和管道都悄悄跳过。文件夹中没有图片时在标准错"
                   "误\n"
                   "上说明，退出状态至少为 1。\n"
                   "\n"
                   "带 --box 时，像用鼠标在扫描控件上拖出红框一样读取：\n") +
               options(Section::kBox) +
               QStringLiteral(
                   "不带 --box 时，在整幅图片中查找并读取每一个条码（任意位置和角度）：\n") +
               options(Section::kAutomatic) + options(Section::kGeneral) +
               QStringLiteral(
                   "\n"
                   "输出解码的文本，每个图片（不带 --box "
                   "时每个条码）一行，有多幅图片或图片来自文件夹、名单时在前面加上图片名。\n"
                   "带 --box 读不出时，标准错误上控件的“错误：…”一行之后另有一行说明原因。\n"
                   "名字或文本含控制字符（换行、制表、ESC 等）时以 shell 引用形式 $'...' 显示，\n"
                   "用 \\n、\\t、\\xHH 等转义，与 ls 显示这种文件名的方式相同；其他照原样输出。\n"
                   "JSON（--json）：每幅图片（多页文件每一页）一行\n"
                   "  带 --box：{\"file\":...,\"result\":0|1,\"value\":...|null}；result 为 1 "
                   "时另有\n"
                   "    \"reason\"：读不出的原因\n"
                   "  不带 "
                   "--box：{\"file\":...,\"symbols\":[{\"text\":...,\"position\":[[x,y],[x,y],\n"
                   "    "
                   "[x,y],[x,y]],\"angle\":...,\"lines\":...,\"aim\":...},...]}"
                   "（条码从上到下、从左到右；四个角按\n"
                   "    阅读顺序，角度以度计，最多 2 位小数；lines "
                   "为读出相同文本的扫描线数；aim 为 AIM\n"
                   "    符号标识符：]A0 普通，]A3 校验字符已核对并去掉，]A4 全 ASCII，\n"
                   "    ]A7 两者）；没有条码的\n"
                   "    图片 \"symbols\":[]；查找未覆盖整幅图片时另有 "
                   "\"truncated\":true，退出状态至少为 1\n"
                   "    检验字符正确的条码另有 \"checked\":true；文本符合 Code 32、PZN 或 HIBC "
                   "时另有\n"
                   "    \"interpretation\":{\"kind\":...,\"valid\":...,\"value\":...}；带 --grade "
                   "时另有\n"
                   "    "
                   "\"grade\":{\"overall\":...,\"value\":...,\"scans\":10,\"parameters\":{...},\n"
                   "    \"x_dimension_px\":...,\"wide_narrow_ratio\":...,\"fractional\":{...},\n"
                   "    \"decoded\":...,\"rules\":{...},\"profiles\":[...]}（没有曲线译出时 X 与\n"
                   "    宽窄比为 null；profiles 为每条曲线自己的等级及不合格的参数）；对找到但\n"
                   "    未能译码的条码另有 \"unread\":[{\"text\":null,\"unread\":true,\"position\":...,\n"
                   "    \"angle\":...,\"lines\":...,\"characters\":...,\"failing\":\"decode\"|\n"
                   "    \"quiet_zones\",\"grade\":{...}},...]，等级为 F（文本输出写在标准错误上；\n"
                   "    图片没有其他条码时退出状态为 1）\n"
                   "  多页文件（PDF、多页 TIFF）：\"file\" 之后另有 \"page\"（页码，从 1 起）和 "
                   "\"pages\"，\n"
                   "    每一页如同一幅图片\n"
                   "  --sample：每个条码 {\"symbol\":...,\"box\":[X1,Y1,X2,Y2],\"result\":0|1,\n"
                   "    \"value\":...|null,\"expected\":...}\n"
                   "  无法装入的图片：{\"file\":...,\"error\":...}；文件名不是有效 UTF-8 时另有\n"
                   "    \"file_bytes\"：文件名的原始字节（base64）\n"
                   "退出状态：0 全部读出，1 有图片没有可读的条码，2 "
                   "有图片无法装入、参数错误或无法写出结果；读取结果的一方提前退出时，\n"
                   "本程序像其他过滤程序一样因 SIGPIPE 静默结束。\n"
                   "语言：LC_ALL、LC_MESSAGES 或 LANG 以 zh 开头时用中文，否则用英文。\n");
    }
    return QStringLiteral(
               "Usage: scan39 --box X1,Y1,X2,Y2 [--json|--raw] [-q] [-1] SOURCE...\n"
               "       scan39 [--json|--raw] [-q] [-1] [--check-digit] [--full-ascii]\n"
               "              [--effort fast|thorough] [--polarity dark|light|both] [--jobs N]\n"
               "              [--dpi N] [--annotate DIR]\n"
               "              [--grade [--aperture PX] [--grade-bands integer|fractional]] SOURCE...\n"
               "       scan39 --sample [--box X1,Y1,X2,Y2] [--json|--raw] [-q] [-1]\n"
               "       scan39 split [OPTION]... FILE... --out DIR   (scan39 split --help)\n"
               "       scan39 --help | --version\n"
               "SOURCE: PICTURE | FOLDER | --files-from FILE | - (one picture on standard input)\n"
               "\n"
               "Reads Code 39 barcodes out of BMP, JPEG, GIF, PNG, TIFF or WebP pictures; without\n"
               "--box also out of every page of PDF files and multi-page TIFFs. A PICTURE (or a\n"
               "name in a --files-from list) may be a folder: the pictures the loader knows by\n"
               "their content in it and in all its subfolders (without --box PDFs too) are read\n"
               "in byte order of their paths. Other files, names starting with a dot, the\n"
               "--annotate folder, links to folders, devices and pipes are passed over\n"
               "silently; a folder without pictures is said on stderr and makes the exit status\n"
               "at least 1.\n"
               "\n"
               "With --box, the way the scanning control does when a red box is dragged over "
               "it:\n") +
           options(Section::kBox) +
           QStringLiteral("Without --box, every symbol anywhere in the picture, at any angle:\n") +
           options(Section::kAutomatic) + options(Section::kGeneral) +
           QStringLiteral(
               "\n"
               "Prints the decoded text, one line per picture (without --box: per symbol),\n"
               "prefixed with the picture's name when there are several or they come from a\n"
               "folder or a list. A box that reads nothing gets the control's \"错误：...\" line\n"
               "on stderr, then a line saying why.\n"
               "A name or text holding a control character (line feed, tab, ESC, ...) is shown\n"
               "in shell quoting, $'...' with \\n, \\t, \\xHH escapes, as ls shows such names;\n"
               "every other name and text is printed as it is.\n"
               "JSON (--json), one line per picture (per page of a file of several):\n"
               "  with --box: {\"file\":...,\"result\":0|1,\"value\":...|null}, with result 1\n"
               "    also \"reason\", why nothing was read\n"
               "  without --box: "
               "{\"file\":...,\"symbols\":[{\"text\":...,\"position\":[[x,y],[x,y],\n"
               "    [x,y],[x,y]],\"angle\":...,\"lines\":...,\"aim\":...},...]} (symbols top to\n"
               "    bottom, left to right; corners in reading order and angle in degrees, at most\n"
               "    2 decimals; lines: scan lines that agreed; aim: the AIM symbology identifier,\n"
               "    ]A0 plain, ]A3 check character verified and stripped, ]A4 full ASCII, ]A7\n"
               "    both); \"symbols\":[] for a picture with none;\n"
               "    \"truncated\":true where the search could not cover the picture whole (the "
               "exit\n"
               "    status is then 1 or more); a symbol whose check character matched gets\n"
               "    \"checked\":true, a text that follows Code 32, PZN or HIBC "
               "\"interpretation\":\n"
               "    {\"kind\":...,\"valid\":...,\"value\":...}; with --grade "
               "\"grade\":{\"overall\":...,\n"
               "    \"value\":...,\"scans\":10,\"parameters\":{...},\"x_dimension_px\":...,\n"
               "    \"wide_narrow_ratio\":...,\"fractional\":{\"overall\":...,\"value\":...},\n"
               "    \"decoded\":...,\"rules\":{...},\"profiles\":[...]} (X and ratio null when\n"
               "    no profile decoded; each profile's own grades, failing parameter), and\n"
               "    \"unread\":[{\"text\":null,\"unread\":true,\"position\":...,\"angle\":...,\n"
               "    \"lines\":...,\"characters\":...,\"failing\":\"decode\"|\"quiet_zones\",\n"
               "    \"grade\":{...}},...] for symbols located but not read, graded F (in text on\n"
               "    stderr: \"unread symbol at X,Y (decode failed): grade F 0.0 (...)\"; a\n"
               "    picture with no other symbol has exit status 1)\n"
               "  a file of several pages (PDF, multi-page TIFF): \"page\" (from 1) and \"pages\"\n"
               "    after \"file\", and each page counts as a picture\n"
               "  --sample, per symbol: {\"symbol\":...,\"box\":[X1,Y1,X2,Y2],\"result\":0|1,\n"
               "    \"value\":...|null,\"expected\":...}\n"
               "  a picture that cannot be loaded: {\"file\":...,\"error\":...}; a file name that "
               "is\n"
               "    not valid UTF-8 also gets \"file_bytes\", its exact bytes in base64\n"
               "Exit status: 0 all decoded, 1 a picture held no readable symbol, 2 a picture "
               "could\n"
               "not be loaded, the arguments are wrong or the results could not be written; when\n"
               "the reader of the results stops reading, scan39 ends silently by SIGPIPE.\n"
               "Language: Chinese when LC_ALL, LC_MESSAGES or LANG starts with zh, else "
               "English.\n");
}

// Both through the reader's JSON writer: one escaping for every JSON text scan39 writes.
QString JsonString(const QString& text) {
    return QString::fromStdString(reader::JsonString(text.toStdString()));
}

QString JsonFileMembers(const QByteArray& name) {
    return QString::fromStdString(reader::JsonFileMembers(
        std::string_view(name.constData(), static_cast<std::size_t>(name.size()))));
}

}  // namespace scan39::cli
