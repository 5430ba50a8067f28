#pragma once
// The scratch buffers of one read (or one grading): a picture samples and decodes tens of
// thousands of lines, each reusing these, and they are freed with the read. The stages take
// the workspace they run in, so that each can run alone, in a test too.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "code39_p.h"

namespace scan39::reader::detail {

// A slope's peak along a profile, before the edges are chosen among them.
struct SlopePeak {
    float pos;
    float slope;
};

struct Workspace {
    // Profiles (scanline.cpp).
    std::vector<float> bandRow;  // one parallel row of a band
    std::vector<float> kernel;   // the blur that sharpening subtracts, kept while its sigma holds
    float kernelSigma = -1, kernelSum = 0;
    std::vector<float> padded, blurred;
    std::deque<int> rising, falling;  // sliding extremes
    std::vector<float> levelled;
    std::array<std::vector<float>, 2> lows, highs;
    std::vector<float> slopes;
    std::vector<SlopePeak> peaks, keptPeaks;
    std::vector<std::size_t> strongest;
    std::vector<float> placed, elementWidths;
    // Characters and lines (code39.cpp).
    std::vector<float> widths, characterWidths;
    std::vector<std::int8_t> classes;
    std::vector<float> runs, sortedRuns;
    std::vector<Edge> lineEdges;
    // What the passes judge regions by.
    std::vector<float> profile, sorted, part;
    std::vector<int> steps;
};

}  // namespace scan39::reader::detail
