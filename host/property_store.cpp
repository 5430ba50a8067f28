#include "scan39/host/property_store.h"

#include <QBuffer>
#include <cstring>

#include "scan39/host/errors.h"

namespace scan39::host {

// Byte form, all integers little-endian:
//   "S39P"  u16 version  u32 count  then `count` entries, nothing after them.
//   entry:  text key  u8 type  value
//   text:   u32 length in UTF-16 units, then the units (keeps NULs and any code unit)
//   value:  Empty: nothing; Int16: 2 bytes; Int32: 4; Float: 4 (IEEE); Double: 8; Text: text;
//           Object: u8 kind (0 none, 1 picture, 2 picture without pixels), for kind 1 a u32
//           length and the picture as PNG.

namespace {

constexpr char kMagic[4] = {'S', '3', '9', 'P'};
constexpr quint16 kVersion = 1;
constexpr qint64 kSmallestEntry = 4 + 1;  // empty key, Empty value

enum class ObjectKind : quint8 { None = 0, Picture = 1, BlankPicture = 2 };

// The type byte is the Variant type's number; saved data depends on these never moving.
static_assert(static_cast<int>(Variant::Type::Empty) == 0 &&
              static_cast<int>(Variant::Type::Int16) == 1 &&
              static_cast<int>(Variant::Type::Int32) == 2 &&
              static_cast<int>(Variant::Type::Float) == 3 &&
              static_cast<int>(Variant::Type::Double) == 4 &&
              static_cast<int>(Variant::Type::Text) == 5 &&
              static_cast<int>(Variant::Type::Object) == 6);

class Writer {
  public:
    void bytes(const void* p, qint64 n) { out_.append(static_cast<const char*>(p), n); }
    void u8(quint8 v) { little(v); }
    void u16(quint16 v) { little(v); }
    void u32(quint32 v) { little(v); }
    void u64(quint64 v) { little(v); }
    void text(const QString& s) {
        u32(static_cast<quint32>(s.size()));
        for (QChar c : s) u16(c.unicode());
    }
    QByteArray take() { return std::move(out_); }

  private:
    template <class T>
    void little(T v) {
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            out_.append(static_cast<char>(quint64{v} >> (8 * i) & 0xFF));
        }
    }

    QByteArray out_;
};

[[noreturn]] void Corrupt(const QString& why) {
    throw RuntimeError(kErrInvalidPropertyValue, QStringLiteral("属性数据无效：") + why);
}

class Reader {
  public:
    explicit Reader(const QByteArray& b)
        : p_(reinterpret_cast<const unsigned char*>(b.constData())), n_(b.size()) {}

    qint64 remaining() const { return n_ - pos_; }
    qint64 position() const { return pos_; }
    // `what` says which part of which entry is being read, for the error text.
    void need(qint64 count, const QString& what) const {
        if (count < 0 || count > remaining()) {
            Corrupt(QStringLiteral("%1被截断（第 %2 字节起需要 %3 字节，只剩 %4 字节）")
                        .arg(what, QString::number(pos_), QString::number(count),
                             QString::number(remaining())));
        }
    }
    quint8 u8(const QString& what) { return little<quint8>(what); }
    quint16 u16(const QString& what) { return little<quint16>(what); }
    quint32 u32(const QString& what) { return little<quint32>(what); }
    quint64 u64(const QString& what) { return little<quint64>(what); }
    QString text(const QString& what) {
        const quint32 length = u32(what);
        // The length is checked against the bytes left before anything is allocated.
        need(qint64{length} * 2, what);
        QString s(static_cast<qsizetype>(length), Qt::Uninitialized);
        for (quint32 i = 0; i < length; ++i) {
            s[i] = QChar(static_cast<char16_t>(p_[pos_] | (p_[pos_ + 1] << 8)));
            pos_ += 2;
        }
        return s;
    }
    QByteArray block(qint64 count, const QString& what) {
        need(count, what);
        QByteArray b(reinterpret_cast<const char*>(p_ + pos_), count);
        pos_ += count;
        return b;
    }
    bool startsWith(const char* sig, qint64 len) const {
        return remaining() >= len && std::memcmp(p_ + pos_, sig, static_cast<size_t>(len)) == 0;
    }
    void skip(qint64 count) { pos_ += count; }

  private:
    // Little-endian, as the writer lays numbers out.
    template <class T>
    T little(const QString& what) {
        need(sizeof(T), what);
        T v = 0;
        for (auto i = static_cast<qint64>(sizeof(T)) - 1; i >= 0; --i) {
            v = static_cast<T>((quint64{v} << 8) | p_[pos_ + i]);
        }
        pos_ += static_cast<qint64>(sizeof(T));
        return v;
    }

