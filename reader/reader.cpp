#include "scan39/reader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "code39_p.h"
#include "corners_p.h"
#include "locate_p.h"
#include "scanline_p.h"
#include "vote_p.h"

namespace scan39::reader {
namespace {

using namespace detail;

// How lines are sampled and their edges found.
struct LineMode {
    float step;             // pixels between samples
    float minSlope;         // weakest edge worth a look, grey levels per sample pair
    float sharpen;          // unsharp masking amount, 0 for none
    float sigma;            // its blur, in pixels
    bool midLevel = false;  // edges placed where the profile crosses the middle level
    int band = 0;           // at most this many parallel rows either side averaged per sample
    bool local = false;     // levels judged against the calmer side of each sample
};
// Half a pixel between samples resolves narrow modules down to ~1.3 px; ink and paper 60
// levels apart, blurred over a narrow module, still give edges steeper than 4 levels.
constexpr LineMode kNormal{0.5f, 4.0f, 0, 0};
// For regions that look like bars but read nothing: blur that swallows much of a narrow
// module's contrast. The profile sharpened against a blur of about a narrow module (finer
// samples for small modules, then a wider blur for larger ones), weaker edges allowed.
// Last, for noise that breaks the edges (dim light): each sample the mean of rows across the
// bars' height, which keeps the bars and averages the noise away.
constexpr std::array<LineMode, 3> kRecovery{
    {{0.25f, 1.5f, 1.5f, 1.0f}, {0.5f, 2.0f, 1.0f, 2.0f}, {0.5f, 3.0f, 0, 0, false, 12}}};
// Noise level (see NoiseLevel) from which a picture gets the banded lines and the halved
// search, and a region's bars (TextureAlongBars) the banded lines: clean pictures, print and
// most photos stay well below.
constexpr int kNoisy = 7;
// The rows either side reach this share of a region's half width: lines in its inner part
// keep their rows on the bars, and still cross them in places apart.
constexpr double kBandShare = 0.35;
// A highlight with sharp sides across the bars: each sample judged against the levels on its
// calmer side (see LevelLocally), the narrow element taken as the median run between edges.
constexpr LineMode kLocalLevels{0.5f, 8.0f, 0, 0, false, 0, true};
constexpr float kLocalFloor = 6;
constexpr float kLocalShare = 0.12f;
// Finer samples, for ink spread on the smallest modules (then, blurred too, kRecovery[0]).
constexpr LineMode kFine{0.25f, 2.0f, 0, 0};
// Sharp pictures of modules little over a pixel: edges where the profile crosses the middle
// level, which the share of each pixel's ink decides.
constexpr LineMode kSharpSmall{0.25f, 2.0f, 0, 0, true};

struct Plan {
    int minLines, maxLines;
    double lineSpacing;         // pixels between parallel lines across a region
    std::vector<double> tilts;  // degrees added to a region's direction, after the first pass
    // Samples a picture may cost. Every region gets its lines at its own direction first, the
    // most promising first; tilts and recovery get what is left, the most bar-like first. About
    // a second of work on the development machine at the thorough effort.
    long long budget;
};

Plan MakePlan(Effort effort) {
    if (effort == Effort::kFast) return {4, 10, 4.0, {}, 12'000'000};
    return {6, 32, 2.5, {-4, 4, -8, 8}, 40'000'000};
}

// Regions searched at most: far more Code 39 symbols than a sheet can hold, each found by
// the coarse and the fine grid. A picture with more says that it was not searched whole.
constexpr std::size_t kMaxRegions = 20'000;

// Edges of three characters: a line this busy may cross bars at a slant.
constexpr std::size_t kBusyEdges = 30;
// Edges of a start and a stop character, and lines with that many: worth recovering from
// blur even without any start or stop read, since a symbol of one or two characters blurred
// loses edges until few of its lines look busy.
constexpr std::size_t kSomeEdges = 20;
constexpr int kSomeLines = 3;

// What the lines across one region found besides reads.
struct Evidence {
    int ends = 0;  // start and stop characters with a quiet zone
    int busy = 0;  // lines that crossed kBusyEdges edges or more
    int some = 0;  // lines that crossed kSomeEdges edges or more
    int lines = 0;
};

// Pixels a line must keep within the picture to be worth decoding: less holds no start and
// stop character with their quiet zones even at the smallest modules.
constexpr double kShortestLine = 10;

class LineReader {
  public:
    LineReader(const GreyView& picture, Polarity polarity)
        : picture_(picture), polarity_(polarity) {}
    void SetMode(const LineMode& mode) {
        mode_ = mode;
        rows_ = 0;
    }
    void SetInkSpread(bool on) { inkSpread_ = on; }
    // Rows either side for lines across a region of this half width, in a banded mode.
    void FitBand(double halfWidth) {
        rows_ = mode_.band > 0 ? std::clamp(static_cast<int>(kBandShare * halfWidth), 1, mode_.band)
                               : 0;
    }
    int Band() const { return rows_; }

