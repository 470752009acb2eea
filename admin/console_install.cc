#include "admin/console_install.h"

#include <filesystem>
#include <system_error>

#include "admin/content_types.h"
#include "platform/system.h"

namespace console_install {

namespace fs = std::filesystem;

namespace {

// The types of the files a console is made of.
constexpr const char* kConsoleTypes =
    "text/html html htm\n"
    "text/css css\n"
    "text/javascript js\n"
    "application/json json\n"
    "image/svg+xml svg\n"
    "image/png png\n"
    "text/plain txt\n";

}  // namespace

std::string SourceDirectory() {
  const fs::path program = fs::path(platform::GetModuleDirectory()).parent_path();
  for (const fs::path& prefix : {program.parent_path(), program.parent_path().parent_path().parent_path()}) {
    const fs::path candidate = prefix / "share" / "zondrel" / "console";
    std::error_code error;
    if (fs::is_directory(candidate, error)) return candidate.string();
  }
  return {};
}

int Install(const std::string& from, const std::string& to) {
  std::error_code error;
  if (!fs::is_directory(from, error)) return -1;
  int copied = 0;
  for (fs::recursive_directory_iterator it(from, error), end; !error && it != end; it.increment(error)) {
    const fs::path target = fs::path(to) / fs::relative(it->path(), from, error);
    if (error) return -1;
    if (it->is_directory(error)) {
      fs::create_directories(target, error);
    } else if (it->is_regular_file(error)) {
      fs::create_directories(target.parent_path(), error);
      if (!error) fs::copy_file(it->path(), target, fs::copy_options::overwrite_existing, error);
      ++copied;
    }
    if (error) return -1;
  }
  if (error) return -1;
  content_types::SeedEntries(content_types::ParseTable(kConsoleTypes));
  return copied;
}

}  // namespace console_install
