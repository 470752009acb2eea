// An open file, for what the standard streams do not offer: shared access
// rules, sizes of open files and handing the file to a socket transmission.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

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

// Replacing a whole file so that a reader opens the old contents or the new,
// never a part: the new contents go to a temporary file beside the target
// (so that the rename stays on one file system), which is then renamed over
// the target. A failed replacement leaves the target as it was and no
// temporary file behind.

// A temporary name beside `path`, different for every process and call.
std::string TemporaryFileFor(const std::string& path);

// Which step of a replacement failed; the last error tells why.
enum class ReplaceResult { kReplaced, kWriteFailed, kRenameFailed };

// Writes `data` to `temporary` (created anew: a file an interrupted
// replacement left there is removed first), flushes it to disk and renames
// it over `path`, trying the rename `renameAttempts` times 10 ms apart.
ReplaceResult ReplaceFileContents(const std::string& path, std::string_view data, const std::string& temporary,
                                  int renameAttempts = 1);
// The same through a temporary name of its own; true when replaced.
bool ReplaceFileContents(const std::string& path, std::string_view data);

// For callers that write the temporary file themselves (a download streamed
// into a part file): renames `temporary` over `path`, trying `attempts` times
// 10 ms apart, and removes `temporary` when that fails.
bool RenameOver(const std::string& temporary, const std::string& path, int attempts = 1);

}  // namespace platform
