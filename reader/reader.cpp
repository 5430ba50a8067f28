#include "scan39/reader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>

#include "code39_p.h"
#include "corners_p.h"
#include "locate_p.h"
#include "pyramid_p.h"
#include "search_p.h"
#include "vote_p.h"

// The read's orchestration: where the regions come from, which passes each gets in which
// order within the picture's budget, and which agreed texts are reported. The passes and
// their constants live in pass_*.cpp.

namespace scan39::reader {
namespace {

using namespace detail;

// Regions searched at most: far more Code 39 symbols than a sheet can hold, each found by
// the coarse and the fine grid. A picture with more says that it was not searched whole.
constexpr std::size_t kMaxRegions = 20'000;

// Applies the options to an agreed text; false when the symbol must not be reported.
bool Finish(const ReadOptions& options, std::string& text, CheckState& check, bool& fullAscii) {
    check = CheckState::kNotChecked;
    fullAscii = false;
    if (options.checkCharacter == CheckCharacter::kRequired) {
        if (!HasCheckCharacter(text)) return false;
        text.pop_back();
        check = CheckState::kVerified;
    }
    if (options.fullAscii) {
        auto translated = FullAscii(text);
        if (!translated) return false;
        // Only a symbol that held a pair was read in full ASCII: the others are plain.
        fullAscii = *translated != text;
        text = std::move(*translated);
    }
    return true;
}

// Whether the first lines across a region looked promising but read little: start or stop
// characters seen, or busy lines on bars; `few` for lines with a few edges only (a short
// symbol blurred).
bool Promising(const Evidence& e) {
    return e.ends > 0 || 2 * e.busy >= e.lines;
}
bool FewEdges(const Evidence& e) {
    return !Promising(e) && e.some >= kSomeLines;
}

// Octaves searched above the picture's own, and the shortest side a level keeps: modules up
// to ~60 pixels come down to a few, and a symbol that fills a level still has its quiet zones.
// Every octave: for size alone every second would do (each level's block grids see modules
// over two octaves), but each octave also averages away texture finer than a module (a
// halftone screen, noise) at its own scale, and a symbol so textured may lie beside one that
// read at the picture's own.
constexpr int kMaxOctave = 5;
constexpr int kSmallestLevel = 48;
// The coarser octaves together add at most this share of the picture's budget.
constexpr long long kCoarseShare = 4;
// A region whose centre lies this close to a line that read a symbol, in its lengths.
constexpr double kNearRead = 0.25;

// Whether a region of octave `k` lies on a symbol that a finer octave resolved: some line there
// read its start and stop. Its finest reading stands, whole or not; coarser, a damaged
// character may blur into a readable one.
bool OnSymbolResolved(const Region& r, int k, const std::vector<Observation>& observations) {
    const Point c = Pyramid::ToPicture(r.centre, k);
    return std::any_of(observations.begin(), observations.end(), [&](const Observation& o) {
        return !o.located && BesideLine(o, c, [](double length) { return kNearRead * length; });
    });
}

// Whether a point lies on a symbol read: within its bars from start to stop, or as far again
// as half their height above or below them, where its printed text or its region's blur
// reaches.
bool OnSymbol(Point p, const std::vector<Symbol>& symbols) {
    return std::any_of(symbols.begin(), symbols.end(), [&](const Symbol& s) {
        const Point& o = s.corners[0];
        const Point u{s.corners[1].x - o.x, s.corners[1].y - o.y};  // start to stop
        const Point v{s.corners[3].x - o.x, s.corners[3].y - o.y};  // top to bottom
        const double uu = u.x * u.x + u.y * u.y, vv = v.x * v.x + v.y * v.y;
        if (uu <= 0 || vv <= 0) return false;
        const double along = ((p.x - o.x) * u.x + (p.y - o.y) * u.y) / uu;
        const double across = ((p.x - o.x) * v.x + (p.y - o.y) * v.y) / vv;
        return along >= 0 && along <= 1 && across >= -0.5 && across <= 1.5;
    });
}

// A region some level's first pass scanned, in the picture's pixels: how far its lines reached
// either side of its centre, and the level's pixel in the picture's.
struct Searched {
    Region region;
    double reach;
    double scale;
};

// A region of octave `k` in the picture's pixels.
Region ToPicture(const Region& r, int k) {
    const double s = static_cast<double>(1 << k);
    return {Pyramid::ToPicture(r.centre, k), r.dir, r.halfLength * s, r.halfWidth * s, r.weight};
}

// A region found again at a coarser octave, inside one a finer level searched already in about
// the same direction: its lines crossed it there, at a finer resolution, and they reached past
// its ends. The octaves are for symbols the finer block grids see only in pieces (a bar each,
// their quiet zones too wide) or not at all; print and texture found again at each octave
// would cost every octave's search over again.
constexpr double kSearchedDot = 0.99;  // directions within ~8 degrees
// Pixels of the finer level a coarser region's rounding may reach past it across the bars: a
// coarse block's half.
constexpr double kSearchedSlack = 8;

bool SearchedFiner(const Region& r, const std::vector<Searched>& searched) {
    return std::any_of(searched.begin(), searched.end(), [&](const Searched& d) {
        const Region& f = d.region;
        if (std::abs(r.dir.x * f.dir.x + r.dir.y * f.dir.y) < kSearchedDot) return false;
        const double x = r.centre.x - f.centre.x, y = r.centre.y - f.centre.y;
        const double along = std::abs(x * f.dir.x + y * f.dir.y);
        const double across = std::abs(y * f.dir.x - x * f.dir.y);
        return along + r.halfLength <= d.reach &&
               across + r.halfWidth <= f.halfWidth + kSearchedSlack * d.scale;
    });
}

// Grading only: the lines that located a symbol without reading it, after
// the octave's search, into the picture's observations. Vote passes them by, and so does
// OnSymbolResolved: the search goes as without.
void TakeLocated(Search& search, int octave, std::vector<Observation>& observations) {
    for (Observation& o : search.reader.Located()) {
        o.begin = Pyramid::ToPicture(o.begin, octave);
        o.end = Pyramid::ToPicture(o.end, octave);
        observations.push_back(std::move(o));
    }
}

// Tilts and recovery over one octave's regions after its first pass.
void LaterPasses(Search& search, bool noisy) {
    const GreyView& picture = search.picture;
    const Plan& plan = search.plan;
    LineReader& reader = search.reader;
    std::vector<RegionWork>& work = search.work;
    const ReadOptions& options = search.options;
    // Then, while the budget lasts, tilted lines and recovery where the first lines looked
    // promising but read little: start or stop characters seen, or busy lines on bars.
    // Bars that read nothing whole get the recovery, as if blur had eaten the narrow elements;
    // lines with a few edges only (a short symbol blurred) get the wider blur alone: small
    // modules blurred that far leave too few edges for even that.
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < work.size(); ++i) {
        const Evidence& e = work[i].evidence;
        if ((Promising(e) || FewEdges(e)) && WholeReads(work[i].observations, 0) < kEnoughReads)
            order.push_back(i);
    }
    // Start or stop characters on bar-like lines or on a quarter of the lines first (a
    // symbol turned far off its region's direction loses the likeness); then regions as alike
    // as bars from line to line, which blurred symbols are before any of their lines reads a
    // start or stop (a sheet of them would otherwise share the free samples, and most go
    // unread); then the others, the most bar-like first, within the free samples only: print
    // and tables look busy too, and even bar-like where their lines and rules repeat.
    const auto rank = [&](std::size_t i) {
        RegionWork& w = work[i];
        const Evidence& e = w.evidence;
        const bool ends = e.ends > 0 && (4 * e.ends >= e.lines || w.BarLike(picture, kBarLikeEnds));
        const bool bars = w.region.halfLength >= w.region.halfWidth && 2 * e.busy >= e.lines &&
                          w.BarLike(picture, kBarLikeSure);
        return std::pair(ends ? 2 : bars ? 1 : 0, w.BarLike(picture) ? w.barLike : 0.0);
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return rank(a) > rank(b); });
    std::size_t liked = 0, sure = 0;  // with start or stop characters; bars by likeness alone
    while (liked < order.size() && rank(order[liked]).first == 2) ++liked;
    while (liked + sure < order.size() && rank(order[liked + sure]).first == 1) ++sure;
    const long long firstPass = reader.Spent();
    const bool thorough = options.effort == Effort::kThorough;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::size_t i = order[k];
        // Symbols likely left unread for want of samples: said, never a silent miss.
        if (reader.Spent() >= plan.budget) {
            search.truncated = search.truncated || k < liked + sure;
            break;
        }
        // The free samples first, as every region gets them, tilts too; beyond them, bars by
        // likeness alone (which may still be a grain or a ruled table) each get a blurred
        // label's recovery of their own, whatever the tilts took, and no tilts.
        const long long free = std::min(plan.budget, firstPass + kFreeSamples);
        const bool sureBars = k >= liked && k < liked + sure;
        long long limit = k < liked ? plan.budget : free;
        if (!sureBars && reader.Spent() >= limit) break;
        RegionWork& w = work[i];
        // A picture whose first pass alone outspent the free samples is a page of print or a
        // busy photo: there, regions without a bar-like start or stop get the rest only where
        // they look like bars themselves (the most bar-like come first).
        if (k >= liked && firstPass > kFreeSamples && !w.BarLike(picture)) break;
        // Tilted lines within the free samples; beyond them, bars by likeness alone are only
        // blurred, as lines along the region see the same bars: the direction is not what failed.
        const bool straight = reader.Spent() >= limit;
        if (!straight && !ScanRegion(reader, limit, plan, w, plan.tilts) && !sureBars) break;
        if (sureBars)
            limit = std::max(limit, std::min(plan.budget, reader.Spent() + kSureBarsSamples));
        const Evidence& evidence = w.evidence;
        const bool promising = Promising(evidence);
        const bool few = FewEdges(evidence);
        if (thorough && k < liked && WholeReads(w.observations, 0) < kEnoughReads &&
            reader.Spent() < limit)
            LevelledPass(search, w, limit);
        if (!thorough || !(promising || few) || WholeReads(w.observations, 0) >= kEnoughReads ||
            Damaged(picture, w.observations, 0, search.workspace) ||
            OnReadSymbol(w.region, w.barLike >= kBarLikeSure, work, i))
            continue;
        DeblurPass(search, w, limit, few, noisy, straight);
        // Bars thinned below a pixel hide even the start and stop characters: on bars alone,
        // their ink is worth a look.
        if ((evidence.ends > 0 || w.BarLike(picture)) && !WholeReadsApart(w.observations) &&
            reader.Spent() < limit)
            InkSpreadPass(search, w, limit, evidence.ends > 0);
        if (sureBars && reader.Spent() >= limit && !w.observations.empty())
            search.cut.push_back(w.region);
    }
}