    // Scans the line through `through` along `dir`, at most `reach` pixels either side.
    // Counts the start and stop characters it saw, and whether it crossed many edges.
    void Scan(Point through, Point dir, double reach, std::vector<Observation>& out,
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
        context.openBegin = from == 0;
        context.openEnd = to == static_cast<double>(line.count - 1) * step;
        line.origin = {line.origin.x + from * dir.x, line.origin.y + from * dir.y};
        line.count = static_cast<int>((to - from) / step) + 1;
        if (rows_ > 0)
            SampleBand(picture_, line, rows_, profile_);
        else
            SampleProfile(picture_, line, profile_);
        spent_ += static_cast<long long>(line.count) * (2 * rows_ + 1);
        if (mode_.sharpen > 0) Sharpen(profile_, mode_.sigma / step, mode_.sharpen);
        if (mode_.local) {
            // The window from the runs between plain edges: most are narrow elements.
            FindEdges(profile_, kNormal.minSlope, edges_);
            if (edges_.size() < 3) return;
            runs_.clear();
            for (std::size_t k = 0; k + 1 < edges_.size(); ++k)
                runs_.push_back(edges_[k + 1].pos - edges_[k].pos);
            std::nth_element(runs_.begin(), runs_.begin() + runs_.size() / 2, runs_.end());
            LevelLocally(profile_, runs_[runs_.size() / 2], kLocalFloor, kLocalShare);
        }
        FindEdges(profile_, mode_.minSlope, edges_, mode_.midLevel);
        if (mode_.midLevel) PlaceEdgesAtMidLevel(profile_, edges_);
        const float length = static_cast<float>(line.count - 1);
        // A bar that touches the picture's edge begins (or ends) half a pixel beyond the last
        // sample; an edge of no strength there lets it count without breaking a quiet zone.
        if (!edges_.empty() && context.openBegin)
            edges_.insert(edges_.begin(), {-0.5f / step, !edges_.front().falling, 0});
        if (!edges_.empty() && context.openEnd)
            edges_.push_back({length + 0.5f / step, !edges_.back().falling, 0});
        reads_.clear();
        if (polarity_ != Polarity::kLightBars)
            evidence.ends += DecodeLine(edges_, length, reads_, context);
        context.lightBars = true;
        if (polarity_ != Polarity::kDarkBars && MayHoldSymbol(edges_, context)) {
            // Dark bars seen as light ones show start and stop characters often enough to buy
            // the costly passes: light ones count only on a line that paired some.
            const std::size_t dark = reads_.size();
            const int ends = DecodeLine(edges_, length, reads_, context);
            if (reads_.size() > dark || polarity_ == Polarity::kLightBars) evidence.ends += ends;
        }
        evidence.busy += edges_.size() >= kBusyEdges;
        evidence.some += edges_.size() >= kSomeEdges;
        ++evidence.lines;
        for (LineRead& r : reads_) {
            out.push_back({std::move(r.chars), line.At(r.begin), line.At(r.end)});
        }
    }

    long long Spent() const { return spent_; }

