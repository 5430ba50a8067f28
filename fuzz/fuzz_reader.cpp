// The whole-picture reader on arbitrary grey pictures.
//   [0..1] width  [2..3] height (16-bit, little-endian; each taken modulo 321)
//   [4] row padding (0..15)  [5] options: bit 0 check character, bit 1 full ASCII
//   [6..] grey levels, row by row; a short input repeats its pixels, none leaves paper white.
// Every picture is read with both efforts; whatever is reported must be well formed.
//
// With SCAN39_FUZZ_SEEDS=<dir> in the environment the target writes its seed corpus there
// and exits instead.

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_support_p.h"
#include "scan39/encoder.h"
#include "scan39/reader.h"

namespace {

using namespace scan39;
using fuzz::Fail;

constexpr int kMaxSide = 321;

void Check(const std::vector<reader::Symbol>& symbols) {
    for (const reader::Symbol& s : symbols) {
        if (s.text.empty()) Fail("an empty text was reported");
        if (s.lines < 2) Fail("a text was reported on fewer than two lines");
        if (!(s.angle >= 0 && s.angle < 360)) Fail("angle out of range");
        for (const reader::Point& p : s.corners) {
            if (!std::isfinite(p.x) || !std::isfinite(p.y)) Fail("a corner is not finite");
        }
    }
}

// A picture holding "*text*" drawn upright, `module` pixels per narrow element, as seed bytes.
std::string Seed(const std::string& text, int module, int height, std::uint8_t options) {
    const std::vector<int> runs = encoder::Runs(text, {module, 5 * module / 2, module});
    int width = 20 * module;
    for (int r : runs) width += r;
    std::string bytes = {static_cast<char>(width & 0xFF),
                         static_cast<char>(width >> 8),
                         static_cast<char>(height),
                         0,
                         3,
                         static_cast<char>(options)};
    for (int y = 0; y < height; ++y) {
        int x = 10 * module;
        bytes.append(static_cast<std::size_t>(x), '\xF0');
        bool dark = true;
        for (int r : runs) {
            bytes.append(static_cast<std::size_t>(r), dark ? '\x20' : '\xF0');
            dark = !dark;
            x += r;
        }
        bytes.append(static_cast<std::size_t>(width - x), '\xF0');
        bytes.append(3, '\0');  // row padding
    }
    return bytes;
}

void WriteSeeds(const std::filesystem::path& dir) {
    fuzz::WriteSeed(dir, "ab", Seed("AB", 2, 24, 0));
    fuzz::WriteSeed(dir, "check", Seed("CODEK", 1, 16, 1));
    fuzz::WriteSeed(dir, "ascii", Seed("+A%F", 2, 12, 2));
    fuzz::WriteSeed(dir, "empty", std::string(6, '\0'));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::WriteSeedsIfAsked(WriteSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6) return 0;
    const int width = (data[0] | data[1] << 8) % kMaxSide;
    const int height = (data[2] | data[3] << 8) % kMaxSide;
    // Bits 2-4 of byte 5 pick the pixel format (0: grey, as the seeds are).
    const auto format = static_cast<reader::PixelFormat>((data[5] >> 2) % 5);
    const int stride = width * reader::BytesPerPixel(format) + data[4] % 16;
    const std::size_t given = size - 6;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(stride) * height + 1, 255);
    for (std::size_t i = 0; given > 0 && i < pixels.size(); ++i) pixels[i] = data[6 + i % given];
    reader::ReadOptions options;
    options.checkCharacter =
        data[5] & 1 ? reader::CheckCharacter::kRequired : reader::CheckCharacter::kOff;
    options.fullAscii = (data[5] & 2) != 0;
    const reader::ImageView view{pixels.data(), width, height, stride, format};
    for (reader::Effort effort : {reader::Effort::kFast, reader::Effort::kThorough}) {
        options.effort = effort;
        Check(reader::Read(view, options));
    }
    return 0;
}
