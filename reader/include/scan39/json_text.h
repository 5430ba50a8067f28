#pragma once
// The JSON text pieces that every writer of JSON here shares: string literals that are always
// valid UTF-8, file names by their exact bytes, and numbers that ignore the locale. Plain C++20.

#include <string>
#include <string_view>

namespace scan39::reader {

// A JSON string literal, quotes included. Bytes that are not UTF-8 become U+FFFD, each
// maximal ill-formed sequence once, so the result is always valid UTF-8.
std::string JsonString(std::string_view utf8);

// "file":... naming a file by its exact bytes, and ,"file_bytes":... (base64) when they are
// not valid UTF-8: the text alone would not tell such names apart.
std::string JsonFileMembers(std::string_view name);

// `value` with at most `decimals` decimals, trailing zeros dropped, a point whatever the
// locale, right at any magnitude (a whole number beyond 2^53 in all its digits); not-finite
// values as null.
std::string JsonNumber(double value, int decimals);

}  // namespace scan39::reader
