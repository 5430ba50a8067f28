#include "scan39/read_options_names.h"

namespace scan39::reader {

namespace {

// Names and values side by side, in the order of the name lists.
constexpr std::array<Effort, kEffortNames.size()> kEfforts = {Effort::kFast, Effort::kThorough};
constexpr std::array<Polarity, kPolarityNames.size()> kPolarities = {
    Polarity::kDarkBars, Polarity::kLightBars, Polarity::kBoth};

template <typename Value, std::size_t N>
std::optional<Value> Find(const std::array<std::string_view, N>& names,
                          const std::array<Value, N>& values, std::string_view name) {
    for (std::size_t i = 0; i < N; ++i)
        if (names[i] == name) return values[i];
    return std::nullopt;
}

template <typename Value, std::size_t N>
std::string_view NameOf(const std::array<std::string_view, N>& names,
                        const std::array<Value, N>& values, Value value) {
    for (std::size_t i = 0; i < N; ++i)
        if (values[i] == value) return names[i];
    return {};
}

std::string Refusal(std::string_view option, std::span<const std::string_view> names,
                    std::string_view given) {
    std::string text(option);
    text += " must be ";
    text += NameList(names, "\"");
    text += ", not \"";
    text += given;
    text += '"';
    return text;
}

}  // namespace

std::optional<Effort> ParseEffort(std::string_view name) {
    return Find(kEffortNames, kEfforts, name);
}

std::optional<Polarity> ParsePolarity(std::string_view name) {
    return Find(kPolarityNames, kPolarities, name);
}

std::string_view EffortName(Effort effort) {
    return NameOf(kEffortNames, kEfforts, effort);
}

std::string_view PolarityName(Polarity polarity) {
    return NameOf(kPolarityNames, kPolarities, polarity);
}

std::string NameList(std::span<const std::string_view> names, std::string_view quote,
                     std::string_view separator, std::string_view conjunction) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? conjunction : separator;
        text += quote;
        text += names[i];
        text += quote;
    }
    return text;
}

NamedOptions ReadOptionsFromNames(bool checkCharacter, bool fullAscii, std::string_view effort,
                                  std::string_view polarity) {
    ReadOptions o;
    o.checkCharacter = checkCharacter ? CheckCharacter::kRequired : CheckCharacter::kOff;
    o.fullAscii = fullAscii;
    const auto e = ParseEffort(effort);
    if (!e) return {std::nullopt, Refusal("effort", kEffortNames, effort)};
    o.effort = *e;
    const auto p = ParsePolarity(polarity);
    if (!p) return {std::nullopt, Refusal("polarity", kPolarityNames, polarity)};
    o.polarity = *p;
    return {o, {}};
}

}  // namespace scan39::reader
