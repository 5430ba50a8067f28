#pragma once
// Where the barcodes may be: regions of strong, parallel edges, found on a coarse grid of
// blocks from the structure tensor of the picture's gradient.

#include <cstddef>
#include <vector>

#include "scan39/reader.h"

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

}  // namespace scan39::reader::detail
