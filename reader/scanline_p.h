#pragma once
// Scan lines: grey profiles sampled along a straight line through the picture, and the
// light/dark edges in them with sub-sample positions.

#include <vector>

#include "code39_p.h"
#include "scan39/geometry.h"
#include "scan39/image_view.h"
#include "workspace_p.h"

namespace scan39::reader::detail {

// Samples at origin + i * step * dir, i = 0 .. count-1, all inside the picture.
struct ScanLine {
    Point origin;
    Point dir;  // unit length
    float step = 0.5f;
    int count = 0;
    Point At(float i) const { return {origin.x + i * step * dir.x, origin.y + i * step * dir.y}; }
};

// The part of the infinite line through `through` along `dir` that lies in the picture;
// count 0 when it misses.
ScanLine ClipLine(int width, int height, Point through, Point dir, float step);

// The line from `from` to `to` in samples `step` apart; count 0 when they are under a pixel
// apart.
ScanLine LineBetween(Point from, Point to, float step);

// Bilinear grey levels along the line.
void SampleProfile(const GreyView& picture, const ScanLine& line, std::vector<float>& out);

// The mean of 2 * halfRows + 1 profiles along lines parallel to `line`, a pixel apart: lines
// square to the bars see the same elements in each, while noise averages out.
void SampleBand(const GreyView& picture, const ScanLine& line, int halfRows,
                std::vector<float>& out, Workspace& ws);

// Unsharp masking: the profile plus `amount` times its difference from itself blurred by a
// Gaussian of `sigma` samples. Restores some of the contrast blur takes from narrow elements.
void Sharpen(std::vector<float>& profile, float sigma, float amount, Workspace& ws);

// Each sample set against the middle of the darkest and lightest levels on whichever side of it
// shows less contrast, among sides that cross bars: a highlight's sharp side inside a bar then
// stays a level step of the bar, not an edge. A side spans some narrow elements (`narrow`
// samples each) and needs `floor` levels, and `share` of the line's whole span. Levels become
// -127 .. 127 about that middle, 0 where no side crosses bars.
void LevelLocally(std::vector<float>& profile, float narrow, float floor, float share,
                  Workspace& ws);

// Alternating light-to-dark and dark-to-light edges of a profile; positions in samples. An
// edge needs a slope of at least `minSlope` grey levels per sample pair and a fair share of
// the strongest slope nearby, so that noise on a flat stretch makes none.
// `sharpSmall` lets weaker edges count, for sharp pictures of modules little over a pixel.
void FindEdges(const std::vector<float>& profile, float minSlope, std::vector<Edge>& edges,
               Workspace& ws, bool sharpSmall = false);

// Each edge moved to where the profile crosses the middle of the ink and paper levels around
// it. On the smallest modules a sharp picture's pixels each hold part of an element: the
// crossing places an edge by that share where the slope's peak falls on the pixel's middle.
void PlaceEdgesAtMidLevel(const std::vector<float>& profile, std::vector<Edge>& edges,
                          Workspace& ws);

// Each dark element's edges placed by its ink: the darkness summed between the middles of the
// light elements either side gives its width, its centroid its centre. Blur keeps both, and a
// bar printed thinner than a pixel counts whole though it never reaches the middle level.
// Light elements take what lies between. Ink and paper are the extremes over a character's
// edges around each element.
void PlaceEdgesByInk(const std::vector<float>& profile, std::vector<Edge>& edges, Workspace& ws);

}  // namespace scan39::reader::detail
