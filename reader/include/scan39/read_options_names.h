#pragma once
// The names every face (command line, Python, the browser page) gives the reader's options,
// so that "fast", "dark" and the rest mean the same everywhere and each face's messages list
// the same accepted names. Exact, lower-case names: "Fast" is not one. Plain C++20, no Qt.

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "scan39/reader.h"

namespace scan39::reader {

// In the order messages and help list them.
inline constexpr std::array<std::string_view, 2> kEffortNames = {"fast", "thorough"};
inline constexpr std::array<std::string_view, 3> kPolarityNames = {"dark", "light", "both"};

std::optional<Effort> ParseEffort(std::string_view name);
std::optional<Polarity> ParsePolarity(std::string_view name);

std::string_view EffortName(Effort effort);
std::string_view PolarityName(Polarity polarity);

// The accepted names for a message: `quote` around each, `separator` between them and
// `conjunction` before the last: quote "\"" gives "\"dark\", \"light\" or \"both\"".
std::string NameList(std::span<const std::string_view> names, std::string_view quote = {},
                     std::string_view separator = ", ", std::string_view conjunction = " or ");

// Options from names, as the faces take them: the error names the option and every accepted
// name ("effort must be \"fast\" or \"thorough\", not \"Fast\"").
struct NamedOptions {
    std::optional<ReadOptions> options;
    std::string error;  // when there are no options
};
NamedOptions ReadOptionsFromNames(bool checkCharacter, bool fullAscii, std::string_view effort,
                                  std::string_view polarity);

}  // namespace scan39::reader
