// The one JSON record of a picture's symbols, and the reading order they come in.

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "scan39/box_record.h"
#include "scan39/reader.h"
#include "scan39/record_json.h"

namespace {

using scan39::reader::Point;
using scan39::reader::Symbol;

// An upright symbol centred at (x, y), `w` wide and `h` high.
Symbol At(const std::string& text, double x, double y, double w = 100, double h = 40) {
    Symbol s;
    s.text = text;
    s.corners = {Point{x - w / 2, y - h / 2}, Point{x + w / 2, y - h / 2},
                 Point{x + w / 2, y + h / 2}, Point{x - w / 2, y + h / 2}};
    s.lines = 3;
    return s;
}

struct OrderCase {
    const char* name;
    std::vector<Symbol> symbols;
    std::vector<std::string> expected;
};

TEST(ReadingOrder, RowsTopToBottomThenLeftToRight) {
    const OrderCase cases[] = {
        {"a grid",
         {At("D", 300, 200), At("A", 100, 50), At("C", 100, 200), At("B", 300, 50)},
         {"A", "B", "C", "D"}},
        // The right one's centre a little higher: still one row, read left to right.
        {"one row, uneven", {At("R", 300, 95), At("L", 100, 110)}, {"L", "R"}},
        // Half the lower height apart and more: two rows.
        {"two rows", {At("UP", 300, 70), At("DOWN", 100, 110)}, {"UP", "DOWN"}},
        // A tall symbol beside a short one: the short one's height sets the row.
        {"tall beside short",
         {At("TALL", 100, 200, 40, 300), At("SHORT", 300, 120)},
         {"SHORT", "TALL"}},
        {"same centre, by text", {At("B", 50, 50), At("A", 50, 50)}, {"A", "B"}},
        {"none", {}, {}},
    };
    for (const auto& c : cases) {
        std::vector<Symbol> symbols = c.symbols;
        scan39::reader::SortInReadingOrder(symbols);
        std::vector<std::string> texts;
        for (const auto& s : symbols) texts.push_back(s.text);
        EXPECT_EQ(texts, c.expected) << c.name;
    }
}

TEST(RecordJson, StringsAreAlwaysValidUtf8) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"a\"b\\c", R"("a\"b\\c")"},
        {"\n\t\x01\x7f", R"("\n\t\u0001\u007f")"},
        {"\xE9\x94\x99", "\"\xE9\x94\x99\""},  // 错, kept
        {"a\xFF"
         "b",
         "\"a\xEF\xBF\xBD"
         "b\""},                                                       // a stray byte
        {"\xE9\x94", "\"\xEF\xBF\xBD\""},                              // cut short: once
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // a surrogate
        {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},                  // overlong
    };
    for (const auto& c : cases) EXPECT_EQ(scan39::reader::JsonString(c.in), c.out) << c.in;
}

TEST(RecordJson, OneShapeForEveryOutcome) {
    Symbol s = At("-01234562", 12.345, 20, 10, 10);  // a PZN
    s.angle = 359.996;
    s.check = scan39::reader::CheckState::kVerified;
    const std::vector<Symbol> symbols{s};
    const std::vector<std::string> grades{R"({"overall":"A"})"};
    using scan39::reader::Record;
    const struct {
        Record record;
        std::string json;
    } cases[] = {
        {{.file = "a.png", .symbols = symbols, .grades = grades},
         R"({"file":"a.png","symbols":[{"text":"-01234562","position":[[7.35,15],[17.35,15],)"
         R"([17.35,25],[7.35,25]],"angle":0,"lines":3,"aim":"]A3","checked":true,)"
         R"("interpretation":)"
         R"({"kind":"pzn","valid":true,"value":"01234562","version":"8"},)"
         R"("grade":{"overall":"A"}}]})"},
        {{.file = "p.pdf", .page = 2, .pages = 3, .truncated = true},
         R"({"file":"p.pdf","page":2,"pages":3,"symbols":[],"truncated":true})"},
        {{.file = "b\xFF.png", .error = "damaged", .symbols = symbols},
         "{\"file\":\"b\xEF\xBF\xBD.png\",\"file_bytes\":\"Yv8ucG5n\",\"error\":\"damaged\"}"},
        {{.symbols = {}}, R"({"symbols":[]})"},
    };
    for (const auto& c : cases) EXPECT_EQ(scan39::reader::RecordJson(c.record), c.json);
}

