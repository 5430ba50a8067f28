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
    float step;      // pixels between samples
    float minSlope;  // weakest edge worth a look, grey levels per sample pair
    float sharpen;   // unsharp masking amount, 0 for none
    float sigma;     // its blur, in pixels
};
// Half a pixel between samples resolves narrow modules down to ~1.3 px; ink and paper 60
// levels apart, blurred over a narrow module, still give edges steeper than 4 levels.
constexpr LineMode kNormal{0.5f, 4.0f, 0, 0};
// For regions that look like bars but read nothing: blur that swallows much of a narrow
// module's contrast. The profile sharpened against a blur of about a narrow module (finer
// samples for small modules, then a wider blur for larger ones), weaker edges allowed.
constexpr std::array<LineMode, 2> kRecovery{{{0.25f, 1.5f, 1.5f, 1.0f}, {0.5f, 2.0f, 1.0f, 2.0f}}};
// Finer samples, for ink spread on the smallest modules (then, blurred too, kRecovery[0]).
constexpr LineMode kFine{0.25f, 2.0f, 0, 0};

struct Plan {
    int regions;
    int minLines, maxLines;
    double lineSpacing;         // pixels between parallel lines across a region
    std::vector<double> tilts;  // degrees added to a region's direction
};

Plan MakePlan(Effort effort) {
    if (effort == Effort::kFast) return {6, 4, 10, 4.0, {0}};
    return {16, 6, 32, 2.5, {0, -4, 4, -8, 8}};
}

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

class LineReader {
  public:
    LineReader(const GreyView& picture, Polarity polarity)
        : picture_(picture), polarity_(polarity) {}
    void SetMode(const LineMode& mode) { mode_ = mode; }
    void SetInkSpread(bool on) { inkSpread_ = on; }

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
        if (to - from < 10) return;
        LineContext context;
        context.inkSpread = inkSpread_;
        context.openBegin = from == 0;
        context.openEnd = to == static_cast<double>(line.count - 1) * step;
        line.origin = {line.origin.x + from * dir.x, line.origin.y + from * dir.y};
        line.count = static_cast<int>((to - from) / step) + 1;
        SampleProfile(picture_, line, profile_);
        if (mode_.sharpen > 0) Sharpen(profile_, mode_.sigma / step, mode_.sharpen);
        FindEdges(profile_, mode_.minSlope, edges_);
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

  private:
    const GreyView& picture_;
    const Polarity polarity_;
    LineMode mode_ = kNormal;
    bool inkSpread_ = false;
    std::vector<float> profile_;
    std::vector<Edge> edges_;
    std::vector<LineRead> reads_;
};

// Lines across a region before one without start or stop characters is given up.
constexpr int kGiveUpAfter = 8;
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
// find most symbols twice).
bool Covered(const Region& r, const std::vector<Region>& done) {
    return std::any_of(done.begin(), done.end(), [&](const Region& d) {
        const double x = r.centre.x - d.centre.x, y = r.centre.y - d.centre.y;
        const double along = std::abs(x * d.dir.x + y * d.dir.y);
        const double across = std::abs(y * d.dir.x - x * d.dir.y);
        const double dot = std::abs(r.dir.x * d.dir.x + r.dir.y * d.dir.y);
        return dot > 0.995 && along < d.halfLength && across + r.halfWidth <= d.halfWidth + 4;
    });
}

// Lines across one region, at its own direction and, where that looks promising but reads
// little, tilted.
void ScanRegion(LineReader& reader, const Plan& plan, const Region& r,
                std::vector<Observation>& observations, Evidence& evidence,
                bool tiltWhenBusy = true) {
    const int lines = std::clamp(static_cast<int>(2 * r.halfWidth / plan.lineSpacing),
                                 plan.minLines, plan.maxLines);
    // Far enough past the region for a symbol of which it holds only a third, and its
    // quiet zones.
    const double reach = 3 * r.halfLength + 32;
    const std::size_t before = observations.size();
    for (double tilt : plan.tilts) {
        // Tilted lines only where the region's own direction read too little but found
        // start or stop characters or many edges: the direction is off (perspective
        // turns the bars), or the bars are short for the symbol's length.
        const bool promising =
            evidence.ends > 0 || (tiltWhenBusy && 2 * evidence.busy >= evidence.lines);
        if (tilt != 0 && (!promising || observations.size() - before >= 3)) break;
        const double a = std::atan2(r.dir.y, r.dir.x) + tilt * std::numbers::pi / 180;
        const Point dir{std::cos(a), std::sin(a)};
        const Point normal{-dir.y, dir.x};
        for (int i = 0; i < lines; ++i) {
            // Spread over the region from the first lines on (van der Corput order), so
            // that stopping early still leaves lines far apart.
            const double o = r.halfWidth * 0.9 * (2 * Spread(i) - 1);
            reader.Scan({r.centre.x + o * normal.x, r.centre.y + o * normal.y}, dir, reach,
                        observations, evidence);
            if (i + 1 == kGiveUpAfter && evidence.ends == 0) break;
            if (Settled(observations, before)) break;
        }
    }
}

// Reads since `first` with every character read.
int WholeReads(const std::vector<Observation>& observations, std::size_t first) {
    int whole = 0;
    for (std::size_t i = first; i < observations.size(); ++i)
        whole += observations[i].chars.find('\0') == std::string::npos;
    return whole;
}

