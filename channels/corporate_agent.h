// CCorporateAgent: answers the viewers' corporate-channel requests
// (categories 66816 and 67072) from five in-memory slots, rebuilt on its
// worker thread ("CorporateAgent") every update period, at once when the
// named event "BuildCorpFile" is set, and whenever the flash house receives
// new data.
//
//   corpType 0  66816 "data_file"    corp.dat, expanded
//   corpType 1  66816 "dvlogo_file"  the DV_LOGO file
//   corpType 2  66816 "adlogo_file"  the AD_LOGO file
//   corpType 3  66816 "doze_file"    the DV_FILE file
//   corpType 4  67072                the flash file
//   corpType 5  66816 other          a file of the corporate directory
#pragma once

#include <cstdint>
#include <string>

#include "channels/channel_agent.h"

class CCorporateData;
class CFlashHouse;

class CCorporateAgent : public CChannelAgent {
 public:
  static constexpr std::int32_t kCorporateCategory = 66816;  // 0x10500
  static constexpr std::int32_t kFlashCategory = 67072;      // 0x10600
  enum eCorpType : int { eCorpData = 0, eDVLogo = 1, eADLogo = 2, eDoze = 3, eFlash = 4, eNamedFile = 5 };
  static constexpr int kSlotCount = 5;

  // The agent registers itself with `flash` for its new data.
  CCorporateAgent(const CPRegistry& settings, CCorporateData* data, CFlashHouse* flash);
  ~CCorporateAgent() override;

  // Reads the settings and starts the thread, whose first rebuild runs at
  // once. Always 1.
  int Init() override;
  int HTTPProcess(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                  CPTransactionLogEntry* logEntry) override;
  // Rebuilds the five slots. Always 1.
  int BuildCorpFile();

 protected:
  virtual int GetCorpType(std::int32_t category, const std::string& argument) const;
  int Rebuild() override { return BuildCorpFile(); }

 private:
  CCorporateData* m_pData;
  CFlashHouse* m_pFlash;
};