// One search of a picture at its own scale, every pass: the lines' observations, `truncated`
// set where it could not cover the picture whole, `spent` the samples it took, `cut` its
// regions whose recovery ran out of samples.
std::vector<Observation> SearchFull(const GreyView& picture, const ReadOptions& options,
                                    bool& truncated, long long& spent, std::vector<Region>& cut,
                                    std::vector<Searched>* searched = nullptr) {
    std::vector<Observation> observations;
    Search search(picture, options);
    std::vector<Region> regions = Locate(picture, kMaxRegions + 1);
    if (regions.size() > kMaxRegions) {
        regions.resize(kMaxRegions);
        search.truncated = true;
    }
    // First every region at its own direction: that reads nearly every symbol, and cheaply.
    FirstPass(search, regions);
    // Nothing read whole in a noisy picture (dim light): the noise may hide the bars'
    // common direction, which the picture halved shows. Most of its regions repeat the full
    // picture's, and are skipped.
    const bool noisy = NoiseLevel(picture) >= kNoisy;
    const bool readSome =
        std::any_of(search.work.begin(), search.work.end(),
                    [](const RegionWork& w) { return WholeReads(w.observations, 0) > 0; });
    if (options.effort == Effort::kThorough && noisy && !readSome && !search.truncated)
        FirstPass(search, LocateHalved(picture, kMaxRegions));
    LaterPasses(search, noisy);
    truncated = truncated || search.truncated;
    spent = search.reader.Spent();
    cut.insert(cut.end(), search.cut.begin(), search.cut.end());
    if (searched != nullptr)
        for (const Region& r : search.done) searched->push_back({r, LineReach(r), 1});
    for (RegionWork& w : search.work)
        observations.insert(observations.end(), std::make_move_iterator(w.observations.begin()),
                            std::make_move_iterator(w.observations.end()));
    TakeLocated(search, 0, observations);
    return observations;
}

