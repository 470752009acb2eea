// An open file, for what the standard streams do not offer: shared access
// rules, sizes of open files and handing the file to a socket transmission.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/types.h"

namespace platform {

class File {
 public:
  enum class Mode {
    kRead,          // existing file, read only
    kReadWrite,     // existing file
    kCreate,        // created or truncated, read-write
    kCreateNew,     // created, fails with kErrorFileExists when present
    kAppend,        // created when missing, writes go to the end
  };
  // Null with the last error set (kErrorFileNotFound, kErrorAccessDenied, ...).
  static std::unique_ptr<File> Open(const std::string& path, Mode mode);
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Bytes read (0 at the end), or -1.
  long long Read(void* buffer, std::size_t length);
  // Writes everything or fails (-1).
  long long Write(const void* data, std::size_t length);
  // Moves to `offset` from the start; -1 on failure.
  long long Seek(long long offset);
  long long Position() const;
  long long Size() const;
  bool Flush();
  int Descriptor() const { return fd_; }
  const std::string& Path() const { return path_; }

 private:
  File(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_;
  std::string path_;
};

// The modification time of a file (seconds since 1970), or -1.
std::int64_t FileModificationTime(const std::string& path);

}  // namespace platform
