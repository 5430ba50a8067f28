#include <algorithm>
#include <limits>
#include <stdexcept>

#include "scan39/scan.h"

namespace scan39 {
namespace {

constexpr std::int32_t kMaxInt32 = std::numeric_limits<std::int32_t>::max();

std::int32_t SampledRow(const ScanLine& line) {
    const std::int64_t y = std::int64_t{line.ya} + kLineRowOffset;
    if (y > kMaxInt32) throw std::out_of_range("the sampled row lies beyond the 32-bit range");
    return static_cast<std::int32_t>(y);
}

// A counter that would overflow keeps its value: the walk must go on regardless.
void Increment(std::int32_t& counter) {
    if (counter < kMaxInt32) ++counter;
}

// Runs past the end of the list are lost; the run index still counts them.
void Store(RunList& list, std::int32_t index, std::int32_t length) {
    if (index >= 1 && index <= kRunListSize) list.runs[static_cast<std::size_t>(index)] = length;
}

// The run state fed with stretches of equal samples at once. Feeding k samples of one class
// leaves exactly the state that k single samples would.
class RunState {
  public:
    explicit RunState(RunList& list) : list_(list) {}

    void Feed(bool dark, std::int64_t count) {
        if (count <= 0) return;
        if (!started_) {
            if (!dark) return;  // light samples before the first bar count nowhere
            started_ = true;
            runIndex_ = 1;
            runLength_ = 1;
            bar_ = true;
            --count;
        } else if (dark != bar_) {
            Store(list_, runIndex_, runLength_);
            Increment(runIndex_);
            runLength_ = 1;
            bar_ = dark;
            --count;
        }
        runLength_ = static_cast<std::int32_t>(
            std::min<std::int64_t>(kMaxInt32, std::int64_t{runLength_} + count));
    }

    // The run in progress is never stored.
    void Finish() { list_.runIndex = runIndex_; }

  private:
    RunList& list_;
    bool started_ = false;
    bool bar_ = false;
    std::int32_t runIndex_ = 0;
    std::int32_t runLength_ = 0;
};

std::int64_t FirstUnitOfPixel(std::int64_t pixel, std::int64_t unitsPerPixel) {
    return pixel * unitsPerPixel - (unitsPerPixel - 1) / 2;
}

}  // namespace

RunList SampleLine(const ScanLine& line, const PixelReader& read) {
    const std::int32_t y = SampledRow(line);
    RunList list;
    bool started = false;
    bool bar = false;
    std::int32_t runIndex = 0;
    std::int32_t runLength = 0;
    std::int32_t previous = 0;  // what a failing first read takes: dark

    // 64-bit so that a line ending at the largest coordinate still terminates.
    for (std::int64_t x = std::int64_t{line.xa} + kLineStartOffset; x <= line.xb; ++x) {
        const std::optional<std::int32_t> reading = read(static_cast<std::int32_t>(x), y);
        const std::int32_t colour = reading.value_or(previous);
        previous = colour;

        if (IsDark(colour)) {
            if (!started) {
                started = true;
                runIndex = 1;
                runLength = 1;
                bar = true;
            } else if (bar) {
                Increment(runLength);
            } else {
                Store(list, runIndex, runLength);
                Increment(runIndex);
                runLength = 1;
                bar = true;
            }
        } else if (started) {
            if (bar) {
                Store(list, runIndex, runLength);
                Increment(runIndex);
                runLength = 1;
                bar = false;
            } else {
                Increment(runLength);
            }
        }
    }
    list.runIndex = runIndex;
    return list;
}

RunList SampleRow(const ScanLine& line, const PixelRowSource& source) {
    // An even count would put some units exactly between two pixels.
    if (source.unitsPerPixel < 1 || source.unitsPerPixel % 2 == 0) {
        throw std::invalid_argument("unitsPerPixel must be odd and at least 1");
    }
    if (source.width < 0 || source.height < 0) {
        throw std::invalid_argument("picture size must not be negative");
    }
    const std::int32_t y = SampledRow(line);
    const std::int64_t first = std::int64_t{line.xa} + kLineStartOffset;
    const std::int64_t last = line.xb;
    RunList list;
    RunState state(list);
    if (first > last) return list;

    const std::int64_t units = source.unitsPerPixel;
    const std::int64_t pixelRow = UnitToPixel(y, source.unitsPerPixel);
    if (pixelRow < 0 || pixelRow >= source.height) {
        state.Feed(true, last - first + 1);  // outside the picture everything reads -1: dark
        state.Finish();
        return list;
    }
    const std::span<const std::int32_t> row = source.row(static_cast<std::int32_t>(pixelRow));
    if (row.size() < static_cast<std::size_t>(source.width)) {
        throw std::invalid_argument("a picture row holds fewer values than the picture's width");
    }

    const std::int64_t pictureFirst = FirstUnitOfPixel(0, units);
    const std::int64_t pictureLast = FirstUnitOfPixel(source.width, units) - 1;

    // Before the picture.
    state.Feed(true, std::min(last, pictureFirst - 1) - first + 1);

    // Across the picture, one stretch per run of equally classified pixel columns.
    const std::int64_t lo = std::max(first, pictureFirst);
    const std::int64_t hi = std::min(last, pictureLast);
    if (lo <= hi) {
        const std::int64_t firstColumn = UnitToPixel(lo, source.unitsPerPixel);
        const std::int64_t lastColumn = UnitToPixel(hi, source.unitsPerPixel);
        bool stretchDark = IsDark(row[static_cast<std::size_t>(firstColumn)]);
        std::int64_t stretch = 0;
        for (std::int64_t c = firstColumn; c <= lastColumn; ++c) {
            const bool dark = IsDark(row[static_cast<std::size_t>(c)]);
            const std::int64_t begin = std::max(lo, FirstUnitOfPixel(c, units));
            const std::int64_t end = std::min(hi, FirstUnitOfPixel(c + 1, units) - 1);
            if (dark != stretchDark) {
                state.Feed(stretchDark, stretch);
                stretchDark = dark;
                stretch = 0;
            }
            stretch += end - begin + 1;
        }
        state.Feed(stretchDark, stretch);
    }

    // After the picture.
    state.Feed(true, last - std::max(first, pictureLast + 1) + 1);
    state.Finish();
    return list;
}

}  // namespace scan39
