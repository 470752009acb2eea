#include "platform/shared_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/machine.h"

namespace platform {

namespace {

bool ValidName(const std::string& name) {
  return !name.empty() && name.size() <= 255 && name != "." && name != ".." &&
         name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

}  // namespace

std::unique_ptr<SharedMemory> SharedMemory::Create(const std::string& name, std::size_t size) {
  if (!ValidName(name) || size == 0) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  std::string path = MachineDirectory("shm") + name;
  bool existed = true;
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    existed = false;
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  }
  if (fd < 0) {
    SetLastError(errno == EACCES ? kErrorAccessDenied : kErrorInvalidName);
    return nullptr;
  }
  struct stat info {};
  ::fstat(fd, &info);
  std::size_t actual = static_cast<std::size_t>(info.st_size);
  if (actual == 0) {
    // New (or never sized): zero-filled by the extension.
    ::fchmod(fd, 0666);
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
      ::close(fd);
      SetLastError(kErrorNotEnoughMemory);
      return nullptr;
    }
    actual = size;
    existed = false;
  }
  std::unique_ptr<SharedMemory> block = Map(fd, actual, false);
  if (block) SetLastError(existed ? kErrorAlreadyExists : 0);
  return block;
}

std::unique_ptr<SharedMemory> SharedMemory::Open(const std::string& name, bool readOnly) {
  if (!ValidName(name)) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  std::string path = MachineDirectory("shm") + name;
  int fd = ::open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (fd < 0) {
    SetLastError(errno == EACCES ? kErrorAccessDenied : kErrorFileNotFound);
    return nullptr;
  }
  struct stat info {};
  ::fstat(fd, &info);
  if (info.st_size <= 0) {
    ::close(fd);
    SetLastError(kErrorFileNotFound);
    return nullptr;
  }
  std::unique_ptr<SharedMemory> block = Map(fd, static_cast<std::size_t>(info.st_size), readOnly);
  if (block) SetLastError(0);
  return block;
}

bool SharedMemory::Remove(const std::string& name) {
  if (!ValidName(name)) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  if (::unlink((MachineDirectory("shm") + name).c_str()) != 0) {
    SetLastError(kErrorFileNotFound);
    return false;
  }
  return true;
}

std::unique_ptr<SharedMemory> SharedMemory::Map(int fd, std::size_t size, bool readOnly) {
  void* data = ::mmap(nullptr, size, readOnly ? PROT_READ : PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (data == MAP_FAILED) {
    SetLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
  std::unique_ptr<SharedMemory> block(new SharedMemory());
  block->data_ = data;
  block->size_ = size;
  block->read_only_ = readOnly;
  return block;
}

SharedMemory::~SharedMemory() {
  if (data_ != nullptr) ::munmap(data_, size_);
}

}  // namespace platform
