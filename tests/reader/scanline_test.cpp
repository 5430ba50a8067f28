// Profile stages alone, each in a workspace of its own: a workspace reused line after line
// (as a read reuses it) must give what a fresh one gives, whatever ran in it before.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "scanline_p.h"
#include "workspace_p.h"

namespace {

using namespace scan39::reader::detail;

// Bars 4 and 10 samples wide on paper, blurred by a ramp of two samples at each edge.
std::vector<float> Profile(int offset) {
    std::vector<float> p;
    const int widths[] = {30, 4, 4, 10, 4, 4, 10, 10, 4, 4, 30};
    float level = 220;
    for (int w : widths) {
        for (int i = 0; i < w + offset % 3; ++i) p.push_back(level);
        level = level > 100 ? 30 : 220;
    }
    std::vector<float> blurred(p);
    for (std::size_t i = 1; i + 1 < p.size(); ++i)
        blurred[i] = 0.25f * p[i - 1] + 0.5f * p[i] + 0.25f * p[i + 1];
    return blurred;
}

struct StageRun {
    std::vector<float> profile;
    std::vector<Edge> edges;
};

// Sharpened, levelled and its edges found and placed, as the line reader's modes do.
StageRun RunStages(int offset, float sigma, Workspace& ws) {
    StageRun r{Profile(offset), {}};
    Sharpen(r.profile, sigma, 1.5f, ws);
    std::vector<float> levelled = r.profile;
    LevelLocally(levelled, 4, 6, 0.12f, ws);
    r.profile.insert(r.profile.end(), levelled.begin(), levelled.end());
    FindEdges(r.profile, 2.0f, r.edges, ws, offset % 2 == 1);
    PlaceEdgesAtMidLevel(r.profile, r.edges, ws);
    PlaceEdgesByInk(r.profile, r.edges, ws);
    return r;
}

TEST(Workspace, ReusedGivesWhatAFreshOneGives) {
    struct Step {
        int offset;
        float sigma;
    };
    // Blurs that change from line to line, and back: the sharpening kernel kept in the
    // workspace must follow, also between blurs of one kernel size (2 and 2.2).
    const Step steps[] = {{0, 2.0f}, {1, 2.2f}, {2, 2.0f}, {3, 1.0f}, {4, 2.2f}, {5, 1.0f}};
    Workspace reused;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.offset);
        Workspace fresh;
        const StageRun a = RunStages(s.offset, s.sigma, reused);
        const StageRun b = RunStages(s.offset, s.sigma, fresh);
        EXPECT_EQ(a.profile, b.profile);
        ASSERT_EQ(a.edges.size(), b.edges.size());
        ASSERT_GE(a.edges.size(), 10u);
        for (std::size_t k = 0; k < a.edges.size(); ++k) {
            EXPECT_EQ(a.edges[k].pos, b.edges[k].pos);
            EXPECT_EQ(a.edges[k].falling, b.edges[k].falling);
        }
    }
}

// Elements of `module` pixels, 2:1, every bar thinned by `thin` modules (spread when negative),
// each pixel the share of ink it holds, then sampled four times a pixel by linear
// interpolation as the line reader does. The true widths in pixels.
struct Printed {
    std::vector<float> profile;
    std::vector<float> widths;
};
Printed Print(float module, float thin) {
    const int units[] = {1, 2, 1, 1, 2, 1, 2, 1, 1, 1, 2, 1, 1, 2, 1, 1, 2, 1, 2};
    std::vector<float> edges{12};
    Printed out;
    for (std::size_t k = 0; k < std::size(units); ++k) {
        const float w = units[k] * module + (k % 2 == 0 ? -thin : thin) * module;
        out.widths.push_back(w);
        edges.push_back(edges.back() + w);
    }
    const int pixels = static_cast<int>(edges.back()) + 14;
    std::vector<float> grey(static_cast<std::size_t>(pixels), 220);
    for (std::size_t k = 0; k + 1 < edges.size(); k += 2)
        for (int x = static_cast<int>(edges[k]); x <= static_cast<int>(edges[k + 1]); ++x)
            grey[x] -=
                190 * std::clamp(std::min(x + 1.0f, edges[k + 1]) - std::max(x + 0.0f, edges[k]),
                                 0.0f, 1.0f);
    for (int i = 0; i <= 4 * (pixels - 1); ++i) {
        const int x = i / 4;
        const float f = 0.25f * static_cast<float>(i % 4);
        out.profile.push_back(grey[x] + f * (x + 1 < pixels ? grey[x + 1] - grey[x] : 0));
    }
    return out;
}

TEST(PlaceEdgesByInk, WidthsOfThinnedOrSpreadPrintOnSmallModules) {
    struct Row {
        float module, thin;
    };
    // A narrow bar of 1.3 px thinned by 0.35 module holds 0.85 px of ink: no sample of it
    // reaches the middle level, yet its width must come out within a fifth of a pixel.
    // Sharp only: blur moves ink across the middles of narrow spaces, which the reader's
    // judging of bars and spaces apart absorbs (the reader's own table covers it).
    const Row rows[] = {{1.3f, 0.35f}, {1.3f, 0.15f}, {1.5f, 0.25f}, {1.6f, 0.35f},
                        {2.0f, 0.35f}, {3.0f, 0.25f}, {1.4f, -0.3f}, {2.0f, -0.2f}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.module << " px, thinned " << r.thin);
        const Printed p = Print(r.module, r.thin);
        Workspace ws;
        std::vector<Edge> edges;
        FindEdges(p.profile, 2.0f, edges, ws, true);
        ASSERT_EQ(edges.size(), p.widths.size() + 1);
        PlaceEdgesByInk(p.profile, edges, ws);
        for (std::size_t k = 0; k < p.widths.size(); ++k)
            EXPECT_NEAR(0.25f * (edges[k + 1].pos - edges[k].pos), p.widths[k], 0.2f)
                << "element " << k;
    }
}

}  // namespace
