// scan39 split: the arguments, the files read several at a time, the parts written and the
// plan printed in the order of the arguments.

#include "split_p.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "runner_p.h"
#include "scan39/documents/document.h"
#include "scan39/host/picture.h"

namespace scan39::cli {

namespace {

QString Need(Language language, const QString& option, const QString& what) {
    // `what` brings its own leading space in English (" a folder"), none in Chinese.
    return Tr(language, QStringLiteral("%1 needs%2"), QStringLiteral("%1 需要%2"))
        .arg(option, what);
}

}  // namespace

SplitParse ParseSplitArguments(const QStringList& args, const QList<QByteArray>& raw,
                               Language language) {
    SplitParse result;
    SplitCommand c;
    c.language = language;
    bool separatorsGiven = false;
    bool optionsEnded = false;
    const auto fail = [&](const QString& error) {
        result.error = error;
        return result;
    };
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        const QByteArray bytes = i < raw.size() ? raw[i] : arg.toUtf8();
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            c.inputs.append(bytes);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString name = arg;
        std::optional<QString> value;
        std::optional<QByteArray> valueBytes;
        if (const qsizetype eq = arg.indexOf(QLatin1Char('='));
            arg.startsWith(QLatin1String("--")) && eq > 0) {
            name = arg.left(eq);
            value = arg.mid(eq + 1);
            valueBytes = bytes.mid(bytes.indexOf('=') + 1);
        }
        const auto take = [&](const QString& what) -> std::optional<QString> {
            if (value) return value;
            if (i + 1 >= args.size()) {
                result.error = Need(language, name, what);
                return std::nullopt;
            }
            ++i;
            valueBytes = i < raw.size() ? raw[i] : args[i].toUtf8();
            return args[i];
        };
        // A value that names something (a folder, a text): an empty one is as good as none.
        const auto takeSome = [&](const QString& what) -> std::optional<QString> {
            auto v = take(what);
            if (v && v->isEmpty()) {
                result.error = Need(language, name, what);
                return std::nullopt;
            }
            return v;
        };
        const auto regex = [&](const QString& text, QRegularExpression& into) -> bool {
            into = QRegularExpression(text);
            if (into.isValid() && !text.isEmpty()) return true;
            result.error =
                Tr(language, QStringLiteral("%1: \"%2\" is not a regular expression (%3)"),
                   QStringLiteral("%1：“%2”不是正则表达式（%3）"))
                    .arg(name, text, into.errorString());
            return false;
        };
        const auto flag = [&] {
            if (!value) return true;
            result.error =
                Tr(language, QStringLiteral("%1 takes no value"), QStringLiteral("%1 不接受值"))
                    .arg(name);
            return false;
        };
        if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
            if (!flag()) return result;
            c.help = true;
        } else if (name == QLatin1String("--json")) {
            if (!flag()) return result;
            c.json = true;
        } else if (name == QLatin1String("--dry-run")) {
            if (!flag()) return result;
            c.dryRun = true;
        } else if (name == QLatin1String("--keep-separators")) {
            if (!flag()) return result;
            c.split.rules.keepSeparators = true;
        } else if (name == QLatin1String("--fast")) {
            if (!flag()) return result;
            c.split.fast = true;
        } else if (name == QLatin1String("--out") || name == QLatin1String("-o")) {
            if (!takeSome(Tr(language, QStringLiteral(" a folder"), QStringLiteral("一个文件夹"))))
                return result;
            if (!c.out.isEmpty())
                return fail(Tr(language, QStringLiteral("--out given more than once"),
                               QStringLiteral("--out 给出了不止一次")));
            c.out = *valueBytes;
        } else if (name == QLatin1String("--separator")) {
            const auto v =
                takeSome(Tr(language, QStringLiteral(" a text"), QStringLiteral("一段文字")));
            if (!v) return result;
            if (!separatorsGiven) c.split.rules.separators.clear();
            separatorsGiven = true;
            c.split.rules.separators.append(*v);
        } else if (name == QLatin1String("--separator-pattern")) {
            const auto v = take(QStringLiteral(" REGEX"));
            if (!v || !regex(*v, c.split.rules.separatorPattern)) return result;
        } else if (name == QLatin1String("--name-from")) {
            const auto v = take(QStringLiteral(" REGEX"));
            if (!v || !regex(*v, c.split.rules.nameFrom)) return result;
        } else if (name == QLatin1String("--on-error")) {
            const auto v = take(QStringLiteral(" keep|stop"));
            if (!v) return result;
            if (*v != QLatin1String("keep") && *v != QLatin1String("stop"))
                return fail(Tr(language, QStringLiteral("--on-error is keep or stop, not \"%1\""),
                               QStringLiteral("--on-error 只能是 keep 或 stop，不能是“%1”"))
                                .arg(*v));
            c.split.rules.stopOnError = *v == QLatin1String("stop");
        } else if (name == QLatin1String("--jobs") || name == QLatin1String("-j") ||
                   name == QLatin1String("--dpi") || name == QLatin1String("--file-time-limit")) {
            const bool jobs = name == QLatin1String("--jobs") || name == QLatin1String("-j");
            const bool seconds = name == QLatin1String("--file-time-limit");
            const auto v =
                take(Tr(language, QStringLiteral(" a number"), QStringLiteral("一个数")));
            if (!v) return result;
            bool ok = false;
            const int n = v->toInt(&ok);
            const int low = jobs || seconds ? 1 : documents::kMinDpi;
            const int high = jobs      ? kMaxJobs
                             : seconds ? documents::kMaxFileSeconds
                                       : documents::kMaxDpi;
            if (!ok || n < low || n > high)
                return fail(Tr(language, QStringLiteral("%1 takes a number from %2 to %3"),
                               QStringLiteral("%1 需要 %2 到 %3 之间的数"))
                                .arg(name)
                                .arg(low)
                                .arg(high));
            (jobs ? c.jobs : seconds ? c.split.fileSeconds : c.split.dpi) = n;
        } else {
            return fail(
                Tr(language, QStringLiteral("unknown option %1"), QStringLiteral("未知选项 %1"))
                    .arg(name));
        }
    }
    if (!c.help) {
        if (c.out.isEmpty())
            return fail(Tr(language,
                           QStringLiteral("split needs --out DIR, the folder for the parts"),
                           QStringLiteral("split 需要 --out DIR，存放各部分的文件夹")));
        if (c.inputs.isEmpty())
            return fail(Tr(language, QStringLiteral("split needs a PDF or TIFF file to split"),
                           QStringLiteral("split 需要一个要拆分的 PDF 或 TIFF 文件")));
    }
    result.command = std::move(c);
    return result;
}

