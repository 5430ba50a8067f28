#include "line_reader_p.h"

#include <algorithm>

#include "scanline_p.h"

namespace scan39::reader::detail {
namespace {

// The rows either side reach this share of a region's half width: lines in its inner part
// keep their rows on the bars, and still cross them in places apart.
constexpr double kBandShare = 0.35;

// Pixels a line must keep within the picture to be worth decoding: less holds no start and
// stop character with their quiet zones even at the smallest modules.
constexpr double kShortestLine = 10;

}  // namespace

void LineReader::FitBand(double halfWidth) {
    rows_ =
        mode_.band > 0 ? std::clamp(static_cast<int>(kBandShare * halfWidth), 1, mode_.band) : 0;
}

void LineReader::Scan(Point through, Point dir, double reach, std::vector<Observation>& out,
                      Evidence& evidence) {
    const float step = mode_.step;
    ScanLine line = ClipLine(picture_.width, picture_.height, through, dir, step);
    // Keep the part within reach of `through`.
    const double t = (through.x - line.origin.x) * dir.x + (through.y - line.origin.y) * dir.y;
    const double from = std::max(0.0, t - reach);
    const double to = std::min(static_cast<double>(line.count - 1) * step, t + reach);
    if (to - from < kShortestLine) return;
    LineContext context;
    context.inkSpread = inkSpread_;
    context.locate = locating_;
    context.openBegin = from == 0;
    context.openEnd = to == static_cast<double>(line.count - 1) * step;
    line.origin = {line.origin.x + from * dir.x, line.origin.y + from * dir.y};
    line.count = static_cast<int>((to - from) / step) + 1;
    if (rows_ > 0)
        SampleBand(picture_, line, rows_, profile_, ws_);
    else
        SampleProfile(picture_, line, profile_);
    spent_ += static_cast<long long>(line.count) * (2 * rows_ + 1);
    if (mode_.sharpen > 0) Sharpen(profile_, mode_.sigma / step, mode_.sharpen, ws_);
    if (mode_.local) {
        // The window from the runs between plain edges: most are narrow elements.
        FindEdges(profile_, kNormal.minSlope, edges_, ws_);
        if (edges_.size() < 3) return;
        runs_.clear();
        for (std::size_t k = 0; k + 1 < edges_.size(); ++k)
            runs_.push_back(edges_[k + 1].pos - edges_[k].pos);
        std::nth_element(runs_.begin(), runs_.begin() + runs_.size() / 2, runs_.end());
        LevelLocally(profile_, runs_[runs_.size() / 2], kLocalFloor, kLocalShare, ws_);
    }
    FindEdges(profile_, mode_.minSlope, edges_, ws_, mode_.midLevel);
    if (mode_.midLevel) PlaceEdgesAtMidLevel(profile_, edges_, ws_);
    if (mode_.inkArea) PlaceEdgesByInk(profile_, edges_, ws_);
    const float length = static_cast<float>(line.count - 1);
    // A bar that touches the picture's edge begins (or ends) half a pixel beyond the last
    // sample; an edge of no strength there lets it count without breaking a quiet zone.
    if (!edges_.empty() && context.openBegin)
        edges_.insert(edges_.begin(), {-0.5f / step, !edges_.front().falling, 0});
    if (!edges_.empty() && context.openEnd)
        edges_.push_back({length + 0.5f / step, !edges_.back().falling, 0});
    reads_.clear();
    if (polarity_ != Polarity::kLightBars)
        evidence.ends += DecodeLine(edges_, length, reads_, ws_, context);
    context.lightBars = true;
    if (polarity_ != Polarity::kDarkBars && MayHoldSymbol(edges_, context, ws_)) {
        // Dark bars seen as light ones show start and stop characters often enough to buy
        // the costly passes: light ones count only on a line that paired some.
        const std::size_t dark = reads_.size();
        const int ends = DecodeLine(edges_, length, reads_, ws_, context);
        const bool paired = std::any_of(reads_.begin() + static_cast<std::ptrdiff_t>(dark),
                                        reads_.end(), [](const LineRead& r) { return !r.located; });
        if (paired || polarity_ == Polarity::kLightBars) evidence.ends += ends;
    }
    evidence.busy += edges_.size() >= kBusyEdges;
    evidence.some += edges_.size() >= kSomeEdges;
    ++evidence.lines;
    for (LineRead& r : reads_) {
        (r.located ? located_ : out)
            .push_back({std::move(r.chars), line.At(r.begin), line.At(r.end), r.located,
                        r.quietZoneShort});
    }
}

}  // namespace scan39::reader::detail
