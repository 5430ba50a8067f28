// The WebAssembly module's entry points, called from the page's worker. One picture at a
// time: the worker asks for a buffer, fills it with RGBA bytes, then reads and scans it as
// often as it likes. Results come back as JSON text; options come by the names every face
// takes ("fast", "dark", ...).

#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "scan39/box_record.h"
#include "scan39/box_scan.h"
#include "scan39/grade.h"
#include "scan39/read_options_names.h"
#include "scan39/reader.h"
#include "scan39/record_json.h"

namespace {

struct Picture {
    // RGBA bytes from the canvas at first; after Prepare, colour values (red + 256 * green +
    // 65536 * blue) in the same place for the box: on a little-endian machine the bytes line up.
    std::int32_t* colours = nullptr;
    std::uint8_t* grey = nullptr;  // the reader's, made by Prepare
    int width = 0;
    int height = 0;
};

Picture picture;
std::string reply;

// A camera frame, kept apart from the picture and reused from frame to frame: RGBA bytes from
// the worker (or grey ones), turned to grey in place before the read.
struct Frame {
    std::uint8_t* bytes = nullptr;
    std::size_t capacity = 0;
    int width = 0;
    int height = 0;
    int channels = 0;
};

Frame frame;

void Release() {
    std::free(picture.colours);
    std::free(picture.grey);
    picture = Picture{};
}

void AppendNumber(std::string& out, double v) {
    out += scan39::reader::JsonNumber(v, scan39::reader::kJsonDecimals);
}

const scan39::PatternTable& Table() {
    static const scan39::PatternTable table = [] {
        scan39::PatternTable t;
        scan39::BuildPatternTable(t);
        return t;
    }();
    return table;
}

// The scan reflectance profiles behind a grade, for the page's plot:
// [{"r":[...],"threshold":..,"begin":..,"end":..,"grade":"B","failing":"modulation"|null},...]
// with at most kPlotPoints reflectances each; begin and end index into "r".
void AppendProfiles(std::string& out, const scan39::reader::SymbolGrade& grade) {
    constexpr std::size_t kPlotPoints = 400;
    out += '[';
    bool first = true;
    for (const auto& p : grade.profiles) {
        if (!first) out += ',';
        first = false;
        const std::size_t every = p.reflectance.size() / kPlotPoints + 1;
        out += "{\"r\":[";
        for (std::size_t i = 0; i < p.reflectance.size(); i += every) {
            if (i > 0) out += ',';
            AppendNumber(out, p.reflectance[i]);
        }
        out += "],\"threshold\":";
        AppendNumber(out, p.threshold);
        out += ",\"begin\":";
        AppendNumber(out, p.begin / static_cast<double>(every));
        out += ",\"end\":";
        AppendNumber(out, p.end / static_cast<double>(every));
        out += ",\"grade\":\"";
        out += scan39::reader::GradeLetter(p.grade);
        out += "\",\"failing\":";
        if (p.failing < 0)
            out += "null";
        else
            out += scan39::reader::JsonString(scan39::reader::kGradeParameterNames[p.failing]);
        out += '}';
    }
    out += ']';
}

// The read's answer: {"record":R,"profiles":[P,...]}, R the picture's record as scan39 --json
// writes it (`name` null: a camera frame, no "file"), P each symbol's profiles in its order;
// or {"error":"..."} for an option name no face takes (null names take the defaults).
// Pictures are graded; live camera frames are not (their grades would go unseen and cost time),
// so their profiles are [].
const char* ReadAsJson(const scan39::reader::ImageView& pixels, const char* name,
                       int checkCharacter, int fullAscii, const char* effort,
                       const char* polarity, bool grade) {
    const auto named = scan39::reader::ReadOptionsFromNames(
        checkCharacter != 0, fullAscii != 0, effort != nullptr ? effort : "thorough",
        polarity != nullptr ? polarity : "both");
    if (!named.options) {
        reply = "{\"error\":" + scan39::reader::JsonString(named.error) + '}';
        return reply.c_str();
    }
    // Converted once for the read and the grades.
    const scan39::reader::GreyImage grey(pixels);
    const scan39::reader::GreyView& view = grey.view();
    const scan39::reader::ReadResult read = scan39::reader::ReadAll(view, *named.options);
    std::vector<scan39::reader::SymbolGrade> grades;
    std::vector<std::string> gradeJson;
    if (grade) {
        for (const auto& s : read.symbols) {
            grades.push_back(scan39::reader::Grade(view, s));
            gradeJson.push_back(scan39::reader::GradeJson(grades.back()));
        }
    }
    scan39::reader::Record record;
    if (name != nullptr) record.file = name;
    record.symbols = read.symbols;
    record.grades = gradeJson;
    record.truncated = read.truncated;
    reply = "{\"record\":" + scan39::reader::RecordJson(record) + ",\"profiles\":[";
    for (std::size_t i = 0; i < grades.size(); ++i) {
        if (i > 0) reply += ',';
        AppendProfiles(reply, grades[i]);
    }
    reply += "]}";
    return reply.c_str();
}

}  // namespace

