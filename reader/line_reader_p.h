#pragma once
// The line reader: one straight line across a region sampled (plainly, banded, sharpened or
// levelled locally, as its mode says), its edges found, and its Code 39 reads turned into
// observations in picture pixels.

#include <cstddef>
#include <vector>

#include "code39_p.h"
#include "scan39/reader.h"
#include "vote_p.h"
#include "workspace_p.h"

namespace scan39::reader::detail {

// How lines are sampled and their edges found.
struct LineMode {
    float step;             // pixels between samples
    float minSlope;         // weakest edge worth a look, grey levels per sample pair
    float sharpen;          // unsharp masking amount, 0 for none
    float sigma;            // its blur, in pixels
    bool midLevel = false;  // edges placed where the profile crosses the middle level
    int band = 0;           // at most this many parallel rows either side averaged per sample
    bool local = false;     // levels judged against the calmer side of each sample
    bool inkArea = false;   // dark elements placed by their ink (PlaceEdgesByInk)
};
// Half a pixel between samples resolves narrow modules down to ~1.3 px; ink and paper 60
// levels apart, blurred over a narrow module, still give edges steeper than 4 levels.
constexpr LineMode kNormal{0.5f, 4.0f, 0, 0};
// A side judged for LevelLocally needs this many levels, and this share of the line's span.
constexpr float kLocalFloor = 6;
constexpr float kLocalShare = 0.12f;

// Edges of three characters: a line this busy may cross bars at a slant.
constexpr std::size_t kBusyEdges = 30;
// Edges of a start and a stop character, and lines with that many: worth recovering from
// blur even without any start or stop read, since a symbol of one or two characters blurred
// loses edges until few of its lines look busy.
constexpr std::size_t kSomeEdges = 20;
constexpr int kSomeLines = 3;

// What the lines across one region found besides reads.
struct Evidence {
    int ends = 0;  // start and stop characters with a quiet zone
    int busy = 0;  // lines that crossed kBusyEdges edges or more
    int some = 0;  // lines that crossed kSomeEdges edges or more
    int lines = 0;
};

class LineReader {
  public:
    // Works in `workspace`, which must outlive the reader.
    LineReader(const GreyView& picture, Polarity polarity, Workspace& workspace)
        : picture_(picture), polarity_(polarity), ws_(workspace) {}
    void SetMode(const LineMode& mode) {
        mode_ = mode;
        rows_ = 0;
    }
    void SetInkSpread(bool on) { inkSpread_ = on; }
    // Grading only: lines that read a start, characters and a stop but lack a quiet zone are
    // kept apart (Located), never among the reads, so the search goes as without.
    void SetLocating(bool on) { locating_ = on; }
    std::vector<Observation>& Located() { return located_; }
    // Rows either side for lines across a region of this half width, in a banded mode.
    void FitBand(double halfWidth);
    int Band() const { return rows_; }

    // Scans the line through `through` along `dir`, at most `reach` pixels either side.
    // Counts the start and stop characters it saw, and whether it crossed many edges.
    void Scan(Point through, Point dir, double reach, std::vector<Observation>& out,
              Evidence& evidence);

    long long Spent() const { return spent_; }
    // Counts samples spent before this reader, by the search of another octave of the picture.
    void Charge(long long samples) { spent_ += samples; }

  private:
    const GreyView& picture_;
    const Polarity polarity_;
    Workspace& ws_;
    long long spent_ = 0;
    LineMode mode_ = kNormal;
    bool inkSpread_ = false;
    bool locating_ = false;
    std::vector<Observation> located_;
    int rows_ = 0;
    std::vector<float> profile_;
    std::vector<Edge> edges_;
    std::vector<float> runs_;
    std::vector<LineRead> reads_;
};

}  // namespace scan39::reader::detail
