#include "search_p.h"

#include <algorithm>

#include "scanline_p.h"

namespace scan39::reader::detail {
namespace {

// A highlight with sharp sides across the bars: each sample judged against the levels on its
// calmer side (see LevelLocally), the narrow element taken as the median run between edges.
constexpr LineMode kLocalLevels{0.5f, 8.0f, 0, 0, false, 0, true};

}  // namespace

// Whether a lamp's highlight with sharp sides may lie across a region's bars: along the symbol
// some line paired a start and stop on (else the region's centre line), a stretch whose darkest
// level is above the middle of the line's ink and paper, yet still holds bars, with kLocalShare
// of the line's span. Paper between words holds no such contrast.
bool HighlightAcross(const GreyView& picture, const RegionWork& w, Workspace& ws) {
    std::vector<float>& profile = ws.profile;
    std::vector<float>& sorted = ws.sorted;
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

// Start or stop characters on bar-like lines, read apart by a highlight with sharp sides: no
// blur to undo there, and nothing sharpened, so even a character that looks damaged is left
// as it is.
void LevelledPass(Search& search, RegionWork& w, long long limit) {
    if (!HighlightAcross(search.picture, w, search.workspace)) return;
    ScanAgain(search, w, limit, kLocalLevels, {0}, {.tiltWhenBusy = false});
}

}  // namespace scan39::reader::detail
