#pragma once
// The Code 39 character set in element-digit notation: "5" narrow bar, "6" wide bar,
// "0" narrow space, "1" wide space.

#include <array>
#include <string>

namespace scan39 {

inline constexpr int kPatternRows = 45;    // rows 0..43 filled, row 44 always empty
inline constexpr int kPatternColumns = 4;  // character, element string, check value, unused
inline constexpr int kStartStopRow = 39;   // "*"
inline constexpr int kFilledRows = 44;

enum PatternColumn : int { kCharacterColumn = 0, kElementsColumn = 1, kCheckValueColumn = 2 };

using PatternTable = std::array<std::array<std::string, kPatternColumns>, kPatternRows>;

// Writes rows 0..43, columns 0..2. Touches nothing else and clears nothing, so calling it
// again leaves the table as it was.
void BuildPatternTable(PatternTable& table);

}  // namespace scan39
