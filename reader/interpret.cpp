#include "scan39/interpret.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "code39_p.h"
#include "scan39/json_text.h"

namespace scan39::reader {
namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

bool Digits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}
bool Alnum(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'); });
}
int Number(std::string_view s) {
    int v = 0;
    for (char c : s) v = v * 10 + (c - '0');
    return v;
}

// Code 32's base-32 digits: no vowels, so that no word can form.
constexpr std::string_view kBase32 = "0123456789BCDFGHJKLMNPQRSTUVWXYZ";

std::optional<Interpretation> Code32(std::string_view text) {
    if (text.size() != 6) return std::nullopt;
    long long n = 0;
    for (char c : text) {
        const auto d = kBase32.find(c);
        if (d == std::string_view::npos) return std::nullopt;
        n = n * 32 + static_cast<long long>(d);
    }
    if (n > 999999999) return std::nullopt;
    std::array<char, 24> digits{};
    std::snprintf(digits.data(), digits.size(), "%09lld", n);
    // Digits in odd places count once, in even places twice with the digits of the double
    // added.
    int sum = 0;
    for (int i = 0; i < 8; ++i) {
        const int d = digits[i] - '0';
        sum += i % 2 == 0 ? d : (2 * d) / 10 + (2 * d) % 10;
    }
    if (sum % 10 != digits[8] - '0') return std::nullopt;
    return Interpretation{"code32", true, "A" + std::string(digits.data(), 9), {}};
}

std::optional<Interpretation> Pzn(std::string_view text) {
    if (text.empty() || text[0] != '-') return std::nullopt;
    const std::string_view d = text.substr(1);
    if (!Digits(d) || (d.size() != 7 && d.size() != 8)) return std::nullopt;
    // PZN8 weighs its digits 1..7, PZN7 2..7; a remainder of 10 is never issued.
    const int first = d.size() == 8 ? 1 : 2;
    int sum = 0;
    for (std::size_t i = 0; i + 1 < d.size(); ++i)
        sum += (d[i] - '0') * (first + static_cast<int>(i));
    Interpretation r{"pzn", false, {}, {}};
    if (sum % 11 == 10 || sum % 11 != d.back() - '0') return r;
    r.valid = true;
    r.value = d;
    r.fields = {{"version", d.size() == 8 ? "8" : "7"}};
    return r;
}

// Dates in the secondary data: "YYYY-MM", "YYYY-MM-DD", with the hour "YYYY-MM-DDTHH";
// empty when the digits are no date.
std::string Date(int year, int month, int day, int hour) {
    if (month < 1 || month > 12 || day < 0 || day > 31 || hour > 23) return {};
    std::array<char, 32> b{};
    if (day == 0)
        std::snprintf(b.data(), b.size(), "%04d-%02d", 2000 + year, month);
    else if (hour < 0)
        std::snprintf(b.data(), b.size(), "%04d-%02d-%02d", 2000 + year, month, day);
    else
        std::snprintf(b.data(), b.size(), "%04d-%02d-%02dT%02d", 2000 + year, month, day, hour);
    return b.data();
}

std::string Julian(int year, int dayOfYear, int hour) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (2000 + year) % 4 == 0;
    if (dayOfYear < 1 || dayOfYear > (leap ? 366 : 365)) return {};
    int month = 0;
    for (; month < 12; ++month) {
        const int days = kDays[month] + (month == 1 && leap);
        if (dayOfYear <= days) break;
        dayOfYear -= days;
    }
    return Date(year, month + 1, dayOfYear, hour);
}

// The date after a "$$" flag: the flag digit decides the form. Returns the digits used (0 for
// none), -1 when they are no date.
int ExpiryDate(std::string_view s, Fields& fields) {
    if (s.empty()) return -1;
    const char flag = s[0];
    std::string date;
    int used = 0;
    auto take = [&](int n) { return static_cast<int>(s.size()) >= n && Digits(s.substr(0, n)); };
    const auto at = [&](int from, int n) { return Number(s.substr(from, n)); };
    if (flag == '0' || flag == '1') {  // MMYY, the flag is the month's first digit
        if (!take(4)) return -1;
        date = Date(at(2, 2), at(0, 2), 0, -1), used = 4;
    } else if (flag == '7') {  // no date
        return 1;
    } else {
        const int n = flag == '2' || flag == '3' ? 7
                      : flag == '4'              ? 9
                      : flag == '5'              ? 6
                      : flag == '6'              ? 8
                                                 : -1;
        if (n < 0 || !take(n)) return -1;
        if (flag == '2') date = Date(at(5, 2), at(1, 2), at(3, 2), -1);  // MMDDYY
        if (flag == '3') date = Date(at(1, 2), at(3, 2), at(5, 2), -1);  // YYMMDD
        if (flag == '4') date = Date(at(1, 2), at(3, 2), at(5, 2), at(7, 2));
        if (flag == '5') date = Julian(at(1, 2), at(3, 3), -1);  // YYJJJ
        if (flag == '6') date = Julian(at(1, 2), at(3, 3), at(6, 2));
        used = n;
    }
    if (date.empty()) return -1;
    fields.emplace_back("expiry", date);
    return used;
}