// What scanners put before the text: the same for the same reading, whatever the text.
TEST(RecordJson, AimIdentifierFollowsCheckAndFullAscii) {
    using scan39::reader::CheckState;
    const struct {
        CheckState check;
        bool fullAscii;
        const char* aim;
    } cases[] = {
        {CheckState::kNotChecked, false, "]A0"},
        {CheckState::kVerified, false, "]A3"},
        {CheckState::kNotChecked, true, "]A4"},
        {CheckState::kVerified, true, "]A7"},
    };
    for (const auto& c : cases) {
        Symbol s = At("AB", 50, 50);
        s.check = c.check;
        s.fullAscii = c.fullAscii;
        EXPECT_EQ(scan39::reader::AimIdentifier(s), c.aim);
        EXPECT_NE(scan39::reader::SymbolJson(s).find(std::string(R"("aim":")") + c.aim + '"'),
                  std::string::npos)
            << c.aim;
    }
}

TEST(RecordJson, NumbersAtAnyMagnitude) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        int decimals;
        std::string json;
    } cases[] = {
        // The ordinary range, as it has always been written.
        {0, 2, "0"},
        {-0.001, 2, "0"},
        {-0.0, 2, "0"},
        {-0.0, 0, "0"},
        {0.125, 2, "0.13"},
        {-1.25, 2, "-1.25"},
        {359.996, 2, "360"},
        {2.5, 0, "3"},
        {12.0, 3, "12"},
        // Too large to scale by 100 into a 64-bit integer.
        {1e19, 2, "10000000000000000000"},
        {9.3e16, 2, "93000000000000000"},
        {-9.3e16, 2, "-93000000000000000"},
        {0x1p64, 1, "18446744073709551616"},
        {0x1p51 + 0.5, 2, "2251799813685248.5"},
        {std::numeric_limits<double>::max(), 2,
         "17976931348623157081452742373170435679807056752584499659891747680315726078002853876058"
         "95586327668781715404589535143824642343213268894641827684675467035375169860499105765512"
         "82076245490090389328944075868508455133942304583236903222948165808559332123348274797826"
         "204144723168738177180919299881250404026184124858368"},
        {-inf, 2, "null"},
        {inf, 1, "null"},
        {std::numeric_limits<double>::quiet_NaN(), 2, "null"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(scan39::reader::JsonNumber(c.value, c.decimals), c.json) << c.value;
}

// The line of a scan along a box, as scan39 --json --box, --sample and the page's box write it.
TEST(BoxRecordJson, Lines) {
    using scan39::reader::BoxRecord;
    const struct {
        BoxRecord record;
        std::string json;
    } cases[] = {
        {{.file = "a.bmp", .result = 0, .value = "ABC"},
         R"({"file":"a.bmp","result":0,"value":"ABC"})"},
        {{.file = "a.bmp", .result = 1, .reason = "drag down"},
         R"({"file":"a.bmp","result":1,"value":null,"reason":"drag down"})"},
        {{.file = "\xff.bmp", .result = 1},
         "{\"file\":\"\xEF\xBF\xBD.bmp\",\"file_bytes\":\"/y5ibXA=\",\"result\":1,\"value\":null}"},
        {{.symbol = "2 \"X\"", .box = std::array{-4, 5, 600, 7}, .result = 0, .value = "X",
          .expected = "X"},
         R"({"symbol":"2 \"X\"","box":[-4,5,600,7],"result":0,"value":"X","expected":"X"})"},
        // The page's box: no name, and the value even of a failed scan.
        {{.result = 1, .value = ""}, R"({"result":1,"value":""})"},
    };
    for (const auto& c : cases) EXPECT_EQ(scan39::reader::BoxRecordJson(c.record), c.json);
}

}  // namespace
