#include "corners_p.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "scanline_p.h"

namespace scan39::reader::detail {
namespace {

constexpr float kStep = 0.5f;  // pixels between samples, along and across the bars
// The bar pattern is gone where its amplitude against the middle of the bars falls below half
// (a symmetric blur puts the true end there) and stays below for this many pixels: a scratch
// across the bars is narrower.
constexpr double kHalf = 0.5;
constexpr double kGoneFor = 4;
// Pixels the points of a fitted line must span, and its least agreement with the bars' expected
// direction (a dot product of unit vectors).
constexpr double kShortestFit = 6;
constexpr double kLeastFitDot = 0.8;

double Dot(Point a, Point b) {
    return a.x * b.x + a.y * b.y;
}

// The straight line fitted through points (where agreeing lines enter or leave the bars):
// centre and unit direction. Points too close together give no direction; `fallback` then
// stands in.
struct FittedLine {
    Point centre;
    Point dir;
    double lo = 0, hi = 0;  // the points' extent along dir
};

FittedLine FitLine(const std::vector<Point>& p, Point fallback) {
    FittedLine e;
    for (const Point& q : p) e.centre.x += q.x, e.centre.y += q.y;
    e.centre.x /= p.size(), e.centre.y /= p.size();
    double xx = 0, yy = 0, xy = 0;
    for (const Point& q : p) {
        const double x = q.x - e.centre.x, y = q.y - e.centre.y;
        xx += x * x, yy += y * y, xy += x * y;
    }
    const double a = 0.5 * std::atan2(2 * xy, xx - yy);
    e.dir = {std::cos(a), std::sin(a)};
    if (Dot(e.dir, fallback) < 0) e.dir = {-e.dir.x, -e.dir.y};
    for (const Point& q : p) {
        const double t = Dot({q.x - e.centre.x, q.y - e.centre.y}, e.dir);
        e.lo = std::min(e.lo, t), e.hi = std::max(e.hi, t);
    }
    // Lines a few pixels apart pin the bar's direction down poorly; near the reading
    // direction's normal is a safer guess then, and a fit further off (~37 degrees) is no bar
    // edge.
    if (e.hi - e.lo < kShortestFit || Dot(e.dir, fallback) < kLeastFitDot) e.dir = fallback;
    return e;
}

class BarEnds {
  public:
    BarEnds(const GreyView& picture, Point across, double from, double to)
        : picture_(picture),
          across_(across),
          from_(from),
          count_(static_cast<int>((to - from) / kStep) + 1) {}

    // Parameters along `edge` where the bar pattern ends, towards -dir and +dir; false when a
    // profile leaves the picture before the end or the bars show no pattern.
    bool Find(const FittedLine& edge, double& low, double& high) {
        // The reference: the mean of profiles across the stretch where lines read.
        reference_.assign(static_cast<std::size_t>(count_), 0.0f);
        constexpr int kReference = 5;
        for (int i = 0; i < kReference; ++i) {
            const double t = edge.lo + (edge.hi - edge.lo) * (i + 0.5) / kReference;
            if (!Sample(edge, t)) return false;
            for (int k = 0; k < count_; ++k) reference_[k] += profile_[k] / kReference;
        }
        double mean = 0;
        for (float v : reference_) mean += v;
        mean /= count_;
        variance_ = 0;
        for (float& v : reference_) v -= static_cast<float>(mean), variance_ += v * v;
        if (variance_ <= 0) return false;
        return Walk(edge, edge.lo, -1, low) && Walk(edge, edge.hi, 1, high);
    }

