#include "scan39/pattern_table.h"

namespace scan39 {

void BuildPatternTable(PatternTable& table) {
    for (int r = 0; r < kFilledRows; ++r) {
        const Code39Character& row = kCode39Table[r];
        table[r][kCharacterColumn] = std::string(1, row.character);
        table[r][kElementsColumn] = row.elements;
        table[r][kCheckValueColumn] = std::to_string(row.checkValue);
    }
}

}  // namespace scan39
