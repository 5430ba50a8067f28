// Saved property bytes from an untrusted form file: they load or fail with a run-time error.
// What loads must survive a save and a second load unchanged, and its saved form must be
// stable.
//
// With SCAN39_FUZZ_SEEDS=<dir> in the environment the target writes its seed corpus there
// and exits instead.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "fuzz_gui_p.h"
#include "fuzz_support_p.h"
#include "scan39/host/errors.h"
#include "scan39/host/picture.h"
#include "scan39/host/property_store.h"
#include "scan39/host/variant.h"

namespace {

using scan39::fuzz::Fail;

using scan39::host::Picture;
using scan39::host::PropertyStore;
using scan39::host::Variant;

// Same type and the same value; floating point by its bits (NaN payloads and -0 included),
// pictures by their pixels since a load makes a new object.
bool SameValue(const Variant& a, const Variant& b) {
    if (a.type() != b.type()) return false;
    switch (a.type()) {
        case Variant::Type::Empty:
            return true;
        case Variant::Type::Int16:
            return a.int16() == b.int16();
        case Variant::Type::Int32:
            return a.int32() == b.int32();
        case Variant::Type::Float: {
            const float x = a.single();
            const float y = b.single();
            return std::memcmp(&x, &y, sizeof x) == 0;
        }
        case Variant::Type::Double: {
            const double x = a.dbl();
            const double y = b.dbl();
            return std::memcmp(&x, &y, sizeof x) == 0;
        }
        case Variant::Type::Text:
            return a.text() == b.text();
        case Variant::Type::Object:
            if (!a.picture() || !b.picture()) return !a.picture() && !b.picture();
            return a.picture()->image() == b.picture()->image();
    }
    return false;
}

bool HoldsPixels(const PropertyStore& store) {
    for (const auto& [key, value] : store.values()) {
        if (value.type() == Variant::Type::Object && value.picture() &&
            !value.picture()->image().isNull()) {
            return true;
        }
    }
    return false;
}

void WriteSeeds(const std::filesystem::path& dir) {
    QImage image(6, 3, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 0; y < 3; ++y) image.setPixel(2, y, qRgb(0, 0, 0));
    const auto picture = std::make_shared<const Picture>(image);

    // The control's own properties with their usual types, then one of every kind.
    PropertyStore control;
    control.write(QStringLiteral("Picture"), Variant::fromPicture(picture), Variant());
    control.write(QStringLiteral("xa"), Variant::fromInt32(150), Variant::fromInt16(0));
    control.write(QStringLiteral("xb"), Variant::fromInt32(3600), Variant::fromInt16(0));
    control.write(QStringLiteral("ya"), Variant::fromInt32(-45), Variant::fromInt16(0));
    control.write(QStringLiteral("yb"), Variant::fromFloat(1234.5F), Variant::fromInt16(0));
    control.write(QStringLiteral("Value"), Variant::fromText(QStringLiteral("1234567")),
                  Variant::fromText(QString()));

    PropertyStore kinds;
    kinds.write(QStringLiteral("e"), Variant(), Variant::fromInt16(1));
    kinds.write(QStringLiteral("i16"), Variant::fromInt16(-2), Variant());
    kinds.write(QStringLiteral("i32"), Variant::fromInt32(std::numeric_limits<std::int32_t>::min()),
                Variant());
    kinds.write(QStringLiteral("f"), Variant::fromFloat(-0.0F), Variant());
    kinds.write(QStringLiteral("d"), Variant::fromDouble(std::numeric_limits<double>::quiet_NaN()),
                Variant());
    kinds.write(QStringLiteral("t"), Variant::fromText(QString::fromUtf16(u"错误\0\xD800x", 5)),
                Variant());
    kinds.write(QStringLiteral("none"), Variant::fromPicture(nullptr), Variant());
    kinds.write(QStringLiteral("blank"),
                Variant::fromPicture(std::make_shared<const Picture>(QImage())), Variant());

    const std::vector<std::pair<const char*, QByteArray>> seeds = {
        {"empty.s39p", PropertyStore().toBytes()},
        {"control.s39p", control.toBytes()},
        {"kinds.s39p", kinds.toBytes()},
    };
    for (const auto& [name, bytes] : seeds) scan39::fuzz::WriteSeed(dir, name, bytes);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scan39::fuzz::StartOffscreenGui();
    scan39::fuzz::WriteSeedsIfAsked(WriteSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    PropertyStore first;
    try {
        first = PropertyStore::fromBytes(bytes);
    } catch (const scan39::host::RuntimeError& e) {
        if (e.number() != scan39::host::kErrInvalidPropertyValue) Fail("wrong error number");
        if (e.description().isEmpty()) Fail("a run-time error without a description");
        return 0;
    }

    const QByteArray saved = first.toBytes();
    // Without pixels every value is saved exactly as it was read, so the saved form has the
    // input's length (the order of the entries may differ).
    if (!HoldsPixels(first) && saved.size() != bytes.size()) {
        Fail("the saved form differs in length from what was loaded");
    }
    PropertyStore second;
    try {
        second = PropertyStore::fromBytes(saved);
    } catch (const scan39::host::RuntimeError&) {
        Fail("a loaded store does not load again after saving");
    }
    if (first.size() != second.size()) Fail("the number of values changed");
    auto a = first.values().begin();
    auto b = second.values().begin();
    for (; a != first.values().end(); ++a, ++b) {
        if (a->first != b->first) Fail("a key changed");
        if (!SameValue(a->second, b->second)) Fail("a value changed");
    }
    if (second.toBytes() != saved) Fail("saving twice gives different bytes");
    return 0;
}