    const unsigned char* p_;
    qint64 n_;
    qint64 pos_ = 0;
};

template <class To, class From>
To BitCast(From from) {
    static_assert(sizeof(To) == sizeof(From));
    To to;
    std::memcpy(&to, &from, sizeof to);
    return to;
}

void WritePicture(Writer& w, const PictureRef& picture) {
    if (!picture) {
        w.u8(static_cast<quint8>(ObjectKind::None));
        return;
    }
    if (picture->image().isNull()) {
        w.u8(static_cast<quint8>(ObjectKind::BlankPicture));
        return;
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!picture->image().save(&buffer, "PNG")) {
        throw RuntimeError(kErrOutOfMemory, QStringLiteral("内存溢出：无法保存图片"));
    }
    w.u8(static_cast<quint8>(ObjectKind::Picture));
    w.u32(static_cast<quint32>(png.size()));
    w.bytes(png.constData(), png.size());
}

Variant ReadValue(Reader& r, quint8 tag, const QString& entry) {
    const QString valueWhat = entry + QStringLiteral("的值");
    switch (static_cast<Variant::Type>(tag)) {
        case Variant::Type::Empty:
            return Variant();
        case Variant::Type::Int16:
            return Variant::fromInt16(static_cast<std::int16_t>(r.u16(valueWhat)));
        case Variant::Type::Int32:
            return Variant::fromInt32(static_cast<std::int32_t>(r.u32(valueWhat)));
        case Variant::Type::Float:
            return Variant::fromFloat(BitCast<float>(r.u32(valueWhat)));
        case Variant::Type::Double:
            return Variant::fromDouble(BitCast<double>(r.u64(valueWhat)));
        case Variant::Type::Text:
            return Variant::fromText(r.text(valueWhat));
        case Variant::Type::Object:
            break;
    }
    const auto kind = static_cast<ObjectKind>(r.u8(valueWhat));
    switch (kind) {
        case ObjectKind::None:
            return Variant::fromPicture(nullptr);
        case ObjectKind::BlankPicture:
            return Variant::fromPicture(std::make_shared<const Picture>(QImage()));
        case ObjectKind::Picture:
            break;
        default:
            Corrupt(QStringLiteral("%1的对象种类 %2 未知")
                        .arg(entry, QString::number(static_cast<int>(kind))));
    }
    const quint32 length = r.u32(valueWhat);
    const QByteArray data = r.block(length, entry + QStringLiteral("的图片"));
    try {
        return Variant::fromPicture(LoadPictureFromData(data, entry + QStringLiteral("的图片")));
    } catch (const RuntimeError& e) {
        Corrupt(e.description());
    }
}

}  // namespace

Variant PropertyStore::read(const QString& key, const Variant& defaultValue) const {
    const auto it = values_.find(key);
    return it == values_.end() ? defaultValue : it->second;
}

namespace {

// Whether a value is its default and so is left out. Integers compare by value whatever their
// width, since a control writes its 32-bit fields against the 16-bit 0 default; every other
// type must match exactly, so a 32-bit float 0 keeps its type through a save.
bool IsDefault(const Variant& value, const Variant& defaultValue) {
    const auto integer = [](const Variant& v) {
        return v.type() == Variant::Type::Int16 || v.type() == Variant::Type::Int32;
    };
    if (integer(value) && integer(defaultValue)) return value.toInt32() == defaultValue.toInt32();
    return value == defaultValue;
}

}  // namespace

void PropertyStore::write(const QString& key, const Variant& value, const Variant& defaultValue) {
    if (IsDefault(value, defaultValue)) {
        values_.erase(key);
    } else {
        values_.insert_or_assign(key, value);
    }
}

QByteArray PropertyStore::toBytes() const {
    Writer w;
    w.bytes(kMagic, sizeof kMagic);
    w.u16(kVersion);
    w.u32(static_cast<quint32>(values_.size()));
    for (const auto& [key, value] : values_) {
        w.text(key);
        w.u8(static_cast<quint8>(value.type()));
        switch (value.type()) {
            case Variant::Type::Empty:
                break;
            case Variant::Type::Int16:
                w.u16(static_cast<quint16>(value.int16()));
                break;
            case Variant::Type::Int32:
                w.u32(static_cast<quint32>(value.int32()));
                break;
            case Variant::Type::Float:
                w.u32(BitCast<quint32>(value.single()));
                break;
            case Variant::Type::Double:
                w.u64(BitCast<quint64>(value.dbl()));
                break;
            case Variant::Type::Text:
                w.text(value.text());
                break;
            case Variant::Type::Object:
                WritePicture(w, value.picture());
                break;
        }
    }
    return w.take();
}

PropertyStore PropertyStore::fromBytes(const QByteArray& bytes) {
    Reader r(bytes);
    if (!r.startsWith(kMagic, sizeof kMagic)) {
        Corrupt(bytes.size() < qsizetype{sizeof kMagic}
                    ? QStringLiteral("数据太短（%1 字节），不是属性数据").arg(bytes.size())
                    : QStringLiteral("不是属性数据（开头标识不符）"));
    }
    r.skip(sizeof kMagic);
    const QString header = QStringLiteral("文件头");
    const quint16 version = r.u16(header);
    if (version != kVersion) Corrupt(QStringLiteral("不支持的版本 %1").arg(version));
    const quint32 count = r.u32(header);
    if (qint64{count} * kSmallestEntry > r.remaining()) {
        Corrupt(QStringLiteral("声明了 %1 项，但只剩 %2 字节").arg(count).arg(r.remaining()));
    }

    PropertyStore store;
    for (quint32 i = 1; i <= count; ++i) {
        const QString key = r.text(QStringLiteral("第 %1 项的键名").arg(i));
        const QString entry = QStringLiteral("第 %1 项“%2”").arg(QString::number(i), key);
        const quint8 tag = r.u8(entry + QStringLiteral("的类型"));
        if (tag > static_cast<quint8>(Variant::Type::Object)) {
            Corrupt(QStringLiteral("%1的类型标记 %2 未知").arg(entry, QString::number(tag)));
        }
        Variant value = ReadValue(r, tag, entry);
        if (!store.values_.emplace(key, std::move(value)).second) {
            Corrupt(QStringLiteral("%1：键名重复").arg(entry));
        }
    }
    if (r.remaining() != 0) {
        Corrupt(QStringLiteral("%1 项之后多出 %2 字节").arg(count).arg(r.remaining()));
    }
    return store;
}

}  // namespace scan39::host
