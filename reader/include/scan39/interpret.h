#pragma once
// What a Code 39 text means where it follows a known scheme of the Code 39 family: the
// Italian pharmaceutical code (Code 32), the German pharmaceutical number (PZN) and the
// health industry's HIBC LIC. The text itself is never changed. Plain C++20, no Qt.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace scan39::reader {

struct Interpretation {
    std::string kind;  // "code32", "pzn" or "hibc"
    // False when the text claims the scheme (its form) but fails its check or structure;
    // then nothing else is filled in.
    bool valid = false;
    std::string value;  // code32: "A" and 9 digits; pzn: the 7 or 8 digits; hibc: the data
    // Named parts in order: pzn "version" ("7"/"8"); hibc "labeler", "product",
    // "unit_of_measure", and from the secondary data "quantity", "expiry", "lot", "serial",
    // "link", "supplemental" (what is left unparsed).
    std::vector<std::pair<std::string, std::string>> fields;
};

// The scheme `text` follows, if any. `checkStripped`: the reader verified and removed a mod 43
// check character (HIBC's own check) already.
//  - code32: six characters of 0-9 and the consonants B..Z, whose value in base 32 is nine
//    digits with a valid check digit. Any six such characters look alike, so a text whose
//    check digit fails is plain data, not a failed Code 32.
//  - pzn: "-" and 7 (PZN7) or 8 (PZN8) digits, with the mod 11 check digit.
//  - hibc: a leading "+" and the mod 43 check character.
std::optional<Interpretation> Interpret(std::string_view text, bool checkStripped = false);

// {"kind":"pzn","valid":true,"value":"01234562","version":"8"}: the fields as members; a
// failed one {"kind":"pzn","valid":false}.
std::string InterpretationJson(const Interpretation& interpretation);

}  // namespace scan39::reader