QString SplitUsageText(Language language) {
    return Tr(language, QStringLiteral(R"(Usage: scan39 split [OPTION]... FILE... --out DIR

Cuts scanned batches (PDFs and multi-page TIFFs; a folder stands for those in it and its
subfolders) into their documents, at separator sheets that carry a Code 39 symbol, or before
each page that carries a document's number. The parts copy the original pages as they are
(a PDF's page objects with their images, text and rotation; a TIFF's compressed pages and
their resolution): nothing is drawn again, and the inputs are only read.

  -o, --out DIR               the folder for the parts (made when missing)
      --separator TEXT        a page carrying a symbol with exactly TEXT is a separator sheet
                              (repeatable; default PATCHT)
      --separator-pattern REGEX
                              ... or with a text REGEX matches (anchor with ^ and $)
      --keep-separators       keep separator pages, as the first page of the document after
                              them, instead of dropping them
      --name-from REGEX       a page with a symbol REGEX matches starts a new document, is
                              kept, and names it: the whole match, e.g. '^ASN\d+$' names
                              the part ASN00123.pdf
      --on-error keep|stop    a page that cannot be read: keep it in the current document
                              (default) or split nothing of its file and stop the run; the
                              exit status is 2 either way
      --dry-run               print the plan, write nothing
      --json                  one JSON record per part (and per error)
  -j, --jobs N                read N files at a time (default: one per core)
      --dpi N                 resolution PDF pages are drawn at to find the symbols
                              (default 150; a separator's symbol is large)
      --file-time-limit SECONDS
                              seconds a file may take to be read (default 600); the pages
                              not read by then are errors
      --fast                  the reader's fast search (upright symbols only)
  -h, --help                  this text

Decisions:
  - Parts without names are STEM-001, STEM-002, ... after the input's name; the extension is
    the input's (.pdf, .tif, .tiff).
  - Two separators in a row, or one at the start or the end, make no empty part. Separators
    at the end belong to the last part.
  - A page with several names uses the first in reading order (top to bottom, left to
    right); the rest are listed as "other_names". A page with the name the current document
    already has continues that document (the same number stamped on each page); another name
    starts a new one. A separator sheet that also carries a name gives it to the document
    after it.
  - A name never replaces a file: when it is taken (by an earlier part, or any file in DIR)
    -2, -3 ... is added, as --annotate does. Each part is written to a hidden temporary file
    in DIR first and appears under its name only when it is whole and on disk; a run killed
    meanwhile leaves at most a hidden ".NAME.part-..." file, never a partial part.
  - "scan39 split" followed by anything is this command: a picture named split is read as
    "scan39 ./split".

Records (--json), pages counted from 1:
  {"input":"scan.pdf","output":"out/scan-001.pdf","pages":[1,2],"separators":[3],"name":null}
  {"input":"scan.pdf","page":4,"pages":9,"error":"..."}   a page that could not be read
  {"input":"x.pdf","error":"..."}                          a file that could not be split
"separators": the separator pages before the part (after it, for the last part's trailing
ones). With --dry-run, "output" is the name the part would get now.

Exit status: 0 every file split; 1 a file gave no part (only separators); 2 an error (a file
or page that could not be read, a part that could not be written, bad arguments).
)"),
              QStringLiteral(R"(用法：scan39 split [选项]... 文件... --out 文件夹

把扫描的整批文件（PDF 和多页 TIFF；文件夹代表其中及子文件夹中的这些文件）拆成各份文件：
在带有 Code 39 条码的分隔页处拆分，或在每个带有文件编号的页面之前拆分。各部分按原样复制
原来的页面（PDF 的页面对象及其图像、文字和旋转；TIFF 的压缩页面及其分辨率），不重新绘制，
输入文件只被读取。

  -o, --out DIR               存放各部分的文件夹（不存在时创建）
      --separator TEXT        带有内容恰为 TEXT 的条码的页面是分隔页（可重复；默认 PATCHT）
      --separator-pattern REGEX
                              ……或内容与 REGEX 匹配的条码（用 ^ 和 $ 锚定）
      --keep-separators       保留分隔页，作为其后那份文件的第一页，而不是丢弃
      --name-from REGEX       带有与 REGEX 匹配的条码的页面开始一份新文件并保留，整个匹配
                              作为文件名，例如 '^ASN\d+$' 得到 ASN00123.pdf
      --on-error keep|stop    无法读取的页面：留在当前文件中（默认），或不拆分该文件并停止；
                              两种情况退出状态均为 2
      --dry-run               只打印计划，不写任何文件
      --json                  每个部分（及每个错误）一条 JSON 记录
  -j, --jobs N                同时读取 N 个文件（默认每个处理器核心一个）
      --dpi N                 查找条码时 PDF 页面的绘制分辨率（默认 150）
      --file-time-limit SECONDS
                              每个文件读取的时间上限（默认 600 秒）；届时未读的页面记为错误
      --fast                  阅读器的快速搜索（只读正向的条码）
  -h, --help                  本说明

约定：
  - 无名称的部分命名为 STEM-001、STEM-002……，扩展名与输入相同。
  - 连续两个分隔页、开头或结尾的分隔页不会产生空的部分；结尾的分隔页归最后一部分。
  - 一页有多个名称时用阅读顺序中的第一个，其余列在 "other_names" 中；与当前文件同名的页面
    继续当前文件，不同名称开始新文件；同时带名称的分隔页把名称交给其后的文件。
  - 从不覆盖文件：名称已被占用时加 -2、-3……（与 --annotate 相同）。每个部分先写入文件夹中
    的隐藏临时文件，完整写到磁盘后才以其名称出现；中途被终止时只会留下隐藏的
    ".NAME.part-..." 文件。
  - "scan39 split" 后跟任何参数都是本命令；名为 split 的图片请写作 "scan39 ./split"。

记录（--json），页码从 1 起：
  {"input":"scan.pdf","output":"out/scan-001.pdf","pages":[1,2],"separators":[3],"name":null}
  {"input":"scan.pdf","page":4,"pages":9,"error":"..."}   无法读取的页面
  {"input":"x.pdf","error":"..."}                          无法拆分的文件

退出状态：0 全部拆分；1 某文件没有产生任何部分（只有分隔页）；2 出错。
)"));
}

int RunSplit(const SplitCommand& c, Sink& out, Sink& err) {
    const Language language = c.language;
    // Folders become the PDFs and TIFFs in them, by the same walk as reading; the output
    // folder is passed over, its parts being this command's own.
    Options walk;
    walk.language = language;
    walk.pictureBytes = c.inputs;
    for (const QByteArray& name : c.inputs) walk.pictures.append(QFile::decodeName(name));
    walk.annotateDir = QFile::decodeName(c.out);
    walk.annotateDirBytes = c.out;
    NameSource source(walk);
    int status = kExitDecoded;
    if (const auto failure = source.open()) {
        err << *failure;
        return kExitError;
    }
    std::vector<QByteArray> names;
    {
        QByteArray name, notes;
        while (true) {
            const bool more = source.next(name, notes);
            err << notes;
            notes.clear();
            if (!more) break;
            names.push_back(name);
        }
        status = std::max(status, source.status());
    }

    int dirFd = -1;
    if (!c.dryRun) ::mkdir(c.out.constData(), 0777);
    dirFd = ::open(c.out.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0 && !(c.dryRun && errno == ENOENT)) {
        err << Tr(language, QStringLiteral("scan39: cannot use the folder %1 (%2)\n"),
                  QStringLiteral("scan39：无法使用文件夹 %1（%2）\n"))
                   .arg(QFile::decodeName(Shown(c.out)),
                        QString::fromLocal8Bit(std::strerror(errno)));
        return kExitError;
    }
    const auto closeDir = qScopeGuard([&] {
        if (dirFd >= 0) ::close(dirFd);
    });

    // Files are read several at a time; their parts are written and printed in order, so that
    // names and output repeat from run to run.
    std::vector<std::optional<documents::SplitResult>> results(names.size());
    std::mutex lock;
    std::condition_variable ready;
    std::atomic<size_t> nextFile{0};
    std::atomic<bool> stop{false};
    const int jobs =
        std::max(1, std::min<int>(c.jobs > 0 ? c.jobs : int(std::thread::hardware_concurrency()),
                                  int(names.size())));
    std::vector<std::thread> workers;
    for (int j = 0; j < jobs; ++j) {
        workers.emplace_back([&] {
            for (size_t i; !stop && (i = nextFile++) < names.size();) {
                documents::SplitResult r = documents::PlanFile(names[i], c.split);
                const std::lock_guard guard(lock);
                results[i] = std::move(r);
                ready.notify_all();
            }
        });
    }
    const auto given = [&](const QByteArray& name) { return c.inputs.contains(name); };
    std::vector<QByteArray> taken;
    for (size_t i = 0; i < names.size(); ++i) {
        documents::SplitResult r;
        {
            std::unique_lock guard(lock);
            ready.wait(guard, [&] { return results[i].has_value(); });
            r = std::move(*results[i]);
            results[i].reset();
        }
        // Other pictures found in a folder are not batches: passed over, as the walk passes
        // over what is not a picture.
        if (r.error && !given(r.input) && *r.error == QLatin1String("neither a PDF nor a TIFF"))
            continue;
        documents::WriteParts(r, dirFd, c.dryRun, taken);
        r.bytes.clear();
        if (c.json) {
            for (const std::string& record : documents::SplitRecords(r, c.out))
                out << QByteArray::fromStdString(record) << '\n';
        } else {
            const QByteArray folder = c.out.endsWith('/') ? c.out : c.out + '/';
            for (int k = 0; k < r.written; ++k) {
                const documents::SplitPart& part = r.parts[size_t(k)];
                QByteArray pages;
                for (size_t p = 0; p < part.pages.size(); ++p) {
                    // Runs of pages as ranges: 1-3,5.
                    size_t q = p;
                    while (q + 1 < part.pages.size() && part.pages[q + 1] == part.pages[q] + 1) ++q;
                    if (!pages.isEmpty()) pages += ',';
                    pages += QByteArray::number(part.pages[p] + 1);
                    if (q > p) pages += '-' + QByteArray::number(part.pages[q] + 1);
                    p = q;
                }
                out << Shown(r.input) << ": "
                    << Tr(language, QStringLiteral("pages "), QStringLiteral("页 ")) << pages
                    << " -> " << Shown(folder + part.leaf);
                if (!part.name.isEmpty()) out << " (" << Shown(part.name) << ')';
                out << '\n';
            }
        }
        const QByteArray prefix = "scan39: " + Shown(r.input);
        if (!c.json) {
            // With --json the records say it.
            if (r.error) err << prefix << ": " << *r.error << '\n';
            for (const auto& [page, error] : r.pageErrors)
                err << prefix
                    << Tr(language, QStringLiteral(": page %1: "), QStringLiteral("：第 %1 页："))
                           .arg(page + 1)
                    << error << '\n';
            if (r.writeError) err << prefix << ": " << *r.writeError << '\n';
        }
        if (r.error || !r.pageErrors.empty() || r.writeError) {
            status = kExitError;
        } else if (r.parts.empty()) {
            err << prefix
                << Tr(language, QStringLiteral(": no pages besides separators; nothing written\n"),
                      QStringLiteral("：除分隔页外没有页面；未写出任何文件\n"));
            status = std::max(status, int{kExitNotDecoded});
        }
        if (c.split.rules.stopOnError && (!r.pageErrors.empty() || r.error)) {
            stop = true;
            break;
        }
        if (out.failed()) {
            stop = true;
            break;
        }
    }
    stop = true;
    for (std::thread& t : workers) t.join();
    return status;
}

int SplitMain(const QStringList& args, const QList<QByteArray>& raw, Language language, Sink& out,
              Sink& err) {
    const SplitParse parsed = ParseSplitArguments(args, raw, language);
    if (!parsed.command) {
        err << "scan39 split: " << parsed.error << "\n\n"
            << SplitUsageText(language).section(QStringLiteral("\n\n"), 0, 0)
            << Tr(language, QStringLiteral("\n\nTry 'scan39 split --help' for more.\n"),
                  QStringLiteral("\n\n详见 scan39 split --help。\n"));
        return kExitError;
    }
    if (parsed.command->help) {
        out << SplitUsageText(language);
        return kExitDecoded;
    }
    int argc = 1;
    char name[] = "scan39";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    host::SilenceImageLibraryMessages();
    return RunSplit(*parsed.command, out, err);
}

}  // namespace scan39::cli
