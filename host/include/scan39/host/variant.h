#pragma once
// A tagged value that keeps its type when copied or saved.

#include <QString>
#include <cstdint>
#include <variant>

#include "scan39/host/picture.h"

namespace scan39::host {

class Variant {
  public:
    enum class Type { Empty, Int16, Int32, Float, Double, Text, Object };

    Variant() = default;
    static Variant fromInt16(std::int16_t v) { return Variant(v); }
    static Variant fromInt32(std::int32_t v) { return Variant(v); }
    static Variant fromFloat(float v) { return Variant(v); }
    static Variant fromDouble(double v) { return Variant(v); }
    static Variant fromText(QString v) { return Variant(std::move(v)); }
    // Object reference; a null PictureRef is "no object" (Nothing).
    static Variant fromPicture(PictureRef v) { return Variant(std::move(v)); }

    Type type() const { return static_cast<Type>(value_.index()); }
    bool isEmpty() const { return type() == Type::Empty; }

    std::int16_t int16() const { return std::get<std::int16_t>(value_); }
    std::int32_t int32() const { return std::get<std::int32_t>(value_); }
    float single() const { return std::get<float>(value_); }
    double dbl() const { return std::get<double>(value_); }
    const QString& text() const { return std::get<QString>(value_); }
    const PictureRef& picture() const { return std::get<PictureRef>(value_); }

    // Conversion to a 32-bit integer: fractions round half to even, a numeric text converts
    // as its number, Empty is 0. Throws RuntimeError 13 when not numeric (including an
    // object) and 6 when out of range.
    std::int32_t toInt32() const;
    // Conversion to text: numbers in their shortest decimal form, Empty as "". Throws 13 for
    // an object.
    QString toText() const;
    // Conversion to a picture: Empty or a null object gives no picture; any other type
    // throws 13.
    PictureRef toPicture() const;

    // Same type and same value (pictures: the same object). Used by the property store to
    // omit defaults; a 32-bit float 0 is therefore not equal to the 16-bit integer 0.
    bool operator==(const Variant& other) const;

  private:
    template <class T>
    explicit Variant(T v) : value_(std::move(v)) {}
    std::variant<std::monostate, std::int16_t, std::int32_t, float, double, QString, PictureRef>
        value_;
};

}  // namespace scan39::host
