#include "runner_p.h"

#include <QApplication>
#include <algorithm>
#include <utility>

#include "scan39/box_record.h"
#include "scan39/drag.h"
#include "scan39/host/errors.h"
#include "scan39/host/services.h"
#include "scan39/record_json.h"
#include "scan39/samples.h"
#include "scan39/scan.h"
#include "scan39/uo_scan.h"

namespace scan39::cli {

namespace {

const QString kNotDecodedText = QStringLiteral("错误：非39码或扫描位置不正确");

struct Outcome {
    std::int16_t result = 1;
    QString value;
    QString reason;  // why nothing was read, in the user's language; empty when unknown
};

// The control's own text stays a line of its own; the reason follows on the next. --raw
// leaves the names off the results only, -q the lines for a box that read nothing.
void PrintOutcome(const Options& options, const QByteArray& label, bool prefix, const Outcome& o,
                  Sink& out, Sink& err) {
    const QByteArray lead = prefix ? Shown(label) + ": " : QByteArray();
    if (o.result == kScanDecoded) {
        if (options.raw)
            out << o.value.toUtf8() << '\n';
        else
            out << lead << Shown(o.value) << '\n';
        return;
    }
    if (options.quiet) return;
    err << lead << kNotDecodedText << '\n';
    if (!o.reason.isEmpty()) err << lead << o.reason << '\n';
}

QByteArray Line(const std::string& json) { return QByteArray::fromStdString(json) + '\n'; }

void PrintJsonOutcome(const QByteArray& file, const Outcome& o, Sink& out) {
    const std::string value = o.value.toStdString(), reason = o.reason.toStdString();
    reader::BoxRecord record;
    record.file = std::string_view(file.constData(), static_cast<std::size_t>(file.size()));
    record.result = o.result;
    if (o.result == kScanDecoded) record.value = value;
    if (o.result != kScanDecoded && !o.reason.isEmpty()) record.reason = reason;
    out << Line(reader::BoxRecordJson(record));
}

// Why a box read nothing on a picture of `size` pixels: the drag's direction and length
// first, since a person at the window gets those wrong most.
QString BoxFailure(const Box& b, QSize size, Language l) {
    const auto drag = [&](const QString& english, const QString& chinese) {
        return Tr(l, english, chinese)
            .arg(QStringLiteral("%1,%2").arg(b.x1).arg(b.y1),
                 QStringLiteral("%1,%2").arg(b.x2).arg(b.y2));
    };
    if (b.y2 < b.y1)
        return drag(QStringLiteral("the box was dragged upward, from %1 to %2; drag down and to "
                                   "the right"),
                    QStringLiteral("框是从 %1 向上拖到 %2 的；应向右下方拖动"));
    if (b.x2 < b.x1)
        return drag(QStringLiteral("the box was dragged to the left, from %1 to %2; drag down and "
                                   "to the right"),
                    QStringLiteral("框是从 %1 向左拖到 %2 的；应向右下方拖动"));
    if (b.y2 - b.y1 < 2 || b.x2 - b.x1 < 2)
        return Tr(l,
                  QStringLiteral("the drag is too short, %1 pixels across and %2 down; it must "
                                 "cross the symbol and go at least 2 pixels down"),
                  QStringLiteral("拖动太短：横向 %1 像素，向下 %2 像素；应横跨条码并向下至少 2 "
                                 "个像素"))
            .arg(b.x2 - b.x1)
            .arg(b.y2 - b.y1);
    if (b.x1 >= size.width() || b.y1 >= size.height() || b.x2 < 0 || b.y2 < 0)
        return Tr(l, QStringLiteral("the box lies outside the picture of %1×%2 pixels"),
                  QStringLiteral("框在 %1×%2 像素的图片之外"))
            .arg(size.width())
            .arg(size.height());
    return Tr(l,
              QStringLiteral("nothing readable along the row below the box's top edge; start the "
                             "box in the white margin left of the symbol and end it in the margin "
                             "right of it"),
              QStringLiteral("框上边缘下面一行读不出条码；框应从条码左侧的空白处开始，到右侧的空白"
                             "处结束"));
}

Outcome ScanPicture(Uo_Scan& control, const host::PictureRef& picture, const Box& box,
                    Language language) {
    control.setPicture(picture);
    Outcome o;
    o.result = scan39::DragAndScan(control, box.x1, box.y1, box.x2, box.y2);
    o.value = control.Value();
    if (o.result != kScanDecoded)
        o.reason = BoxFailure(box, QSize(picture->width(), picture->height()), language);
    return o;
}

host::PictureRef SamplePicture() {
    const auto bytes = samples::FormSamplePicture();
    return host::LoadPictureFromData(QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<qsizetype>(bytes.size())),
                                     QStringLiteral("sample picture"));
}

// "band 3", or "band 2 left" / "band 2 right" where two symbols share a band.
QString SymbolLabel(const samples::SampleSymbol& s,
                    std::span<const samples::SampleSymbol> symbols) {
    QString label = QStringLiteral("band %1").arg(s.band);
    for (const auto& other : symbols) {
        if (other.band == s.band && &other != &s)
            return label +
                   (s.left < other.left ? QStringLiteral(" left") : QStringLiteral(" right"));
    }
    return label;
}

int RunSampleSymbols(const Options& options, Uo_Scan& control, Sink& out, Sink& err) {
    const auto symbols = samples::FormSampleSymbols();
    control.setPicture(SamplePicture());
    int status = kExitDecoded;
    for (const auto& s : symbols) {
        const QString label = SymbolLabel(s, symbols);
        const Box box = BoxAcross(s.left, s.right, s.top, s.bottom);
        Outcome o;
        o.result = scan39::DragAndScan(control, box.x1, box.y1, box.x2, box.y2);
        o.value = control.Value();
        const QString expected =
            QString::fromLatin1(s.text.data(), static_cast<qsizetype>(s.text.size()));
        const bool wrong = o.result == kScanDecoded && o.value != expected;
        if (options.json) {
            const std::string symbol = label.toStdString(), value = o.value.toStdString(),
                              wanted = expected.toStdString();
            reader::BoxRecord record;
            record.symbol = symbol;
            record.box = {box.x1, box.y1, box.x2, box.y2};
            record.result = o.result;
            if (o.result == kScanDecoded) record.value = value;
            record.expected = wanted;
            out << Line(reader::BoxRecordJson(record));
        } else {
            PrintOutcome(options, label.toUtf8(), true, o, out, err);
            if (wrong)
                err << label
                    << Tr(options.language, QStringLiteral(": expected "),
                          QStringLiteral("：应为 "))
                    << expected << '\n';
        }
        status = std::max(status, (o.result != kScanDecoded || wrong) ? int{kExitNotDecoded} : 0);
        if (!out.flush() || !err.flush()) break;
        if (options.oneshot && o.result == kScanDecoded) return wrong ? status : int{kExitDecoded};
    }
    return status;
}

}  // namespace

