#pragma once
// Print quality of a read Code 39 symbol by the scan reflectance profile method of
// ISO/IEC 15416: ten profiles across the bars, each graded on its contrast, edges, defects,
// reference decode, decodability and quiet zones; the symbol's grade is their mean.
// Plain C++20, no Qt.
//
// A picture from a camera or a scanner is no calibrated verifier: reflectance is taken as
// grey level / 255, so the grades are only as good as the light, the lens and the exposure.

#include <string>
#include <vector>

#include "scan39/reader.h"

namespace scan39::reader {

struct GradeOptions {
    // Diameter of the measuring aperture in pixels; 0 takes 0.8 of the measured X dimension.
    double aperturePx = 0;
    // Resolution of the picture in dots per inch; 0 when unknown. With it the X dimension is
    // also given in millimetres and mils and checked against Code 39's printing rules.
    double dpi = 0;
};

// Grades as numbers: 4 = A, 3 = B, 2 = C, 1 = D, 0 = F.
char GradeLetter(int grade);
// The letter of a mean grade: A from 3.5, B from 2.5, C from 1.5, D from 0.5.
char MeanGradeLetter(double value);

struct GradeParameter {
    double value = 0;
    int grade = 0;
    // The interpolated grade 0.0..4.0 (to a tenth) of verifiers since 2016: linear within each
    // band, 0.0 at 0.15 contrast, 0.30 modulation, 0.20 decodability; pass or fail 4.0 or 0.0.
    double fractional = 0;
};

// The parameters of one profile, or of the symbol (there each parameter is the one of the
// profile where it graded lowest).
struct GradeParameters {
    GradeParameter decode;          // 1 when the reference decode gives the symbol's text
    GradeParameter minReflectance;  // Rmin; A when at most half of Rmax
    GradeParameter symbolContrast;  // Rmax - Rmin
    GradeParameter minEdgeContrast;
    GradeParameter modulation;    // minimum edge contrast / symbol contrast
    GradeParameter defects;       // element reflectance non-uniformity / symbol contrast
    GradeParameter decodability;  // margin of the worst element against its character's threshold
    GradeParameter quietZones;    // the narrower quiet zone, in X
};

// The parameters' names as they appear in JSON, in GradeParameters' order.
inline constexpr const char* kGradeParameterNames[] = {
    "decode",     "min_reflectance", "symbol_contrast", "min_edge_contrast",
    "modulation", "defects",         "decodability",    "quiet_zones"};

// The grades of one parameter's value (an index into kGradeParameterNames): the integer band
// and the interpolated grade. Rmin is graded against the profile's Rmax; quiet zones (in X)
// pass from 10 X less the measuring tolerance of 0.3 X.
GradeParameter GradeOf(int parameter, double value, double rmax = 1);

struct ProfileGrade {
    Point from, to;                  // the profile's ends in the picture
    double step = 0;                 // pixels between samples
    std::vector<float> reflectance;  // after the aperture, 0..1
    double threshold = 0;            // the global threshold, Rmin + SC / 2
    double begin = 0, end = 0;       // the symbol's first and last bar edge, in samples
    GradeParameters parameters;
    int grade = 0;     // the lowest parameter grade
    int failing = -1;  // index into kGradeParameterNames of the parameter that set it; -1: A
    double fractional = 0;  // the lowest interpolated parameter grade
    // Narrow and wide element fitted to pairs of neighbouring elements (a bar and a space: ink
    // spread and blur cancel), 0 when the profile did not decode.
    double xPx = 0;
    double ratio = 0;  // wide over narrow element
};

struct SymbolGrade {
    double value = 0;  // mean of the profile grades
    char overall = 'F';
    double fractionalValue = 0;  // mean of the profiles' interpolated grades
    char fractionalOverall = 'F';
    int scans = 0;
    int decoded = 0;  // profiles whose reference decode gave the symbol's text
    GradeParameters parameters;
    double xDimensionPx = 0;  // mean over the profiles that decoded; 0 (unknown) when none did
    double wideNarrowRatio = 0;
    // Code 39's dimensional rules, with or without a resolution: the wide/narrow ratio from 2.0
    // (2.2 below X = 0.02 in. when the resolution says so) to 3.0, quiet zones of 10 X.
    bool ratioRuleOk = false;
    bool quietZoneRuleOk = false;
    double aperturePx = 0;  // the aperture used

    // With GradeOptions::dpi only.
    double dpi = 0;
    double xDimensionMm = 0;
    double xDimensionMils = 0;
    double minimumRatio = 0;  // 2.2 below an X of 0.02 in., 2.0 from there
    bool ratioOk = false;
    bool quietZonesOk = false;  // both at least 10 X

    std::vector<ProfileGrade> profiles;
};

// Grades `symbol`, a symbol Read() found in `picture`. Never throws for the picture's contents;
// a symbol whose profiles do not decode gets F. A colour picture is converted for each call:
// for several symbols, convert once with GreyImage and grade its view.
SymbolGrade Grade(const ImageView& picture, const Symbol& symbol, const GradeOptions& options = {});

// Grades `symbol`, one Read() located but could not read (ReadOptions::locateUnread): F, since
// no profile decodes to a text; X is first estimated from its length and count of characters.
SymbolGrade Grade(const ImageView& picture, const UnreadSymbol& symbol,
                  const GradeOptions& options = {});

// The parameter that kept an unread symbol from being read, as kGradeParameterNames names it:
// "quiet_zones" where its lines read every character but a quiet zone was too short, else
// "decode".
const char* UnreadFailing(const UnreadSymbol& symbol);

// The grade as one JSON object (no white space; numbers with a point whatever the locale):
// {"overall":"B","value":3.2,"scans":10,"parameters":{"decode":{"value":1,"grade":"A",
//  "fractional":4},...},"x_dimension_px":3.1,"wide_narrow_ratio":2.8,
//  "fractional":{"overall":"B","value":3.27},"decoded":10,
//  "rules":{"wide_narrow_ratio":{"minimum":2,"maximum":3,"ok":true},"quiet_zones":{...}},
//  "profiles":[{"grade":"A","fractional":3.9,"failing":null|"modulation","parameters":{...}},...]}
// ("x_dimension_px" and "wide_narrow_ratio" null when no profile decoded) and, with a
// resolution, "dpi", "x_dimension_mm", "x_dimension_mils" and "code39_rules".
std::string GradeJson(const SymbolGrade& grade);

}  // namespace scan39::reader
