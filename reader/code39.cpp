#include "code39_p.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "workspace_p.h"

namespace scan39::reader::detail {
namespace {

constexpr std::uint16_t Mask(std::string_view elements) {
    std::uint16_t m = 0;
    for (char c : elements) m = static_cast<std::uint16_t>(m << 1 | IsWideElement(c));
    return m;
}

// Wide elements of each character of kCharacters, first element in bit 8.
constexpr std::array<std::uint16_t, kFilledRows> MakeMasks() {
    std::array<std::uint16_t, kFilledRows> masks{};
    for (int r = 0; r < kFilledRows; ++r) masks[CharacterIndex(r)] = Mask(kCode39Table[r].elements);
    return masks;
}
constexpr auto kMasks = MakeMasks();

constexpr std::array<std::int8_t, 512> MakeLookup() {
    std::array<std::int8_t, 512> t{};
    for (auto& v : t) v = -1;
    for (std::size_t i = 0; i < kMasks.size(); ++i) t[kMasks[i]] = static_cast<std::int8_t>(i);
    return t;
}
constexpr auto kLookup = MakeLookup();

// The lookup by wide-element mask must give back every character.
constexpr bool LookupComplete() {
    for (std::size_t i = 0; i < kMasks.size(); ++i) {
        if (kLookup[kMasks[i]] != static_cast<int>(i)) return false;
    }
    return true;
}
static_assert(LookupComplete());

// Limits on a character's element widths. Blur pulls narrow and wide widths together and
// perspective stretches them, but a printed Code 39 character keeps a clear split.
constexpr float kMinSplit = 1.15f;        // narrowest wide over widest narrow
constexpr float kMaxNarrowSpread = 2.3f;  // widest narrow over narrowest narrow
constexpr float kMaxWideSpread = 2.0f;
constexpr float kMinRatio = 1.35f;  // mean wide over mean narrow (2:1 printed, less when blurred)
constexpr float kMaxRatio = 4.5f;

// Symbol-level limits, relative to the width of the neighbouring character.
constexpr float kQuietZone = 0.28f;    // ~4 modules: quiet zones of 5 modules, somewhat blurred
constexpr float kWeakEdge = 0.4f;      // of the character's mean edge: noise, not a bar
constexpr float kMaxGap = 0.5f;        // gaps of up to ~6 modules
constexpr float kMaxWidthStep = 1.2f;  // neighbouring characters differ little, even in perspective
// A start and a stop paired across unreadable characters: their widths differ by at most this
// factor, the characters between number at most kMostMissing, and their count from the pitch
// lies this close to a whole number.
constexpr float kMaxPairedStep = 1.4f;
constexpr int kMostMissing = 3;
constexpr float kCountSlack = 0.25f;
// Edges of a start and a stop character alone.
constexpr int kLeastEdges = 20;

bool Consistent(float a, float b, float limit) {
    return a < b * limit && b < a * limit;
}

// A label wrapped round a bottle or can narrows towards its ends as they turn away, the more so
// the farther out: there neighbouring characters differ by up to this factor.
constexpr float kMaxTurnedStep = 1.5f;
// Steps within this factor keep the widths level, for measuring.
constexpr float kLevelStep = 1.1f;

// Character widths along a run, in the order they are taken. Steps beyond kMaxWidthStep are
// taken where the run fits a label turning away: a steep widening only while nothing
// narrowed before it (the near end's flank), and after a steep narrowing (the far end's) no
// widening. Or where the widths change smoothly, as along a line across a sheet that waved,
// whose bars slant more here and less there: each step within kMaxWidthStep of the step
// before it (itself counted up to kMaxWidthStep), as a level run holds each step to level.
// Characters pieced together from unrelated edges jump from level either way.
class WidthTrend {
  public:
    bool Take(float from, float to) {
        if (!Consistent(from, to, kMaxTurnedStep)) return false;
        const bool steepUp = to >= from * kMaxWidthStep, steepDown = from >= to * kMaxWidthStep;
        const float trend = std::clamp(step_, 1 / kMaxWidthStep, kMaxWidthStep);
        const bool smooth = Consistent(from * trend, to, kMaxWidthStep);
        if (((steepUp && narrowed_) || (fallen_ && to > from * kLevelStep)) && !smooth)
            return false;
        narrowed_ = narrowed_ || from > to * kLevelStep;
        fallen_ = fallen_ || steepDown;
        step_ = to / from;
        return true;
    }

