#include "channels/channel_agent.h"

#include <ctime>
#include <exception>
#include <limits>
#include <optional>
#include <utility>

#include "base/event_catalogue.h"
#include "base/trace_bits.h"
#include "channels/corp_file_format.h"
#include "channels/corp_tree.h"
#include "channels/corporate_data.h"
#include "net/fetched_item.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "platform/system.h"
#include "platform/trace.h"
#include "txlog/transaction_log_entry.h"

using platform::DWORD;

namespace {

constexpr DWORD kStopSeconds = 15;

}  // namespace

namespace channel_files {

std::string WithSlash(std::string directory) {
  if (!directory.empty() && directory.back() != '/') directory += '/';
  return directory;
}

bool InsideDirectory(const std::string& path, const std::string& directory) {
  const std::string resolvedDirectory = platform::CanonicalPath(directory);
  const std::string resolvedPath = platform::CanonicalPath(path);
  if (resolvedDirectory.empty() || resolvedPath.empty()) return false;
  const std::string prefix = resolvedDirectory == "/" ? resolvedDirectory : resolvedDirectory + "/";
  return resolvedPath.size() > prefix.size() && resolvedPath.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace channel_files

CChannelAgent::CChannelAgent(const CPRegistry& settings, const char* threadName, const char* updateEventName,
                             const Texts& texts, std::size_t slotCount, PublishCount publishCount)
    : CWorkerThread(threadName, updateEventName),
      m_Settings(settings),
      m_Texts(texts),
      m_Slots(slotCount),
      m_RequestCount([this, publishCount](std::uint32_t count) { (m_Settings.*publishCount)(count); }) {}

CChannelAgent::~CChannelAgent() { StopRebuilding(); }

void CChannelAgent::StopRebuilding() {
  Stop(kStopSeconds);
  WaitForDetachedThread(platform::kInfinite);
}

void CChannelAgent::AnswerError(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request, int code,
                                const char* reason, CPTransactionLogEntry* logEntry) {
  HTTPSendErrorPacket(socket, bytesSent, request, code, reason);
  if (logEntry != nullptr) logEntry->SetStatus(code);
}

void CChannelAgent::ReportMissingArgument(platform::SOCKET socket) {
  platform::SocketAddress peer;
  const std::string client =
      platform::GetPeerAddress(socket, &peer) == 0 ? platform::FormatDottedAddress(peer.address) : "unknown";
  events::Report<events::kChannelArgumentMissing>(client);
}

std::string CChannelAgent::FileNameOfPath(const std::string& path) const {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string CChannelAgent::SlotFileName(int corpType) {
  CSharedLock hold(m_SlotLock);
  return m_Slots[static_cast<std::size_t>(corpType)].fileName;
}

int CChannelAgent::SendSlot(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request, int corpType,
                            CPTransactionLogEntry* logEntry) {
  std::shared_ptr<const std::vector<char>> data;
  std::string fileName;
  {
    CSharedLock hold(m_SlotLock);
    data = m_Slots[static_cast<std::size_t>(corpType)].data;
    fileName = m_Slots[static_cast<std::size_t>(corpType)].fileName;
  }
  if (data == nullptr) {
    AnswerError(socket, bytesSent, request, 204, "No data", logEntry);
    trace(trace_bits::kSend, "%s: No data.\n", m_Texts.prefix);
    return 1;
  }
  DWORD nextUpdate = 0;
  const auto found = m_NextUpdate.find(corpType);
  if (found != m_NextUpdate.end()) {
    nextUpdate = found->second;
  } else {
    trace(trace_bits::kSend, "No next update defined for corpType %d, using %u\n", corpType, nextUpdate);
  }
  CFetchedItem item(0, 0, 0, FileNameOfPath(fileName), std::move(data));
  item.SetNextUpdateTime(static_cast<std::int64_t>(std::time(nullptr)) + nextUpdate);
  const int sent = HTTPSendResponse(socket, bytesSent, request, &item, 0);
  if (logEntry != nullptr) logEntry->SetStatus(sent == 1 ? 200 : 408);
  return sent;
}

std::string CChannelAgent::ResolveNamedFile(const std::string& name) const {
  // Only a file directly in the directory may go out: no path, no way up,
  // and no link that leads elsewhere.
  if (!corp_format::IsPlainFileName(name)) return {};
  const std::string path = m_Directory + name;
  if (platform::FileExists(path) && !channel_files::InsideDirectory(path, m_Directory)) return {};
  return path;
}

int CChannelAgent::SendNamedFile(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                                 const std::string& name, CPTransactionLogEntry* logEntry) {
  const std::string path = ResolveNamedFile(name);
  if (path.empty() || !platform::RegularFileExists(path)) {
    if (path.empty()) {
      trace(trace_bits::kSend, "%s: \"%s\" is not a file of the channel's directory: refused.\n", m_Texts.prefix,
            name.c_str());
    }
    trace(trace_bits::kSend, "%s: File \"%s\" does not exist. Cannot send to client.\n", m_Texts.prefix,
          (m_Directory + name).c_str());
    AnswerError(socket, bytesSent, request, 204, "File not found.", logEntry);
    return 1;
  }
  std::unique_ptr<platform::File> file = platform::File::Open(path, platform::File::Mode::kRead);
  const long long length = file != nullptr ? file->Size() : -1;
  if (length < 0 || length > std::numeric_limits<std::uint32_t>::max()) {
    trace(trace_bits::kSend, "%s: Error opening file \"%s\" to send to client.\n", m_Texts.prefix, path.c_str());
    AnswerError(socket, bytesSent, request, 500, "Error opening file.", logEntry);
    events::Report<events::kCorpFileSendFailed>(path, "error " + std::to_string(platform::GetLastError()));
    return 1;
  }
  CFetchedItem item(0, 0, 0, FileNameOfPath(path), std::move(file), static_cast<std::uint32_t>(length));
  item.SetNextUpdateTime(static_cast<std::int64_t>(std::time(nullptr)));
  const int sent = HTTPSendResponse(socket, bytesSent, request, &item, 1);
  if (logEntry != nullptr) logEntry->SetStatus(sent == 1 ? 200 : 408);
  return sent;
}

void CChannelAgent::LoadSlotFromFile(Slot& slot, const std::string& path) {
  // A file named by the channel's description must lie in its directory.
  if (path.size() <= m_Directory.size() || !platform::RegularFileExists(path) ||
      !channel_files::InsideDirectory(path, m_Directory)) {
    slot = Slot();
    return;
  }
  const std::int64_t modified = platform::FileModificationTime(path);
  if (slot.data != nullptr && slot.fileName == path && slot.modificationTime == modified) return;
  std::string reason;
  std::optional<std::string> bytes = CCorporateData::ReadDataFile(path, corp_limits::kFileBytes, reason);
  if (!bytes) {
    trace(trace_bits::kHouseError, "%s: %s not read: %s\n", m_Texts.prefix, path.c_str(), reason.c_str());
    events::Report<events::kCorpFileFailed>(path, reason);
    slot = Slot();
    return;
  }
  slot.data = std::make_shared<const std::vector<char>>(bytes->begin(), bytes->end());
  slot.fileName = path;
  slot.modificationTime = modified;
}

DWORD CChannelAgent::WorkerThreadRun() {
  while (WaitFor(static_cast<std::int32_t>(m_UpdatePeriod), true) != kWakeStop) {
    try {
      const int built = Rebuild();
      trace(trace_bits::kSend, m_Texts.updated, built ? "succeeded" : "failed");
    } catch (const std::exception&) {
      trace(trace_bits::kSend, "%s", m_Texts.updateException);
    }
  }
  return 0;
}
