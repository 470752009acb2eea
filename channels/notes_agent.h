// CNotesAgent: answers the Notes channel's requests (category 66817) from
// four in-memory slots, rebuilt on its worker thread ("NotesAgent") every
// update period and at once when the named event "BuildNotesFile" is set;
// a POST replaces the channel's description file. A channel that is not
// enabled answers every request 204 "Notes Agent Disabled".
//
//   corpType 0  "data_file" or "notes.dat"   notes.dat, expanded
//   corpType 1  "dvlogo_file" or its name    the DV_LOGO file
//   corpType 2  "adlogo_file" or its name    the AD_LOGO file
//   corpType 3  "doze_file" or its name      the DV_FILE file
//   corpType 4  anything else                a file of the Notes directory
#pragma once

#include <cstdint>
#include <string>

#include "channels/channel_agent.h"

class CNotesHouse;

class CNotesAgent : public CChannelAgent {
 public:
  static constexpr std::int32_t kNotesCategory = 66817;  // 0x10501
  enum eNotesType : int { eNotesData = 0, eDVLogo = 1, eADLogo = 2, eDoze = 3, eNamedFile = 4 };
  static constexpr int kSlotCount = 4;

  CNotesAgent(const CPRegistry& settings, CNotesHouse* house);
  ~CNotesAgent() override;

  // Reads the settings; only an enabled channel starts its thread, whose
  // first rebuild runs at once. Always 1.
  int Init() override;
  int HTTPProcess(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                  CPTransactionLogEntry* logEntry) override;
  // Rebuilds the four slots (when enabled). Always 1.
  int BuildNotesFile();

 protected:
  virtual int GetCorpType(const std::string& argument);
  // A posted description file, handed to the house.
  virtual int ReceiveNotesFile(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                               CPTransactionLogEntry* logEntry);
  int Rebuild() override { return BuildNotesFile(); }

 private:
  CNotesHouse* m_pHouse;
  bool m_Enabled = false;
};
