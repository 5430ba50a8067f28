#include "locate_p.h"

#include "big_array_p.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace scan39::reader::detail {
namespace {

constexpr int kBlock = 8;
// Mean squared gradient (grey levels per pixel, central differences over two pixels) a block
// needs: low-contrast, blurred bars still give several times this, flat paper and mild
// noise give less.
constexpr double kMinEnergy = 60;
// Share of the gradient energy along one direction: bars give nearly 1, text, texture and
// noise much less.
constexpr double kMinCoherence = 0.6;
constexpr double kMaxAngleStep = 15 * std::numbers::pi / 180;
// Regions in line (within ~8 degrees) and at most this many pixels apart are one.
constexpr double kMinMergeDot = 0.99;
constexpr double kMergeGap = 48;
// Blocks a fine-grid group bridges (blank blocks inside wide bars and spaces) and needs at
// least; the coarse grid's blocks are twice as large, so half the bridge and a little less.
constexpr int kFineReach = 2;
constexpr int kFineMinBlocks = 4;
constexpr int kCoarseReach = 1;
constexpr int kCoarseMinBlocks = 3;
// A sheet that waved or bent makes each bar a wavy stripe whose blocks turn gradually, so the
// grouping above splits the symbol into slanted pieces whose lines soon leave the bars.
// Blocks chained by small steps (kMaxAngleStep from neighbour to neighbour) make one bent
// region at their mean direction, where lines cross every bar at a near-constant slant. It is
// kept where at least kBentShare of its weight lies beyond kMaxAngleStep from that mean (a
// straight group holds it otherwise), and at most kStrayShare beyond kBentAngle (text and
// texture chain every way).
constexpr double kBentAngle = 40 * std::numbers::pi / 180;
constexpr double kBentShare = 0.25;
constexpr double kStrayShare = 0.15;
// Pictures larger than this many pixels sample the gradient at every second pixel too.
constexpr long long kLargePicture = 2'000'000;

// Sums of squared and crossed gradients: exact in integers, and cheaper to add up.
struct Tensor {
    std::int32_t xx = 0, yy = 0, xy = 0;
    int n = 0;
    Tensor& operator+=(const Tensor& o) {
        xx += o.xx, yy += o.yy, xy += o.xy, n += o.n;
        return *this;
    }
};

// Single precision: a 12-megapixel picture has nearly 200,000 blocks, and their array is
// written once and read a few times; the angle's error is a millionth of a degree.
struct Block {
    float angle = 0;   // doubled angle of the dominant gradient
    float weight = 0;  // energy * coherence; 0 for a block without bars
    bool good() const { return weight > 0; }
};

void Classify(const Tensor* t, std::size_t n, Block* b) {
    for (std::size_t i = 0; i < n; ++i) {
        if (t[i].n == 0) continue;
        const double xx = t[i].xx, yy = t[i].yy, xy = t[i].xy;
        const double sum = xx + yy;
        const double energy = sum / t[i].n;
        if (energy < kMinEnergy) continue;
        const double diff = xx - yy;
        const double coherence = std::sqrt(diff * diff + 4 * xy * xy) / sum;
        if (coherence < kMinCoherence) continue;
        b[i] = {static_cast<float>(std::atan2(2 * xy, diff)),
                static_cast<float>(energy * coherence)};
    }
}

// Between two angles from atan2, both within [-pi, pi].
double AngleDistance(double a, double b) {
    const double d = std::abs(a - b);
    return std::min(d, 2 * std::numbers::pi - d);
}

// A long symbol's direction from its bars' gradients may be off by a degree or two (the text
// printed below it, a stroke here and there), and a line through its middle then leaves bars a
// few times as tall as their module before it reaches the ends. A region many times longer than
// wide knows its direction better by its shape: its blocks' long axis. Taken only where the
// two differ by enough to matter over the region's length (a line at the bars' direction would
// drift by a quarter of the region's width), and within the tolerance of the bars' direction.
constexpr double kLongRegion = 12;  // length to width, by the blocks' spread
constexpr double kMatteringDrift = 0.25;
double AlongTheAxis(const std::vector<int>& members, int bw, int size, Point centre, double angle) {
    double xx = 0, yy = 0, xy = 0;
    for (int i : members) {
        const double x = (i % bw + 0.5) * size - centre.x, y = (i / bw + 0.5) * size - centre.y;
        xx += x * x, yy += y * y, xy += x * y;
    }
    const double half = 0.5 * (xx + yy), d = std::hypot(0.5 * (xx - yy), xy);
    const double aspect = std::sqrt((half + d) / std::max(half - d, 1e-9));
    if (aspect < kLongRegion) return angle;
    const double turn = std::remainder(0.5 * std::atan2(2 * xy, xx - yy) - angle, std::numbers::pi);
    return std::abs(turn) * aspect >= kMatteringDrift && std::abs(turn) <= kMaxAngleStep
               ? angle + turn
               : angle;
}

// Groups neighbouring blocks of like orientation; `reach` bridges the blank blocks that
// fall inside wide bars and spaces. `bent`: blocks join by small steps from the block that
// reached them, and only the bent groups (above) are kept.
void Group(const BigArray<Block>& blocks, int bw, int bh, int size, int reach, int minBlocks,
           std::vector<Region>& out, bool bent = false) {
    BigArray<char> seen(blocks.size(), 0);
    std::vector<int> stack, members;
    for (int start = 0; start < bw * bh; ++start) {
        if (!blocks[start].good() || seen[start]) continue;
        const double seedAngle = blocks[start].angle;
        members.clear();
        stack.assign(1, start);
        seen[start] = 1;
        while (!stack.empty()) {
            const int i = stack.back();
            stack.pop_back();
            members.push_back(i);
            const double from = bent ? blocks[i].angle : seedAngle;
            const int bx = i % bw, by = i / bw;
            for (int dy = -reach; dy <= reach; ++dy) {
                for (int dx = -reach; dx <= reach; ++dx) {
                    const int x = bx + dx, y = by + dy;
                    if (x < 0 || y < 0 || x >= bw || y >= bh) continue;
                    const int j = y * bw + x;
                    if (seen[j] || !blocks[j].good()) continue;
                    if (AngleDistance(blocks[j].angle, from) > 2 * kMaxAngleStep) continue;
                    seen[j] = 1;
                    stack.push_back(j);
                }
            }
        }
        if (static_cast<int>(members.size()) < minBlocks) continue;
        double c = 0, s = 0, wsum = 0, cx = 0, cy = 0;
        for (int i : members) {
            const Block& b = blocks[i];
            c += b.weight * std::cos(b.angle);
            s += b.weight * std::sin(b.angle);
            wsum += b.weight;
            cx += (i % bw + 0.5) * size;
            cy += (i / bw + 0.5) * size;
        }
        if (bent) {
            const double mean = std::atan2(s, c);
            double off = 0, stray = 0;
            for (int i : members) {
                const double d = AngleDistance(blocks[i].angle, mean);
                off += d > 2 * kMaxAngleStep ? blocks[i].weight : 0;
                stray += d > 2 * kBentAngle ? blocks[i].weight : 0;
            }
            if (off < kBentShare * wsum || stray > kStrayShare * wsum) continue;
        }
        Region r;
        r.centre = {cx / members.size(), cy / members.size()};
        double angle = 0.5 * std::atan2(s, c);
        if (!bent) angle = AlongTheAxis(members, bw, size, r.centre, angle);
        r.dir = {std::cos(angle), std::sin(angle)};
        for (int i : members) {
            const double x = (i % bw + 0.5) * size - r.centre.x;
            const double y = (i / bw + 0.5) * size - r.centre.y;
            r.halfLength = std::max(r.halfLength, std::abs(x * r.dir.x + y * r.dir.y));
            r.halfWidth = std::max(r.halfWidth, std::abs(y * r.dir.x - x * r.dir.y));
        }
        r.halfLength += 0.5 * size;
        r.halfWidth += 0.5 * size;
        r.weight = wsum;
        out.push_back(r);
    }
}

bool CanMerge(const Region& a, const Region& b) {
    const double x = b.centre.x - a.centre.x, y = b.centre.y - a.centre.y;
    const double reach = a.halfLength + b.halfLength + kMergeGap;
    if (std::abs(x) > reach || std::abs(y) > reach) return false;  // cheap: most pairs end here
    if (std::abs(a.dir.x * b.dir.x + a.dir.y * b.dir.y) < kMinMergeDot) return false;
    const double along = x * a.dir.x + y * a.dir.y;
    const double across = std::abs(y * a.dir.x - x * a.dir.y);
    return across <= 0.5 * std::max(a.halfWidth, b.halfWidth) && std::abs(along) <= reach;
}

void Absorb(Region& a, const Region& b) {
    const double along = (b.centre.x - a.centre.x) * a.dir.x + (b.centre.y - a.centre.y) * a.dir.y;
    const double lo = std::min(-a.halfLength, along - b.halfLength);
    const double hi = std::max(a.halfLength, along + b.halfLength);
    const double mid = 0.5 * (lo + hi);
    a.centre = {a.centre.x + mid * a.dir.x, a.centre.y + mid * a.dir.y};
    a.halfLength = 0.5 * (hi - lo);
    a.halfWidth = std::max(a.halfWidth, b.halfWidth);
    a.weight += b.weight;
}

// Joins regions that continue one another along their direction: wide bars and spaces of
// large modules leave each bar a region of its own. Always the first mergeable pair in list
// order, as a restart from the top after each merge would find it, but only the pairs a merge
// changed are looked at again: a page holds thousands of regions.
void Merge(std::vector<Region>& regions) {
    const std::size_t n = regions.size();
    std::vector<char> dead(n, 0);
    for (std::size_t i = 0; i < n;) {
        if (dead[i]) {
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        while (j < n && (dead[j] || !CanMerge(regions[i], regions[j]))) ++j;
        if (j == n) {
            ++i;
            continue;
        }
        Absorb(regions[i], regions[j]);
        dead[j] = 1;
        // Region i grew: an earlier one may now take it in; then that one grew.
        for (std::size_t k = 0; k < i;) {
            if (!dead[k] && CanMerge(regions[k], regions[i])) {
                Absorb(regions[k], regions[i]);
                dead[i] = 1;
                i = k;
                k = 0;
            } else {
                ++k;
            }
        }
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (!dead[i]) regions[kept++] = regions[i];
    regions.resize(kept);
}

}  // namespace

std::vector<Region> Locate(const GreyView& picture, std::size_t limit) {
    const int w = picture.width, h = picture.height;
    const int bw = (w + kBlock - 1) / kBlock, bh = (h + kBlock - 1) / kBlock;
    // Tensors one block row at a time, classified as each row completes and added into the
    // coarse grid (twice the block size: large modules leave the small blocks inside wide
    // bars blank); only the blocks are kept whole.
    const int cw = (bw + 1) / 2, ch = (bh + 1) / 2;
    std::vector<Tensor> row(static_cast<std::size_t>(bw));
    BigArray<Tensor> coarse(static_cast<std::size_t>(cw) * ch);
    BigArray<Block> fineBlocks(static_cast<std::size_t>(bw) * bh);
    const auto finishRow = [&](int by) {
        Classify(row.data(), row.size(), &fineBlocks[static_cast<std::size_t>(by) * bw]);
        Tensor* coarseRow = &coarse[static_cast<std::size_t>(by / 2) * cw];
        for (int x = 0; x < bw; ++x) coarseRow[x / 2] += row[static_cast<std::size_t>(x)];
        std::fill(row.begin(), row.end(), Tensor{});
    };
    // Every second row is plenty for the blocks; large pictures, every second pixel too.
    const int step = static_cast<long long>(w) * h > kLargePicture ? 2 : 1;
    int blockRow = -1;
    for (int y = 1; y + 1 < h; y += 2) {
        if (y / kBlock != blockRow) {
            if (blockRow >= 0) finishRow(blockRow);
            blockRow = y / kBlock;
        }
        const std::uint8_t* up = picture.data + (y - 1) * picture.stride;
        const std::uint8_t* line = picture.data + y * picture.stride;
        const std::uint8_t* down = picture.data + (y + 1) * picture.stride;
        for (int x = 1; x + 1 < w; x += step) {
            const int gx = line[x + 1] - line[x - 1];
            const int gy = down[x] - up[x];
            Tensor& t = row[static_cast<std::size_t>(x / kBlock)];
            t.xx += gx * gx, t.yy += gy * gy, t.xy += gx * gy, ++t.n;
        }
    }
    if (blockRow >= 0) finishRow(blockRow);
    std::vector<Region> regions;
    Group(fineBlocks, bw, bh, kBlock, kFineReach, kFineMinBlocks, regions);
    Merge(regions);
    // Bent symbols: regions of their own, merged among themselves only, so that the straight
    // regions stay as they were.
    std::vector<Region> bentRegions;
    Group(fineBlocks, bw, bh, kBlock, kFineReach, kFineMinBlocks, bentRegions, true);
    Merge(bentRegions);
    regions.insert(regions.end(), bentRegions.begin(), bentRegions.end());
    const std::size_t fineRegions = regions.size();
    BigArray<Block> coarseBlocks(coarse.size());
    Classify(coarse.data(), coarse.size(), coarseBlocks.data());
    Group(coarseBlocks, cw, ch, 2 * kBlock, kCoarseReach, kCoarseMinBlocks, regions);
    std::vector<Region> coarseRegions(regions.begin() + static_cast<std::ptrdiff_t>(fineRegions),
                                      regions.end());
    Merge(coarseRegions);
    regions.resize(fineRegions);
    regions.insert(regions.end(), coarseRegions.begin(), coarseRegions.end());
    std::stable_sort(regions.begin(), regions.end(),
                     [](const Region& a, const Region& b) { return a.weight > b.weight; });
    if (regions.size() > limit) regions.resize(limit);
    return regions;
}

int NoiseLevel(const GreyView& picture) {
    std::array<long long, 256> histogram{};
    long long n = 0;
    for (int y = 0; y < picture.height; y += 4) {
        const std::uint8_t* row = picture.data + y * picture.stride;
        for (int x = 0; x + 1 < picture.width; ++x) ++histogram[std::abs(row[x + 1] - row[x])];
        n += std::max(0, picture.width - 1);
    }
    long long below = 0;
    for (int v = 0; v < 256; ++v)
        if ((below += histogram[v]) * 2 >= n) return v;
    return 0;
}

std::vector<Region> LocateHalved(const GreyView& picture, std::size_t limit) {
    const int w = picture.width / 2, h = picture.height / 2;
    if (w < 3 || h < 3) return {};
    std::vector<std::uint8_t> half(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* a = picture.data + 2 * y * picture.stride;
        const std::uint8_t* b = a + picture.stride;
        std::uint8_t* out = &half[static_cast<std::size_t>(y) * w];
        for (int x = 0; x < w; ++x)
            out[x] = (a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) / 4;
    }
    std::vector<Region> regions = Locate({half.data(), w, h, w}, limit);
    for (Region& r : regions) {
        r.centre = {2 * r.centre.x, 2 * r.centre.y};
        r.halfLength *= 2;
        r.halfWidth *= 2;
    }
    return regions;
}

}  // namespace scan39::reader::detail
