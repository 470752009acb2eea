#include "platform/hosts_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <mutex>

#include "platform/machine.h"
#include "platform/socket.h"

namespace platform {

namespace {

bool SameNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The file as last read, read again when its time or size changes.
struct Cache {
  std::mutex lock;
  bool read = false;
  std::int64_t time = 0;
  std::int64_t size = -1;
  std::vector<HostsEntry> entries;
};

Cache& TheCache() {
  static Cache cache;
  return cache;
}

std::vector<HostsEntry> CurrentEntries() {
  Cache& cache = TheCache();
  const std::string path = MachineHostsFilePath();
  struct stat status {};
  const bool exists = ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
  std::lock_guard<std::mutex> hold(cache.lock);
  const std::int64_t time = exists ? static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 +
                                         status.st_mtim.tv_nsec
                                   : 0;
  const std::int64_t size = exists ? static_cast<std::int64_t>(status.st_size) : -1;
  if (!cache.read || cache.time != time || cache.size != size) {
    cache.entries.clear();
    if (exists) {
      std::ifstream in(path, std::ios::binary);
      std::string text(std::min<std::size_t>(static_cast<std::size_t>(status.st_size), kMaxHostsFileBytes), '\0');
      in.read(text.data(), static_cast<std::streamsize>(text.size()));
      text.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
      cache.entries = ParseHostsText(text);
    }
    cache.read = true;
    cache.time = time;
    cache.size = size;
  }
  return cache.entries;
}

}  // namespace

std::vector<HostsEntry> ParseHostsText(std::string_view text) {
  std::vector<HostsEntry> entries;
  std::size_t position = 0;
  while (position < text.size()) {
    std::size_t end = text.find('\n', position);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(position, end - position);
    position = end + 1;
    line = line.substr(0, line.find('#'));
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && IsBlank(line[i])) ++i;
      const std::size_t start = i;
      while (i < line.size() && !IsBlank(line[i])) ++i;
      if (i > start) fields.push_back(line.substr(start, i - start));
    }
    HostsEntry entry;
    if (fields.size() < 2 || !ParseDottedAddress(std::string(fields[0]), &entry.address)) continue;
    for (std::size_t f = 1; f < fields.size(); ++f) {
      if (fields[f].size() <= kMaxHostNameLength) entry.names.emplace_back(fields[f]);
    }
    if (!entry.names.empty()) entries.push_back(std::move(entry));
  }
  return entries;
}

std::string MachineHostsFilePath() { return MachineRoot() + "/etc/hosts"; }

std::vector<std::uint32_t> HostsFileAddresses(std::string_view name) {
  std::vector<std::uint32_t> addresses;
  if (name.empty()) return addresses;
  for (const HostsEntry& entry : CurrentEntries()) {
    for (const std::string& known : entry.names) {
      if (SameNoCase(known, name) &&
          std::find(addresses.begin(), addresses.end(), entry.address) == addresses.end()) {
        addresses.push_back(entry.address);
      }
    }
  }
  return addresses;
}

std::string HostsFileName(std::uint32_t address) {
  for (const HostsEntry& entry : CurrentEntries()) {
    if (entry.address == address) return entry.names.front();
  }
  return {};
}

}  // namespace platform
