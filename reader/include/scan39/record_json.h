#pragma once
// The one JSON form of what a picture gave, written alike by scan39 --json, the Python batch
// and the browser page: one record per picture (per page of a file of several), one line each.
//
//   {"file":"a.jpg","symbols":[{"text":"ABC","position":[[x,y],[x,y],[x,y],[x,y]],
//    "angle":0.5,"lines":12},...]}
//   {"file":"scan.pdf","page":2,"pages":3,"symbols":[]}
//   {"file":"b.png","error":"..."}
//
// Coordinates and angles carry at most 2 decimals (trailing zeros dropped, always a point);
// symbols come in the reader's reading order. Optional members: "file_bytes" (the name's exact
// bytes in base64 where they are not UTF-8), "truncated":true (the search was cut short), and
// per symbol "checked":true (a mod 43 check character matched and was stripped),
// "interpretation" (InterpretationJson) and "grade" (GradeJson), and "unread" (symbols located
// but not read, when grading: UnreadJson). Plain C++20, no Qt.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "scan39/json_text.h"
#include "scan39/reader.h"

namespace scan39::reader {

inline constexpr int kJsonDecimals = 2;

struct Record {
    // The name's exact bytes; none for a picture that is no file (a camera frame).
    std::optional<std::string_view> file{};
    int page = 0;   // from 1 in a file of several pages; 0 otherwise
    int pages = 0;  // with `page`: how many pages the file has
    // Why the picture (or page) could not be had, as UTF-8; the symbols are then ignored.
    std::optional<std::string_view> error{};
    std::span<const Symbol> symbols{};
    std::span<const std::string> grades{};  // "grade" objects, one per symbol, or none
    bool truncated = false;
    // Symbols located but not read (grading), each with its "grade" object: "unread":[...]
    // after "symbols", only where there are some.
    std::span<const UnreadSymbol> unread{};
    std::span<const std::string> unreadGrades{};
};

// The record as one line of valid UTF-8, without the line's end.
std::string RecordJson(const Record& record);

// One unread symbol's object, never to be taken for a read: {"text":null,"unread":true,
//  "position":[...],"angle":0,"lines":5,"characters":7,"failing":"decode"|"quiet_zones",
//  "grade":{...}} (no "grade" where `grade` is empty).
std::string UnreadJson(const UnreadSymbol& symbol, std::string_view grade = {});

// One symbol's object; `grade` is its "grade" object, or empty for none.
std::string SymbolJson(const Symbol& symbol, std::string_view grade = {});

}  // namespace scan39::reader
