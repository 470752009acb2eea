#include "cache/cache_dump.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

#include "cache/cache_table.h"
#include "platform/sync.h"

namespace {

constexpr std::string_view kSeparator = "=====================================================================\r\n";
// The report goes to the file in pieces of about this size.
constexpr std::size_t kWriteThreshold = 64 * 1024;

class ReportWriter {
 public:
  explicit ReportWriter(platform::File& file) : m_File(file) {}

  __attribute__((format(printf, 2, 3))) void Format(const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    if (length < 0) return;
    if (static_cast<std::size_t>(length) < sizeof(line)) {
      Append(std::string_view(line, static_cast<std::size_t>(length)));
      return;
    }
    // A long directory name: format again at full length.
    std::string longLine(static_cast<std::size_t>(length) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(longLine.data(), longLine.size(), format, args);
    va_end(args);
    longLine.pop_back();
    Append(longLine);
  }

  void Append(std::string_view text) {
    m_Pending.append(text);
    if (m_Pending.size() >= kWriteThreshold) Flush();
  }

  bool Flush() {
    if (!m_Pending.empty() && m_File.Write(m_Pending.data(), m_Pending.size()) < 0) m_Failed = true;
    m_Pending.clear();
    return !m_Failed;
  }

 private:
  platform::File& m_File;
  std::string m_Pending;
  bool m_Failed = false;
};

std::string LocalTimeText(std::int64_t time) {
  const auto value = static_cast<std::time_t>(time);
  std::tm local{};
  char text[128];
  if (::localtime_r(&value, &local) == nullptr ||
      std::strftime(text, sizeof(text), "%A, %B %d, %Y - %I:%M:%S %p", &local) == 0) {
    return {};
  }
  return text;
}

struct Totals {
  unsigned long long items = 0;
  unsigned long long dataBytes = 0;
  unsigned long long bufferBytes = 0;
};

void WriteItem(ReportWriter& report, const CCacheFile& item, std::uint32_t flags) {
  if ((flags & dump_flags::kItemSizes) != 0) {
    report.Format("\tData Size (bytes): %u\t\tBuffer Size (bytes): %u\r\n\r\n", item.DataLength(), item.Capacity());
  }
  if ((flags & dump_flags::kItemData) != 0) {
    report.Append("\t\tData:\r\n\r\n");
    if (item.DataLength() == 0) {
      report.Append("<NONE>");
    } else {
      report.Append(std::string_view(item.Data(), item.DataLength()));
    }
    report.Append("\r\n\r\n");
  }
}

// The entry's part of the report (written only with kEntrySections), and
// its counts either way.
Totals WriteEntry(ReportWriter& report, const CCacheEntry& entry, std::uint32_t flags) {
  const bool write = (flags & dump_flags::kEntrySections) != 0;
  if (write && (flags & dump_flags::kEntryTimes) != 0) {
    report.Format("\tClient Next Update: %s\r\n", LocalTimeText(entry.ViewerNextUpdate()).c_str());
    report.Format("\tServer Next Update: %s\r\n\r\n", LocalTimeText(entry.RefreshDeadline()).c_str());
  }
  const std::shared_ptr<const CCacheItems> items = entry.Items();
  Totals totals;
  for (std::size_t i = 0; i < items->Count(); ++i) {
    const CCacheFile& item = (*items)[i];
    if (write && (flags & dump_flags::kItemLines) != 0) {
      report.Format("\tCache File LastID: %u\r\n", item.ItemID());
      WriteItem(report, item, flags);
    }
    totals.dataBytes += item.DataLength();
    totals.bufferBytes += item.Capacity();
  }
  totals.items = items->Count();
  if (write) {
    report.Format("Total number of files in Folder: %llu\r\n", totals.items);
    if ((flags & dump_flags::kEntryTotals) != 0) {
      report.Format("Total Data Bytes in Folder: %llu\r\n", totals.dataBytes);
      report.Format("Total Buffer Bytes in Folder: %llu\r\n", totals.bufferBytes);
    }
  }
  return totals;
}

}  // namespace

int DumpCache(CCacheTable& table, platform::File& file, std::uint32_t flags) {
  ReportWriter report(file);
  Totals cache;
  unsigned long long folders = 0;
  table.ForEachEntry([&](CCacheEntry& entry) {
    ++folders;
    // An entry being refreshed is written once its fetch is over.
    entry.Lock(platform::kInfinite);
    if ((flags & dump_flags::kEntrySections) != 0) {
      report.Append(kSeparator);
      report.Append("\r\n");
      report.Format("Cache Folder Name: %s\r\n\r\n", entry.Name().c_str());
    }
    const Totals totals = WriteEntry(report, entry, flags);
    if ((flags & dump_flags::kEntrySections) != 0) report.Append("\r\n");
    entry.Unlock();
    cache.items += totals.items;
    cache.dataBytes += totals.dataBytes;
    cache.bufferBytes += totals.bufferBytes;
  });
  report.Append(kSeparator);
  report.Append(kSeparator);
  report.Append("\r\n");
  report.Format("Total number of folders: %llu\r\n", folders);
  report.Format("Total number of files: %llu\r\n", cache.items);
  if ((flags & dump_flags::kCacheTotals) != 0) {
    report.Format("Total Data Bytes in Cache: %llu\r\n", cache.dataBytes);
    report.Format("Total Buffer Bytes in Cache: %llu\r\n", cache.bufferBytes);
  }
  return report.Flush() ? 1 : 0;
}