  private:
    const GreyView& picture_;
    const Polarity polarity_;
    long long spent_ = 0;
    LineMode mode_ = kNormal;
    bool inkSpread_ = false;
    int rows_ = 0;
    std::vector<float> profile_;
    std::vector<Edge> edges_;
    std::vector<float> runs_;
    std::vector<LineRead> reads_;
};

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
// Bar likeness (below) that ranks a region without start or stop characters for tilts and
// recovery: running text reaches about 0.5, bars 0.9 and more, blurred too.
constexpr double kBarLike = 0.6;
// Start or stop characters make a region promising even at a slant or in perspective, which
// leave little of the likeness; print rarely shows any, and then with no likeness at all.
constexpr double kBarLikeEnds = 0.3;
// Samples a picture spends before its regions give up sooner, and after its first pass on
// tilts and recovery where no bar-like start or stop was seen. A small picture's whole search
// fits in it; a page of print gets a few hundredths of a second.
constexpr long long kFreeSamples = 1'000'000;
// Whole reads from one region that agree before its remaining lines are skipped.
constexpr int kSettledReads = 6;

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

// A region inside one already scanned at the same angle (the coarse and fine block grids
// find most symbols twice): directions within ~6 degrees, and sides within a few pixels,
// the blocks' rounding.
constexpr double kSameDirectionDot = 0.995;
constexpr double kCoveredSlack = 4;

bool Covered(const Region& r, const std::vector<Region>& done) {
    return std::any_of(done.begin(), done.end(), [&](const Region& d) {
        const double x = r.centre.x - d.centre.x, y = r.centre.y - d.centre.y;
        const double along = std::abs(x * d.dir.x + y * d.dir.y);
        const double across = std::abs(y * d.dir.x - x * d.dir.y);
        const double dot = std::abs(r.dir.x * d.dir.x + r.dir.y * d.dir.y);
        return dot > kSameDirectionDot && along < d.halfLength &&
               across + r.halfWidth <= d.halfWidth + kCoveredSlack;
    });
}

// The two profiles lie this share of the region's half width either side of its centre line.
constexpr double kLikenessOffset = 0.6;
// Pixels compared at least, and at least this many must overlap at any shift.
constexpr int kLikenessLength = 16;
constexpr int kLikenessOverlap = 8;
// Shifts tried: a tenth of the offset (a direction ~6 degrees off) and a little, within a bound.
constexpr double kLikenessTurn = 0.1;
constexpr int kLikenessMinShift = 2;
constexpr int kLikenessMaxShift = 24;

// How much a region looks like bars rather than print or texture: the best normalised
// correlation of two grey profiles along its direction, a good part of its width apart, over
// small shifts (a direction a few degrees off). Bars repeat from one line to the next; text,
// tables and texture do not.
double BarLikeness(const GreyView& picture, const Region& r) {
    const Point normal{-r.dir.y, r.dir.x};
    const double off = kLikenessOffset * r.halfWidth;
    const int n = std::max(kLikenessLength, static_cast<int>(2 * r.halfLength));
    std::array<std::vector<float>, 2> p;
    for (int k = 0; k < 2; ++k) {
        const double o = k ? off : -off;
        ScanLine line = ClipLine(picture.width, picture.height,
                                 {r.centre.x + o * normal.x, r.centre.y + o * normal.y}, r.dir, 1);
        if (line.count < kLikenessOverlap) return 0;
        line.count = std::min(line.count, n);
        SampleProfile(picture, line, p[k]);
        // Slopes rather than levels: a few long ruled lines or a shade across the page
        // would otherwise outweigh everything between them.
        for (std::size_t i = 0; i + 2 < p[k].size(); ++i) p[k][i] = p[k][i + 2] - p[k][i];
        if (p[k].size() >= 2) p[k].resize(p[k].size() - 2);
    }
    const int m = static_cast<int>(std::min(p[0].size(), p[1].size()));
    const int shift =
        std::min(kLikenessMaxShift, kLikenessMinShift + static_cast<int>(kLikenessTurn * off));
    double best = 0;
    for (int s = -shift; s <= shift; ++s) {
        double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
        int count = 0;
        for (int i = std::max(0, -s); i < m && i + s < m; ++i, ++count) {
            const double x = p[0][i], y = p[1][i + s];
            sa += x, sb += y, saa += x * x, sbb += y * y, sab += x * y;
        }
        if (count < kLikenessOverlap) continue;
        const double va = saa - sa * sa / count, vb = sbb - sb * sb / count;
        if (va <= 0 || vb <= 0) continue;
        best = std::max(best, (sab - sa * sb / count) / std::sqrt(va * vb));
    }
    return best;
}

// Lines along the bars sampled for their texture, and the share of the region's length and
// width they keep within.
constexpr int kTextureLines = 12;
constexpr double kTextureSpan = 0.8;

// The median grey-level step between neighbouring pixels along a region's bars. Printed bars
// and spaces are flat along their length; a halftone screen's dots or dim light's noise are
// not, and break edges of lines across as they break these steps.
int TextureAlongBars(const GreyView& picture, const Region& r) {
    thread_local std::vector<float> profile;
    thread_local std::vector<int> steps;
    steps.clear();
    const Point normal{-r.dir.y, r.dir.x};
    const double half = kTextureSpan * r.halfWidth;
    for (int k = 0; k < kTextureLines; ++k) {
        const double t = (2 * (k + 0.5) / kTextureLines - 1) * kTextureSpan * r.halfLength;
        ScanLine line;
        line.step = 1;
        line.dir = normal;
        line.origin = {r.centre.x + t * r.dir.x - half * normal.x,
                       r.centre.y + t * r.dir.y - half * normal.y};
        line.count = static_cast<int>(2 * half) + 1;
        SampleProfile(picture, line, profile);
        for (std::size_t i = 0; i + 1 < profile.size(); ++i)
            steps.push_back(static_cast<int>(std::abs(profile[i + 1] - profile[i])));
    }
    if (steps.empty()) return 0;
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    return steps[steps.size() / 2];
}

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
// Whole reads of a region that end its further passes: lines that agree.
constexpr int kEnoughReads = 2;

// One region's search: what it read and saw so far.
struct RegionWork {
    Region region;
    std::vector<Observation> observations;
    Evidence evidence;
    double barLike = -1;  // not yet measured
    bool BarLike(const GreyView& picture, double least = kBarLike) {
        if (barLike < 0) barLike = BarLikeness(picture, region);
        return barLike >= least;
    }
};

// Whether a lamp's highlight with sharp sides may lie across a region's bars: along the symbol
// some line paired a start and stop on (else the region's centre line), a stretch whose darkest
// level is above the middle of the line's ink and paper, yet still holds bars, with kLocalShare
// of the line's span. Paper between words holds no such contrast.
bool HighlightAcross(const GreyView& picture, const RegionWork& w) {
    thread_local std::vector<float> profile, sorted;
    const Region& r = w.region;
    Point from{r.centre.x - r.halfLength * r.dir.x, r.centre.y - r.halfLength * r.dir.y};
    Point to{r.centre.x + r.halfLength * r.dir.x, r.centre.y + r.halfLength * r.dir.y};
    if (!w.observations.empty())
        from = w.observations.front().begin, to = w.observations.front().end;
    const ScanLine line = LineBetween(from, to, 1);
    if (line.count == 0) return false;
    SampleProfile(picture, line, profile);
    const int n = static_cast<int>(profile.size());
    if (n < 32) return false;
    sorted.assign(profile.begin(), profile.end());
    std::nth_element(sorted.begin(), sorted.begin() + n / 50, sorted.end());
    const float darkest = sorted[n / 50];
    std::nth_element(sorted.begin(), sorted.begin() + n - 1 - n / 50, sorted.end());
    const float lightest = sorted[n - 1 - n / 50];
    const float mid = 0.5f * (darkest + lightest);
    const float least = std::max(kLocalFloor, kLocalShare * (lightest - darkest));
    const int stretch = std::max(8, n / 16);
    for (int a = 0; a + stretch <= n; a += stretch / 2) {
        const auto [lo, hi] =
            std::minmax_element(profile.begin() + a, profile.begin() + a + stretch);
        if (*lo > mid && *hi - *lo >= least) return true;
    }
    return false;
}

// Lines across one region at each of `tilts` (degrees off its own direction); tilted ones
// only where the lines so far looked promising but read little. False when the reader's
// samples reached `limit`. The `first` lines across a region give up sooner once the picture
// spent its free samples.
bool ScanRegion(LineReader& reader, long long limit, const Plan& plan, RegionWork& work,
                const std::vector<double>& tilts, bool tiltWhenBusy = true, bool first = false,
                bool recovery = false) {
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
    const double reach = kReachLengths * r.halfLength + kReachPixels;
    const int soon = stacked > 1 ? kGiveUpSoonStacked : kGiveUpSoon;
    reader.FitBand(r.halfWidth);
    const std::size_t before = 0;  // reads since the region's first line count
    for (double tilt : tilts) {
        // Tilted lines only where the region's own direction read too little but found
        // start or stop characters or many edges: the direction is off (perspective
        // turns the bars), or the bars are short for the symbol's length.
        const bool promising =
            evidence.ends > 0 || (tiltWhenBusy && 2 * evidence.busy >= evidence.lines);
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
            if (evidence.ends == 0 && (i + 1 == kGiveUpAfter ||
                                       (first && i + 1 == soon && reader.Spent() > kFreeSamples)))
                break;
            if (Settled(observations, before)) break;
            // A recovery that read nothing at all, straight or tilted, gives each further
            // tilt a few lines only: neither blur nor the direction is what failed.
            if (recovery && tilt != 0 && i + 1 == kGiveUpTilted && observations.size() == before)
                break;
        }
    }
    return true;
}

// Reads since `first` with every character read.
int WholeReads(const std::vector<Observation>& observations, std::size_t first) {
    int whole = 0;
    for (std::size_t i = first; i < observations.size(); ++i)
        whole += observations[i].chars.find('\0') == std::string::npos;
    return whole;
}

// A character unread on every line whose stretch has less than this share of the contrast of
// its start and stop characters lies under a highlight or glare, not a misprint.
constexpr double kFaint = 0.4;
// Lines sampled to judge that, at most.
constexpr int kFaintLines = 4;

// The spread of grey levels (10th to 90th percentile) along a line's stretch [from, to), as
// shares of the line.
double Contrast(const std::vector<float>& profile, double from, double to) {
    thread_local std::vector<float> part;
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
           std::size_t size, std::size_t k) {
    thread_local std::vector<float> profile;
    double inside = 0, ends = 0;
    int lines = 0;
    const double n = static_cast<double>(size) + 2;  // with start and stop
    const auto inner = [&](double c) { return Contrast(profile, (c + 0.25) / n, (c + 0.75) / n); };
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

// Whether the reads since `first` look like one symbol with a character that no line can
// read: several of them, and one position unread in all. Blur leaves different characters
// unread on different lines; damage leaves the same one, and sharpening must not turn it
// into some other character. A highlight or glare leaves one too, but fades its bars.
bool Damaged(const GreyView& picture, const std::vector<Observation>& observations,
             std::size_t first) {
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
            if (read[k] == 0 && !Faint(picture, observations, first, c.size(), k)) return true;
    }
    return false;
}

// Whether a region lies on a symbol that these lines read whole: the rest of its bars or its
// printed text, not worth a recovery pass. Bars and text reach this share of the symbol's
// length either side of the lines.
constexpr double kOnSymbol = 0.6;

bool OnReadSymbol(const Region& r, const std::vector<Observation>& observations) {
    for (const Observation& o : observations) {
        if (o.chars.find('\0') != std::string::npos) continue;
        const double dx = o.end.x - o.begin.x, dy = o.end.y - o.begin.y;
        const double len = std::hypot(dx, dy);
        if (len <= 0) continue;
        const double x = r.centre.x - o.begin.x, y = r.centre.y - o.begin.y;
        const double along = (x * dx + y * dy) / len, across = std::abs(y * dx - x * dy) / len;
        if (along >= 0 && along <= len && across < kOnSymbol * len) return true;
    }
    return false;
}

// Whether a region lies on a symbol that the regions searched before it read.
bool OnReadSymbol(const Region& r, const std::vector<RegionWork>& work, std::size_t index) {
    for (std::size_t j = 0; j < index; ++j)
        if (OnReadSymbol(r, work[j].observations)) return true;
    return false;
}

// Lines that agree are independent only where they cross the symbol in different places: passes
// that scan one place again (tilts about the same point, recovery) repeat its misreads. Where
// the bars are sheared against the label, lines square to the bars enter through the bars' top
// ends and leave through their bottom ends, and the run of elements between may spell a short
// symbol with the label's margins as quiet zones; lines beside it see another run.
constexpr double kApartPixels = 2;

bool AgreeInPlacesApart(const Consensus& c) {
    const std::size_t n = std::min(c.begins.size(), c.ends.size());
    Point along{0, 0};
    for (std::size_t i = 0; i < n; ++i) {
        along.x += c.ends[i].x - c.begins[i].x;
        along.y += c.ends[i].y - c.begins[i].y;
    }
    const double length = std::hypot(along.x, along.y);
    if (length <= 0) return false;
    const Point across{-along.y / length, along.x / length};
    const auto offset = [&](Point p) { return p.x * across.x + p.y * across.y; };
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j)
            if (std::abs(offset(c.begins[i]) - offset(c.begins[j])) >= kApartPixels ||
                std::abs(offset(c.ends[i]) - offset(c.ends[j])) >= kApartPixels)
                return true;
    return false;
}

