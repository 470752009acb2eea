#include "base/kibo_folder.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "base/trace_bits.h"
#include "platform/file.h"
#include "platform/system.h"
#include "platform/trace.h"

namespace fs = std::filesystem;
using platform::DWORD;

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

DWORD ErrorOf(const std::error_code& error) {
  switch (static_cast<std::errc>(error.value())) {
    case std::errc::no_such_file_or_directory: return platform::kErrorFileNotFound;
    case std::errc::not_a_directory: return platform::kErrorPathNotFound;
    case std::errc::permission_denied:
    case std::errc::operation_not_permitted:
    case std::errc::read_only_file_system: return platform::kErrorAccessDenied;
    case std::errc::filename_too_long: return platform::kErrorFilenameExcedRange;
    default: return platform::kErrorWriteFault;
  }
}

bool IsReadOnly(const fs::directory_entry& entry) {
  std::error_code error;
  fs::perms permissions = entry.status(error).permissions();
  return !error && (permissions & fs::perms::owner_write) == fs::perms::none;
}

}  // namespace

void CKiboFolder::CreateDirectoryPath(const std::string& input) {
  std::string path = input;
  if (!path.empty() && path.back() == '/') path.pop_back();
  // The root, or nothing at all: there is nothing to create.
  if (path.empty() || platform::DirectoryExists(path)) return;
  if (platform::CreateDirectory(path)) return;

  DWORD error = platform::GetLastError();
  if (error == platform::kErrorPathNotFound) {
    const std::size_t cut = path.find_last_of('/');
    if (cut != std::string::npos && cut > 0) {
      CreateDirectoryPath(path.substr(0, cut));
      if (platform::CreateDirectory(path)) return;
      error = platform::GetLastError();
    }
  }
  // Another thread or process may have created it meanwhile.
  if (error == platform::kErrorAlreadyExists && platform::DirectoryExists(path)) return;
  throw CFileException(error, path);
}

bool CKiboFolder::MatchesPattern(std::string_view name, std::string_view pattern) {
  // Greedy matching with one backtrack point: the last "*" seen.
  std::size_t n = 0, p = 0;
  std::size_t starAt = std::string_view::npos, nameAtStar = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starAt = p++;
      nameAtStar = n;
    } else if (starAt != std::string_view::npos) {
      p = starAt + 1;
      n = ++nameAtStar;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<std::string> CKiboFolder::ListFiles(const std::string& directory, const std::string& pattern) {
  auto lower = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  const std::string wanted = lower(pattern);
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(directory, error); !error && it != fs::directory_iterator(); it.increment(error)) {
    std::error_code kindError;
    if (!it->is_regular_file(kindError)) continue;
    std::string name = it->path().filename().string();
    if (MatchesPattern(lower(name), wanted)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

void CKiboFolder::DeleteAgedFiles(const std::string& directoryIn, const std::string& pattern,
                                  unsigned int days) {
  std::string directory = directoryIn;
  std::replace(directory.begin(), directory.end(), '\\', '/');
  if (directory.empty() || directory.back() != '/') directory += '/';

  std::error_code error;
  fs::directory_iterator it(directory, error);
  if (error) {
    if (error == std::errc::no_such_file_or_directory) return;
    throw CFileException(ErrorOf(error), directory);
  }
  const std::int64_t now = std::time(nullptr);
  for (; it != fs::directory_iterator(); it.increment(error)) {
    const fs::directory_entry& entry = *it;
    const std::string name = entry.path().filename().string();
    if (!MatchesPattern(name, pattern)) continue;
    std::error_code kindError;
    if (entry.is_directory(kindError) || IsReadOnly(entry)) continue;

    const std::string fullPath = directory + name;
    const std::int64_t modified = platform::FileModificationTime(fullPath);
    if (modified < 0) continue;  // gone since the listing
    const std::int64_t ageDays = (now - modified) / kSecondsPerDay;
    if (ageDays < static_cast<std::int64_t>(days)) continue;

    trace(trace_bits::kFolder, "CKiboFolder:DeleteAgedFiles - Removing file: %s\n", fullPath.c_str());
    std::error_code removeError;
    if (!fs::remove(fullPath, removeError) && removeError) {
      throw CFileException(ErrorOf(removeError), fullPath);
    }
  }
  if (error) throw CFileException(ErrorOf(error), directory);
  trace(trace_bits::kFolder, "CKiboFolder::DeleteAgedFiles- Removed files in directory: %s\n",
        directory.c_str());
}
