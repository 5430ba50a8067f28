#include "search_p.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "scanline_p.h"

namespace scan39::reader::detail {
namespace {

// For regions that look like bars but read nothing: blur that swallows much of a narrow
// module's contrast. The profile sharpened against a blur of about a narrow module (finer
// samples for small modules, then a wider blur for larger ones), weaker edges allowed.
// Last, for noise that breaks the edges (dim light): each sample the mean of rows across the
// bars' height, which keeps the bars and averages the noise away.
constexpr std::array<LineMode, 3> kRecovery{
    {kSharpenedFine, {0.5f, 2.0f, 1.0f, 2.0f}, {0.5f, 3.0f, 0, 0, false, 12}}};

// Lines along the bars sampled for their texture, and the share of the region's length and
// width they keep within.
constexpr int kTextureLines = 12;
constexpr double kTextureSpan = 0.8;

// The median grey-level step between neighbouring pixels along a region's bars. Printed bars
// and spaces are flat along their length; a halftone screen's dots or dim light's noise are
// not, and break edges of lines across as they break these steps.
int TextureAlongBars(const GreyView& picture, const Region& r, Workspace& ws) {
    std::vector<float>& profile = ws.profile;
    std::vector<int>& steps = ws.steps;
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

// Whether a region lies on a symbol that these lines read whole: the rest of its bars or its
// printed text, not worth a recovery pass. Bars and text reach this share of the symbol's
// length either side of the lines. Bars themselves that far off are another symbol (a sheet
// of labels), unless a read line crosses them, give or take the blocks' rounding.
constexpr double kOnSymbol = 0.6;
constexpr double kOnSymbolSlack = 4;

bool OnReadSymbol(const Region& r, bool bars, const std::vector<Observation>& observations) {
    const auto reach = [&](double length) {
        return bars ? r.halfWidth + kOnSymbolSlack : kOnSymbol * length;
    };
    return std::any_of(observations.begin(), observations.end(), [&](const Observation& o) {
        return o.chars.find('\0') == std::string::npos && BesideLine(o, r.centre, reach);
    });
}

}  // namespace

// Whether a region lies on a symbol that the regions searched before it read.
bool OnReadSymbol(const Region& r, bool bars, const std::vector<RegionWork>& work,
                  std::size_t index) {
    for (std::size_t j = 0; j < index; ++j)
        if (OnReadSymbol(r, bars, work[j].observations)) return true;
    return false;
}

void DeblurPass(Search& search, RegionWork& w, long long limit, bool fewEdges, bool noisy,
                bool straight) {
    // Other symbologies look busy too: tilted lines only where some line read a start or
    // stop, which keeps the pass cheap where no Code 39 is.
    std::vector<double> tilts{0};
    if (!straight) tilts.insert(tilts.end(), search.plan.tilts.begin(), search.plan.tilts.end());
    const ScanOptions options{
        .tiltWhenBusy = w.evidence.ends > 0, .first = false, .recovery = true};
    for (std::size_t m = fewEdges ? 1 : 0; m < kRecovery.size(); ++m) {
        // Averaged rows where the picture is noisy, or the bars themselves are textured
        // (a halftone screen, noise on the label alone).
        if (kRecovery[m].band > 0 && !noisy &&
            TextureAlongBars(search.picture, w.region, search.workspace) < kNoisy)
            break;
        if (!ScanAgain(search, w, limit, kRecovery[m], tilts, options)) break;
    }
}

}  // namespace scan39::reader::detail
