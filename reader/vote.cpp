#include "vote_p.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace scan39::reader::detail {
namespace {

// Lines of one symbol run nearly parallel and begin and end close together.
constexpr double kMinDirectionDot = 0.97;  // ~14 degrees
constexpr double kMaxEndDistance = 0.25;   // of the symbol's length, along it
// Across it, lines at different heights of the bars: short symbols have bars tall for their
// length.
constexpr double kMaxLineOffset = 0.6;
// Every character needs this many agreeing lines, and the runner-up at most a third of them.
constexpr int kMinVotes = 2;
constexpr int kMinLines = 2;
constexpr int kRunnerUpShare = 3;
// One symbol reached through two regions: centres within this share of its length.
constexpr double kSamePlace = 0.5;
// A symbol inside another's span along it, with this share of that length either side to
// spare (the ends' estimates vary).
constexpr double kSpanSlack = 0.1;

double Distance(Point a, Point b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

bool SameSymbol(const Observation& a, const Observation& b) {
    if (a.chars.size() != b.chars.size()) return false;
    const double la = Distance(a.begin, a.end), lb = Distance(b.begin, b.end);
    if (la <= 0 || lb <= 0) return false;
    const double dot = ((a.end.x - a.begin.x) * (b.end.x - b.begin.x) +
                        (a.end.y - a.begin.y) * (b.end.y - b.begin.y)) /
                       (la * lb);
    if (dot < kMinDirectionDot) return false;
    const double len = std::max(la, lb);
    const double ux = (a.end.x - a.begin.x) / la, uy = (a.end.y - a.begin.y) / la;
    auto near = [&](Point p, Point q) {
        const double x = q.x - p.x, y = q.y - p.y;
        return std::abs(x * ux + y * uy) < kMaxEndDistance * len &&
               std::abs(y * ux - x * uy) < kMaxLineOffset * len;
    };
    return near(a.begin, b.begin) && near(a.end, b.end);
}

// Whether `mid` lies inside the symbol with corners `f`: between its ends along it, with a
// tenth of its length to spare, and between its top and bottom lines there.
bool Inside(const std::array<Point, 4>& f, Point mid) {
    // Where along f the point lies, then between f's top and bottom lines there.
    const Point s{0.5 * (f[0].x + f[3].x), 0.5 * (f[0].y + f[3].y)};
    const Point e{0.5 * (f[1].x + f[2].x), 0.5 * (f[1].y + f[2].y)};
    const double lx = e.x - s.x, ly = e.y - s.y, l2 = lx * lx + ly * ly;
    if (l2 <= 0) return false;
    const double t = ((mid.x - s.x) * lx + (mid.y - s.y) * ly) / l2;
    if (t < -kSpanSlack || t > 1 + kSpanSlack) return false;
    const Point top{f[0].x + t * (f[1].x - f[0].x), f[0].y + t * (f[1].y - f[0].y)};
    const Point bottom{f[3].x + t * (f[2].x - f[3].x), f[3].y + t * (f[2].y - f[3].y)};
    const double hx = bottom.x - top.x, hy = bottom.y - top.y, h = std::hypot(hx, hy);
    const double across = h > 0 ? ((mid.x - top.x) * hx + (mid.y - top.y) * hy) / h : 0;
    const double margin = 3;  // pixels: a symbol read on one line only
    return across > -margin && across < h + margin;
}

// The symbol's place from its lines: the reading direction, and the outermost lines as the top
// and bottom sides.
void Place(const std::vector<const Observation*>& agree, Consensus& out) {
    double dx = 0, dy = 0;
    for (const Observation* o : agree) dx += o->end.x - o->begin.x, dy += o->end.y - o->begin.y;
    const double len = std::hypot(dx, dy);
    dx /= len, dy /= len;
    auto up = [&](const Observation* o) {  // towards the top: left of the reading direction
        return 0.5 * ((o->begin.x + o->end.x) * dy - (o->begin.y + o->end.y) * dx);
    };
    const auto [lo, hi] = std::minmax_element(
        agree.begin(), agree.end(),
        [&](const Observation* a, const Observation* b) { return up(a) < up(b); });
    out.corners = {(*hi)->begin, (*hi)->end, (*lo)->end, (*lo)->begin};
    double angle = std::round(std::atan2(dy, dx) * 1800 / std::numbers::pi) / 10;
    if (angle < 0) angle += 360;
    if (angle >= 360) angle -= 360;
    out.angle = angle;
    out.lines = static_cast<int>(agree.size());
    for (const Observation* o : agree) {
        out.begins.push_back(o->begin);
        out.ends.push_back(o->end);
    }
}

bool Decide(const std::vector<const Observation*>& group, Consensus& out) {
    const std::size_t n = group.front()->chars.size();
    std::string text(n, '\0');
    for (std::size_t k = 0; k < n; ++k) {
        std::array<int, 128> votes{};
        for (const Observation* o : group) {
            const auto c = static_cast<unsigned char>(o->chars[k]);
            if (c != 0 && c < 128) ++votes[c];
        }
        int best = 0, second = 0;
        for (int c = 1; c < 128; ++c) {
            if (votes[c] > votes[best]) {
                second = votes[best] > second ? votes[best] : second;
                best = c;
            } else if (votes[c] > second) {
                second = votes[c];
            }
        }
        if (best == 0 || votes[best] < kMinVotes || kRunnerUpShare * second > votes[best])
            return false;
        text[k] = static_cast<char>(best);
    }
    std::vector<const Observation*> agree;
    for (const Observation* o : group) {
        bool ok = true;
        for (std::size_t k = 0; k < n && ok; ++k) ok = o->chars[k] == 0 || o->chars[k] == text[k];
        if (ok) agree.push_back(o);
    }
    if (static_cast<int>(agree.size()) < kMinLines) return false;

    out.text = std::move(text);
    Place(agree, out);
    return true;
}

}  // namespace

std::vector<Consensus> Vote(const std::vector<Observation>& observations) {
    // Symbols stacked closer than their length apart meet the geometric test too: a line joins
    // a group only where it agrees with the group's first whole read.
    std::vector<std::vector<const Observation*>> groups;
    std::vector<const std::string*> whole;
    const auto fits = [](const std::string& chars, const std::string* text) {
        if (text == nullptr) return true;
        for (std::size_t k = 0; k < chars.size(); ++k)
            if (chars[k] != 0 && chars[k] != (*text)[k]) return false;
        return true;
    };
    for (const Observation& o : observations) {
        if (o.located) continue;  // located only
        std::size_t i = 0;
        while (i < groups.size() && !(SameSymbol(*groups[i].front(), o) && fits(o.chars, whole[i])))
            ++i;
        if (i == groups.size()) {
            groups.push_back({});
            whole.push_back(nullptr);
        }
        groups[i].push_back(&o);
        if (whole[i] == nullptr && o.chars.find('\0') == std::string::npos) whole[i] = &o.chars;
    }
    std::vector<Consensus> found;
    for (const auto& g : groups) {
        Consensus c;
        if (!Decide(g, c)) continue;
        // The same symbol reached through two regions: keep the better supported read.
        const Point mid{0.5 * (c.corners[0].x + c.corners[2].x),
                        0.5 * (c.corners[0].y + c.corners[2].y)};
        const double len = Distance(c.corners[0], c.corners[1]);
        auto same = std::find_if(found.begin(), found.end(), [&](const Consensus& f) {
            const Point fm{0.5 * (f.corners[0].x + f.corners[2].x),
                           0.5 * (f.corners[0].y + f.corners[2].y)};
            return f.text == c.text && Distance(mid, fm) < kSamePlace * len;
        });
        if (same == found.end())
            found.push_back(std::move(c));
        else if (c.lines > same->lines)
            *same = std::move(c);
    }
    // Two texts on one place: lines that misread a symbol alike. Symbols stacked apart each lie
    // outside the other's lines, though a slanted line may widen one's reach.
    const auto inside = [](const Consensus& f, const Consensus& c) {
        return Inside(f.corners, {0.5 * (c.corners[0].x + c.corners[2].x),
                                  0.5 * (c.corners[0].y + c.corners[2].y)});
    };
    // Inside a far better supported read: dropped, as a runner-up within one group would be.
    // Each inside the other: one place read two ways, neither is sure.
    std::vector<char> drop(found.size(), 0);
    for (std::size_t i = 0; i < found.size(); ++i)
        for (std::size_t j = 0; j < found.size(); ++j) {
            if (i == j || found[i].text == found[j].text || !inside(found[j], found[i])) continue;
            if (3 * found[i].lines <= found[j].lines || inside(found[i], found[j])) drop[i] = 1;
        }
    std::vector<Consensus> kept;
    for (std::size_t i = 0; i < found.size(); ++i)
        if (!drop[i]) kept.push_back(std::move(found[i]));
    return kept;
}

namespace {

// Lines that agree are independent only where they cross the symbol in different places: passes
// that scan one place again (tilts about the same point, recovery) repeat its misreads. Where
// the bars are sheared against the label, lines square to the bars enter through the bars' top
// ends and leave through their bottom ends, and the run of elements between may spell a short
// symbol with the label's margins as quiet zones; lines beside it see another run.
constexpr double kApartPixels = 2;

}  // namespace

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

namespace {

// Lines that saw one symbol without reading it, before it counts as located: a symbol whose
// every line fails on a character still has all its lines, where a start and a stop paired by
// chance (part of a symbol torn off, print, bars) show on a few lines alike only.
constexpr int kMinUnreadLines = 8;

}  // namespace

std::vector<Unvoted> LocateUnvoted(const std::vector<Observation>& observations,
                                   const std::vector<Consensus>& voted) {
    const auto centre = [](Point a, Point b) {
        return Point{0.5 * (a.x + b.x), 0.5 * (a.y + b.y)};
    };
    // Lines that read no text, off every symbol voted: a read symbol's damaged lines are its own.
    std::vector<std::vector<const Observation*>> groups;
    for (const Observation& o : observations) {
        if (o.chars.empty() || o.chars.find('\0') == std::string::npos) continue;
        const Point mid = centre(o.begin, o.end);
        if (std::any_of(voted.begin(), voted.end(),
                        [&](const Consensus& c) { return Inside(c.corners, mid); }))
            continue;
        std::size_t i = 0;
        while (i < groups.size() && !SameSymbol(*groups[i].front(), o)) ++i;
        if (i == groups.size()) groups.push_back({});
        groups[i].push_back(&o);
    }
    std::vector<Unvoted> found;
    for (const auto& g : groups) {
        if (static_cast<int>(g.size()) < kMinUnreadLines) continue;
        Unvoted u;
        Place(g, u.place);
        if (!AgreeInPlacesApart(u.place)) continue;
        u.characters = static_cast<int>(g.front()->chars.size());
        const auto shortZone = std::count_if(
            g.begin(), g.end(), [](const Observation* o) { return o->quietZoneShort; });
        u.quietZoneShort = 2 * shortZone > static_cast<long>(g.size());
        found.push_back(std::move(u));
    }
    // One symbol reached twice (another count of characters, the other direction, another
    // octave): the better supported stands.
    std::stable_sort(found.begin(), found.end(), [](const Unvoted& a, const Unvoted& b) {
        return a.place.lines > b.place.lines;
    });
    std::vector<Unvoted> kept;
    for (Unvoted& u : found) {
        const Point mid = centre(u.place.corners[0], u.place.corners[2]);
        if (std::none_of(kept.begin(), kept.end(),
                         [&](const Unvoted& k) { return Inside(k.place.corners, mid); }))
            kept.push_back(std::move(u));
    }
    return kept;
}

}  // namespace scan39::reader::detail
