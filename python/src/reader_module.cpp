// scan39._scan39: the whole-picture reader on pictures from files, bytes and NumPy arrays.
// Links the reader and the picture loader only (no widgets); a build without Qt links the
// reader alone and reads arrays only (loading.h). The friendly API is in __init__.py; pixels
// are converted and read with the GIL released, so threads read in parallel.

#include <pybind11/pybind11.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "loading.h"
#include "released.h"
#include "scan39/documents/limits.h"
#include "scan39/grade.h"
#include "scan39/interpret.h"
#include "scan39/read_options_names.h"
#include "scan39/record_json.h"
#include "sources.h"

namespace py = pybind11;

namespace scan39::python {

namespace {

reader::ReadOptions Options(bool checkDigit, bool fullAscii, const std::string& effort,
                            const std::string& polarity = "both") {
    const auto named = reader::ReadOptionsFromNames(checkDigit, fullAscii, effort, polarity);
    if (!named.options) throw py::value_error(named.error);
    return *named.options;
}

// What one page gave: its symbols with their grades when asked for, or its error.
struct PageRead {
    int page = 0;  // from 1 in a source of several pages; 0 for a source of one
    std::vector<reader::Symbol> symbols;
    std::vector<reader::SymbolGrade> grades;
    // Graded only: symbols located but not read, each with its grade (F).
    std::vector<reader::UnreadSymbol> unread;
    std::vector<reader::SymbolGrade> unreadGrades;
    bool truncated = false;  // the search did not cover the whole page
    std::optional<PictureFailure> error;
};

void ReadGrey(const reader::GreyView& view, reader::ReadOptions options, bool grade,
              PageRead& into) {
    options.locateUnread = grade;  // a verifier grades what it cannot read too
    reader::ReadResult read = reader::ReadAll(view, options);
    into.symbols = std::move(read.symbols);
    into.truncated = read.truncated;
    into.unread = std::move(read.unread);
    if (grade) {
        for (const auto& s : into.symbols) into.grades.push_back(reader::Grade(view, s));
        for (const auto& u : into.unread) into.unreadGrades.push_back(reader::Grade(view, u));
    }
}

// A number as the records write it (JsonNumber's rounding), so that a Symbol's grade equals
// the "grade" of its record: whole values as int, others as float, not-finite as None.
py::object Number(double value, int decimals) {
    const std::string text = reader::JsonNumber(value, decimals);
    if (text == "null") return py::none();
    if (text.find('.') != std::string::npos) return py::float_(std::stod(text));
    return py::reinterpret_steal<py::object>(PyLong_FromString(text.c_str(), nullptr, 10));
}

py::str Letter(char letter) {
    return py::str(std::string(1, letter));
}

// A measured number, or None where nothing was measured (as GradeJson writes null).
py::object Measured(double value, int decimals) {
    return value > 0 && std::isfinite(value) ? Number(value, decimals) : py::none();
}

py::dict ParametersDict(const reader::GradeParameters& p) {
    const reader::GradeParameter* parameters[] = {
        &p.decode,     &p.minReflectance, &p.symbolContrast, &p.minEdgeContrast,
        &p.modulation, &p.defects,        &p.decodability,   &p.quietZones};
    py::dict byName;
    for (int k = 0; k < 8; ++k) {
        py::dict parameter;
        parameter["value"] = Number(parameters[k]->value, k == 7 ? 1 : 2);
        parameter["grade"] = Letter(reader::GradeLetter(parameters[k]->grade));
        parameter["fractional"] = Number(parameters[k]->fractional, 1);
        byName[reader::kGradeParameterNames[k]] = parameter;
    }
    return byName;
}

py::dict RuleDict(double minimum, std::optional<int> maximum, bool ok) {
    py::dict d;
    d["minimum"] = Number(minimum, 1);
    if (maximum) d["maximum"] = *maximum;
    d["ok"] = ok;
    return d;
}

py::dict QuietRuleDict(bool ok) {
    py::dict d;
    d["minimum_x"] = 10;
    d["ok"] = ok;
    return d;
}

// The members GradeJson writes, with the same names, rounding and order.
py::dict GradeDict(const reader::SymbolGrade& g) {
    py::dict d;
    d["overall"] = Letter(g.overall);
    d["value"] = Number(g.value, 1);
    d["scans"] = g.scans;
    d["parameters"] = ParametersDict(g.parameters);
    d["x_dimension_px"] = Measured(g.xDimensionPx, 2);
    d["wide_narrow_ratio"] = Measured(g.wideNarrowRatio, 2);
    if (g.dpi > 0) {
        d["dpi"] = Number(g.dpi, 1);
        d["x_dimension_mm"] = Measured(g.xDimensionMm, 3);
        d["x_dimension_mils"] = Measured(g.xDimensionMils, 1);
        py::dict rules;
        rules["wide_narrow_ratio"] = RuleDict(g.minimumRatio, std::nullopt, g.ratioOk);
        rules["quiet_zones"] = QuietRuleDict(g.quietZonesOk);
        d["code39_rules"] = rules;
    }
    py::dict fractional;
    fractional["overall"] = Letter(g.fractionalOverall);
    fractional["value"] = Number(g.fractionalValue, 2);
    d["fractional"] = fractional;
    d["decoded"] = g.decoded;
    py::dict rules;
    rules["wide_narrow_ratio"] = RuleDict(g.dpi > 0 ? g.minimumRatio : 2.0, 3, g.ratioRuleOk);
    rules["quiet_zones"] = QuietRuleDict(g.quietZoneRuleOk);
    d["rules"] = rules;
    py::list profiles;
    for (const reader::ProfileGrade& p : g.profiles) {
        py::dict profile;
        profile["grade"] = Letter(reader::GradeLetter(p.grade));
        profile["fractional"] = Number(p.fractional, 1);
        profile["failing"] = p.failing >= 0
                                 ? py::object(py::str(reader::kGradeParameterNames[p.failing]))
                                 : py::object(py::none());
        profile["parameters"] = ParametersDict(p.parameters);
        profiles.append(profile);
    }
    d["profiles"] = profiles;
    return d;
}

// The members InterpretationJson writes.
py::dict InterpretationDict(const reader::Interpretation& i) {
    py::dict d;
    d["kind"] = i.kind;
    d["valid"] = i.valid;
    if (i.valid) {
        d["value"] = i.value;
        for (const auto& [name, value] : i.fields) d[py::str(name)] = value;
    }
    return d;
}

// A symbol's four corners as ((x, y), ...).
py::tuple CornerTuples(const std::array<reader::Point, 4>& c) {
    py::tuple out(4);
    for (std::size_t i = 0; i < 4; ++i) out[i] = py::make_tuple(c[i].x, c[i].y);
    return out;
}

// Symbols as plain tuples (text, ((x, y) * 4), angle, lines, grade dict or None,
// interpretation dict or None, AIM identifier); __init__.py wraps them.
py::list ToPython(const PageRead& found) {
    // Symbols may be missing: never silent, as on the command line.
    if (found.truncated &&
        PyErr_WarnEx(PyExc_RuntimeWarning,
                     "the search stopped before covering the whole picture; symbols may be "
                     "missing",
                     1) != 0)
        throw py::error_already_set();
    py::list out;
    for (std::size_t k = 0; k < found.symbols.size(); ++k) {
        const reader::Symbol& s = found.symbols[k];
        const auto meaning = reader::Interpret(s.text, s.check == reader::CheckState::kVerified);
        out.append(py::make_tuple(
            py::str(s.text), CornerTuples(s.corners), s.angle, s.lines,
            k < found.grades.size() ? py::object(GradeDict(found.grades[k])) : py::none(),
            meaning ? py::object(InterpretationDict(*meaning)) : py::none(),
            py::str(reader::AimIdentifier(s))));
    }
    return out;
}

// Unread symbols as plain tuples (((x, y) * 4), angle, lines, characters, failing, grade
// dict), as UnreadJson writes them; __init__.py wraps them.
py::list UnreadToPython(const PageRead& found) {
    py::list out;
    for (std::size_t k = 0; k < found.unread.size(); ++k) {
        const reader::UnreadSymbol& u = found.unread[k];
        out.append(py::make_tuple(
            CornerTuples(u.corners), u.angle, u.lines, u.characters, py::str(reader::UnreadFailing(u)),
            k < found.unreadGrades.size() ? py::object(GradeDict(found.unreadGrades[k]))
                                          : py::none()));
    }
    return out;
}

int Dpi(int dpi) {
    if (dpi < documents::kMinDpi || dpi > documents::kMaxDpi) {
        throw py::value_error("dpi must lie from " + std::to_string(documents::kMinDpi) + " to " +
                              std::to_string(documents::kMaxDpi) + ", got " + std::to_string(dpi));
    }
    return dpi;
}

// Every page of the source, read with the GIL released. A source whose only page fails
// throws, as for any picture; arrays are one page.
std::vector<PageRead> ReadSource(const py::handle& image, const reader::ReadOptions& options,
                                 bool grade, int dpi,
                                 int fileSeconds = documents::kDefaultFileSeconds) {
    const int resolution = Dpi(dpi);
    if (fileSeconds < 1 || fileSeconds > documents::kMaxFileSeconds) {
        throw py::value_error("file_time_limit must lie from 1 to " +
                              std::to_string(documents::kMaxFileSeconds) + " seconds, got " +
                              std::to_string(fileSeconds));
    }
    std::vector<PageRead> pages;
    if (const auto encoded = EncodedOf(image)) {
        const GilReleased unlocked;
        const auto source = OpenPages(*encoded, resolution, fileSeconds);
        const int count = source->count();
        for (int i = 0; i < count; ++i) {
            PageRead page;
            page.page = count > 1 ? i + 1 : 0;
            try {
                ReadGrey(source->grey(i).view(), options, grade, page);
            } catch (const PictureFailure& e) {
                if (count == 1) throw;  // the only page's failure is the source's
                page.error = e;
            }
            pages.push_back(std::move(page));
        }
    } else {
        const Array source = ArrayOf(image);
        PageRead page;
        {
            const GilReleased unlocked;
            ReadGrey(GreyOf(source.pixels).view(), options, grade, page);
        }
        pages.push_back(std::move(page));
    }
    return pages;
}

// Every page: (page or None, symbols, error or None), the error as (number, message).
py::list ReadPages(const py::handle& image, bool checkDigit, bool fullAscii,
                   const std::string& effort, const std::string& polarity, bool grade, int dpi,
                   int fileSeconds) {
    py::list out;
    for (const auto& p : ReadSource(image, Options(checkDigit, fullAscii, effort, polarity), grade,
                                    dpi, fileSeconds)) {
        const py::object number = p.page ? py::object(py::int_(p.page)) : py::object(py::none());
        const py::object error =
            p.error ? py::object(py::make_tuple(p.error->number(), p.error->description()))
                    : py::object(py::none());
        out.append(py::make_tuple(number, ToPython(p), error, UnreadToPython(p)));
    }
    return out;
}

// The records scan39 --json writes, one per page, for the file named by `file` (its exact
// bytes); a page that fails gets its error record. Raises as read_pages when no page can be had.
py::list ReadRecords(const py::handle& image, const py::bytes& file, bool checkDigit,
                     bool fullAscii, const std::string& effort, const std::string& polarity,
                     bool grade, int dpi) {
    const std::string name = file;
    const std::vector<PageRead> pages =
        ReadSource(image, Options(checkDigit, fullAscii, effort, polarity), grade, dpi);
    py::list out;
    for (const auto& p : pages) {
        const std::string error = p.error ? p.error->description() : std::string();
        reader::Record record;
        record.file = name;
        record.page = p.page;
        record.pages = p.page ? static_cast<int>(pages.size()) : 0;
        if (p.error) record.error = error;
        std::vector<std::string> grades;
        for (const auto& g : p.grades) grades.push_back(reader::GradeJson(g));
        record.symbols = p.symbols;
        record.grades = grades;
        record.truncated = p.truncated;
        std::vector<std::string> unreadGrades;
        for (const auto& g : p.unreadGrades) unreadGrades.push_back(reader::GradeJson(g));
        record.unread = p.unread;
        record.unreadGrades = unreadGrades;
        out.append(py::str(reader::RecordJson(record)));
    }
    return out;
}

// The error record of a file no page of which could be had; `message` as UTF-8 bytes.
std::string ErrorRecord(const py::bytes& file, const py::bytes& message) {
    const std::string name = file, text = message;
    reader::Record record;
    record.file = name;
    record.error = text;
    return reader::RecordJson(record);
}

// For the benchmark of what crossing into Python costs: the reader alone on the picture's
// grey pixels, seconds per read.
double ReaderSeconds(const py::handle& image, const std::string& effort, int repeats) {
    const auto options = Options(false, false, effort);
    const auto encoded = EncodedOf(image);
    const std::optional<Array> array =
        encoded ? std::nullopt : std::optional<Array>(ArrayOf(image));
    const GilReleased unlocked;
    const GreyPicture grey = encoded ? LoadedGrey(*encoded) : GreyOf(array->pixels);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < repeats; ++i) reader::Read(grey.view(), options);
    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
    return spent.count() / std::max(1, repeats);
}

}  // namespace

}  // namespace scan39::python

