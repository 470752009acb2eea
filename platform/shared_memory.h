// Named shared memory: a block of bytes of the machine that several processes
// map by name.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/types.h"

namespace platform {

class SharedMemory {
 public:
  // Creates the block, or opens it when it exists (last error
  // kErrorAlreadyExists; an existing block keeps its size). New blocks are
  // zero-filled. Null with the last error set on failure.
  static std::unique_ptr<SharedMemory> Create(const std::string& name, std::size_t size);
  // Opens an existing block; null with kErrorFileNotFound when missing.
  static std::unique_ptr<SharedMemory> Open(const std::string& name, bool readOnly);
  // Removes the name: later opens fail and a later Create makes a new block,
  // while those who mapped it keep their mapping. False when it was missing.
  static bool Remove(const std::string& name);
  ~SharedMemory();

  void* Data() const { return data_; }
  std::size_t Size() const { return size_; }
  bool ReadOnly() const { return read_only_; }

 private:
  SharedMemory() = default;
  // Maps the open file `fd` (closing it) into a new block.
  static std::unique_ptr<SharedMemory> Map(int fd, std::size_t size, bool readOnly);
  void* data_ = nullptr;
  std::size_t size_ = 0;
  bool read_only_ = false;
};

}  // namespace platform
