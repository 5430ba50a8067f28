#include "scan39/host/errors.h"

namespace scan39::host {

namespace {

std::string WhatText(int number, const QString& description) {
    return QStringLiteral("运行时错误 %1：%2").arg(number).arg(description).toStdString();
}

}  // namespace

RuntimeError::RuntimeError(int number, const QString& description)
    : std::runtime_error(WhatText(number, description)),
      number_(number),
      description_(description) {}

RuntimeError::RuntimeError(int number) : RuntimeError(number, ErrorDescription(number)) {}

QString ErrorDescription(int number) {
    switch (number) {
        case kErrOverflow:
            return QStringLiteral("溢出");
        case kErrOutOfMemory:
            return QStringLiteral("内存溢出");
        case kErrSubscriptOutOfRange:
            return QStringLiteral("下标越界");
        case kErrTypeMismatch:
            return QStringLiteral("类型不匹配");
        case kErrFileNotFound:
            return QStringLiteral("文件未找到");
        case kErrPermissionDenied:
            return QStringLiteral("没有访问权限");
        case kErrPathFileAccess:
            return QStringLiteral("路径/文件访问错误");
        case kErrPathNotFound:
            return QStringLiteral("路径未找到");
        case kErrInvalidPropertyValue:
            return QStringLiteral("无效的属性值");
        case kErrPropertyNotSupportedAtRunTime:
            return QStringLiteral("运行时不支持设置该属性");
        case kErrSetNotPermitted:
            return QStringLiteral("不允许设置该属性");
        case kErrObjectDoesNotSupport:
            return QStringLiteral("对象不支持该属性或方法");
        case kErrInvalidPicture:
            return QStringLiteral("无效图片");
        default:
            return QStringLiteral("应用程序定义的错误或对象定义的错误");
    }
}

}  // namespace scan39::host
