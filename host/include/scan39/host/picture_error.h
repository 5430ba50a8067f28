#pragma once
// Why a picture could not be had: a reason code with the facts its message needs, rendered in
// English or Chinese in one place. The Chinese text is the run-time error's description.

#include <QString>

#include "scan39/host/errors.h"

namespace scan39::host {

enum class PictureFault {
    NoName,           // 53
    NulInName,        // 53
    FileNotFound,     // 53
    PathNotFound,     // 76: a part of the path is not a folder
    NoPermission,     // 70
    CannotOpen,       // 75, with the system's error number
    NotOrdinaryFile,  // 75: a folder, a device, a pipe
    CannotRead,       // 75, with the system's error number
    FileTooLarge,     // 7: more bytes than any acceptable picture
    TooLarge,         // 7: more pixels than kMaxPicturePixels
    TooManyPages,     // 7: more than kMaxPages
    OutOfMemory,      // 7
    Empty,            // 481
    NotAPicture,      // 481
    Truncated,        // 481
    Damaged,          // 481
    Encrypted,        // 481: a PDF that needs a password
    TooComplex,       // 481: a page that did not render in time
    PluginMissing,    // 481: Qt's image format plugin is not installed
    Unsupported,      // 481: a kind of picture no reader here decodes (32-bit samples)
    OutOfTime,        // 481: the file's time limit ran out before this page was read
};
inline constexpr int kPictureFaultCount = static_cast<int>(PictureFault::OutOfTime) + 1;

enum class MessageLanguage { English, Chinese };

// The language of the user's messages: Chinese when LC_ALL, LC_MESSAGES or LANG (the first that
// is set, the C library's order for messages) starts with "zh", else English.
MessageLanguage MessageLanguageFromEnvironment();

// What a message says beyond its reason; only the members the reason uses are set.
struct PictureFacts {
    // How the source is named, a Chinese noun phrase: 文件“a.bmp”, 标准输入, 图片数据. Empty
    // when the caller shows the name itself: the messages then say 文件, or nothing for a file
    // not found.
    QString what{};
    // In Chinese, what exactly is wrong with the data (Truncated, Damaged).
    QString detail{};
    QString format{};  // "JPEG", for PluginMissing; the kind of samples, for Unsupported
    qint64 width = 0;  // TooLarge, OutOfMemory: the size, 0 when unknown
    qint64 height = 0;
    qint64 count = 0;     // FileTooLarge bytes, TooManyPages pages (0: more than the bound),
                          // TooComplex seconds
    int systemError = 0;  // CannotOpen, CannotRead: errno
};

class PictureError : public RuntimeError {
  public:
    PictureError(PictureFault fault, PictureFacts facts);

    PictureFault fault() const { return fault_; }
    const PictureFacts& facts() const { return facts_; }
    // English says what is wrong without naming the source (the caller names it); Chinese is
    // the description, which names it.
    QString message(MessageLanguage language) const;

  private:
    PictureFault fault_;
    PictureFacts facts_;
};

// The system's own words for an errno value, in the user's locale.
QString SystemReason(int error);

// The run-time error number of a reason.
int ErrorNumberOf(PictureFault fault);
QString PictureMessage(PictureFault fault, const PictureFacts& facts, MessageLanguage language);

}  // namespace scan39::host
