#pragma once
// One read's search of a picture, in passes over its regions: the first lines at each region's
// own direction (pass_first.cpp), then, where those looked promising but read little, tilted
// lines, lines levelled locally under a highlight (pass_levelled.cpp), sharpened and banded
// lines against blur and noise (pass_deblur.cpp), and edges judged apart for spread ink
// (pass_ink_spread.cpp). Each pass scans a region again through ScanAgain (region_scan.cpp).

#include <cmath>
#include <cstddef>
#include <vector>

#include "line_reader_p.h"
#include "locate_p.h"
#include "scan39/reader.h"
#include "vote_p.h"
#include "workspace_p.h"

namespace scan39::reader::detail {

struct Plan {
    int minLines, maxLines;
    double lineSpacing;         // pixels between parallel lines across a region
    std::vector<double> tilts;  // degrees added to a region's direction, after the first pass
    // Samples a picture may cost. Every region gets its lines at its own direction first, the
    // most promising first; tilts and recovery get what is left, the most bar-like first. About
    // a second of work on the development machine at the thorough effort.
    long long budget;
};

// The plan of an effort; `budget` replaces its budget when not negative.
Plan MakePlan(Effort effort, long long budget = -1);

// Noise level (see NoiseLevel) from which a picture gets the banded lines and the halved
// search, and a region's bars (TextureAlongBars) the banded lines: clean pictures, print and
// most photos stay well below.
constexpr int kNoisy = 7;
// Bar likeness (below) that ranks a region without start or stop characters for tilts and
// recovery: running text reaches about 0.5, bars 0.9 and more, blurred too.
constexpr double kBarLike = 0.6;
// Likeness that only bars reach (print and tables stay below): such a region's recovery goes
// on beyond the free samples, as a blurred symbol's lines may see no start or stop at all.
constexpr double kBarLikeSure = 0.9;
// Samples each such region may spend on recovery beyond the free samples and what its tilts
// took: a label with 3-pixel modules blurred by half a module takes a quarter to a half of it.
constexpr long long kSureBarsSamples = 200'000;
// Start or stop characters make a region promising even at a slant or in perspective, which
// leave little of the likeness; print rarely shows any, and then with no likeness at all.
constexpr double kBarLikeEnds = 0.3;
// Samples a picture spends before its regions give up sooner, and after its first pass on
// tilts and recovery where no bar-like start or stop was seen. A small picture's whole search
// fits in it; a page of print gets a few hundredths of a second.
constexpr long long kFreeSamples = 1'000'000;
// Whole reads of a region that end its further passes: lines that agree.
constexpr int kEnoughReads = 2;

// Sharpened against a blur of about a narrow module, in fine samples, weaker edges allowed: the
// deblur pass's first mode, and the ink-spread pass's last.
constexpr LineMode kSharpenedFine{0.25f, 1.5f, 1.5f, 1.0f};

// How much a region looks like bars rather than print or texture (bar_likeness.cpp).
double BarLikeness(const GreyView& picture, const Region& r);

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

// What one read shares between its passes.
struct Search {
    // `budget` samples at most, the plan's when negative (a coarser octave gets a share).
    Search(const GreyView& grey, const ReadOptions& readOptions, long long budget = -1)
        : picture(grey),
          options(readOptions),
          plan(MakePlan(readOptions.effort, budget)),
          reader(grey, readOptions.polarity, workspace) {
        reader.SetLocating(readOptions.locateUnread);
    }
    const GreyView& picture;
    const ReadOptions& options;
    const Plan plan;
    Workspace workspace;  // before the reader, which works in it
    LineReader reader;
    std::vector<RegionWork> work;  // every region searched, in the order the first pass took them
    std::vector<Region> done;      // the regions the first pass scanned
    // Bars by likeness alone whose recovery ran out of its samples where some line paired a
    // start and a stop character: unless a symbol read there after all, one too blurred to
    // read in them, said rather than silently missed. Other symbologies' bars, which may show
    // a start or a stop by chance, pair none.
    std::vector<Region> cut;
    bool truncated = false;
};

// How ScanRegion treats a region's lines.
struct ScanOptions {
    // Tilted lines where many lines were busy, not only where start or stop characters read.
    bool tiltWhenBusy = true;
    // The region's first lines: they give up sooner once the picture spent its free samples.
    bool first = false;
    // A recovery: tilted lines that read nothing at all give up early.
    bool recovery = false;
};

// Lines across one region at each of `tilts` (degrees off its own direction); tilted ones
// only where the lines so far looked promising but read little. False when the reader's
// samples reached `limit`.
bool ScanRegion(LineReader& reader, long long limit, const Plan& plan, RegionWork& work,
                const std::vector<double>& tilts, const ScanOptions& options = {});

// How far a region's lines reach either side of its centre, in its picture's pixels.
double LineReach(const Region& r);

// The region scanned again in `mode` at `tilts`, its reads added to the region's: passes
// that scan one place again read it afresh, without the evidence its first lines gathered.
// The reader goes back to its normal mode. True while the search of the region may go on:
// within `limit`, and short of kEnoughReads whole reads.
bool ScanAgain(Search& search, RegionWork& w, long long limit, const LineMode& mode,
               const std::vector<double>& tilts, const ScanOptions& options = {});

// Whether `p` lies beside a read line: between its ends along it, and less than `reach`
// pixels across it, `reach` given the line's length.
template <class Reach>
bool BesideLine(const Observation& o, Point p, Reach reach) {
    const double dx = o.end.x - o.begin.x, dy = o.end.y - o.begin.y;
    const double length = std::hypot(dx, dy);
    if (length <= 0) return false;
    const double x = p.x - o.begin.x, y = p.y - o.begin.y;
    const double along = (x * dx + y * dy) / length;
    return along >= 0 && along <= length && std::abs(y * dx - x * dy) / length < reach(length);
}

// Reads since `first` with every character read.
int WholeReads(const std::vector<Observation>& observations, std::size_t first);
// Whether kEnoughReads whole reads or more came from lines in places apart, as the vote wants
// them: lines scanning one place again repeat one line's read.
bool WholeReadsApart(const std::vector<Observation>& observations);

// The passes, in the order a read runs them.
// First: each of `regions` not covered by one scanned before, at its own direction.
void FirstPass(Search& search, const std::vector<Region>& regions);
// Whether a lamp's highlight with sharp sides may lie across a region's bars.
bool HighlightAcross(const GreyView& picture, const RegionWork& w, Workspace& ws);
// Lines levelled locally, for a region whose bars a highlight may split.
void LevelledPass(Search& search, RegionWork& w, long long limit);
// Whether the reads since `first` show one character that no line can read (damage).
bool Damaged(const GreyView& picture, const std::vector<Observation>& observations,
             std::size_t first, Workspace& ws);
// Whether a region lies on a symbol that the regions searched before it (work[0..index)) read.
// `bars`: the region looks like bars that only bars look like (kBarLikeSure).
bool OnReadSymbol(const Region& r, bool bars, const std::vector<RegionWork>& work,
                  std::size_t index);
// Sharpened lines, then banded lines, against blur and noise; `fewEdges` skips the finest
// sharpening (a short symbol blurred), `straight` the tilted lines.
void DeblurPass(Search& search, RegionWork& w, long long limit, bool fewEdges, bool noisy,
                bool straight);
// Edges judged among bars and among spaces apart, for ink that spread or thinned. Without
// `endsSeen` (no start or stop character on the region's lines) edges placed by ink alone.
void InkSpreadPass(Search& search, RegionWork& w, long long limit, bool endsSeen);

}  // namespace scan39::reader::detail
