#include "scan39/host/variant.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "scan39/host/errors.h"

namespace scan39::host {

namespace {

// Nearest integer, ties to the even one. Written out rather than relying on the current
// floating-point rounding mode.
double RoundHalfEven(double x) {
    const double lower = std::floor(x);
    const double diff = x - lower;
    if (diff < 0.5) return lower;
    if (diff > 0.5) return lower + 1.0;
    return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

std::int32_t DoubleToInt32(double x) {
    if (!std::isfinite(x)) throw RuntimeError(kErrOverflow);
    const double r = RoundHalfEven(x);
    if (r < -2147483648.0 || r > 2147483647.0) throw RuntimeError(kErrOverflow);
    return static_cast<std::int32_t>(r);
}

bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t';
}
bool IsDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// A number written as text: optional blanks, sign, digits with an optional decimal point,
// an optional exponent, optional blanks. Anything else is a type mismatch.
std::int32_t TextToInt32(const QString& text) {
    qsizetype i = 0;
    qsizetype end = text.size();
    while (i < end && IsBlank(text[i])) ++i;
    while (end > i && IsBlank(text[end - 1])) --end;

    std::string ascii;
    bool negative = false;
    if (i < end && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // Magnitude of the first significant digit, as a power of ten, so that absurd exponents
    // are judged before any conversion can overflow or underflow.
    long long magnitude = 0;
    bool seenSignificant = false;
    bool seenPoint = false;
    int mantissaDigits = 0;
    for (; i < end; ++i) {
        const QChar c = text[i];
        if (IsDigit(c)) {
            ++mantissaDigits;
            if (c != u'0' && !seenSignificant) seenSignificant = true;
            if (seenSignificant && !seenPoint) ++magnitude;
            if (!seenSignificant && seenPoint) --magnitude;
            ascii.push_back(static_cast<char>(c.unicode()));
        } else if (c == u'.' && !seenPoint) {
            seenPoint = true;
            ascii.push_back('.');
        } else {
            break;
        }
    }
    if (mantissaDigits == 0) throw RuntimeError(kErrTypeMismatch);

    long long exponent = 0;
    if (i < end && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < end && (text[i] == u'+' || text[i] == u'-')) {
            negativeExponent = text[i] == u'-';
            ++i;
        }
        int exponentDigits = 0;
        for (; i < end && IsDigit(text[i]); ++i) {
            ++exponentDigits;
            if (exponent < 1000000) exponent = exponent * 10 + (text[i].unicode() - u'0');
        }
        if (exponentDigits == 0) throw RuntimeError(kErrTypeMismatch);
        if (negativeExponent) exponent = -exponent;
    }
    if (i != end) throw RuntimeError(kErrTypeMismatch);
    if (!seenSignificant) return 0;

    // magnitude counts the integer digits from the first significant one, or minus the zeros
    // between the point and the first significant digit; either way the leading power of ten
    // is magnitude - 1.
    const long long power = magnitude - 1 + exponent;
    if (power >= 10) throw RuntimeError(kErrOverflow);  // at least 1e10
    if (power < -2) return 0;                           // below 0.01: rounds to 0

    ascii += 'e';
    ascii += std::to_string(exponent);
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (ec != std::errc() || ptr != ascii.data() + ascii.size()) {
        throw RuntimeError(kErrTypeMismatch);
    }
    return DoubleToInt32(negative ? -value : value);
}

template <class T>
QString ShortestText(T value) {
    if (value == 0) return QStringLiteral("0");  // no "-0"
    char buffer[64];
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc()) return QString();
    QString text = QString::fromLatin1(buffer, ptr - buffer);
    text.replace(u'e', u'E');
    return text;
}

template <class T>
bool SameBits(T a, T b) {
    if (std::isnan(a) && std::isnan(b)) return true;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

std::int32_t Variant::toInt32() const {
    switch (type()) {
        case Type::Empty:
            return 0;
        case Type::Int16:
            return int16();
        case Type::Int32:
            return int32();
        case Type::Float:
            return DoubleToInt32(single());
        case Type::Double:
            return DoubleToInt32(dbl());
        case Type::Text:
            return TextToInt32(text());
        case Type::Object:
            break;
    }
    throw RuntimeError(kErrTypeMismatch);
}

QString Variant::toText() const {
    switch (type()) {
        case Type::Empty:
            return QString();
        case Type::Int16:
            return QString::number(int16());
        case Type::Int32:
            return QString::number(int32());
        case Type::Float:
            return ShortestText(single());
        case Type::Double:
            return ShortestText(dbl());
        case Type::Text:
            return text();
        case Type::Object:
            break;
    }
    throw RuntimeError(kErrTypeMismatch);
}

PictureRef Variant::toPicture() const {
    switch (type()) {
        case Type::Empty:
            return nullptr;
        case Type::Object:
            return picture();
        default:
            throw RuntimeError(kErrTypeMismatch);
    }
}

bool Variant::operator==(const Variant& other) const {
    if (type() != other.type()) return false;
    switch (type()) {
        case Type::Empty:
            return true;
        case Type::Int16:
            return int16() == other.int16();
        case Type::Int32:
            return int32() == other.int32();
        case Type::Float:
            // Bitwise, so that -0 is kept apart from 0 and a NaN equals itself.
            return SameBits(single(), other.single());
        case Type::Double:
            return SameBits(dbl(), other.dbl());
        case Type::Text:
            return text() == other.text();
        case Type::Object:
            return picture() == other.picture();
    }
    return false;
}

}  // namespace scan39::host