// Applies the options to an agreed text; false when the symbol must not be reported.
bool Finish(const ReadOptions& options, std::string& text, CheckState& check) {
    check = CheckState::kNotChecked;
    if (options.checkCharacter == CheckCharacter::kRequired) {
        if (!HasCheckCharacter(text)) return false;
        text.pop_back();
        check = CheckState::kVerified;
    }
    if (options.fullAscii) {
        auto translated = FullAscii(text);
        if (!translated) return false;
        text = std::move(*translated);
    }
    return true;
}

}  // namespace

ReadResult ReadAll(const ImageView& view, const ReadOptions& options) {
    const GreyImage grey(view);  // throws for a view that is not well formed
    const GreyView& picture = grey.view();
    if (picture.width == 0 || picture.height == 0) return {};

    const Plan plan = MakePlan(options.effort);
    ReadResult result;
    LineReader reader(picture, options.polarity);
    std::vector<Region> regions = Locate(picture, kMaxRegions + 1);
    if (regions.size() > kMaxRegions) {
        regions.resize(kMaxRegions);
        result.truncated = true;
    }
    // First every region at its own direction: that reads nearly every symbol, and cheaply.
    std::vector<RegionWork> work;
    std::vector<Region> done;
    const auto scanFirst = [&](const std::vector<Region>& found) {
        for (const Region& r : found) {
            if (Covered(r, done)) continue;
            done.push_back(r);
            work.push_back({r, {}, {}});
            if (!ScanRegion(reader, plan.budget, plan, work.back(), {0}, true, true)) {
                result.truncated = true;
                break;
            }
        }
    };
    scanFirst(regions);
    // Nothing read whole in a noisy picture (dim light): the noise may hide the bars' common
    // direction, which the picture halved shows. Most of its regions repeat the full picture's,
    // and are skipped.
    const bool noisy = NoiseLevel(picture) >= kNoisy;
    const bool readSome = std::any_of(work.begin(), work.end(), [](const RegionWork& w) {
        return WholeReads(w.observations, 0) > 0;
    });
    if (options.effort == Effort::kThorough && noisy && !readSome && !result.truncated)
        scanFirst(LocateHalved(picture, kMaxRegions));
    // Then, while the budget lasts, tilted lines and recovery where the first lines looked
    // promising but read little: start or stop characters seen, or busy lines on bars.
    // Bars that read nothing whole get the recovery, as if blur had eaten the narrow elements;
    // lines with a few edges only (a short symbol blurred) get the wider blur alone: small
    // modules blurred that far leave too few edges for even that.
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < work.size(); ++i) {
        Evidence& e = work[i].evidence;
        const bool promising = e.ends > 0 || 2 * e.busy >= e.lines;
        const bool few = !promising && e.some >= kSomeLines;
        if ((promising || few) && WholeReads(work[i].observations, 0) < kEnoughReads)
            order.push_back(i);
    }
    // Start or stop characters on bar-like lines or on a quarter of the lines first (a
    // symbol turned far off its region's direction loses the likeness); then the others, the most
    // bar-like first, within the free samples only: print and tables look busy too, and even
    // bar-like where their lines and rules repeat.
    const auto rank = [&](std::size_t i) {
        RegionWork& w = work[i];
        const Evidence& e = w.evidence;
        return std::pair(e.ends > 0 && (4 * e.ends >= e.lines || w.BarLike(picture, kBarLikeEnds)),
                         w.BarLike(picture) ? w.barLike : 0.0);
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return rank(a) > rank(b); });
    std::size_t liked = 0;
    while (liked < order.size() && rank(order[liked]).first) ++liked;
    const long long firstPass = reader.Spent();
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::size_t i = order[k];
        if (reader.Spent() >= plan.budget) break;
        const long long limit =
            k < liked ? plan.budget : std::min(plan.budget, firstPass + kFreeSamples);
        if (reader.Spent() >= limit) break;
        RegionWork& w = work[i];
        // A picture whose first pass alone outspent the free samples is a page of print or a
        // busy photo: there, regions without a bar-like start or stop get the rest only where
        // they look like bars themselves (the most bar-like come first).
        if (k >= liked && firstPass > kFreeSamples && !w.BarLike(picture)) break;
        if (!ScanRegion(reader, limit, plan, w, plan.tilts)) break;
        const Evidence& evidence = w.evidence;
        const bool promising = evidence.ends > 0 || 2 * evidence.busy >= evidence.lines;
        const bool few = !promising && evidence.some >= kSomeLines;
        // Start or stop characters on bar-like lines, read apart by a highlight with sharp
        // sides: no blur to undo there, and nothing sharpened, so even a character that looks
        // damaged is left as it is.
        if (options.effort == Effort::kThorough && k < liked &&
            WholeReads(w.observations, 0) < kEnoughReads && reader.Spent() < limit &&
            HighlightAcross(picture, w)) {
            RegionWork again{w.region, {}, {}, w.barLike};
            reader.SetMode(kLocalLevels);
            ScanRegion(reader, limit, plan, again, {0}, false);
            reader.SetMode(kNormal);
            w.observations.insert(w.observations.end(), again.observations.begin(),
                                  again.observations.end());
        }
        if (options.effort != Effort::kThorough || !(promising || few) ||
            WholeReads(w.observations, 0) >= kEnoughReads || Damaged(picture, w.observations, 0) ||
            OnReadSymbol(w.region, work, i))
            continue;
        for (std::size_t m = few ? 1 : 0; m < kRecovery.size(); ++m) {
            // Averaged rows where the picture is noisy, or the bars themselves are textured
            // (a halftone screen, noise on the label alone).
            if (kRecovery[m].band > 0 && !noisy && TextureAlongBars(picture, w.region) < kNoisy)
                break;
            RegionWork again{w.region, {}, {}, w.barLike};
            reader.SetMode(kRecovery[m]);
            // Other symbologies look busy too: tilted lines only where some line read
            // a start or stop, which keeps the pass cheap where no Code 39 is.
            std::vector<double> tilts{0};
            tilts.insert(tilts.end(), plan.tilts.begin(), plan.tilts.end());
            const bool within =
                ScanRegion(reader, limit, plan, again, tilts, evidence.ends > 0, false, true);
            w.observations.insert(w.observations.end(), again.observations.begin(),
                                  again.observations.end());
            if (!within || WholeReads(w.observations, 0) >= kEnoughReads) break;
        }
        reader.SetMode(kNormal);
        // Start or stop characters but still no text: ink that spread or thinned may have
        // blurred the split of some characters' nine widths. Judged among bars and among spaces
        // apart, they read; blur can fake such a gain too, so only where nothing else read.
        // First the smallest modules, sharp: there every line misses the same narrow element,
        // which looks like damage, but that pass sharpens nothing that could invent one.
        if (evidence.ends == 0 || WholeReads(w.observations, 0) >= kEnoughReads ||
            reader.Spent() >= limit)
            continue;
        const bool damaged = Damaged(picture, w.observations, 0);
        reader.SetInkSpread(true);
        for (const LineMode& mode : {kSharpSmall, kFine, kRecovery[0]}) {
            if (damaged && !mode.midLevel) break;
            RegionWork again{w.region, {}, {}, w.barLike};
            reader.SetMode(mode);
            // The direction is not what failed here: straight lines only.
            const bool within = ScanRegion(reader, limit, plan, again, {0}, false);
            w.observations.insert(w.observations.end(), again.observations.begin(),
                                  again.observations.end());
            if (!within || WholeReads(w.observations, 0) >= kEnoughReads) break;
        }
        reader.SetMode(kNormal);
        reader.SetInkSpread(false);
    }

    std::vector<Observation> observations;
    for (RegionWork& w : work)
        observations.insert(observations.end(), std::make_move_iterator(w.observations.begin()),
                            std::make_move_iterator(w.observations.end()));
    for (Consensus& c : Vote(observations)) {
        Symbol s;
        s.text = c.text;
        if (!Finish(options, s.text, s.check) || s.text.empty() || !AgreeInPlacesApart(c)) continue;
        FindBarEnds(picture, static_cast<int>(c.text.size()) + 2, c);
        s.corners = c.corners;
        s.angle = c.angle;
        s.lines = c.lines;
        result.symbols.push_back(std::move(s));
    }
    SortInReadingOrder(result.symbols);
    return result;
}

std::vector<Symbol> Read(const ImageView& picture, const ReadOptions& options) {
    return ReadAll(picture, options).symbols;
}

}  // namespace scan39::reader