PYBIND11_MODULE(_scan39, m) {
    using namespace scan39::python;
    m.doc() = "scan39's reader: use the functions of the scan39 package instead.";
    m.attr("__version__") = SCAN39_VERSION;
    // False in a build without the picture loader: arrays only, files and bytes refused.
    m.attr("READS_FILES") = kReadsFiles;
    // The option names every face takes, in the order messages list them.
    py::tuple effortNames(scan39::reader::kEffortNames.size());
    for (std::size_t i = 0; i < scan39::reader::kEffortNames.size(); ++i)
        effortNames[i] =
            py::str(scan39::reader::kEffortNames[i].data(), scan39::reader::kEffortNames[i].size());
    m.attr("EFFORT_NAMES") = effortNames;
    py::tuple polarityNames(scan39::reader::kPolarityNames.size());
    for (std::size_t i = 0; i < scan39::reader::kPolarityNames.size(); ++i)
        polarityNames[i] = py::str(scan39::reader::kPolarityNames[i].data(),
                                   scan39::reader::kPolarityNames[i].size());
    m.attr("POLARITY_NAMES") = polarityNames;

    py::object pictureError = py::reinterpret_steal<py::object>(
        PyErr_NewExceptionWithDoc("scan39.PictureError",
                                  "A picture that cannot be loaded; the message is the "
                                  "loader's description.",
                                  PyExc_Exception, nullptr));
    m.attr("PictureError") = pictureError;
    TranslateFailures(pictureError);

    m.def("read_pages", &ReadPages, py::arg("image"), py::arg("check_digit"), py::arg("full_ascii"),
          py::arg("effort"), py::arg("polarity"), py::arg("grade"), py::arg("dpi"),
          py::arg("file_time_limit") = scan39::documents::kDefaultFileSeconds);
    m.def("read_records", &ReadRecords, py::arg("image"), py::arg("file"), py::arg("check_digit"),
          py::arg("full_ascii"), py::arg("effort"), py::arg("polarity"), py::arg("grade"),
          py::arg("dpi"));
    m.def("split", &SplitFiles, py::arg("inputs"), py::arg("out"), py::arg("separators"),
          py::arg("separator_pattern"), py::arg("name_from"), py::arg("keep_separators"),
          py::arg("stop_on_error"), py::arg("dry_run"), py::arg("dpi"), py::arg("fast"));
    m.def("error_record", &ErrorRecord, py::arg("file"), py::arg("message"));
    m.def(
        "check_size",
        [](std::int64_t width, std::int64_t height) { CheckPixelCount(width, height); },
        py::arg("width"), py::arg("height"));
    m.def("_reader_seconds", &ReaderSeconds, py::arg("image"), py::arg("effort") = "thorough",
          py::arg("repeats") = 1);
    // A thread still reading a file need not finish it: its page being drawn is stopped.
    RegisterExitHook(m, {}, StopLoadingForExit);
}