  private:
    bool narrowed_ = false;
    bool fallen_ = false;
    float step_ = 1;  // the last step taken
};

// Ink spread or thinned by up to ~0.45 module: a narrow bar and a narrow space differ by up to
// this factor, where printing alone keeps them alike.
constexpr float kMaxBarSpaceRatio = 2.6f;
// Less gain than this share of two modules is no spread worth taking out.
constexpr float kMinGain = 0.06f;

float Mean(const float* v, int n) {
    float sum = 0;
    for (int i = 0; i < n; ++i) sum += v[i];
    return sum / n;
}

int ClassifyTogether(const float* widths);

// Narrow and wide judged among the five bars and among the four spaces apart: a character has
// two wide bars and one wide space, or no wide bar and three wide spaces. A uniform gain or loss
// of ink widens one kind and narrows the other by the same amount; the narrow bars and narrow
// spaces found this way measure it, and the widths with it taken out must then read as the
// same character judged all together, so blur, which is no such offset, gains nothing here.
int ClassifyApart(const float* widths) {
    std::array<float, 5> b{widths[0], widths[2], widths[4], widths[6], widths[8]};
    std::array<float, 4> s{widths[1], widths[3], widths[5], widths[7]};
    std::sort(b.begin(), b.end());
    std::sort(s.begin(), s.end());
    float barSplit = 0, spaceSplit = 0, narrowBar = 0, narrowSpace = 0;
    if (b[3] >= kMinSplit * b[2] && s[3] >= kMinSplit * s[2]) {  // two wide bars, one space
        barSplit = 0.5f * (b[2] + b[3]);
        spaceSplit = 0.5f * (s[2] + s[3]);
        narrowBar = Mean(b.data(), 3);
        narrowSpace = Mean(s.data(), 3);
    } else if (b[4] < kMinSplit * b[0] && s[1] >= kMinSplit * s[0]) {  // three wide spaces
        barSplit = 2 * b[4];
        spaceSplit = 0.5f * (s[0] + s[1]);
        narrowBar = Mean(b.data(), 5);
        narrowSpace = s[0];
    } else {
        return -1;
    }
    if (!(narrowSpace > 0) || !Consistent(narrowBar, narrowSpace, kMaxBarSpaceRatio)) return -1;
    const float gain = 0.5f * (narrowBar - narrowSpace);
    if (std::abs(gain) < kMinGain * (narrowBar + narrowSpace)) return -1;
    std::array<float, 9> corrected;
    unsigned mask = 0;
    for (int i = 0; i < 9; ++i) {
        const bool bar = i % 2 == 0;
        corrected[i] = widths[i] + (bar ? -gain : gain);
        mask = mask << 1 | (widths[i] > (bar ? barSplit : spaceSplit));
    }
    const int c = kLookup[mask];
    return c >= 0 && ClassifyTogether(corrected.data()) == c ? c : -1;
}

// One reading direction; edges in reading order, bars starting at falling edges.
int DecodeDirection(const std::vector<Edge>& e, float length, bool openBegin, bool openEnd,
                    bool apart, bool locate, std::vector<LineRead>& out, Workspace& ws) {
    const int m = static_cast<int>(e.size());
    if (m < kLeastEdges) return 0;
    std::vector<float>& w = ws.widths;
    std::vector<float>& cw = ws.characterWidths;
    w.resize(m - 1);
    for (int k = 0; k + 1 < m; ++k) w[k] = e[k + 1].pos - e[k].pos;
    cw.assign(m, 0);
    for (int k = 0; k + 9 < m; ++k) cw[k] = e[k + 9].pos - e[k].pos;
    // Characters are classified when a start or stop with its quiet zone, or a run of
    // characters from one, needs them: most of a busy line never does.
    std::vector<std::int8_t>& cls = ws.classes;
    cls.assign(m, -2);
    auto classify = [&](int k) {
        if (cls[k] == -2)
            cls[k] = static_cast<std::int8_t>(
                e[k].falling && k + 9 < m ? ClassifyCharacter(&w[k], apart) : -1);
        return static_cast<int>(cls[k]);
    };
    const int star = static_cast<int>(kCharacters.size()) - 1;
    // A quiet zone holds no edge nearly as sharp as the character's own: noise on the
    // paper may cross it, and must not shorten it.
    auto weak = [&](int k) {
        float sum = 0;
        for (int j = k; j < k + 10; ++j) sum += e[j].strength;
        return kWeakEdge * sum / 10;
    };
    auto quietBefore = [&](int k) {
        const float limit = weak(k);
        int j = k - 1;
        while (j >= 0 && e[j].strength < limit) --j;
        if (j < 0 && openBegin) return true;
        return e[k].pos - (j >= 0 ? e[j].pos : 0) >= kQuietZone * cw[k];
    };
    auto quietAfter = [&](int k) {
        const float limit = weak(k);
        int j = k + 10;
        while (j < m && e[j].strength < limit) ++j;
        if (j == m && openEnd) return true;
        return (j < m ? e[j].pos : length) - e[k + 9].pos >= kQuietZone * cw[k];
    };
    auto gapOk = [&](float gap, float width) { return gap <= kMaxGap * width; };

    struct Stop {
        int k;
        int first;           // the first character of the readable run that ends at the stop
        std::string suffix;  // that run, in reading order
    };
    std::vector<Stop> stops;
    int ends = 0;
    for (int k = 0; k + 9 < m; ++k) {
        if (!e[k].falling) continue;
        const bool before = quietBefore(k), after = quietAfter(k);
        if (!(before || after) || classify(k) != star) continue;
        ends += before;
        if (!after) continue;
        ++ends;
        Stop s{k, k, {}};
        while (s.first >= 10 && gapOk(w[s.first - 1], cw[s.first])) {
            const int prev = s.first - 10;
            if (classify(prev) < 0 || cls[prev] == star) break;
            if (!Consistent(cw[prev], cw[s.first], kMaxWidthStep)) break;
            s.suffix.insert(s.suffix.begin(), kCharacters[cls[prev]]);
            s.first = prev;
        }
        stops.push_back(std::move(s));
    }
    if (stops.empty() && !locate) return ends;

    for (int k0 = 0; k0 + 9 < m; ++k0) {
        if (!e[k0].falling) continue;
        const bool quiet = quietBefore(k0);
        if (!(quiet || locate) || classify(k0) != star) continue;
        std::string prefix;
        int last = k0;
        bool whole = false;
        WidthTrend trend;
        // Where the run stops when steep steps are not taken: a run that reaches no stop is
        // paired from there, as steep steps count only in a whole read.
        std::size_t level = std::string::npos;
        int levelLast = k0;
        while (last + 19 < m && gapOk(w[last + 9], cw[last])) {
            const int next = last + 10;
            if (classify(next) < 0 || !trend.Take(cw[last], cw[next])) break;
            if (level == std::string::npos && !Consistent(cw[last], cw[next], kMaxWidthStep))
                level = prefix.size(), levelLast = last;
            if (cls[next] == star) {
                whole = quiet && quietAfter(next);
                if (whole) last = next;
                // Every character read between a start and a stop, but one quiet zone short:
                // where the symbol lies, for grading, never its text. Both short is a run of
                // characters among other bars (another symbology's), not a symbol.
                if (locate && !whole && (quiet || quietAfter(next)) && !prefix.empty() &&
                    level == std::string::npos)
                    out.push_back({std::string(prefix.size(), '\0'), e[k0].pos, e[next + 9].pos,
                                   false, true, true});
                break;
            }
            prefix += kCharacters[cls[next]];
            last = next;
        }
        if (whole) {
            if (!prefix.empty()) out.push_back({prefix, e[k0].pos, e[last + 9].pos, false});
            continue;
        }
        if (!quiet) continue;  // located only
        if (level != std::string::npos) {
            prefix.resize(level);
            last = levelLast;
        }
        // A damaged stretch: pair the readable start with the nearest readable stop beyond it
        // and count the characters between from the pitch on either side.
        for (const Stop& s : stops) {
            if (s.first <= last + 9) continue;
            if (!Consistent(cw[s.k], cw[k0], kMaxPairedStep)) continue;
            const int a = static_cast<int>(prefix.size());
            const int b = static_cast<int>(s.suffix.size());
            const float gapF = std::min(w[k0 + 9], kMaxGap * cw[k0]);
            const float pitchF = a > 0 ? (e[last].pos - e[k0].pos) / a : cw[k0] + gapF;
            const float gapB = std::min(w[s.k - 1], kMaxGap * cw[s.k]);
            const float pitchB = b > 0 ? (e[s.k].pos - e[s.first].pos) / b : cw[s.k] + gapB;
            const float q = (e[s.first].pos - e[last].pos) / (0.5f * (pitchF + pitchB));
            const float r = std::round(q);
            const int missing = static_cast<int>(r) - 1;
            // Characters whose edges all came through (none as weak as noise's, a screen's or
            // a blot's) take ten edges each, their gaps included: there the pitch must count
            // as many. A symbol curved or warped along the line changes its pitch, and a count
            // from the pitch alone may then drop a character that is there.
            const int between = s.first - last;
            bool intact = between % 10 == 0;
            for (int j = last + 10; intact && j < s.first; ++j) intact = e[j].strength >= weak(k0);
            const bool edgesAgree = !intact || between / 10 - 1 == missing;
            // A few unreadable characters at most, and only where the count is unambiguous.
            if (missing >= 1 && missing <= kMostMissing && std::abs(q - r) < kCountSlack &&
                edgesAgree) {
                out.push_back({prefix + std::string(missing, '\0') + s.suffix, e[k0].pos,
                               e[s.k + 9].pos, false});
            }
            break;
        }
    }
    return ends;
}

// Ascending, by a network of 25 compare-exchanges: no branches to mispredict on the widths of
// every character candidate of every line.
void SortNine(std::array<float, 9>& s) {
    constexpr std::array<std::array<int, 2>, 25> kNetwork{{
        {0, 3}, {1, 7}, {2, 5}, {4, 8}, {0, 7}, {2, 4}, {3, 8}, {5, 6}, {0, 2},
        {1, 3}, {4, 5}, {7, 8}, {1, 4}, {3, 6}, {5, 7}, {0, 1}, {2, 4}, {3, 5},
        {6, 8}, {2, 3}, {4, 5}, {6, 7}, {1, 2}, {3, 4}, {5, 6},
    }};
    for (const auto& [i, j] : kNetwork) {
        const float lo = std::min(s[i], s[j]), hi = std::max(s[i], s[j]);
        s[i] = lo;
        s[j] = hi;
    }
}

// Narrow and wide judged among all nine elements.
int ClassifyTogether(const float* widths) {
    std::array<float, 9> s;
    std::copy(widths, widths + 9, s.begin());
    SortNine(s);
    if (!(s[0] > 0)) return -1;
    if (s[6] < kMinSplit * s[5]) return -1;
    if (s[5] > kMaxNarrowSpread * s[0] || s[8] > kMaxWideSpread * s[6]) return -1;
    const float narrow = (s[0] + s[1] + s[2] + s[3] + s[4] + s[5]) / 6;
    const float wide = (s[6] + s[7] + s[8]) / 3;
    if (wide < kMinRatio * narrow || wide > kMaxRatio * narrow) return -1;
    const float split = 0.5f * (s[5] + s[6]);
    unsigned mask = 0;
    for (int i = 0; i < 9; ++i) mask = mask << 1 | (widths[i] > split);
    return kLookup[mask];
}

}  // namespace

std::uint16_t WideMask(int index) {
    return kMasks[static_cast<std::size_t>(index)];
}

int ClassifyCharacter(const float* widths, bool apart) {
    const int together = ClassifyTogether(widths);
    return together >= 0 || !apart ? together : ClassifyApart(widths);
}

bool MayHoldSymbol(const std::vector<Edge>& edges, const LineContext& context, Workspace& ws) {
    const std::size_t n = edges.size();
    if (n < static_cast<std::size_t>(kLeastEdges)) return false;
    std::vector<float>& runs = ws.runs;
    std::vector<float>& sorted = ws.sortedRuns;
    runs.resize(n - 1);
    for (std::size_t i = 0; i + 1 < n; ++i) runs[i] = edges[i + 1].pos - edges[i].pos;
    sorted.assign(runs.begin(), runs.end());
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    // A quiet zone is at least ~3.4 modules (0.28 of a character); most runs are one module.
    const float quiet = 3.2f * sorted[sorted.size() / 2];
    // A run of ground: from a bar's end to the next bar's start (falling edges start dark
    // bars; for light bars the other way round).
    auto ground = [&](std::size_t i) { return edges[i].falling == context.lightBars; };
    for (std::size_t i = 0; i + 1 < n; ++i)
        if (ground(i) && runs[i] >= quiet) return true;
    // The picture's edge is quiet: a bar touching it needs no quiet zone there, and ground
    // from it to the first bar is quiet however narrow.
    return (context.openBegin && (ground(0) || runs[0] < quiet)) ||
           (context.openEnd && (!ground(n - 1) || runs[n - 2] < quiet));
}

int DecodeLine(const std::vector<Edge>& edges, float length, std::vector<LineRead>& out,
               Workspace& ws, const LineContext& context) {
    const std::size_t first = out.size();
    std::vector<Edge>& e = ws.lineEdges;
    e.assign(edges.begin(), edges.end());
    if (context.lightBars)
        for (Edge& x : e) x.falling = !x.falling;
    const bool apart = context.inkSpread;
    int ends = DecodeDirection(e, length, context.openBegin, context.openEnd, apart, context.locate,
                               out, ws);
    std::reverse(e.begin(), e.end());
    for (Edge& x : e) x = {length - x.pos, !x.falling, x.strength};
    const std::size_t forward = out.size();
    ends += DecodeDirection(e, length, context.openEnd, context.openBegin, apart, context.locate,
                            out, ws);
    for (std::size_t i = forward; i < out.size(); ++i) {
        out[i].begin = length - out[i].begin;
        out[i].end = length - out[i].end;
    }
    for (std::size_t i = first; i < out.size(); ++i) out[i].lightBars = context.lightBars;
    return ends;
}

int CheckValue(char c) {
    const auto i = kCharacters.find(c);
    return i == std::string_view::npos || c == kStartStop ? -1 : static_cast<int>(i);
}

bool HasCheckCharacter(std::string_view text) {
    if (text.size() < 2) return false;
    int sum = 0;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) sum += CheckValue(text[i]);
    return sum % 43 == CheckValue(text.back());
}

