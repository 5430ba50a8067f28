#include "runner_p.h"

#include <QApplication>
#include <algorithm>

#include "scan39/drag.h"
#include "scan39/host/errors.h"
#include "scan39/host/services.h"
#include "scan39/samples.h"
#include "scan39/scan.h"
#include "scan39/uo_scan.h"

namespace scan39::cli {

namespace {

const QString kNotDecodedText = QStringLiteral("错误：非39码或扫描位置不正确");

struct Outcome {
    std::int16_t result = 1;
    QString value;
};

void PrintOutcome(const QByteArray& label, bool prefix, const Outcome& o, Sink& out, Sink& err) {
    const QByteArray lead = prefix ? label + ": " : QByteArray();
    if (o.result == kScanDecoded) {
        out << lead << o.value << '\n';
    } else {
        err << lead << kNotDecodedText << '\n';
    }
}

void PrintJsonOutcome(const QByteArray& file, const Outcome& o, Sink& out) {
    out << "{" << JsonFileMembers(file) << ",\"result\":" << o.result << ",\"value\":"
        << (o.result == kScanDecoded ? JsonString(o.value) : QStringLiteral("null")) << "}\n";
}

Outcome ScanPicture(Uo_Scan& control, const host::PictureRef& picture, const Box& box) {
    control.setPicture(picture);
    Outcome o;
    o.result = DragAndScan(control, box);
    o.value = control.Value();
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
        o.result = DragAndScan(control, box);
        o.value = control.Value();
        const QString expected =
            QString::fromLatin1(s.text.data(), static_cast<qsizetype>(s.text.size()));
        const bool wrong = o.result == kScanDecoded && o.value != expected;
        if (options.json) {
            out << "{\"symbol\":" << JsonString(label) << ",\"box\":[" << box.x1 << ',' << box.y1
                << ',' << box.x2 << ',' << box.y2 << "],\"result\":" << o.result << ",\"value\":"
                << (o.result == kScanDecoded ? JsonString(o.value) : QStringLiteral("null"))
                << ",\"expected\":" << JsonString(expected) << "}\n";
        } else {
            PrintOutcome(label.toUtf8(), true, o, out, err);
            if (wrong)
                err << label
                    << Tr(options.language, QStringLiteral(": expected "),
                          QStringLiteral("：应为 "))
                    << expected << '\n';
        }
        status = std::max(status, (o.result != kScanDecoded || wrong) ? int{kExitNotDecoded} : 0);
        if (!out.flush() || !err.flush()) break;
    }
    return status;
}

}  // namespace

std::int16_t DragAndScan(Uo_Scan& control, const Box& box) {
    return scan39::DragAndScan(control, box.x1, box.y1, box.x2, box.y2);
}

Box BoxAcross(int left, int right, int top, int bottom) {
    constexpr int kMargin = 6;  // into the white margin on either side
    constexpr int kInside = 3;  // top edge this far inside the bars
    const int y1 = std::min(top + kInside, bottom);
    return Box{std::max(0, left - kMargin), y1, right + kMargin + 1, y1 + 10};
}

int Run(const Options& options, Sink& out, Sink& err) {
    if (options.automatic()) return RunAutomatic(options, out, err);
    Uo_Scan control;  // standalone: run time, sizes itself
    control.InitProperties();

    if (options.sample && !options.box) return RunSampleSymbols(options, control, out, err);

    int status = kExitDecoded;
    const QList<QByteArray> files =
        options.sample ? QList<QByteArray>{QByteArrayLiteral("sample")} : options.pictureBytes;
    const bool prefix = files.size() > 1;
    for (const QByteArray& file : files) {
        Outcome o;
        std::optional<LoadError> error;
        try {
            const host::PictureRef picture =
                options.sample ? SamplePicture() : LoadNamedPicture(file, false);
            o = ScanPicture(control, picture, *options.box);
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
                out << "{" << JsonFileMembers(file)
                    << ",\"error\":" << JsonString(error->text(options.language)) << "}\n";
            } else {
                err << file << ": " << error->text(options.language) << '\n';
            }
            status = kExitError;
        } else if (options.json) {
            PrintJsonOutcome(file, o, out);
        } else {
            PrintOutcome(file, prefix, o, out, err);
        }
        if (!error && o.result != kScanDecoded) status = std::max(status, int{kExitNotDecoded});
        if (!out.flush() || !err.flush()) break;
    }
    return status;
}

}  // namespace scan39::cli
