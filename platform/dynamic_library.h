// Shared libraries loaded at run time by name, and their entry points.
#pragma once

#include <memory>
#include <string>

namespace platform {

class DynamicLibrary {
 public:
  // Loads `name`. A bare name is looked for beside the program and in its
  // ../lib first, then where the system looks. Null when it cannot be
  // loaded, with the loader's reason in `error`.
  static std::unique_ptr<DynamicLibrary> Load(const std::string& name, std::string* error = nullptr);
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // The address of the exported symbol `name`, or null.
  void* Symbol(const std::string& name) const;

 private:
  explicit DynamicLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

}  // namespace platform
