#include "layout_p.h"

#include <array>

namespace scan39::samples::detail {
namespace {

// Texts of the sample picture. Two are fixed by the window's help text (1234567890 and
// BARCODE39 in band 2, ABCDEFG in band 3); the others only have to fit their band's size
// and character mix.
constexpr std::array<SymbolLayout, 8> kForm{{
    {{1, "BARCODE-SCANNER", 16, 235, 15, 59}, 1, 2, 2},
    {{1, "SYMBOLOGIES", 279, 446, 13, 51}, 1, 2, 2},
    {{2, "1234567890", 14, 168, 82, 121}, 1, 2, 2},
    {{2, "BARCODE39", 286, 427, 75, 117}, 1, 2, 2},
    // 7 and 8 pixel wide elements, as a scanned print would show them: the decoder only
    // asks for at least 1.95 times the narrowest run.
    {{3, "ABCDEFG", 13, 472, 136, 215}, 3, 8, 7},
    {{4, "ID/2024/05", 13, 539, 225, 323}, 3, 7, 7},
    {{5, "PARTNUMBER042", 23, 216, 334, 380}, 1, 2, 2},
    {{5, "SAMPLEIMAGE.BMP", 286, 505, 340, 378}, 1, 2, 2},
}};

constexpr SymbolLayout kControl{{0, "1234567", 8, 239, 6, 70}, 2, 4, 4};

}  // namespace

const SymbolLayout& ControlLayout() {
    return kControl;
}

std::span<const SymbolLayout> FormLayout() {
    return kForm;
}

}  // namespace scan39::samples::detail
