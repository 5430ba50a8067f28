#pragma once
// Numbered run-time errors carrying a description, as the window reports them to the user.

#include <QString>
#include <stdexcept>

namespace scan39::host {

enum ErrorNumber : int {
    kErrOverflow = 6,
    kErrOutOfMemory = 7,
    kErrSubscriptOutOfRange = 9,
    kErrTypeMismatch = 13,
    kErrFileNotFound = 53,
    kErrPermissionDenied = 70,
    kErrPathFileAccess = 75,
    kErrPathNotFound = 76,
    kErrPropertyNotSupportedAtRunTime = 382,
    kErrSetNotPermitted = 387,
    kErrInvalidPicture = 481,
    kErrInvalidPropertyValue = 380,
    kErrObjectDoesNotSupport = 438,
};

class RuntimeError : public std::runtime_error {
  public:
    RuntimeError(int number, const QString& description);
    // An error with the standard description for its number.
    explicit RuntimeError(int number);

    int number() const { return number_; }
    const QString& description() const { return description_; }

  private:
    int number_;
    QString description_;
};

// The standard description of an error number, in the user's language (Simplified Chinese).
QString ErrorDescription(int number);

}  // namespace scan39::host
