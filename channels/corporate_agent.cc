#include "channels/corporate_agent.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <limits>
#include <utility>

#include "base/event_catalogue.h"
#include "base/text_scan.h"
#include "base/trace_bits.h"
#include "channels/corp_file_format.h"
#include "channels/corporate_data.h"
#include "channels/flash_house.h"
#include "net/fetched_item.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "platform/system.h"
#include "platform/trace.h"
#include "txlog/transaction_log_entry.h"

using platform::DWORD;

namespace {

constexpr DWORD kStopSeconds = 15;
constexpr DWORD kMaxUpdatePeriod = 365u * 24 * 3600;

std::string WithSlash(std::string directory) {
  if (!directory.empty() && directory.back() != '/') directory += '/';
  return directory;
}

void SetStatus(CPTransactionLogEntry* logEntry, int status) {
  if (logEntry != nullptr) logEntry->SetStatus(status);
}

std::string ClientAddress(platform::SOCKET socket) {
  platform::SocketAddress peer;
  if (platform::GetPeerAddress(socket, &peer) != 0) return "unknown";
  return platform::FormatDottedAddress(peer.address);
}

// Whether `path` lies within `directory` (both resolved), at any depth.
bool InsideDirectory(const std::string& path, const std::string& directory) {
  const std::string resolvedDirectory = platform::CanonicalPath(directory);
  const std::string resolvedPath = platform::CanonicalPath(path);
  if (resolvedDirectory.empty() || resolvedPath.empty()) return false;
  const std::string prefix = resolvedDirectory == "/" ? resolvedDirectory : resolvedDirectory + "/";
  return resolvedPath.size() > prefix.size() && resolvedPath.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

CCorporateAgent::CCorporateAgent(const CPRegistry& settings, CCorporateData* data, CFlashHouse* flash)
    : CWorkerThread("CorporateAgent", "BuildCorpFile"),
      m_Settings(settings),
      m_pData(data),
      m_pFlash(flash),
      m_RequestCount([this](std::uint32_t count) { m_Settings.SetStatisticsCorpRequests(count); }) {
  if (m_pFlash != nullptr) m_pFlash->SetNewDataListener([this] { BuildCorpFile(); });
}

CCorporateAgent::~CCorporateAgent() {
  if (m_pFlash != nullptr) m_pFlash->SetNewDataListener(nullptr);
  Stop(kStopSeconds);
  // The rebuild uses the slots and the data objects.
  WaitForDetachedThread(platform::kInfinite);
}

int CCorporateAgent::Init() {
  m_Settings.Open(1);
  m_Directory = WithSlash(m_Settings.GetCorpDirectory());
  // A period of 0 would rebuild without pause.
  m_UpdatePeriod = std::clamp<DWORD>(m_Settings.GetCorporateUpdateFrequency(), 1, kMaxUpdatePeriod);
  m_NextUpdate[eCorpData] = m_Settings.GetCorporateNextUpdate();
  m_NextUpdate[eDVLogo] = m_Settings.GetDVLogoNextUpdate();
  m_NextUpdate[eADLogo] = m_Settings.GetADLogoNextUpdate();
  m_NextUpdate[eDoze] = m_Settings.GetDozeNextUpdate();
  m_NextUpdate[eFlash] = m_Settings.GetFlashNextUpdate();
  m_Started = false;
  Start(true);
  return 1;
}

int CCorporateAgent::HTTPProcess(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                                 CPTransactionLogEntry* logEntry) {
  if (request == nullptr) return 0;
  const std::int32_t category = request->GetCategory();
  const std::string argument = request->Arguments().empty() ? std::string() : request->Arguments().front();
  trace(trace_bits::kSend, "Corp Agent: Category %d, Arg: %s\n", category, argument.c_str());

  if (!m_Started) {
    trace(trace_bits::kSend, "Corp Agent: Corporate Channel Starting up!\n");
    HTTPSendErrorPacket(socket, bytesSent, request, 500, "Corporate Channel Starting up");
    SetStatus(logEntry, 500);
    return 1;
  }
  if (category != kCorporateCategory && category != kFlashCategory) {
    trace(trace_bits::kSend, "Corp Agent: Does not handle category ID %d\n", category);
    HTTPSendErrorPacket(socket, bytesSent, request, 500, "No default response");
    SetStatus(logEntry, 500);
    return 0;
  }
  if (category == kCorporateCategory && request->Arguments().empty()) {
    trace(trace_bits::kSend, "Corp Agent: Category %d requires argument.\n", category);
    HTTPSendErrorPacket(socket, bytesSent, request, 500, "No default response");
    SetStatus(logEntry, 500);
    events::Report<events::kChannelArgumentMissing>(ClientAddress(socket));
    return 1;
  }

  const int corpType = GetCorpType(category, argument);
  const int result = corpType == eNamedFile ? SendNamedFile(socket, bytesSent, request, argument, logEntry)
                                            : SendSlot(socket, bytesSent, request, corpType, logEntry);
  m_RequestCount.Increment();
  return result;
}

int CCorporateAgent::GetCorpType(std::int32_t category, const std::string& argument) const {
  if (category == kFlashCategory) return eFlash;
  if (net::EqualsNoCase(argument, "data_file")) return eCorpData;
  if (net::EqualsNoCase(argument, "dvlogo_file")) return eDVLogo;
  if (net::EqualsNoCase(argument, "adlogo_file")) return eADLogo;
  if (net::EqualsNoCase(argument, "doze_file")) return eDoze;
  return eNamedFile;
}

std::string CCorporateAgent::FileNameOfPath(const std::string& path) const {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int CCorporateAgent::SendSlot(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request, int corpType,
                              CPTransactionLogEntry* logEntry) {
  std::shared_ptr<const std::vector<char>> data;
  std::string fileName;
  {
    CSharedLock hold(m_SlotLock);
    data = m_Slots[corpType].data;
    fileName = m_Slots[corpType].fileName;
  }
  if (data == nullptr) {
    HTTPSendErrorPacket(socket, bytesSent, request, 204, "No data");
    SetStatus(logEntry, 204);
    trace(trace_bits::kSend, "Corp Agent: No data.\n");
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
  SetStatus(logEntry, sent == 1 ? 200 : 408);
  return sent;
}

std::string CCorporateAgent::ResolveNamedFile(const std::string& name) const {
  // Only a file directly in the corporate directory may go out: no path,
  // no way up, and no link that leads elsewhere.
  if (!corp_format::IsPlainFileName(name)) return {};
  const std::string path = m_Directory + name;
  if (platform::FileExists(path) && !InsideDirectory(path, m_Directory)) return {};
  return path;
}

int CCorporateAgent::SendNamedFile(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                                   const std::string& name, CPTransactionLogEntry* logEntry) {
  const std::string path = ResolveNamedFile(name);
  if (path.empty() || !platform::RegularFileExists(path)) {
    if (path.empty()) {
      trace(trace_bits::kSend, "Corp Agent: \"%s\" is not a file of the corporate directory: refused.\n",
            name.c_str());
    }
    trace(trace_bits::kSend, "Corp Agent: File \"%s\" does not exist. Cannot send to client.\n",
          (m_Directory + name).c_str());
    HTTPSendErrorPacket(socket, bytesSent, request, 204, "File not found.");
    SetStatus(logEntry, 204);
    return 1;
  }
  std::unique_ptr<platform::File> file = platform::File::Open(path, platform::File::Mode::kRead);
  const long long length = file != nullptr ? file->Size() : -1;
  if (length < 0 || length > std::numeric_limits<std::uint32_t>::max()) {
    trace(trace_bits::kSend, "Corp Agent: Error opening file \"%s\" to send to client.\n", path.c_str());
    HTTPSendErrorPacket(socket, bytesSent, request, 500, "Error opening file.");
    SetStatus(logEntry, 500);
    events::Report<events::kCorpFileSendFailed>(path, "error " + std::to_string(platform::GetLastError()));
    return 1;
  }
  CFetchedItem item(0, 0, 0, FileNameOfPath(path), std::move(file), static_cast<std::uint32_t>(length));
  item.SetNextUpdateTime(static_cast<std::int64_t>(std::time(nullptr)));
  const int sent = HTTPSendResponse(socket, bytesSent, request, &item, 1);
  SetStatus(logEntry, sent == 1 ? 200 : 408);
  return sent;
}

void CCorporateAgent::LoadSlotFromFile(Slot& slot, const std::string& path) {
  // A logo named in corp.dat must be a file of the corporate directory.
  if (path.size() <= m_Directory.size() || !platform::RegularFileExists(path) || !InsideDirectory(path, m_Directory)) {
    slot = Slot();
    return;
  }
  const std::int64_t modified = platform::FileModificationTime(path);
  if (slot.data != nullptr && slot.fileName == path && slot.modificationTime == modified) return;
  std::string reason;
  std::optional<std::string> bytes = CCorporateData::ReadDataFile(path, corp_limits::kFileBytes, reason);
  if (!bytes) {
    trace(trace_bits::kHouseError, "Corp Agent: %s not read: %s\n", path.c_str(), reason.c_str());
    events::Report<events::kCorpFileFailed>(path, reason);
    slot = Slot();
    return;
  }
  slot.data = std::make_shared<const std::vector<char>>(bytes->begin(), bytes->end());
  slot.fileName = path;
  slot.modificationTime = modified;
}

int CCorporateAgent::BuildCorpFile() {
  // The data objects are brought up to date first, each under its own lock.
  std::optional<std::string> expanded;
  std::optional<CCorpChannel> header;
  if (m_pData != nullptr) {
    m_pData->ReloadIfChanged();
    expanded = m_pData->GetExpandedImage();
    header = m_pData->GetHeader();
  }
  std::string flash;
  if (m_pFlash != nullptr) {
    m_pFlash->ReadFiles();
    flash = m_pFlash->GetDataString();
  }

  {
    CExclusiveLock hold(m_SlotLock);
    if (expanded) m_Slots[eCorpData].data = std::make_shared<const std::vector<char>>(expanded->begin(), expanded->end());
    m_Slots[eFlash].data =
        flash.empty() ? nullptr : std::make_shared<const std::vector<char>>(flash.begin(), flash.end());
    if (header) {
      LoadSlotFromFile(m_Slots[eADLogo], m_Directory + header->adLogo);
      LoadSlotFromFile(m_Slots[eDVLogo], m_Directory + header->dvLogo);
      LoadSlotFromFile(m_Slots[eDoze], m_Directory + header->dvFile);
    }
    m_Slots[eFlash].fileName = m_Directory + "flash.dat";
    m_Slots[eCorpData].fileName = m_Directory + "corp.dat";
  }
  m_Started = true;
  return 1;
}

DWORD CCorporateAgent::WorkerThreadRun() {
  while (WaitFor(static_cast<std::int32_t>(m_UpdatePeriod), true) != kWakeStop) {
    try {
      const int built = BuildCorpFile();
      trace(trace_bits::kSend, "Corp Agent: Update: Updating corporate data files %s.\n",
            built ? "succeeded" : "failed");
    } catch (const std::exception&) {
      trace(trace_bits::kSend, "Corp Agent: Update: corp.dat thread threw an exception...\n");
    }
  }
  return 0;
}
