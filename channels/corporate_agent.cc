#include "channels/corporate_agent.h"

#include <algorithm>
#include <optional>

#include "base/text_scan.h"
#include "base/trace_bits.h"
#include "channels/corp_tree.h"
#include "channels/corporate_data.h"
#include "channels/flash_house.h"
#include "platform/trace.h"

using platform::DWORD;

namespace {

constexpr DWORD kMaxUpdatePeriod = 365u * 24 * 3600;

constexpr CChannelAgent::Texts kTexts{
    "Corp Agent",
    "Corp Agent: Update: Updating corporate data files %s.\n",
    "Corp Agent: Update: corp.dat thread threw an exception...\n",
};

std::shared_ptr<const std::vector<char>> SharedBytes(const std::string& bytes) {
  return std::make_shared<const std::vector<char>>(bytes.begin(), bytes.end());
}

}  // namespace

CCorporateAgent::CCorporateAgent(const CPRegistry& settings, CCorporateData* data, CFlashHouse* flash)
    : CChannelAgent(settings, "CorporateAgent", "BuildCorpFile", kTexts, kSlotCount,
                    &CPRegistry::SetStatisticsCorpRequests),
      m_pData(data),
      m_pFlash(flash) {
  if (m_pFlash != nullptr) m_pFlash->SetNewDataListener([this] { BuildCorpFile(); });
}

CCorporateAgent::~CCorporateAgent() {
  if (m_pFlash != nullptr) m_pFlash->SetNewDataListener(nullptr);
  StopRebuilding();
}

int CCorporateAgent::Init() {
  m_Settings.Open(1);
  m_Directory = channel_files::WithSlash(m_Settings.GetCorpDirectory());
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
    AnswerError(socket, bytesSent, request, 500, "Corporate Channel Starting up", logEntry);
    return 1;
  }
  if (category != kCorporateCategory && category != kFlashCategory) {
    trace(trace_bits::kSend, "Corp Agent: Does not handle category ID %d\n", category);
    AnswerError(socket, bytesSent, request, 500, "No default response", logEntry);
    return 0;
  }
  if (category == kCorporateCategory && request->Arguments().empty()) {
    trace(trace_bits::kSend, "Corp Agent: Category %d requires argument.\n", category);
    AnswerError(socket, bytesSent, request, 500, "No default response", logEntry);
    ReportMissingArgument(socket);
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
    if (expanded) m_Slots[eCorpData].data = SharedBytes(*expanded);
    m_Slots[eFlash].data = flash.empty() ? nullptr : SharedBytes(flash);
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
