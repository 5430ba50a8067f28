#include <algorithm>
#include <cmath>
#include <numbers>

#include "search_p.h"

namespace scan39::reader::detail {
namespace {

// Lines across a region before one without start or stop characters is given up; sooner
// once the picture spent its free samples (print, tables and texture make many regions): two
// lines through one symbol's region cross its bars, but those through stacked symbols may
// both pass between them.
constexpr int kGiveUpAfter = 8;
constexpr int kGiveUpSoon = 2;
constexpr int kGiveUpSoonStacked = 4;
// Tilted lines of a recovery before they give up where nothing at all read: a short symbol
// blurred faint reads on a few of them.
constexpr int kGiveUpTilted = 16;
// Whole reads from one region that agree before its remaining lines are skipped.
constexpr int kSettledReads = 6;

// Lines across a region of stacked symbols: each symbol's share of the lines as for one alone
// (at least this many per region's length), up to this many symbols.
constexpr int kStackedLines = 32;
constexpr double kMostStacked = 100;
// Share of a region's width its lines spread over, and pixels a stacked region's lines keep
// off its rim.
constexpr double kSpan = 0.9;
constexpr double kStackedRim = 6;
// How far lines reach past the region's centre: far enough for a symbol of which it holds only
// a third, and its quiet zones.
constexpr double kReachLengths = 3;
constexpr double kReachPixels = 32;
// Reads at the region's own direction that make tilted lines needless.
constexpr std::size_t kReadsUntilted = 3;
// The i-th point of the van der Corput sequence, shifted to start in the middle.
double Spread(int i) {
    double v = 0, f = 0.5;
    for (unsigned n = static_cast<unsigned>(i); n != 0; n >>= 1, f *= 0.5) v += (n & 1) * f;
    v += 0.5;
    return v >= 1 ? v - 1 : v;
}

// Enough whole reads of one text since `first`, and none of another.
bool Settled(const std::vector<Observation>& observations, std::size_t first) {
    int whole = 0;
    const std::string* text = nullptr;
    for (std::size_t i = first; i < observations.size(); ++i) {
        const std::string& c = observations[i].chars;
        if (c.find('\0') != std::string::npos) continue;
        if (text != nullptr && c != *text) return false;
        text = &c;
        ++whole;
    }
    return whole >= kSettledReads;
}

}  // namespace

double LineReach(const Region& r) {
    return kReachLengths * r.halfLength + kReachPixels;
}

Plan MakePlan(Effort effort, long long budget) {
    Plan plan = effort == Effort::kFast ? Plan{4, 10, 4.0, {}, 12'000'000}
                                        : Plan{6, 32, 2.5, {-4, 4, -8, 8}, 40'000'000};
    if (budget >= 0) plan.budget = budget;
    return plan;
}

bool ScanRegion(LineReader& reader, long long limit, const Plan& plan, RegionWork& work,
                const std::vector<double>& tilts, const ScanOptions& options) {
    const Region& r = work.region;
    std::vector<Observation>& observations = work.observations;
    Evidence& evidence = work.evidence;
    // A region far taller than long is symbols stacked with small gaps, merged into one: lines
    // enough for each of them.
    const double stacked = std::clamp(r.halfWidth / r.halfLength, 1.0, kMostStacked);
    const int lines = std::clamp(
        static_cast<int>(2 * r.halfWidth / plan.lineSpacing), plan.minLines,
        stacked > 1 ? static_cast<int>(std::max(2 * plan.maxLines, kStackedLines) * stacked)
                    : plan.maxLines);
    // Lines keep off the region's rim, where its blocks reach past the bars; stacked symbols
    // reach to the rim, but for the last few pixels.
    const double span = stacked > 1 ? std::max(kSpan, 1 - kStackedRim / r.halfWidth) : kSpan;
    const double reach = LineReach(r);
    const int soon = stacked > 1 ? kGiveUpSoonStacked : kGiveUpSoon;
    reader.FitBand(r.halfWidth);
    const std::size_t before = 0;  // reads since the region's first line count
    for (double tilt : tilts) {
        // Tilted lines only where the region's own direction read too little but found
        // start or stop characters or many edges: the direction is off (perspective
        // turns the bars), or the bars are short for the symbol's length.
        const bool promising =
            evidence.ends > 0 || (options.tiltWhenBusy && 2 * evidence.busy >= evidence.lines);
        if (tilt != 0 && (!promising || observations.size() - before >= kReadsUntilted)) break;
        const double a = std::atan2(r.dir.y, r.dir.x) + tilt * std::numbers::pi / 180;
        const Point dir{std::cos(a), std::sin(a)};
        const Point normal{-dir.y, dir.x};
        for (int i = 0; i < lines; ++i) {
            // Spread over the region from the first lines on (van der Corput order), so
            // that stopping early still leaves lines far apart.
            // A band of rows must lie on the bars whole: where lines read marks where bars are.
            const double o =
                std::max(0.0, r.halfWidth * span - reader.Band()) * (2 * Spread(i) - 1);
            reader.Scan({r.centre.x + o * normal.x, r.centre.y + o * normal.y}, dir, reach,
                        observations, evidence);
            if (reader.Spent() >= limit) return false;
            if (evidence.ends == 0 && (i + 1 == kGiveUpAfter || (options.first && i + 1 == soon &&
                                                                 reader.Spent() > kFreeSamples)))
                break;
            if (Settled(observations, before)) break;
            // A recovery that read nothing at all, straight or tilted, gives each further
            // tilt a few lines only: neither blur nor the direction is what failed.
            if (options.recovery && tilt != 0 && i + 1 == kGiveUpTilted &&
                observations.size() == before)
                break;
        }
    }
    return true;
}

bool ScanAgain(Search& search, RegionWork& w, long long limit, const LineMode& mode,
               const std::vector<double>& tilts, const ScanOptions& options) {
    RegionWork again{w.region, {}, {}, w.barLike};
    search.reader.SetMode(mode);
    const bool within = ScanRegion(search.reader, limit, search.plan, again, tilts, options);
    search.reader.SetMode(kNormal);
    w.observations.insert(w.observations.end(), again.observations.begin(),
                          again.observations.end());
    return within && WholeReads(w.observations, 0) < kEnoughReads;
}

bool WholeReadsApart(const std::vector<Observation>& observations) {
    Consensus whole;
    for (const Observation& o : observations) {
        if (o.located || o.chars.find('\0') != std::string::npos) continue;
        whole.begins.push_back(o.begin);
        whole.ends.push_back(o.end);
    }
    return static_cast<int>(whole.begins.size()) >= kEnoughReads && AgreeInPlacesApart(whole);
}

int WholeReads(const std::vector<Observation>& observations, std::size_t first) {
    int whole = 0;
    for (std::size_t i = first; i < observations.size(); ++i)
        whole += observations[i].chars.find('\0') == std::string::npos;
    return whole;
}

}  // namespace scan39::reader::detail
