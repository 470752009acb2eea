// Benchmark support: a machine of its own in a temporary directory (unless
// ZONDREL_ROOT names one), so that benchmarks never touch a real machine's
// registry or files. Removed when the object goes.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

class BenchMachineRoot {
 public:
  BenchMachineRoot() {
    if (getenv("ZONDREL_ROOT") != nullptr) return;
    std::string root = (std::filesystem::temp_directory_path() / "zondrel-bench-XXXXXX").string();
    if (mkdtemp(root.data()) == nullptr) return;
    setenv("ZONDREL_ROOT", root.c_str(), 1);
    root_ = root;
  }
  ~BenchMachineRoot() {
    if (!root_.empty()) std::filesystem::remove_all(root_);
  }
  BenchMachineRoot(const BenchMachineRoot&) = delete;
  BenchMachineRoot& operator=(const BenchMachineRoot&) = delete;

  // False when no root could be made.
  bool Ready() const { return getenv("ZONDREL_ROOT") != nullptr; }
  // A new directory below the root (or the system's temporary directory),
  // ending in "/"; empty on failure.
  std::string MakeDirectory(const std::string& prefix) const {
    const char* root = getenv("ZONDREL_ROOT");
    std::string dir = root != nullptr ? std::string(root)
                                      : std::filesystem::temp_directory_path().string();
    dir += "/" + prefix + "-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) return {};
    return dir + "/";
  }

 private:
  std::string root_;
};
