// Fuzz targets that reach the trace log need a machine root: one of their own
// in a temporary directory, removed at exit, unless ZONDREL_ROOT is set.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

inline void UseTemporaryMachineRoot() {
  if (getenv("ZONDREL_ROOT") != nullptr) return;
  static std::string root = (std::filesystem::temp_directory_path() / "zondrel-fuzz-XXXXXX").string();
  if (mkdtemp(root.data()) == nullptr) return;
  setenv("ZONDREL_ROOT", root.c_str(), 1);
  atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  });
}
