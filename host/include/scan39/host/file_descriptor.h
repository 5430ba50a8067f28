#pragma once
// A file descriptor closed however the scope that opened it ends.

#include <unistd.h>

#include <utility>

namespace scan39::host {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    // Hands the descriptor on to whoever closes it next.
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

}  // namespace scan39::host
