// Profile stages alone, each in a workspace of its own: a workspace reused line after line
// (as a read reuses it) must give what a fresh one gives, whatever ran in it before.

#include <gtest/gtest.h>

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

}  // namespace
