#include "scan39/json_text.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace scan39::reader {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed UTF-8 sequence at s[i], or 0 with `bad` set to how many bytes
// make its maximal ill-formed part (at least 1).
std::size_t Utf8Length(std::string_view s, std::size_t i, std::size_t& bad) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = at(i);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) low = 0xA0;   // no overlong forms
        if (c == 0xED) high = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    }
    bad = 1;
    if (length == 0) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if (i + k >= s.size()) return 0;
        const unsigned char b = at(i + k);
        if (k == 1 ? b < low || b > high : b < 0x80 || b > 0xBF) return 0;
        bad = k + 1;
    }
    return length;
}

std::string Base64(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t n = 0;
        const std::size_t k = std::min<std::size_t>(3, bytes.size() - i);
        for (std::size_t j = 0; j < 3; ++j)
            n = n << 8 | (j < k ? static_cast<unsigned char>(bytes[i + j]) : 0u);
        for (std::size_t j = 0; j < 4; ++j) out += j <= k ? kDigits[(n >> (18 - 6 * j)) & 63] : '=';
    }
    return out;
}

}  // namespace

std::string JsonString(std::string_view s) {
    std::string j = "\"";
    j.reserve(s.size() + 2);
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80) {
            std::size_t bad = 1;
            const std::size_t length = Utf8Length(s, i, bad);
            j += length ? s.substr(i, length) : kReplacement;
            i += length ? length : bad;
            continue;
        }
        ++i;
        switch (c) {
            case '"':
                j += "\\\"";
                break;
            case '\\':
                j += "\\\\";
                break;
            case '\b':
                j += "\\b";
                break;
            case '\f':
                j += "\\f";
                break;
            case '\n':
                j += "\\n";
                break;
            case '\r':
                j += "\\r";
                break;
            case '\t':
                j += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    static constexpr char kHex[] = "0123456789abcdef";
                    j += "\\u00";
                    j += kHex[c >> 4];
                    j += kHex[c & 15];
                } else {
                    j += static_cast<char>(c);
                }
        }
    }
    return j + '"';
}

std::string JsonFileMembers(std::string_view name) {
    std::string j = "\"file\":" + JsonString(name);
    for (std::size_t i = 0; i < name.size();) {
        std::size_t bad = 1;
        const std::size_t length =
            static_cast<unsigned char>(name[i]) < 0x80 ? 1 : Utf8Length(name, i, bad);
        if (length == 0) return j + ",\"file_bytes\":\"" + Base64(name) + '"';
        i += length;
    }
    return j;
}

namespace {

// The exact decimal digits of a whole number of any double's size (up to 2^1024): beyond
// 2^64 it is its 53-bit mantissa doubled, in base 10^9 limbs.
std::string WholeDigits(double whole) {
    if (whole < 0x1p64) return std::to_string(static_cast<unsigned long long>(whole));
    int exponent = 0;
    const double mantissa = std::frexp(whole, &exponent);  // whole = mantissa * 2^exponent
    auto bits = static_cast<std::uint64_t>(std::ldexp(mantissa, 53));
    exponent -= 53;
    std::vector<std::uint32_t> limbs;  // least significant first
    for (; bits; bits /= 1000000000) limbs.push_back(static_cast<std::uint32_t>(bits % 1000000000));
    for (; exponent > 0; --exponent) {
        std::uint32_t carry = 0;
        for (std::uint32_t& limb : limbs) {
            const std::uint64_t n = std::uint64_t{limb} * 2 + carry;
            limb = static_cast<std::uint32_t>(n % 1000000000);
            carry = static_cast<std::uint32_t>(n / 1000000000);
        }
        if (carry) limbs.push_back(carry);
    }
    std::string s = std::to_string(limbs.back());
    for (std::size_t i = limbs.size() - 1; i-- > 0;) {
        const std::string part = std::to_string(limbs[i]);
        s.append(9 - part.size(), '0');
        s += part;
    }
    return s;
}

}  // namespace

// Not printf's %f: that follows the process's locale (a decimal comma), and not every
// standard library has floating-point std::to_chars.
std::string JsonNumber(double v, int decimals) {
    if (!std::isfinite(v)) return "null";
    decimals = std::clamp(decimals, 0, 17);
    long long scale = 1;
    for (int i = 0; i < decimals; ++i) scale *= 10;
    std::string whole, fraction;
    const double magnitude = std::abs(v);
    if (magnitude * static_cast<double>(scale) < 0x1p53) {
        // The ordinary range: one rounding of the scaled value, as always written.
        const long long n = std::llround(magnitude * static_cast<double>(scale));
        whole = std::to_string(n / scale);
        fraction = decimals > 0 ? std::to_string(n % scale) : std::string();
    } else {
        // Too large to scale into an integer: the whole part exactly, the fraction (if the
        // double has one at this size) rounded alone.
        double integral = std::floor(magnitude);
        long long n = std::llround((magnitude - integral) * static_cast<double>(scale));
        if (n == scale) {
            integral += 1;  // exact: a double with a fraction here is below 2^53
            n = 0;
        }
        whole = WholeDigits(integral);
        fraction = decimals > 0 ? std::to_string(n) : std::string();
    }
    fraction.insert(0, static_cast<std::size_t>(decimals) - fraction.size(), '0');
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    const bool zero = whole == "0" && fraction.empty();
    std::string s = (v < 0 && !zero ? "-" : "") + whole;
    if (!fraction.empty()) s += "." + fraction;
    return s;
}

}  // namespace scan39::reader
