#include "tools/dcsim/dcsim_content.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <system_error>

#include "net/qrn_http.h"
#include "platform/file.h"

namespace dcsim {
namespace {

constexpr const char* kSource = "dcsim";
constexpr std::size_t kMaxAgentsFile = 1024 * 1024;

// The channel categories the relay knows, and ten categories for the cache.
constexpr const char* kBuiltInAgents[] = {"66560,5", "66816,1", "66817,8", "67072,1", "1000,3", "1001,3",
                                          "1002,3",  "1003,3",  "1004,3",  "1005,3",  "1006,3", "1007,3",
                                          "1008,3",  "1009,3"};

bool ParseId(std::string_view text, std::uint32_t& id) {
  text = text.substr(0, text.find('.'));  // "12" or "12.gif"
  auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), id);
  return !text.empty() && failure == std::errc() && end == text.data() + text.size();
}

// An argument names a subdirectory only when it cannot leave the category.
bool SafeDirectoryName(const std::string& name) {
  return !name.empty() && name.size() <= 64 &&
         std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isalnum(c) || c == '_' || c == '-'; });
}

std::string GeneratedData(std::int32_t category, const std::string& argument, std::uint32_t id,
                          std::uint32_t size) {
  std::string data = "dcsim category " + std::to_string(category) + (argument.empty() ? "" : " " + argument) +
                     " item " + std::to_string(id) + "\n";
  data.resize(size, static_cast<char>('a' + id % 26));
  return data;
}

std::vector<Item> GeneratedItems(const Options& options, std::int32_t category, const std::string& argument,
                                 std::uint32_t first, std::uint32_t last) {
  std::vector<Item> items;
  for (std::uint64_t id = first; id <= last; ++id) {
    items.push_back({static_cast<std::uint32_t>(id),
                     GeneratedData(category, argument, static_cast<std::uint32_t>(id), options.itemSize)});
  }
  return items;
}

bool ReadItemFile(const std::filesystem::path& path, std::string& data) {
  auto file = platform::File::Open(path.string(), platform::File::Mode::kRead);
  if (file == nullptr || file->Size() < 0 || file->Size() > kMaxItemSize) return false;
  data.resize(static_cast<std::size_t>(file->Size()));
  return file->Read(data.data(), data.size()) == static_cast<long long>(data.size());
}

std::vector<Item> DiskItems(const Options& options, std::int32_t category, const std::string& argument,
                            std::int32_t afterItem, std::uint32_t limit) {
  std::filesystem::path directory = std::filesystem::path(options.itemDirectory) / std::to_string(category);
  if (SafeDirectoryName(argument) && std::filesystem::is_directory(directory / argument)) directory /= argument;
  std::vector<std::pair<std::uint32_t, std::filesystem::path>> found;
  std::error_code failure;
  for (const auto& entry : std::filesystem::directory_iterator(directory, failure)) {
    std::uint32_t id = 0;
    if (entry.is_regular_file(failure) && ParseId(entry.path().filename().string(), id) &&
        static_cast<std::int64_t>(id) > afterItem) {
      found.emplace_back(id, entry.path());
    }
  }
  std::sort(found.begin(), found.end());
  if (limit != 0 && found.size() > limit) found.erase(found.begin(), found.end() - limit);
  std::vector<Item> items;
  for (const auto& [id, path] : found) {
    Item item{id, {}};
    if (ReadItemFile(path, item.data)) items.push_back(std::move(item));
  }
  return items;
}

}  // namespace

std::vector<Item> SelectItems(const Options& options, std::int32_t category, const std::string& argument,
                              std::int32_t afterItem, std::uint32_t limit) {
  std::vector<Item> items;
  if (!options.itemDirectory.empty()) {
    items = DiskItems(options, category, argument, afterItem, limit);
  } else if (options.items > 0 && static_cast<std::int64_t>(options.items) > afterItem) {
    std::uint32_t first = afterItem < 0 ? 1 : static_cast<std::uint32_t>(afterItem) + 1;
    if (limit != 0 && options.items - first + 1 > limit) first = options.items - limit + 1;
    // Only the newest items that fit into one answer.
    const std::uint64_t fitting = kMaxAnswerBytes / std::max<std::uint32_t>(options.itemSize, 1);
    if (options.items - first + 1 > fitting) first = options.items - static_cast<std::uint32_t>(fitting) + 1;
    items = GeneratedItems(options, category, argument, first, options.items);
  }
  std::uint64_t total = 0;
  std::size_t keep = items.size();
  while (keep > 0 && total + items[keep - 1].data.size() <= kMaxAnswerBytes) total += items[--keep].data.size();
  items.erase(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(keep));
  return items;
}

std::string DataStreamBody(const std::vector<Item>& items, std::uint32_t nextUpdate) {
  const QRNHTTP formatter;
  char line[64];
  line[0] = '\0';
  formatter.AppendNextUpdate(static_cast<long>(nextUpdate), line, sizeof(line));
  std::string body = line;
  for (const Item& item : items) {
    HTTPText header = formatter.MakeDataStreamHeader(item.data.size(), 0, kSource, item.id, 0, 0);
    if (header == nullptr) return {};
    body += header.get();
    body += item.data;
  }
  return body;
}

bool AgentListBody(const std::string& agentsFile, std::string& body, std::string& error) {
  std::vector<std::string> entries;
  if (agentsFile.empty()) {
    entries.assign(std::begin(kBuiltInAgents), std::end(kBuiltInAgents));
  } else {
    auto file = platform::File::Open(agentsFile, platform::File::Mode::kRead);
    if (file == nullptr || file->Size() < 0 || file->Size() > static_cast<long long>(kMaxAgentsFile)) {
      error = "cannot read agent list " + agentsFile;
      return false;
    }
    std::string text(static_cast<std::size_t>(file->Size()), '\0');
    if (file->Read(text.data(), text.size()) != static_cast<long long>(text.size())) {
      error = "cannot read agent list " + agentsFile;
      return false;
    }
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string entry = text.substr(start, end - start);
      if (!entry.empty() && entry.back() == '\r') entry.pop_back();
      if (!entry.empty() && entry[0] != '#') entries.push_back(entry);
      start = end + 1;
    }
  }
  body = std::to_string(entries.size()) + "\r\n";
  for (const std::string& entry : entries) body += entry + "\r\n";
  return true;
}

}  // namespace dcsim
