// Print quality grading on symbols drawn with known grey levels, whose parameters follow from
// the formulas.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "scan39/encoder.h"
#include "scan39/grade.h"
#include "scan39/reader.h"

namespace {

using namespace scan39;

// An upright symbol on whole pixels: bars at `bar`, wide spaces and quiet zones at `space`,
// narrow spaces at `narrowSpace`; `outside` beyond the quiet zones of `margin` X.
struct Label {
    std::string text = "GRADE39";
    int x = 4, ratio = 3;
    int bar = 20, space = 235, narrowSpace = 235;
    int margin = 12, outside = 235;
    int voidGrey = -1;  // a light spot in the middle of the first wide bar
};

struct Drawn {
    int width = 0, height = 80;
    std::vector<std::uint8_t> pixels;
    reader::GreyView View() const { return {pixels.data(), width, height, width}; }
};

Drawn Draw(const Label& l) {
    const std::vector<encoder::Element> elements = encoder::Elements(l.text);
    std::vector<int> row(static_cast<std::size_t>(l.margin * l.x), l.space);
    std::size_t voidAt = 0;
    for (const encoder::Element& e : elements) {
        const int w = e.wide ? l.ratio * l.x : l.x;
        const int grey = e.bar ? l.bar : e.wide || e.gap ? l.space : l.narrowSpace;
        const std::size_t at = row.size();
        row.insert(row.end(), static_cast<std::size_t>(w), grey);
        if (e.bar && e.wide && voidAt == 0) voidAt = at + w / 2 - 1;
    }
    row.insert(row.end(), static_cast<std::size_t>(l.margin * l.x), l.space);
    Drawn d;
    d.width = static_cast<int>(row.size()) + 40;
    d.pixels.assign(static_cast<std::size_t>(d.width * d.height),
                    static_cast<std::uint8_t>(l.outside));
    for (int y = 10; y < d.height - 10; ++y)
        for (std::size_t i = 0; i < row.size(); ++i)
            d.pixels[y * d.width + 20 + i] = static_cast<std::uint8_t>(row[i]);
    // Across the middle rows only, where the grading crosses it and lines above and below read.
    for (int y = 30; y < 50 && l.voidGrey >= 0; ++y)
        for (std::size_t i = voidAt; i < voidAt + 2; ++i)
            d.pixels[y * d.width + 20 + i] = static_cast<std::uint8_t>(l.voidGrey);
    return d;
}

// `aperture` in pixels, 0 for the default.
reader::SymbolGrade ReadAndGrade(const Label& l, double aperture = 0) {
    const Drawn d = Draw(l);
    const auto symbols = reader::Read(d.View());
    EXPECT_EQ(symbols.size(), 1u);
    if (symbols.empty()) return {};
    EXPECT_EQ(symbols[0].text, l.text);
    return reader::Grade(d.View(), symbols[0], {.aperturePx = aperture});
}

TEST(Grade, ContrastAndModulationFollowTheGreyLevels) {
    struct Case {
        int bar, space, narrowSpace;
        char symbolContrast, modulation, overall;
    };
    const Case cases[] = {
        {20, 235, 235, 'A', 'A', 'A'},
        {20, 230, 160, 'A', 'B', 'B'},  // narrow spaces darker: weaker edges
        {70, 200, 200, 'C', 'A', 'C'},
        {40, 110, 110, 'D', 'A', 'D'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bar << "/" << c.space << "/" << c.narrowSpace);
        const Label l{
            .bar = c.bar, .space = c.space, .narrowSpace = c.narrowSpace, .outside = c.space};
        // An aperture of half X: the pixels' own interpolation blurs a little more, and the
        // profiles must still reach each element's grey level for the formulas to hold.
        const reader::SymbolGrade g = ReadAndGrade(l, 0.5 * l.x);
        const double sc = (c.space - c.bar) / 255.0;
        EXPECT_NEAR(g.parameters.symbolContrast.value, sc, 0.02);
        EXPECT_NEAR(g.parameters.modulation.value, (c.narrowSpace - c.bar) / 255.0 / sc, 0.02);
        EXPECT_EQ(reader::GradeLetter(g.parameters.symbolContrast.grade), c.symbolContrast);
        EXPECT_EQ(reader::GradeLetter(g.parameters.modulation.grade), c.modulation);
        EXPECT_EQ(g.overall, c.overall);
        EXPECT_EQ(g.scans, 10);
        if (c.narrowSpace != c.space) continue;  // weaker narrow spaces measure narrower
        EXPECT_NEAR(g.xDimensionPx, l.x, 0.1);
        EXPECT_NEAR(g.wideNarrowRatio, l.ratio, 0.1);
        EXPECT_GT(g.parameters.decodability.value, 0.9);
    }
}

TEST(Grade, VoidInAWideBarRaisesDefects) {
    const reader::SymbolGrade clean = ReadAndGrade({});
    const reader::SymbolGrade voided = ReadAndGrade({.voidGrey = 90});
    EXPECT_LT(clean.parameters.defects.value, 0.05);
    EXPECT_GT(voided.parameters.defects.value, 0.15);
    EXPECT_LT(voided.parameters.defects.grade, clean.parameters.defects.grade);
    EXPECT_LT(voided.value, clean.value);
}

TEST(Grade, QuietZoneOfFiveXFails) {
    const reader::SymbolGrade g = ReadAndGrade({.margin = 5, .outside = 20});
    EXPECT_NEAR(g.parameters.quietZones.value, 5, 0.3);
    EXPECT_EQ(g.parameters.quietZones.grade, 0);
    EXPECT_EQ(g.overall, 'F');
    EXPECT_EQ(g.parameters.decode.grade, 4);  // it still reads: the quiet zone alone fails
}

TEST(Grade, ResolutionGivesXInMillimetresAndTheRatioRule) {
    const Drawn d = Draw({.ratio = 2});
    const auto symbols = reader::Read(d.View());
    ASSERT_EQ(symbols.size(), 1u);
    // 4 px at 300 dpi: 0.34 mm, 13.3 mils, below 0.02 in.: a ratio of 2 is too small.
    const reader::SymbolGrade g = reader::Grade(d.View(), symbols[0], {.dpi = 300});
    EXPECT_NEAR(g.xDimensionMm, 0.339, 0.01);
    EXPECT_NEAR(g.xDimensionMils, 13.3, 0.3);
    EXPECT_EQ(g.minimumRatio, 2.2);
    EXPECT_FALSE(g.ratioOk);
    EXPECT_TRUE(g.quietZonesOk);
    const std::string json = reader::GradeJson(g);
    EXPECT_NE(json.find("\"code39_rules\":{\"wide_narrow_ratio\":{\"minimum\":2.2,\"ok\":false}"),
              std::string::npos)
        << json;
}

}  // namespace

namespace {

// Corners that make no sense for the picture give an F, never a crash or a hang.
TEST(Grade, CornersOutsideThePictureGiveF) {
    const Drawn d = Draw({});
    for (const double far : {-1e9, 1e12, std::nan("")}) {
        reader::Symbol s;
        s.text = "GRADE39";
        s.corners = {{{far, 10}, {far, 20}, {30, 40}, {0, 70}}};
        const reader::SymbolGrade g = reader::Grade(d.View(), s, {.aperturePx = 1e300});
        EXPECT_EQ(g.overall, 'F');
        EXPECT_EQ(g.profiles.size(), 10u);
    }
}

}  // namespace
