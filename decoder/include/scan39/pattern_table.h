#pragma once
// The control's pattern table: the Code 39 character set as text cells, one row per
// character (character, element digits, check value as decimal text), built from
// kCode39Table.

#include <array>
#include <string>

#include "scan39/code39_table.h"

namespace scan39 {

inline constexpr int kPatternRows = 45;    // rows 0..43 filled, row 44 always empty
inline constexpr int kPatternColumns = 4;  // character, element string, check value, unused

enum PatternColumn : int { kCharacterColumn = 0, kElementsColumn = 1, kCheckValueColumn = 2 };

static_assert(kPatternRows > kFilledRows);

using PatternTable = std::array<std::array<std::string, kPatternColumns>, kPatternRows>;

// Writes rows 0..43, columns 0..2. Touches nothing else and clears nothing, so calling it
// again leaves the table as it was.
void BuildPatternTable(PatternTable& table);

}  // namespace scan39