extern "C" {

// Room for a width x height RGBA picture; null when there is no memory for it.
EMSCRIPTEN_KEEPALIVE std::uint8_t* scan39_picture(int width, int height) {
    Release();
    if (width <= 0 || height <= 0) return nullptr;
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    picture.colours = static_cast<std::int32_t*>(std::malloc(pixels * 4));
    picture.grey = static_cast<std::uint8_t*>(std::malloc(pixels));
    if (picture.colours == nullptr || picture.grey == nullptr) {
        Release();
        return nullptr;
    }
    picture.width = width;
    picture.height = height;
    return reinterpret_cast<std::uint8_t*>(picture.colours);
}

// The reader's grey of the RGBA picture, then the box's colour values in its place with
// transparent parts over white, as the desktop loader gives them.
EMSCRIPTEN_KEEPALIVE void scan39_prepare() {
    auto* bytes = reinterpret_cast<std::uint8_t*>(picture.colours);
    scan39::reader::ToGrey(
        {bytes, picture.width, picture.height, 4 * static_cast<std::ptrdiff_t>(picture.width),
         scan39::reader::PixelFormat::kRgba},
        picture.grey);
    const std::size_t pixels =
        static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height);
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint8_t* p = bytes + 4 * i;
        const auto over = [a = p[3]](std::uint8_t c) { return scan39::reader::OverWhite(c, a); };
        picture.colours[i] = over(p[0]) + 256 * over(p[1]) + 65536 * over(p[2]);
    }
}

// Every symbol in the picture, graded: the record scan39 --json --grade writes for the file
// `name` (UTF-8), {"file":...,"symbols":[{"text":...,"position":[[x,y],...],...},...]}, with
// each symbol's profiles beside it (ReadAsJson). `effort` and `polarity` are option names.
EMSCRIPTEN_KEEPALIVE const char* scan39_read(const char* name, int checkCharacter, int fullAscii,
                                             const char* effort, const char* polarity) {
    return ReadAsJson({picture.grey, picture.width, picture.height, picture.width,
                       scan39::reader::PixelFormat::kGrey},
                      name, checkCharacter, fullAscii, effort, polarity, true);
}

// Room for a camera frame of width x height pixels of `channels` bytes (4: RGBA, 1: grey);
// null when there is no memory for it. The buffer stays from one frame to the next. A grey
// frame gets three bytes a pixel all the same: a video frame copied whole brings its colour
// planes after the luma.
EMSCRIPTEN_KEEPALIVE std::uint8_t* scan39_frame(int width, int height, int channels) {
    // Video frames are far below this; it keeps the sizes below inside 32-bit size_t.
    constexpr int kMaxSide = 1 << 14;
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return nullptr;
    if (channels != 1 && channels != 4) return nullptr;
    const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                              static_cast<std::size_t>(channels == 1 ? 3 : 4);
    if (bytes > frame.capacity) {
        std::free(frame.bytes);
        frame = Frame{};
        frame.bytes = static_cast<std::uint8_t*>(std::malloc(bytes));
        if (frame.bytes == nullptr) return nullptr;
        frame.capacity = bytes;
    }
    frame.width = width;
    frame.height = height;
    frame.channels = channels;
    return frame.bytes;
}

// Reads the frame filled since scan39_frame; the same answer as scan39_read without "file"
// and grades. Video has no transparency, so the alpha of RGBA changes nothing.
EMSCRIPTEN_KEEPALIVE const char* scan39_read_frame(int checkCharacter, int fullAscii,
                                                   const char* effort, const char* polarity) {
    if (frame.bytes == nullptr) return "{\"record\":{\"symbols\":[]},\"profiles\":[]}";
    const int bytes = frame.channels == 4 ? 4 : 1;
    return ReadAsJson({frame.bytes, frame.width, frame.height, bytes * frame.width,
                       frame.channels == 4 ? scan39::reader::PixelFormat::kRgba
                                           : scan39::reader::PixelFormat::kGrey},
                      nullptr, checkCharacter, fullAscii, effort, polarity, false);
}

// The red box the control draws for a drag, in picture pixels: [left,top,right,bottom]. The
// page draws what this says rather than working it out itself.
EMSCRIPTEN_KEEPALIVE const char* scan39_outline(int x1, int y1, int x2, int y2) {
    const scan39::Outline o = scan39::OutlineOf(scan39::Box{x1, y1, x2, y2});
    reply = "[" + std::to_string(o.left) + "," + std::to_string(o.top) + "," +
            std::to_string(o.right) + "," + std::to_string(o.bottom) + "]";
    return reply.c_str();
}

// The control's decode along a dragged box: {"result":0|1,"value":...}; the page shows the
// control's error text for a result of 1, so the value then is of no interest.
EMSCRIPTEN_KEEPALIVE const char* scan39_box(int x1, int y1, int x2, int y2) {
    std::string value;
    const std::size_t pixels =
        static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height);
    const std::int16_t result =
        scan39::ScanBox(std::span<const std::int32_t>(picture.colours, pixels), picture.width,
                             picture.height, scan39::Box{x1, y1, x2, y2}, Table(), value);
    scan39::reader::BoxRecord record;
    record.result = result;
    record.value = value;
    reply = scan39::reader::BoxRecordJson(record);
    return reply.c_str();
}

}  // extern "C"
