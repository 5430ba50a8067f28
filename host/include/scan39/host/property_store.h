#pragma once
// The named property store through which a control saves and restores its properties.

#include <QByteArray>
#include <QString>
#include <map>

#include "scan39/host/variant.h"

namespace scan39::host {

class PropertyStore {
  public:
    // The stored value of `key`, or `defaultValue` when the key is absent.
    Variant read(const QString& key, const Variant& defaultValue) const;
    // Stores `value` under `key`, or removes the key when `value` equals `defaultValue`:
    // integers of either width by value, every other type only with the same type.
    void write(const QString& key, const Variant& value, const Variant& defaultValue);

    bool contains(const QString& key) const { return values_.count(key) != 0; }
    std::size_t size() const { return values_.size(); }
    const std::map<QString, Variant>& values() const { return values_; }

    // Byte form for saved instances: every value keeps its type, pictures included (as PNG).
    QByteArray toBytes() const;
    // Throws RuntimeError (kErrInvalidPropertyValue) with a clear description on corrupt or
    // truncated input; never crashes. Lengths are checked against the input before anything is
    // allocated; a stored picture is bounded like any loaded picture.
    static PropertyStore fromBytes(const QByteArray& bytes);

  private:
    std::map<QString, Variant> values_;
};

}  // namespace scan39::host
