#include "search_p.h"

#include <algorithm>
#include <cmath>

namespace scan39::reader::detail {
namespace {

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

}  // namespace

void FirstPass(Search& search, const std::vector<Region>& regions) {
    for (const Region& r : regions) {
        if (Covered(r, search.done)) continue;
        search.done.push_back(r);
        search.work.push_back({r, {}, {}});
        if (!ScanRegion(search.reader, search.plan.budget, search.plan, search.work.back(), {0},
                        {.tiltWhenBusy = true, .first = true})) {
            search.truncated = true;
            break;
        }
    }
}

}  // namespace scan39::reader::detail