  private:
    bool Sample(const FittedLine& e, double t) {
        const Point p{e.centre.x + t * e.dir.x + from_ * across_.x,
                      e.centre.y + t * e.dir.y + from_ * across_.y};
        const Point q{p.x + (count_ - 1) * kStep * across_.x,
                      p.y + (count_ - 1) * kStep * across_.y};
        const double maxX = picture_.width - 1, maxY = picture_.height - 1;
        if (std::min(p.x, q.x) < 0 || std::min(p.y, q.y) < 0 || std::max(p.x, q.x) > maxX ||
            std::max(p.y, q.y) > maxY)
            return false;
        SampleProfile(picture_, {p, across_, kStep, count_}, profile_);
        return true;
    }

    // The pattern's amplitude against the reference.
    double Amplitude() const {
        double mean = 0;
        for (float v : profile_) mean += v;
        mean /= count_;
        double cov = 0;
        for (int k = 0; k < count_; ++k) cov += (profile_[k] - mean) * reference_[k];
        return cov / variance_;
    }

    bool Walk(const FittedLine& e, double t, int sign, double& end) {
        double lastIn = 0, prevAmp = 1, cross = 0;
        // Bars taller than long are rare: bound the walk by the picture and a generous length.
        const double limit = 4 * (e.hi - e.lo) + 400;
        for (double s = kStep; s < limit; s += kStep) {
            if (!Sample(e, t + sign * s)) {
                end = t + sign * (s - kStep);  // the bars reach the picture's edge
                return true;
            }
            const double a = Amplitude();
            if (a >= kHalf) {
                lastIn = s;
            } else if (prevAmp >= kHalf) {
                cross = s - kStep + kStep * (prevAmp - kHalf) / (prevAmp - a);
            }
            prevAmp = a;
            if (s - lastIn > kGoneFor) {
                end = t + sign * cross;
                return true;
            }
        }
        return false;
    }

    const GreyView& picture_;
    Point across_;
    double from_;
    int count_;
    std::vector<float> profile_, reference_;
    double variance_ = 0;
};

}  // namespace

void FindBarEnds(const GreyView& picture, int characters, Consensus& c) {
    const std::size_t n = c.begins.size();
    if (n < 2 || n != c.ends.size() || characters < 1) return;
    Point dir{0, 0};
    double length = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Point d{c.ends[i].x - c.begins[i].x, c.ends[i].y - c.begins[i].y};
        dir.x += d.x, dir.y += d.y;
        length += std::hypot(d.x, d.y) / n;
    }
    const double norm = std::hypot(dir.x, dir.y);
    if (norm <= 0 || length <= 0) return;
    dir = {dir.x / norm, dir.y / norm};
    const Point up{dir.y, -dir.x};
    const double pitch = length / characters;
    // Across the start character and a little of its quiet zone; likewise at the stop end.
    const FittedLine first = FitLine(c.begins, {-up.x, -up.y});
    const FittedLine last = FitLine(c.ends, {-up.x, -up.y});
    BarEnds atFirst(picture, dir, -0.4 * pitch, 0.8 * pitch);
    BarEnds atLast(picture, dir, -0.8 * pitch, 0.4 * pitch);
    double a0, a1, b0, b1;  // towards the top (-) and the bottom (+) side
    if (!atFirst.Find(first, a0, a1) || !atLast.Find(last, b0, b1)) return;
    auto at = [](const FittedLine& e, double t) {
        return Point{e.centre.x + t * e.dir.x, e.centre.y + t * e.dir.y};
    };
    c.corners = {at(first, a0), at(last, b0), at(last, b1), at(first, a1)};
    const double x = 0.5 * (c.corners[1].x + c.corners[2].x - c.corners[0].x - c.corners[3].x);
    const double y = 0.5 * (c.corners[1].y + c.corners[2].y - c.corners[0].y - c.corners[3].y);
    double angle = std::atan2(y, x) * 180 / std::numbers::pi;
    // Tenths of a degree are all the lines resolve; rounding here also keeps printers that
    // round to a tenth from showing 360.
    angle = std::round(angle * 10) / 10;
    if (angle < 0) angle += 360;
    if (angle >= 360) angle -= 360;
    c.angle = angle;
}

}  // namespace scan39::reader::detail
