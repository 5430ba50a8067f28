#include "scan39/host/picture_error.h"

#include <cstring>

#include "scan39/host/picture.h"

namespace scan39::host {

QString SystemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

namespace {

QString English(PictureFault fault, const PictureFacts& f) {
    switch (fault) {
        case PictureFault::NoName:
            return QStringLiteral("no file name given");
        case PictureFault::NulInName:
            return QStringLiteral("the file name holds a NUL byte");
        case PictureFault::FileNotFound:
            return QStringLiteral("file not found");
        case PictureFault::PathNotFound:
            return QStringLiteral("path not found (a part of it is not a folder)");
        case PictureFault::NoPermission:
            return QStringLiteral("no permission to read it (or to search its folder)");
        case PictureFault::CannotOpen:
            return QStringLiteral("cannot be opened (%1)").arg(SystemReason(f.systemError));
        case PictureFault::NotOrdinaryFile:
            return QStringLiteral("not an ordinary file");
        case PictureFault::CannotRead:
            return QStringLiteral("cannot be read (%1)").arg(SystemReason(f.systemError));
        case PictureFault::FileTooLarge:
            return QStringLiteral("too large (%1 bytes; at most %2 pixels are accepted)")
                .arg(f.count)
                .arg(kMaxPicturePixels);
        case PictureFault::TooLarge:
            return QStringLiteral("too large (at most %1 pixels are accepted)")
                .arg(kMaxPicturePixels);
        case PictureFault::TooManyPages:
            return QStringLiteral("too many pages (at most %1 are read)").arg(kMaxPages);
        case PictureFault::OutOfMemory:
            return QStringLiteral("out of memory");
        case PictureFault::Empty:
            return QStringLiteral("empty, no picture data");
        case PictureFault::NotAPicture:
            return QStringLiteral("not a BMP, JPEG, GIF, PNG, TIFF or WebP picture");
        case PictureFault::Truncated:
            return QStringLiteral("truncated");
        case PictureFault::Damaged:
            return QStringLiteral("damaged");
        case PictureFault::Encrypted:
            return QStringLiteral("encrypted (the PDF needs a password)");
        case PictureFault::TooComplex:
            return QStringLiteral("too complex (the page did not render in time)");
        case PictureFault::PluginMissing:
            return QStringLiteral("this format cannot be read here (image plugin missing)");
        case PictureFault::Unsupported:
            return QStringLiteral("unsupported picture format (%1)").arg(f.format);
        case PictureFault::OutOfTime:
            return QStringLiteral("not read: the file's time limit of %1 s ran out").arg(f.count);
    }
    return {};
}

QString Chinese(PictureFault fault, const PictureFacts& f) {
    const QString what = f.what.isEmpty() ? QStringLiteral("文件") : f.what;
    switch (fault) {
        case PictureFault::NoName:
            return QStringLiteral("文件未找到：没有给出文件名");
        case PictureFault::NulInName:
            return QStringLiteral("文件未找到：文件名中含有空字符");
        case PictureFault::FileNotFound:
            return f.what.isEmpty() ? QStringLiteral("文件未找到")
                                    : QStringLiteral("文件未找到：%1").arg(what);
        case PictureFault::PathNotFound:
            return QStringLiteral("路径未找到：%1的路径中有一段不是文件夹").arg(what);
        case PictureFault::NoPermission:
            // Also a folder on the way that may not be searched: the file may well exist.
            return QStringLiteral("没有访问权限：无法读取%1").arg(what);
        case PictureFault::CannotOpen:
            return QStringLiteral("路径/文件访问错误：无法打开%1（%2）")
                .arg(what, SystemReason(f.systemError));
        case PictureFault::NotOrdinaryFile:
            return QStringLiteral("路径/文件访问错误：%1不是普通文件").arg(what);
        case PictureFault::CannotRead:
            return QStringLiteral("路径/文件访问错误：读取%1时出错").arg(what);
        case PictureFault::FileTooLarge:
            return QStringLiteral("内存溢出：%1太大（%2 字节）")
                .arg(what, QString::number(f.count));
        case PictureFault::TooLarge: {
            const QString size = f.width > 0 && f.height > 0
                                     ? QStringLiteral("%1 × %2 像素，").arg(f.width).arg(f.height)
                                     : QString();
            return QStringLiteral("内存溢出：%1太大（%2最多允许 %3 像素）")
                .arg(what, size, QString::number(kMaxPicturePixels));
        }
        case PictureFault::TooManyPages: {
            const QString pages = f.count > 0 ? QStringLiteral("%1 页").arg(f.count)
                                              : QStringLiteral("超过 %1 页").arg(kMaxPages);
            return QStringLiteral("内存溢出：%1页数太多（%2，最多允许 %3 页）")
                .arg(what, pages, QString::number(kMaxPages));
        }
        case PictureFault::OutOfMemory: {
            const QString size = f.width > 0 && f.height > 0
                                     ? QStringLiteral("（%1 × %2 像素）").arg(f.width).arg(f.height)
                                     : QString();
            return QStringLiteral("内存不足：无法为%1%2分配内存").arg(what, size);
        }
        case PictureFault::Empty:
            return QStringLiteral("无效图片：%1是空的，没有图片数据").arg(what);
        case PictureFault::NotAPicture:
            return QStringLiteral(
                       "无效图片：%1不是 BMP、JPEG、GIF 或 PNG 图片（也不是 TIFF 或 WebP 图片）")
                .arg(what);
        case PictureFault::Truncated:
            return QStringLiteral("无效图片：%1不完整，%2").arg(what, f.detail);
        case PictureFault::Damaged:
            return QStringLiteral("无效图片：%1已损坏（%2）").arg(what, f.detail);
        case PictureFault::Encrypted:
            return QStringLiteral("无效图片：%1已加密（打开这个 PDF 需要密码）").arg(what);
        case PictureFault::TooComplex:
            return QStringLiteral("无效图片：%1太复杂（%2 秒内未能绘制完成）")
                .arg(what, QString::number(f.count));
        case PictureFault::PluginMissing:
            return QStringLiteral("无效图片：本程序无法读取 %1 图片（缺少图像格式插件），%2")
                .arg(f.format, what);
        case PictureFault::Unsupported:
            return QStringLiteral("无效图片：本程序不支持%1的格式（%2）").arg(what, f.format);
        case PictureFault::OutOfTime:
            return QStringLiteral("无效图片：%1未读取，文件的时间限额（%2 秒）已用完")
                .arg(what, QString::number(f.count));
    }
    return {};
}

}  // namespace

int ErrorNumberOf(PictureFault fault) {
    switch (fault) {
        case PictureFault::NoName:
        case PictureFault::NulInName:
        case PictureFault::FileNotFound:
            return kErrFileNotFound;
        case PictureFault::PathNotFound:
            return kErrPathNotFound;
        case PictureFault::NoPermission:
            return kErrPermissionDenied;
        case PictureFault::CannotOpen:
        case PictureFault::NotOrdinaryFile:
        case PictureFault::CannotRead:
            return kErrPathFileAccess;
        case PictureFault::FileTooLarge:
        case PictureFault::TooLarge:
        case PictureFault::TooManyPages:
        case PictureFault::OutOfMemory:
            return kErrOutOfMemory;
        default:
            return kErrInvalidPicture;
    }
}

MessageLanguage MessageLanguageFromEnvironment() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QByteArray value = qgetenv(name);
        if (!value.isEmpty())
            return value.startsWith("zh") ? MessageLanguage::Chinese : MessageLanguage::English;
    }
    return MessageLanguage::English;
}

QString PictureMessage(PictureFault fault, const PictureFacts& facts, MessageLanguage language) {
    return language == MessageLanguage::English ? English(fault, facts) : Chinese(fault, facts);
}

PictureError::PictureError(PictureFault fault, PictureFacts facts)
    : RuntimeError(ErrorNumberOf(fault), Chinese(fault, facts)),
      fault_(fault),
      facts_(std::move(facts)) {}

QString PictureError::message(MessageLanguage language) const {
    return PictureMessage(fault_, facts_, language);
}

}  // namespace scan39::host
