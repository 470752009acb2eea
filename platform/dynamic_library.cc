#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include "platform/system.h"

namespace platform {

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& name, std::string* error) {
  void* handle = nullptr;
  if (!name.empty() && name.find('/') == std::string::npos) {
    // The program's own libraries first, beside it or in ../lib, whoever
    // calls (a sanitizer's runtime may stand between the program and the
    // loader, and the loader then searches the runtime's paths).
    const std::string directory = GetModuleDirectory();
    for (const std::string& path : {directory + "../lib/" + name, directory + name}) {
      if (RegularFileExists(path)) {
        handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle != nullptr) break;
      }
    }
  }
  if (handle == nullptr) handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    if (error != nullptr) {
      const char* text = ::dlerror();
      *error = text != nullptr ? text : "cannot be loaded";
    }
    return nullptr;
  }
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle));
}

DynamicLibrary::~DynamicLibrary() { ::dlclose(handle_); }

void* DynamicLibrary::Symbol(const std::string& name) const { return ::dlsym(handle_, name.c_str()); }

}  // namespace platform
