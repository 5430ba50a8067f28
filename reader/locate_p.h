#pragma once
// Where the barcodes may be: regions of strong, parallel edges, found on a coarse grid of
// blocks from the structure tensor of the picture's gradient.

#include <cstddef>
#include <vector>

#include "scan39/geometry.h"
#include "scan39/image_view.h"

namespace scan39::reader::detail {

struct Region {
    Point centre;
    Point dir;              // across the bars (unit length); the reading direction up to its sign
    double halfLength = 0;  // extent along dir
    double halfWidth = 0;   // extent along the bars
    double weight = 0;      // its blocks' gradient energy times coherence, summed: how bar-like
                            // and how large, which orders the search
};

// Candidate regions, the most promising first, at most `limit`.
std::vector<Region> Locate(const GreyView& picture, std::size_t limit);

// The median grey-level step between horizontal neighbours, on a sparse grid of rows: most of
// a picture is flat, so this is about its noise level (a Gaussian's sigma times 0.95).
int NoiseLevel(const GreyView& picture);

// The same on the picture averaged over 2x2 pixels, in the picture's coordinates: heavy
// noise (dim light) hides the bars' common direction at full resolution, and halves there.
std::vector<Region> LocateHalved(const GreyView& picture, std::size_t limit);

}  // namespace scan39::reader::detail
