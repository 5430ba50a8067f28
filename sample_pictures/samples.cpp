#include "scan39/samples.h"

#include <array>
#include <cstddef>

#include "embedded_p.h"
#include "layout_p.h"

namespace scan39::samples {
namespace {

std::array<SampleSymbol, 8> CollectFormSymbols() {
    std::array<SampleSymbol, 8> symbols{};
    const auto layout = detail::FormLayout();
    for (std::size_t i = 0; i < symbols.size() && i < layout.size(); ++i) {
        symbols[i] = layout[i].where;
    }
    return symbols;
}

}  // namespace

std::span<const unsigned char> ControlDefaultPicture() {
    return {detail::kControlDefaultBmp, detail::kControlDefaultBmpSize};
}

std::span<const unsigned char> FormSamplePicture() {
    return {detail::kFormSampleBmp, detail::kFormSampleBmpSize};
}

std::span<const SampleSymbol> FormSampleSymbols() {
    static const std::array<SampleSymbol, 8> symbols = CollectFormSymbols();
    return symbols;
}

SampleSymbol ControlDefaultSymbol() {
    return detail::ControlLayout().where;
}

}  // namespace scan39::samples