// HIBC secondary data (after "+" or the primary's "/"): quantity, expiry, lot or serial.
// `standalone`: a symbol of its own, whose last character links it to its primary symbol.
bool Secondary(std::string_view s, bool standalone, Fields& fields) {
    std::string_view supplemental;
    if (const auto slash = s.find('/'); slash != std::string_view::npos) {
        supplemental = s.substr(slash + 1);
        s = s.substr(0, slash);
    }
    std::string link;
    if (standalone) {
        if (s.empty()) return false;
        link = s.back();
        s.remove_suffix(1);
    }
    std::string_view name = "lot";
    if (s.size() >= 5 && Digits(s.substr(0, 5))) {  // YYJJJ and a lot
        const std::string date = Julian(Number(s.substr(0, 2)), Number(s.substr(2, 3)), -1);
        if (date.empty()) return false;
        fields.emplace_back("expiry", date);
        s.remove_prefix(5);
    } else if (s.starts_with("$$")) {
        s.remove_prefix(2);
        if (s.starts_with("+")) name = "serial", s.remove_prefix(1);
        if (name == "lot" && (s.starts_with("8") || s.starts_with("9"))) {
            const std::size_t n = s[0] == '8' ? 2 : 5;
            if (s.size() < n + 1 || !Digits(s.substr(1, n))) return false;
            fields.emplace_back("quantity", std::to_string(Number(s.substr(1, n))));
            s.remove_prefix(n + 1);
        }
        const int used = ExpiryDate(s, fields);
        if (used < 0) return false;
        s.remove_prefix(static_cast<std::size_t>(used));
    } else if (s.starts_with("$+")) {
        name = "serial", s.remove_prefix(2);
    } else if (s.starts_with("$")) {
        s.remove_prefix(1);
    } else if (!s.empty() || standalone) {
        return false;
    }
    if (!s.empty()) fields.emplace_back(std::string(name), std::string(s));
    if (!link.empty()) fields.emplace_back("link", link);
    if (!supplemental.empty()) fields.emplace_back("supplemental", std::string(supplemental));
    return true;
}

std::optional<Interpretation> Hibc(std::string_view text, bool checkStripped) {
    if (text.empty() || text[0] != '+') return std::nullopt;
    Interpretation r{"hibc", false, {}, {}};
    std::string_view data = text.substr(1);
    if (!checkStripped) {
        if (data.size() < 2 || !detail::HasCheckCharacter(text)) return r;
        data.remove_suffix(1);
    }
    Fields fields;
    if (!data.empty() && data[0] >= 'A' && data[0] <= 'Z') {
        // Primary: labeler (4), product (1..18), unit of measure (a digit).
        const auto slash = data.find('/');
        const std::string_view primary = data.substr(0, slash);
        if (primary.size() < 6 || primary.size() > 23 || !Alnum(primary) ||
            !Digits(primary.substr(primary.size() - 1)))
            return r;
        fields = {{"labeler", std::string(primary.substr(0, 4))},
                  {"product", std::string(primary.substr(4, primary.size() - 5))},
                  {"unit_of_measure", std::string(primary.substr(primary.size() - 1))}};
        if (slash != std::string_view::npos && !Secondary(data.substr(slash + 1), false, fields))
            return r;
    } else if (!Secondary(data, true, fields)) {
        return r;
    }
    r.valid = true;
    r.value = data;
    r.fields = std::move(fields);
    return r;
}

}  // namespace

std::optional<Interpretation> Interpret(std::string_view text, bool checkStripped) {
    if (auto r = Hibc(text, checkStripped)) return r;
    if (auto r = Pzn(text)) return r;
    return Code32(text);
}

std::string InterpretationJson(const Interpretation& i) {
    std::string j = "{\"kind\":";
    j += JsonString(i.kind);
    j += i.valid ? ",\"valid\":true" : ",\"valid\":false";
    if (i.valid) {
        j += ",\"value\":";
        j += JsonString(i.value);
        for (const auto& [name, value] : i.fields) {
            j += ',';
            j += JsonString(name);
            j += ':';
            j += JsonString(value);
        }
    }
    j += '}';
    return j;
}

}  // namespace scan39::reader
