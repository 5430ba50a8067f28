// The Code 39 family's meanings of a text: Code 32, PZN and HIBC, with good and bad checks.

#include <gtest/gtest.h>

#include "scan39/interpret.h"

namespace {

using namespace scan39;

TEST(Interpret, SchemesWithGoodAndBadChecks) {
    struct Case {
        const char* text;
        const char* json;  // "" when no scheme matches
    };
    const Case cases[] = {
        {"0CSSBD", R"({"kind":"code32","valid":true,"value":"A012345676"})"},
        {"0CSSBF", ""},  // a check digit off: six plain characters
        {"AB1234", ""},  // vowels are no base-32 digits
        {"-01234562", R"({"kind":"pzn","valid":true,"value":"01234562","version":"8"})"},
        {"-01234563", R"({"kind":"pzn","valid":false})"},
        {"-1234562", R"({"kind":"pzn","valid":true,"value":"1234562","version":"7"})"},
        {"-1234563", R"({"kind":"pzn","valid":false})"},
        {"-123456", ""},
        {"+A123BJC5D6E71G",
         R"({"kind":"hibc","valid":true,"value":"A123BJC5D6E71","labeler":"A123",)"
         R"("product":"BJC5D6E7","unit_of_measure":"1"})"},
        {"+A123BJC5D6E71H", R"({"kind":"hibc","valid":false})"},
        {"+A99912345/$$52001510X33",
         R"({"kind":"hibc","valid":true,"value":"A99912345/$$52001510X3","labeler":"A999",)"
         R"("product":"1234","unit_of_measure":"5","expiry":"2020-01-15","lot":"10X3"})"},
        {"+$$09051234E", R"({"kind":"hibc","valid":true,"value":"$$09051234",)"
                         R"("expiry":"2005-09","lot":"123","link":"4"})"},
        {"+A12", R"({"kind":"hibc","valid":false})"},
        // Secondary data after the primary: each date form, quantity, serial, a date that is none.
        {"+A123BJC5D6E71/$$3251231LOT9J",
         R"({"kind":"hibc","valid":true,"value":"A123BJC5D6E71/$$3251231LOT9","labeler":"A123",)"
         R"("product":"BJC5D6E7","unit_of_measure":"1","expiry":"2025-12-31","lot":"LOT9"})"},
        {"+A123BJC5D6E71/$$81002120LOT7",
         R"({"kind":"hibc","valid":true,"value":"A123BJC5D6E71/$$81002120LOT","labeler":"A123",)"
         R"("product":"BJC5D6E7","unit_of_measure":"1","quantity":"10","expiry":"2012-02",)"
         R"("lot":"0LOT"})"},
        {"+A123BJC5D6E71/$+SN42L",
         R"({"kind":"hibc","valid":true,"value":"A123BJC5D6E71/$+SN42","labeler":"A123",)"
         R"("product":"BJC5D6E7","unit_of_measure":"1","serial":"SN42"})"},
        {"+A123BJC5D6E71/$$+52005912SNZ",
         R"({"kind":"hibc","valid":true,"value":"A123BJC5D6E71/$$+52005912SN","labeler":"A123",)"
         R"("product":"BJC5D6E7","unit_of_measure":"1","expiry":"2020-02-28","serial":"12SN"})"},
        {"+A123BJC5D6E71/$$3251331LOTB", R"({"kind":"hibc","valid":false})"},
        {"CODE39", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto i = reader::Interpret(c.text);
        EXPECT_EQ(i ? reader::InterpretationJson(*i) : "", c.json);
    }
    // The reader checked and stripped HIBC's check character already.
    const auto stripped = reader::Interpret("+A123BJC5D6E71", true);
    ASSERT_TRUE(stripped);
    EXPECT_TRUE(stripped->valid);
}

}  // namespace
