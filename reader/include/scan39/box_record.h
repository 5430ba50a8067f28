#pragma once
// The JSON line of a scan along a dragged box, written alike by scan39 --json --box (and
// --sample) and the browser page's box:
//
//   {"file":"a.bmp","result":0,"value":"ABC"}
//   {"file":"a.bmp","result":1,"value":null,"reason":"..."}
//   {"symbol":"1","box":[x1,y1,x2,y2],"result":0,"value":"ABC","expected":"ABC"}
//
// Members appear in that order, each only when set. Plain C++20, no Qt.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace scan39::reader {

struct BoxRecord {
    std::optional<std::string_view> file{};    // the name's exact bytes (JsonFileMembers)
    std::optional<std::string_view> symbol{};  // a label instead of a file
    std::optional<std::array<int, 4>> box{};   // X1, Y1, X2, Y2
    int result = 0;
    std::optional<std::string_view> value{};  // null when none
    std::optional<std::string_view> reason{};
    std::optional<std::string_view> expected{};
};

std::string BoxRecordJson(const BoxRecord& record);

}  // namespace scan39::reader
