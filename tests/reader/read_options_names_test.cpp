// The options' names every face takes: each name, its case, and what an unknown one says.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "scan39/read_options_names.h"

namespace {

using scan39::reader::Effort;
using scan39::reader::Polarity;

struct EffortCase {
    const char* name;
    std::optional<Effort> expected;
};

class EffortNames : public testing::TestWithParam<EffortCase> {};

TEST_P(EffortNames, Parse) {
    const EffortCase& c = GetParam();
    EXPECT_EQ(scan39::reader::ParseEffort(c.name), c.expected) << '"' << c.name << '"';
    if (c.expected) {
        EXPECT_EQ(scan39::reader::EffortName(*c.expected), c.name);
    }
}

INSTANTIATE_TEST_SUITE_P(
    All, EffortNames,
    testing::Values(EffortCase{"fast", Effort::kFast}, EffortCase{"thorough", Effort::kThorough},
                    // Exact names only: every face refuses the same spellings.
                    EffortCase{"Fast", std::nullopt}, EffortCase{"THOROUGH", std::nullopt},
                    EffortCase{" fast", std::nullopt}, EffortCase{"fast ", std::nullopt},
                    EffortCase{"", std::nullopt}, EffortCase{"quick", std::nullopt},
                    EffortCase{"fas", std::nullopt}));

struct PolarityCase {
    const char* name;
    std::optional<Polarity> expected;
};

class PolarityNames : public testing::TestWithParam<PolarityCase> {};

TEST_P(PolarityNames, Parse) {
    const PolarityCase& c = GetParam();
    EXPECT_EQ(scan39::reader::ParsePolarity(c.name), c.expected) << '"' << c.name << '"';
    if (c.expected) {
        EXPECT_EQ(scan39::reader::PolarityName(*c.expected), c.name);
    }
}

INSTANTIATE_TEST_SUITE_P(
    All, PolarityNames,
    testing::Values(PolarityCase{"dark", Polarity::kDarkBars},
                    PolarityCase{"light", Polarity::kLightBars},
                    PolarityCase{"both", Polarity::kBoth}, PolarityCase{"Dark", std::nullopt},
                    PolarityCase{"BOTH", std::nullopt}, PolarityCase{"", std::nullopt},
                    PolarityCase{"inverse", std::nullopt},
                    PolarityCase{"dark,light", std::nullopt}));

TEST(ReadOptionNames, EveryListedNameParsesAndNamesBack) {
    for (const auto name : scan39::reader::kEffortNames)
        EXPECT_EQ(scan39::reader::EffortName(*scan39::reader::ParseEffort(name)), name);
    for (const auto name : scan39::reader::kPolarityNames)
        EXPECT_EQ(scan39::reader::PolarityName(*scan39::reader::ParsePolarity(name)), name);
}

TEST(ReadOptionNames, NameListForMessages) {
    using scan39::reader::NameList;
    EXPECT_EQ(NameList(scan39::reader::kEffortNames), "fast or thorough");
    EXPECT_EQ(NameList(scan39::reader::kPolarityNames, "\""), "\"dark\", \"light\" or \"both\"");
    EXPECT_EQ(NameList(scan39::reader::kPolarityNames, {}, "、", " 或 "), "dark、light 或 both");
    EXPECT_EQ(NameList({}), "");
}

struct FromNamesCase {
    const char* label;
    bool check, ascii;
    const char* effort;
    const char* polarity;
    const char* error;  // null: read options
};

class FromNames : public testing::TestWithParam<FromNamesCase> {};

TEST_P(FromNames, OptionsOrError) {
    const FromNamesCase& c = GetParam();
    const auto named =
        scan39::reader::ReadOptionsFromNames(c.check, c.ascii, c.effort, c.polarity);
    if (c.error) {
        EXPECT_FALSE(named.options);
        EXPECT_EQ(named.error, c.error);
        return;
    }
    ASSERT_TRUE(named.options) << named.error;
    EXPECT_EQ(named.options->checkCharacter, c.check ? scan39::reader::CheckCharacter::kRequired
                                                     : scan39::reader::CheckCharacter::kOff);
    EXPECT_EQ(named.options->fullAscii, c.ascii);
    EXPECT_EQ(named.options->effort, *scan39::reader::ParseEffort(c.effort));
    EXPECT_EQ(named.options->polarity, *scan39::reader::ParsePolarity(c.polarity));
}

INSTANTIATE_TEST_SUITE_P(
    All, FromNames,
    testing::Values(
        FromNamesCase{"defaults", false, false, "thorough", "both", nullptr},
        FromNamesCase{"everything", true, true, "fast", "light", nullptr},
        FromNamesCase{"dark", false, true, "thorough", "dark", nullptr},
        FromNamesCase{"effort_case", false, false, "Fast", "both",
                      "effort must be \"fast\" or \"thorough\", not \"Fast\""},
        FromNamesCase{"effort_empty", false, false, "", "both",
                      "effort must be \"fast\" or \"thorough\", not \"\""},
        FromNamesCase{"polarity_unknown", false, false, "fast", "reversed",
                      "polarity must be \"dark\", \"light\" or \"both\", not \"reversed\""},
        // The effort is judged first, as the faces list it first.
        FromNamesCase{"both_wrong", false, false, "slow", "grey",
                      "effort must be \"fast\" or \"thorough\", not \"slow\""}),
    [](const testing::TestParamInfo<FromNamesCase>& param) { return param.param.label; });

}  // namespace