Box BoxAcross(int left, int right, int top, int bottom) {
    constexpr int kMargin = 6;  // into the white margin on either side
    constexpr int kInside = 3;  // top edge this far inside the bars
    const int y1 = std::min(top + kInside, bottom);
    return Box{std::max(0, left - kMargin), y1, right + kMargin + 1, y1 + 10};
}

int Run(const Options& given, Sink& out, Sink& err) {
    Options options = given;
    NameSource source(options);
    if (!options.sample) {
        if (const auto failure = source.open()) {
            err << *failure;
            return kExitError;
        }
    }
    const NextName fromSource = [&](QByteArray& name, QByteArray& notes) {
        return source.next(name, notes);
    };
    if (options.automatic()) {
        if (!options.annotateDir) {
            // The source's status is known once every name has been taken.
            bool found = false;
            const int status = RunAutomatic(options, fromSource, source.prefix(), out, err, &found);
            return found ? status : std::max(status, source.status());
        }
        // The annotated copies' names are chosen knowing every picture's (none replaces
        // another's copy or an input): with --annotate the names are gathered first.
        QList<QByteArray> names;
        QByteArray name, notes;
        for (bool more = true; more;) {
            more = source.next(name, notes);
            err << notes;
            if (more) names.append(name);
        }
        const Options gathered = [&] {
            Options o = options;
            o.pictureBytes = names;
            o.pictures.clear();
            o.fileLists.clear();
            return o;
        }();
        qsizetype at = 0;
        const NextName fromList = [&](QByteArray& n, QByteArray& notesBefore) {
            notesBefore.clear();
            if (at >= names.size()) return false;
            n = names[at++];
            return true;
        };
        bool found = false;
        const int status = RunAutomatic(gathered, fromList, source.prefix(), out, err, &found);
        return found ? status : std::max(status, source.status());
    }
    Uo_Scan control;  // standalone: run time, sizes itself
    control.InitProperties();

    if (options.sample && !options.box) return RunSampleSymbols(options, control, out, err);

    int status = kExitDecoded;
    const bool prefix = source.prefix();
    bool sampleGiven = false;
    QByteArray file, notes;
    while (true) {
        bool more = false;
        if (options.sample) {
            more = !std::exchange(sampleGiven, true);
            file = QByteArrayLiteral("sample");
        } else {
            more = source.next(file, notes);
            err << notes;
        }
        if (!more) break;
        Outcome o;
        std::optional<LoadError> error;
        try {
            const host::PictureRef picture =
                options.sample ? SamplePicture() : LoadNamedPicture(file, true);
            o = ScanPicture(control, picture, *options.box, options.language);
        } catch (const LoadError& e) {
            error = e;
        } catch (const host::RuntimeError& e) {
            error = FromRuntimeError(e);
        } catch (const std::bad_alloc&) {
            error = OutOfMemory();
        }
        // The picture and the control's drawn copy of it go before the next picture loads.
        control.setPicture(nullptr);
        if (error) {
            if (options.json) {
                const std::string text = error->text(options.language).toStdString();
                reader::Record record;
                record.file =
                    std::string_view(file.constData(), static_cast<std::size_t>(file.size()));
                record.error = text;
                out << Line(reader::RecordJson(record));
            } else {
                err << Shown(file) << ": " << error->text(options.language) << '\n';
            }
            status = kExitError;
        } else if (options.json) {
            PrintJsonOutcome(file, o, out);
        } else {
            PrintOutcome(options, file, prefix, o, out, err);
        }
        if (!error && o.result != kScanDecoded) status = std::max(status, int{kExitNotDecoded});
        if (!out.flush() || !err.flush()) break;
        // Found: what came before it no longer matters, as for zbarimg --oneshot.
        if (options.oneshot && !error && o.result == kScanDecoded) return kExitDecoded;
    }
    return std::max(status, source.status());
}

}  // namespace scan39::cli
