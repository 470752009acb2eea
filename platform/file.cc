#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/sync.h"

namespace platform {

namespace {

DWORD FileError(int error) {
  switch (error) {
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case ENOTEMPTY: return kErrorAccessDenied;
    case EEXIST: return kErrorFileExists;
    case ENAMETOOLONG: return kErrorFilenameExcedRange;
    case ENOSPC: return kErrorWriteFault;
    default: return kErrorInvalidParameter;
  }
}

}  // namespace

std::unique_ptr<File> File::Open(const std::string& path, Mode mode) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::kRead: flags |= O_RDONLY; break;
    case Mode::kReadWrite: flags |= O_RDWR; break;
    case Mode::kCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case Mode::kCreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
    case Mode::kAppend: flags |= O_WRONLY | O_CREAT | O_APPEND; break;
  }
  int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) {
    SetLastError(FileError(errno));
    return nullptr;
  }
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    SetLastError(kErrorAccessDenied);
    return nullptr;
  }
  return std::unique_ptr<File>(new File(fd, path));
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

long long File::Read(void* buffer, std::size_t length) {
  for (;;) {
    ssize_t n = ::read(fd_, buffer, length);
    if (n >= 0) return n;
    if (errno != EINTR) {
      SetLastError(kErrorReadFault);
      return -1;
    }
  }
}

long long File::Write(const void* data, std::size_t length) {
  const char* p = static_cast<const char*>(data);
  std::size_t left = length;
  while (left > 0) {
    ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      SetLastError(errno == ENOSPC ? kErrorWriteFault : FileError(errno));
      return -1;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return static_cast<long long>(length);
}

long long File::Seek(long long offset) {
  off_t result = ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET);
  if (result < 0) SetLastError(kErrorInvalidParameter);
  return result;
}

long long File::Position() const { return ::lseek(fd_, 0, SEEK_CUR); }

long long File::Size() const {
  struct stat info {};
  return ::fstat(fd_, &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

bool File::Flush() { return ::fdatasync(fd_) == 0; }

std::int64_t FileModificationTime(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return -1;
  return static_cast<std::int64_t>(info.st_mtime);
}

std::string TemporaryFileFor(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1));
}

ReplaceResult ReplaceFileContents(const std::string& path, std::string_view data, const std::string& temporary,
                                  int renameAttempts) {
  ::unlink(temporary.c_str());
  std::unique_ptr<File> file = File::Open(temporary, File::Mode::kCreateNew);
  if (file == nullptr) return ReplaceResult::kWriteFailed;
  bool written = file->Write(data.data(), data.size()) >= 0;
  // On disk before the rename, so that a crash cannot leave an empty target.
  if (written && !file->Flush()) {
    SetLastError(kErrorWriteFault);
    written = false;
  }
  file.reset();
  if (!written) {
    ::unlink(temporary.c_str());
    return ReplaceResult::kWriteFailed;
  }
  return RenameOver(temporary, path, renameAttempts) ? ReplaceResult::kReplaced : ReplaceResult::kRenameFailed;
}

bool ReplaceFileContents(const std::string& path, std::string_view data) {
  return ReplaceFileContents(path, data, TemporaryFileFor(path)) == ReplaceResult::kReplaced;
}

bool RenameOver(const std::string& temporary, const std::string& path, int attempts) {
  for (int attempt = 1;; ++attempt) {
    if (::rename(temporary.c_str(), path.c_str()) == 0) return true;
    if (attempt >= attempts) break;
    Sleep(10);
  }
  const int error = errno;
  ::unlink(temporary.c_str());
  SetLastError(FileError(error));
  return false;
}

}  // namespace platform
