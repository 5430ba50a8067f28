#include "search_p.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "scanline_p.h"

namespace scan39::reader::detail {
namespace {

// A character unread on every line whose stretch has less than this share of the contrast of
// its start and stop characters lies under a highlight or glare, not a misprint.
constexpr double kFaint = 0.4;
// Lines sampled to judge that, at most.
constexpr int kFaintLines = 4;

// The spread of grey levels (10th to 90th percentile) along a line's stretch [from, to), as
// shares of the line.
double Contrast(const std::vector<float>& profile, double from, double to,
                std::vector<float>& part) {
    const auto n = static_cast<double>(profile.size());
    const auto a = static_cast<std::ptrdiff_t>(from * n), b = static_cast<std::ptrdiff_t>(to * n);
    if (b - a < 2) return 0;
    part.assign(profile.begin() + a, profile.begin() + b);
    const auto lo = part.begin() + (b - a) / 10, hi = part.begin() + 9 * (b - a) / 10;
    std::nth_element(part.begin(), lo, part.end());
    const float low = *lo;
    std::nth_element(part.begin(), hi, part.end());
    return *hi - low;
}

// Whether character `k` of the reads of `size` characters since `first` has far less contrast
// than their start and stop: each character's inner half, taken as an even share of the line.
bool Faint(const GreyView& picture, const std::vector<Observation>& observations, std::size_t first,
           std::size_t size, std::size_t k, Workspace& ws) {
    std::vector<float>& profile = ws.profile;
    double inside = 0, ends = 0;
    int lines = 0;
    const double n = static_cast<double>(size) + 2;  // with start and stop
    const auto inner = [&](double c) {
        return Contrast(profile, (c + 0.25) / n, (c + 0.75) / n, ws.part);
    };
    for (std::size_t i = first; i < observations.size() && lines < kFaintLines; ++i) {
        const Observation& o = observations[i];
        if (o.chars.size() != size || o.chars[k] != 0) continue;
        const ScanLine line = LineBetween(o.begin, o.end, ScanLine{}.step);
        if (line.count == 0) continue;
        SampleProfile(picture, line, profile);
        inside += inner(static_cast<double>(k) + 1);
        ends += std::min(inner(0), inner(n - 1));
        ++lines;
    }
    return lines > 0 && inside < kFaint * ends;
}

}  // namespace

// Whether the reads since `first` look like one symbol with a character that no line can
// read: several of them, and one position unread in all. Blur leaves different characters
// unread on different lines; damage leaves the same one, and sharpening must not turn it
// into some other character. A highlight or glare leaves one too, but fades its bars.
bool Damaged(const GreyView& picture, const std::vector<Observation>& observations,
             std::size_t first, Workspace& ws) {
    constexpr int kSeveral = 3;
    std::vector<std::size_t> judged;  // read lengths already looked at
    for (std::size_t i = first; i < observations.size(); ++i) {
        const std::string& c = observations[i].chars;
        if (std::find(judged.begin(), judged.end(), c.size()) != judged.end()) continue;
        judged.push_back(c.size());
        std::vector<int> read(c.size(), 0);
        int same = 0;
        for (std::size_t j = first; j < observations.size(); ++j) {
            const std::string& d = observations[j].chars;
            if (d.size() != c.size()) continue;
            ++same;
            for (std::size_t k = 0; k < d.size(); ++k) read[k] += d[k] != 0;
        }
        if (same < kSeveral) continue;
        for (std::size_t k = 0; k < read.size(); ++k)
            if (read[k] == 0 && !Faint(picture, observations, first, c.size(), k, ws)) return true;
    }
    return false;
}

}  // namespace scan39::reader::detail
