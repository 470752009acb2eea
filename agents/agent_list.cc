#include "agents/agent_list.h"

#include <filesystem>
#include <system_error>
#include <thread>
#include <vector>

#include "agents/agent_list_format.h"
#include "base/event_catalogue.h"
#include "base/file_exception.h"
#include "base/trace_bits.h"
#include "net/http_tables.h"
#include "platform/file.h"
#include "platform/trace.h"
#include "upstream/http_stream.h"

namespace {

constexpr const char* kListPath = "/KIBO-1/67328-1";
constexpr int kReplaceAttempts = 100;

// The file first and then what went wrong, as the text of the event reads.
template <const events::Entry& E>
void ReportFileError(platform::DWORD error, const std::string& path) {
  events::Report<E>(path, CFileException(error, path).Reason());
}

}  // namespace

std::string CAgentList::UpstreamRequest() {
  return std::string("GET ") + kListPath + " HTTP/1.0\r\n" + net::HTTPUserAgentHeader() +
         "\r\nQRNReqType:4\r\nPragma: no-cache\r\n\r\n";
}

template <typename Read>
auto CAgentList::ReadInUse(Read read) const {
  for (;;) {
    const std::uint16_t inUse = m_InUse.load();
    const Buffer& buffer = m_Maps[inUse];
    buffer.readers.fetch_add(1);
    // A refresh may have flipped in between and be writing this map now.
    if (m_InUse.load() != inUse) {
      buffer.readers.fetch_sub(1);
      continue;
    }
    const auto result = read(buffer.map);
    buffer.readers.fetch_sub(1);
    return result;
  }
}

bool CAgentList::LookupValue(unsigned long category, std::uint32_t& value) const {
  if (category > UINT32_MAX) return false;
  return ReadInUse([&](const Map& map) {
    const auto found = map.find(static_cast<std::uint32_t>(category));
    if (found == map.end()) return false;
    value = found->second;
    return true;
  });
}

int CAgentList::Lookup(unsigned long category) const {
  std::uint32_t value = 0;
  return LookupValue(category, value) ? static_cast<int>(value & 0xFF) : 0;
}

std::size_t CAgentList::Count() const {
  return ReadInUse([](const Map& map) { return map.size(); });
}

CAgentList::Buffer& CAgentList::IdleBuffer() {
  Buffer& idle = m_Maps[1 - m_InUse.load()];
  // Lookups that started before the last flip finish within microseconds.
  while (idle.readers.load() != 0) std::this_thread::yield();
  return idle;
}

void CAgentList::EmptyIdleMap() {
  std::lock_guard<std::mutex> hold(m_RefreshLock);
  Map().swap(IdleBuffer().map);
}

int CAgentList::Refresh(int mode) {
  std::lock_guard<std::mutex> hold(m_RefreshLock);
  std::string data;
  bool fetched = false;
  if (mode == kInitialLoad) data = ReadFromDisk();
  if (data.empty()) {
    data = FetchFromUpstream();
    fetched = !data.empty();
  }

  Buffer& idle = IdleBuffer();
  std::uint64_t count = 0;
  const agents::ListParse parsed =
      data.empty() ? agents::ListParse::kRejected : agents::ParseAgentList(data, idle.map, kMaxEntries, count);
  if (parsed == agents::ListParse::kRejected) {
    if (!data.empty()) {
      trace(trace_bits::kAgentList, "CAgentList: list from %s rejected, entry count %llu\n",
            fetched ? "upstream" : m_FilePath.c_str(), static_cast<unsigned long long>(count));
      if (count > kMaxEntries) {
        events::Report<events::kAgentListUnreadable>();
      }
    }
    AddDefaults(idle.map);
    return 0;
  }
  if (parsed == agents::ListParse::kWithErrors) {
    trace(trace_bits::kAgentList, "CAgentList: list from %s has lines that are no entries\n",
          fetched ? "upstream" : m_FilePath.c_str());
  } else if (fetched) {
    StoreOnDisk(data);
  }
  AddDefaults(idle.map);
  m_InUse.store(static_cast<std::uint16_t>(1 - m_InUse.load()));
  trace(trace_bits::kAgentList, "CAgentList: %zu categories in use\n", idle.map.size());
  return 1;
}

void CAgentList::AddDefaults(Map& map) {
  std::vector<std::string> defaults;
  m_Registry.GetAgentsDefaultList(defaults);
  for (const std::string& text : defaults) {
    std::uint32_t category = 0;
    std::uint32_t value = 0;
    if (agents::ParseAgentEntry(text, category, value)) {
      map[category] = value;
    } else {
      trace(trace_bits::kAgentList, "CAgentList: default entry [%s] is not \"category,value\"\n", text.c_str());
    }
  }
}

std::string CAgentList::ReadFromDisk() {
  std::unique_ptr<platform::File> file = platform::File::Open(m_FilePath, platform::File::Mode::kRead);
  if (file == nullptr) {
    ReportFileError<events::kAgentListReadFailed>(platform::GetLastError(), m_FilePath);
    return {};
  }
  const long long size = file->Size();
  if (size < 0 || size > static_cast<long long>(kMaxListBytes)) {
    ReportFileError<events::kAgentListReadFailed>(platform::kErrorInvalidData, m_FilePath);
    return {};
  }
  std::string data(static_cast<std::size_t>(size), '\0');
  std::size_t done = 0;
  while (done < data.size()) {
    const long long got = file->Read(data.data() + done, data.size() - done);
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  if (done < data.size()) {
    ReportFileError<events::kAgentListReadFailed>(platform::kErrorReadFault, m_FilePath);
    return {};
  }
  return data;
}

std::string CAgentList::FetchFromUpstream() {
  CPHTTPStream stream(m_Registry);
  std::string header;
  const int status = stream.OpenAndGetHeader(UpstreamRequest(), header);
  if (status != 200) {
    stream.Close();
    trace(trace_bits::kAgentList, "CAgentList: no list from upstream, status %d\n", status);
    events::Report<events::kAgentListNotFetched>();
    return {};
  }
  // The body is read into a buffer of the announced size, never more.
  const int length = stream.GetContentLength(header);
  std::string data;
  bool complete = false;
  if (length > 0 && static_cast<std::size_t>(length) <= kMaxListBytes) {
    data = header;
    const std::size_t start = data.size();
    data.resize(start + static_cast<std::size_t>(length));
    std::size_t done = start;
    while (done < data.size()) {
      const int got = stream.Read(data.data() + done, data.size() - done);
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    complete = done == data.size();
  }
  stream.Close();
  if (!complete) {
    trace(trace_bits::kAgentList, "CAgentList: list from upstream unread, Content-Length %d\n", length);
    events::Report<events::kAgentListUnreadable>();
    return {};
  }
  return data;
}

bool CAgentList::StoreOnDisk(const std::string& data) {
  const std::string temporary = m_FilePath + ".tmp";
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(m_FilePath).parent_path(), error);
  // Renaming replaces the list in one step: a reader sees the old or the new.
  const platform::ReplaceResult result =
      platform::ReplaceFileContents(m_FilePath, data, temporary, kReplaceAttempts);
  if (result == platform::ReplaceResult::kWriteFailed) {
    ReportFileError<events::kAgentListStoreFailed>(platform::GetLastError(), temporary);
    return false;
  }
  if (result == platform::ReplaceResult::kRenameFailed) {
    events::Report<events::kAgentListReplaceFailed>(temporary, m_FilePath);
    return false;
  }
  return true;
}