// Texture finer than a module (a photographed screen's pixel grid and colour stripes, the moiré
// they beat with the camera's pixels) breaks the bars' edges into many weak ones and hides their
// common direction. Smoothed at the scale of a small module, it averages away and the bars stay:
// a picture so busy that read nothing whole is searched once more, smoothed so.
constexpr float kFineTextureSigma = 1.5f;

// The picture blurred by a Gaussian of `sigma` pixels, columns then rows, edges repeated; one
// row of floats between the two, so that a large page costs no second copy in floats.
std::vector<std::uint8_t> Smoothed(const GreyView& picture, float sigma) {
    const int w = picture.width, h = picture.height;
    const int radius = std::max(1, static_cast<int>(std::ceil(3 * sigma)));
    std::vector<float> kernel(static_cast<std::size_t>(2 * radius + 1));
    float sum = 0;
    for (int k = -radius; k <= radius; ++k)
        sum += kernel[k + radius] = std::exp(-0.5f * k * k / (sigma * sigma));
    for (float& c : kernel) c /= sum;
    std::vector<std::uint8_t> smoothed(static_cast<std::size_t>(w) * h);
    std::vector<float> row(static_cast<std::size_t>(w));
    for (int y = 0; y < h; ++y) {
        std::fill(row.begin(), row.end(), 0.0f);
        for (int k = -radius; k <= radius; ++k) {
            const std::uint8_t* in = picture.data + std::clamp(y + k, 0, h - 1) * picture.stride;
            const float c = kernel[k + radius];
            for (int x = 0; x < w; ++x) row[x] += c * in[x];
        }
        std::uint8_t* out = &smoothed[static_cast<std::size_t>(y) * w];
        for (int x = 0; x < w; ++x) {
            float v = 0;
            for (int k = -radius; k <= radius; ++k)
                v += kernel[k + radius] * row[std::clamp(x + k, 0, w - 1)];
            out[x] = static_cast<std::uint8_t>(std::clamp(v + 0.5f, 0.0f, 255.0f));
        }
    }
    return smoothed;
}