std::optional<std::string> FullAscii(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '$' && c != '%' && c != '/' && c != '+') {
            out += c;
            continue;
        }
        if (i + 1 == text.size()) return std::nullopt;
        const char n = text[++i];
        int v = -1;
        if (c == '$' && n >= 'A' && n <= 'Z')
            v = n - 'A' + 1;  // control characters
        else if (c == '+' && n >= 'A' && n <= 'Z')
            v = n - 'A' + 'a';  // lower case
        else if (c == '/' && n >= 'A' && n <= 'O')
            v = n - 'A' + '!';  // ! " # ... , - . /
        else if (c == '/' && n == 'Z')
            v = ':';
        else if (c == '%') {
            if (n >= 'A' && n <= 'E')
                v = n - 'A' + 27;  // ESC FS GS RS US
            else if (n >= 'F' && n <= 'J')
                v = n - 'F' + ';';
            else if (n >= 'K' && n <= 'O')
                v = n - 'K' + '[';
            else if (n >= 'P' && n <= 'T')
                v = n - 'P' + '{';
            else if (n == 'U')
                v = 0;
            else if (n == 'V')
                v = '@';
            else if (n == 'W')
                v = '`';
            else if (n >= 'X' && n <= 'Z')
                v = 127;
        }
        if (v < 0) return std::nullopt;
        out += static_cast<char>(v);
    }
    return out;
}

}  // namespace scan39::reader::detail
