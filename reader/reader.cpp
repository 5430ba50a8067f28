#include "scan39/reader.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "code39_p.h"
#include "locate_p.h"
#include "scanline_p.h"
#include "vote_p.h"

namespace scan39::reader {
namespace {

using namespace detail;

// Half a pixel between samples resolves narrow modules down to ~1.3 px.
constexpr float kStep = 0.5f;
// Weakest edge worth a look, in grey levels per pixel: ink and paper 60 levels apart,
// blurred over a narrow module, still give more.
constexpr float kMinSlope = 4.0f;

struct Plan {
    int regions;
    int minLines, maxLines;
    double lineSpacing;         // pixels between parallel lines across a region
    std::vector<double> tilts;  // degrees added to a region's direction
};

Plan MakePlan(Effort effort) {
    if (effort == Effort::kFast) return {6, 4, 10, 4.0, {0}};
    return {24, 8, 40, 2.0, {0, -4, 4}};
}

class LineReader {
  public:
    explicit LineReader(const GreyView& picture) : picture_(picture) {}

    void Scan(Point through, Point dir, std::vector<Observation>& out) {
        const ScanLine line = ClipLine(picture_.width, picture_.height, through, dir, kStep);
        if (line.count < 20) return;
        SampleProfile(picture_, line, profile_);
        FindEdges(profile_, kMinSlope, edges_);
        reads_.clear();
        DecodeLine(edges_, static_cast<float>(line.count - 1), reads_);
        for (LineRead& r : reads_) {
            out.push_back({std::move(r.chars), line.At(r.begin), line.At(r.end)});
        }
    }

  private:
    const GreyView& picture_;
    std::vector<float> profile_;
    std::vector<Edge> edges_;
    std::vector<LineRead> reads_;
};

bool Covered(const Region& r, const std::vector<Region>& done) {
    return std::any_of(done.begin(), done.end(), [&](const Region& d) {
        const double x = r.centre.x - d.centre.x, y = r.centre.y - d.centre.y;
        const double along = std::abs(x * d.dir.x + y * d.dir.y);
        const double across = std::abs(y * d.dir.x - x * d.dir.y);
        const double dot = std::abs(r.dir.x * d.dir.x + r.dir.y * d.dir.y);
        return dot > 0.995 && along < d.halfLength && across + r.halfWidth <= d.halfWidth + 4;
    });
}

// Applies the options to an agreed text; false when the symbol must not be reported.
bool Finish(const ReadOptions& options, std::string& text, CheckState& check) {
    check = CheckState::kNotChecked;
    if (options.checkCharacter == CheckCharacter::kRequired) {
        if (text.size() < 2) return false;
        int sum = 0;
        for (std::size_t i = 0; i + 1 < text.size(); ++i) sum += CheckValue(text[i]);
        if (sum % 43 != CheckValue(text.back())) return false;
        text.pop_back();
        check = CheckState::kVerified;
    }
    if (options.fullAscii) {
        auto translated = FullAscii(text);
        if (!translated) return false;
        text = std::move(*translated);
    }
    return true;
}

}  // namespace

std::vector<Symbol> Read(const GreyView& picture, const ReadOptions& options) {
    if (picture.width < 0 || picture.height < 0)
        throw std::invalid_argument("picture size is negative");
    if (picture.width == 0 || picture.height == 0) return {};
    if (picture.data == nullptr) throw std::invalid_argument("picture has no pixels");
    if (picture.stride < picture.width) throw std::invalid_argument("row stride below width");

    const Plan plan = MakePlan(options.effort);
    std::vector<Observation> observations;
    LineReader reader(picture);
    std::vector<Region> done;
    for (const Region& r : Locate(picture, plan.regions)) {
        if (Covered(r, done)) continue;
        done.push_back(r);
        const int lines = std::clamp(static_cast<int>(2 * r.halfWidth / plan.lineSpacing),
                                     plan.minLines, plan.maxLines);
        for (double tilt : plan.tilts) {
            const double a = std::atan2(r.dir.y, r.dir.x) + tilt * std::numbers::pi / 180;
            const Point dir{std::cos(a), std::sin(a)};
            const Point normal{-dir.y, dir.x};
            for (int i = 0; i < lines; ++i) {
                const double o = r.halfWidth * 0.9 * (2.0 * (i + 0.5) / lines - 1);
                reader.Scan({r.centre.x + o * normal.x, r.centre.y + o * normal.y}, dir,
                            observations);
            }
        }
    }

    std::vector<Symbol> symbols;
    for (Consensus& c : Vote(observations)) {
        Symbol s;
        if (!Finish(options, c.text, s.check) || c.text.empty()) continue;
        s.text = std::move(c.text);
        s.corners = c.corners;
        s.angle = c.angle;
        s.lines = c.lines;
        symbols.push_back(std::move(s));
    }
    return symbols;
}

}  // namespace scan39::reader