// The symbols located but not read, in reading order.
std::vector<UnreadSymbol> Unread(const std::vector<Observation>& observations,
                                 const std::vector<Consensus>& voted) {
    std::vector<Unvoted> found = LocateUnvoted(observations, voted);
    std::vector<Symbol> order(found.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        order[i].corners = found[i].place.corners;
        order[i].text = std::to_string(i + 1000000);  // ties go by it: the found order
    }
    SortInReadingOrder(order);
    std::vector<UnreadSymbol> unread;
    for (const Symbol& s : order) {
        const Unvoted& u = found[std::stoul(s.text) - 1000000];
        unread.push_back(
            {u.place.corners, u.place.angle, u.place.lines, u.characters, u.quietZoneShort});
    }
    return unread;
}

}  // namespace

std::string AimIdentifier(const Symbol& symbol) {
    // Modifier 1 (check transmitted) never applies: a verified check character is stripped.
    const int modifier =
        (symbol.check == CheckState::kVerified ? 3 : 0) + (symbol.fullAscii ? 4 : 0);
    return "]A" + std::to_string(modifier);
}

ReadResult ReadAll(const ImageView& view, const ReadOptions& options) {
    const GreyImage grey(view);  // throws for a view that is not well formed
    const GreyView& picture = grey.view();
    if (picture.width == 0 || picture.height == 0) return {};

    ReadResult result;
    long long spent = 0;             // samples, over every octave
    std::vector<Searched> searched;  // every level's regions, for the coarser ones
    std::vector<Region> cut;         // every level's regions whose recovery ran out
    std::vector<Observation> observations =
        SearchFull(picture, options, result.truncated, spent, cut, &searched);
    // Then the coarser octaves, for symbols too large for the block grid and the lines at the
    // picture's own scale: at each, the regions neither on a symbol resolved already nor inside
    // one that a finer level searched. They go on from the samples the picture spent, so a page
    // or a busy photo that used its free samples gives their regions only a glance, and they may
    // add at most a share of its budget.
    Pyramid pyramid(picture);
    const long long budget = MakePlan(options.effort).budget;
    const long long stop = std::min(budget, spent + budget / kCoarseShare);
    for (int k = 1; k <= kMaxOctave && spent < stop; ++k) {
        const GreyView* level = pyramid.Level(k, kSmallestLevel);
        if (level == nullptr) break;
        std::vector<Region> found = Locate(*level, kMaxRegions + 1);
        if (found.size() > kMaxRegions) {
            found.resize(kMaxRegions);
            result.truncated = true;
        }
        std::vector<Region> fresh;
        for (const Region& r : found)
            if (!OnSymbolResolved(r, k, observations) && !SearchedFiner(ToPicture(r, k), searched))
                fresh.push_back(r);
        if (fresh.empty()) continue;
        Search search(*level, options, stop);
        search.reader.Charge(spent);
        FirstPass(search, fresh);
        LaterPasses(search, NoiseLevel(*level) >= kNoisy);
        spent = search.reader.Spent();  // its share spent is no truncation: the picture's was
        const double scale = static_cast<double>(1 << k);
        for (const Region& r : search.done)
            searched.push_back({ToPicture(r, k), LineReach(r) * scale, scale});
        for (const Region& r : search.cut) cut.push_back(ToPicture(r, k));
        for (RegionWork& w : search.work) {
            for (Observation& o : w.observations) {
                o.begin = Pyramid::ToPicture(o.begin, k);
                o.end = Pyramid::ToPicture(o.end, k);
                observations.push_back(std::move(o));
            }
        }
        TakeLocated(search, k, observations);
    }

    if (options.effort == Effort::kThorough && !result.truncated &&
        WholeReads(observations, 0) == 0 && NoiseLevel(picture) >= kNoisy) {
        const std::vector<std::uint8_t> pixels = Smoothed(picture, kFineTextureSigma);
        const GreyView smoothed{pixels.data(), picture.width, picture.height, picture.width};
        long long more = 0;
        std::vector<Observation> again = SearchFull(smoothed, options, result.truncated, more, cut);
        observations.insert(observations.end(), std::make_move_iterator(again.begin()),
                            std::make_move_iterator(again.end()));
    }

    std::vector<Consensus> voted = Vote(observations);
    for (Consensus& c : voted) {
        Symbol s;
        s.text = c.text;
        if (!Finish(options, s.text, s.check, s.fullAscii) || s.text.empty() ||
            !AgreeInPlacesApart(c))
            continue;
        FindBarEnds(picture, static_cast<int>(c.text.size()) + 2, c);
        s.corners = c.corners;
        s.angle = c.angle;
        s.lines = c.lines;
        result.symbols.push_back(std::move(s));
    }
    SortInReadingOrder(result.symbols);
    result.truncated =
        result.truncated || !std::all_of(cut.begin(), cut.end(), [&](const Region& r) {
            return OnSymbol(r.centre, result.symbols);
        });
    if (options.locateUnread) result.unread = Unread(observations, voted);
    return result;
}

std::vector<Symbol> Read(const ImageView& picture, const ReadOptions& options) {
    return ReadAll(picture, options).symbols;
}

}  // namespace scan39::reader
