#include "search_p.h"

namespace scan39::reader::detail {
namespace {

// Finer samples, for ink spread on the smallest modules (then, blurred too, kSharpenedFine).
constexpr LineMode kFine{0.25f, 2.0f, 0, 0};
// Sharp pictures of modules little over a pixel: edges where the profile crosses the middle
// level, which the share of each pixel's ink decides.
constexpr LineMode kSharpSmall{0.25f, 2.0f, 0, 0, true};
// Bars printed thinner than a pixel (or spaces filled in as narrow) by their ink, which blur
// keeps where the middle level loses them.
constexpr LineMode kInkArea{0.25f, 2.0f, 0, 0, false, 0, false, true};

}  // namespace

// Start or stop characters but still no text: ink that spread or thinned may have blurred the
// split of some characters' nine widths. Judged among bars and among spaces apart, they read;
// blur can fake such a gain too, so only where nothing else read. First the smallest modules,
// sharp: there every line misses the same narrow element, which looks like damage, but that
// pass sharpens nothing that could invent one; nor does placing by ink. Bars thinned below a
// pixel may leave no start or stop character to see at all: on bars, that placement alone.
void InkSpreadPass(Search& search, RegionWork& w, long long limit, bool endsSeen) {
    const bool damaged = Damaged(search.picture, w.observations, 0, search.workspace);
    search.reader.SetInkSpread(true);
    for (const LineMode& mode : {kSharpSmall, kInkArea, kFine, kSharpenedFine}) {
        if (!endsSeen && !mode.inkArea) continue;
        if (damaged && !mode.midLevel && !mode.inkArea) break;
        // The direction is not what failed here: straight lines only.
        // Whole reads all from one place do not end it: the vote takes them for one line.
        ScanAgain(search, w, limit, mode, {0}, {.tiltWhenBusy = false});
        if (search.reader.Spent() >= limit || WholeReadsApart(w.observations)) break;
    }
    search.reader.SetInkSpread(false);
}

}  // namespace scan39::reader::detail