// Whether the reads since `first` look like one symbol with a character that no line can
// read: several of them, and one position unread in all. Blur leaves different characters
// unread on different lines; damage leaves the same one, and sharpening must not turn it
// into some other character.
bool Damaged(const std::vector<Observation>& observations, std::size_t first) {
    constexpr int kSeveral = 3;
    for (std::size_t i = first; i < observations.size(); ++i) {
        const std::string& c = observations[i].chars;
        std::vector<int> read(c.size(), 0);
        int same = 0;
        for (std::size_t j = first; j < observations.size(); ++j) {
            const std::string& d = observations[j].chars;
            if (d.size() != c.size()) continue;
            ++same;
            for (std::size_t k = 0; k < d.size(); ++k) read[k] += d[k] != 0;
        }
        if (same >= kSeveral && std::find(read.begin(), read.end(), 0) != read.end()) return true;
    }
    return false;
}

// Whether a region lies on a symbol that lines read whole before `first`: the rest of its bars
// or its printed text, not worth a recovery pass.
bool OnReadSymbol(const Region& r, const std::vector<Observation>& observations,
                  std::size_t first) {
    for (std::size_t i = 0; i < first; ++i) {
        const Observation& o = observations[i];
        if (o.chars.find('\0') != std::string::npos) continue;
        const double dx = o.end.x - o.begin.x, dy = o.end.y - o.begin.y;
        const double len = std::hypot(dx, dy);
        if (len <= 0) continue;
        const double x = r.centre.x - o.begin.x, y = r.centre.y - o.begin.y;
        const double along = (x * dx + y * dy) / len, across = std::abs(y * dx - x * dy) / len;
        if (along >= 0 && along <= len && across < 0.6 * len) return true;
    }
    return false;
}

// Applies the options to an agreed text; false when the symbol must not be reported.
bool Finish(const ReadOptions& options, std::string& text, CheckState& check) {
    check = CheckState::kNotChecked;
    if (options.checkCharacter == CheckCharacter::kRequired) {
        if (text.size() < 2) return false;
        int sum = 0;
        for (std::size_t i = 0; i + 1 < text.size(); ++i) sum += CheckValue(text[i]);
        if (sum % 43 != CheckValue(text.back())) return false;
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

std::vector<Symbol> Read(const GreyView& picture, const ReadOptions& options) {
    if (picture.width < 0 || picture.height < 0)
        throw std::invalid_argument("picture size is negative");
    if (picture.width == 0 || picture.height == 0) return {};
    if (picture.data == nullptr) throw std::invalid_argument("picture has no pixels");
    if (picture.stride < picture.width) throw std::invalid_argument("row stride below width");

    const Plan plan = MakePlan(options.effort);
    std::vector<Observation> observations;
    LineReader reader(picture, options.polarity);
    std::vector<Region> done;
    for (const Region& r : Locate(picture, plan.regions)) {
        if (Covered(r, done)) continue;
        done.push_back(r);
        Evidence evidence;
        const std::size_t before = observations.size();
        ScanRegion(reader, plan, r, observations, evidence);
        // Bars that read nothing whole: try again as if blur had eaten the narrow elements.
        // Lines with a few edges only (a short symbol blurred) get the wider blur alone: small
        // modules blurred that far leave too few edges for even that.
        const bool promising = evidence.ends > 0 || 2 * evidence.busy >= evidence.lines;
        const bool few = !promising && evidence.some >= kSomeLines;
        if (options.effort == Effort::kThorough && (promising || few) &&
            WholeReads(observations, before) < 2 && !Damaged(observations, before) &&
            !OnReadSymbol(r, observations, before)) {
            for (std::size_t m = few ? 1 : 0; m < kRecovery.size(); ++m) {
                Evidence again;
                reader.SetMode(kRecovery[m]);
                // Other symbologies look busy too: tilted lines only where some line read
                // a start or stop, which keeps the pass cheap where no Code 39 is.
                ScanRegion(reader, plan, r, observations, again, evidence.ends > 0);
                if (WholeReads(observations, before) >= 2) break;
            }
            reader.SetMode(kNormal);
        }
        // Start or stop characters but still no text: ink that spread or thinned may have
        // blurred the split of some characters' nine widths. Judged among bars and among spaces
        // apart, they read; blur can fake such a gain too, so only where nothing else read.
        if (options.effort == Effort::kThorough && evidence.ends > 0 &&
            WholeReads(observations, before) < 2 && !Damaged(observations, before) &&
            !OnReadSymbol(r, observations, before)) {
            reader.SetInkSpread(true);
            Plan straight = plan;  // the direction is not what failed here
            straight.tilts = {0};
            for (const LineMode& mode : {kFine, kRecovery[0]}) {
                Evidence again;
                reader.SetMode(mode);
                ScanRegion(reader, straight, r, observations, again, false);
                if (WholeReads(observations, before) >= 2) break;
            }
            reader.SetMode(kNormal);
            reader.SetInkSpread(false);
        }
    }

    std::vector<Symbol> symbols;
    for (Consensus& c : Vote(observations)) {
        Symbol s;
        s.text = c.text;
        if (!Finish(options, s.text, s.check) || s.text.empty()) continue;
        FindBarEnds(picture, static_cast<int>(c.text.size()) + 2, c);
        s.corners = c.corners;
        s.angle = c.angle;
        s.lines = c.lines;
        symbols.push_back(std::move(s));
    }
    return symbols;
}

}  // namespace scan39::reader
