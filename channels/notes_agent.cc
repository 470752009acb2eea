#include "channels/notes_agent.h"

#include <algorithm>

#include "base/text_scan.h"
#include "base/trace_bits.h"
#include "channels/notes_house.h"
#include "platform/trace.h"

using platform::DWORD;

namespace {

constexpr DWORD kMaxUpdatePeriod = 365u * 24 * 3600;

constexpr CChannelAgent::Texts kTexts{
    "Notes Agent",
    "Notes Agent: Update: Updating notes data files %s.\n",
    "Notes Agent: Update: notes.dat thread threw an exception...\n",
};

}  // namespace

CNotesAgent::CNotesAgent(const CPRegistry& settings, CNotesHouse* house)
    : CChannelAgent(settings, "NotesAgent", "BuildNotesFile", kTexts, kSlotCount,
                    &CPRegistry::SetStatisticsNotesRequests),
      m_pHouse(house) {}

CNotesAgent::~CNotesAgent() { StopRebuilding(); }

int CNotesAgent::Init() {
  m_Settings.Open(1);
  m_Directory = m_pHouse != nullptr ? m_pHouse->NotesDirectory()
                                    : channel_files::WithSlash(m_Settings.GetNotesDirectory());
  m_UpdatePeriod = std::clamp<DWORD>(m_Settings.GetNotesUpdateFrequency(), 1, kMaxUpdatePeriod);
  m_Enabled = m_Settings.GetEnableNotesChannel() != 0 && m_pHouse != nullptr;
  m_NextUpdate[eNotesData] = m_Settings.GetNotesNextUpdate();
  m_NextUpdate[eDVLogo] = m_Settings.GetDVLogoNextUpdate();
  m_NextUpdate[eADLogo] = m_Settings.GetADLogoNextUpdate();
  m_NextUpdate[eDoze] = m_Settings.GetDozeNextUpdate();
  m_Started = false;
  if (m_Enabled) Start(true);
  return 1;
}

int CNotesAgent::HTTPProcess(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                             CPTransactionLogEntry* logEntry) {
  if (request == nullptr) return 0;
  const std::int32_t category = request->GetCategory();
  const std::string argument = request->Arguments().empty() ? std::string() : request->Arguments().front();
  trace(trace_bits::kSend, "Notes Agent: Category %d, Arg: %s\n", category, argument.c_str());

  if (!m_Enabled) {
    AnswerError(socket, bytesSent, request, 204, "Notes Agent Disabled", logEntry);
    trace(trace_bits::kSend, "Notes Agent: Disabled.\n");
    return 1;
  }
  if (!m_Started) {
    trace(trace_bits::kSend, "Notes Agent: Notes Channel Starting up!\n");
    AnswerError(socket, bytesSent, request, 500, "Notes Channel Starting up", logEntry);
    return 1;
  }
  if (category != kNotesCategory) {
    trace(trace_bits::kSend, "Notes Agent: Does not handle category ID %d\n", category);
    AnswerError(socket, bytesSent, request, 500, "No default response", logEntry);
    return 0;
  }
  if (request->Arguments().empty()) {
    trace(trace_bits::kSend, "Notes Agent: Category %d requires argument.\n", category);
    AnswerError(socket, bytesSent, request, 500, "No default response", logEntry);
    ReportMissingArgument(socket);
    return 1;
  }

  int result;
  if (request->GetMethod() == QRNHTTP::ePOST) {
    result = ReceiveNotesFile(socket, bytesSent, request, logEntry);
  } else {
    const int corpType = GetCorpType(argument);
    result = corpType == eNamedFile ? SendNamedFile(socket, bytesSent, request, argument, logEntry)
                                    : SendSlot(socket, bytesSent, request, corpType, logEntry);
  }
  m_RequestCount.Increment();
  return result;
}

int CNotesAgent::GetCorpType(const std::string& argument) {
  if (net::EqualsNoCase(argument, "data_file")) return eNotesData;
  if (net::EqualsNoCase(argument, "adlogo_file")) return eADLogo;
  if (net::EqualsNoCase(argument, "dvlogo_file")) return eDVLogo;
  if (net::EqualsNoCase(argument, "doze_file")) return eDoze;
  // Then the slots' own file names.
  for (const int corpType : {eNotesData, eADLogo, eDVLogo, eDoze}) {
    const std::string name = FileNameOfPath(SlotFileName(corpType));
    if (!name.empty() && net::EqualsNoCase(argument, name)) return corpType;
  }
  return eNamedFile;
}

int CNotesAgent::ReceiveNotesFile(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                                  CPTransactionLogEntry* logEntry) {
  const std::vector<char>& body = request->Body();
  const bool stored =
      !body.empty() && m_pHouse->WriteNewData(body.data(), static_cast<DWORD>(body.size()), false) == 0;
  if (stored) {
    AnswerError(socket, bytesSent, request, 204, "Successful receipt of notes.dat", logEntry);
  } else {
    AnswerError(socket, bytesSent, request, 500, "Failed receiving notes.dat", logEntry);
  }
  return 1;
}

int CNotesAgent::BuildNotesFile() {
  if (m_Enabled) {
    // The views are fetched before the slots are locked: readers go on
    // being answered from the slots as they were meanwhile.
    const std::string expanded = m_pHouse->ReadAndExpand();
    trace(trace_bits::kSend, "Notes Agent: Updating: Read %d expanded bytes into notes.dat buffer\n",
          static_cast<int>(expanded.size()));
    const std::string adLogo = m_pHouse->ADLogoPath();
    const std::string dvLogo = m_pHouse->DVLogoPath();
    const std::string dvFile = m_pHouse->DVFilePath();
    CExclusiveLock hold(m_SlotLock);
    m_Slots[eNotesData].data =
        expanded.empty() ? nullptr : std::make_shared<const std::vector<char>>(expanded.begin(), expanded.end());
    m_Slots[eNotesData].fileName = "notes.dat";
    LoadSlotFromFile(m_Slots[eADLogo], adLogo);
    LoadSlotFromFile(m_Slots[eDVLogo], dvLogo);
    LoadSlotFromFile(m_Slots[eDoze], dvFile);
  }
  m_Started = true;
  return 1;
}
