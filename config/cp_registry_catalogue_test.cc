// Every row of the catalogue: its default on an empty machine, and that the
// accessors read, write and delete the value under the exact name the rest
// of the system (and the administration tool) uses.
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "platform/machine.h"

#include "config/cp_registry.h"
#include "config/settings_testing.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace {

DWORD StoredType(QRRegistry& raw, const char* name) {
  DWORD type = 0, size = 0;
  BYTE* data = nullptr;
  if (!raw.QueryValue(name, nullptr, &size, &type, &data)) return platform::REG_NONE;
  delete[] data;
  return type;
}

template <typename T>
struct Accessors {
  T (CPRegistry::*get)();
  void (CPRegistry::*set)(std::conditional_t<std::is_same_v<T, std::string>, const char*, T>);
  void (CPRegistry::*remove)();
  T (CPRegistry::*get_default)();
};

#define ACCESSORS(stem) \
  { &CPRegistry::Get##stem, &CPRegistry::Set##stem, &CPRegistry::Delete##stem, &CPRegistry::GetDefault##stem }

struct NumberRow {
  const char* name;
  DWORD expected;
  Accessors<DWORD> call;
};

const NumberRow kNumbers[] = {
    {"ThreadPools\\MaxClientThreads", 300, ACCESSORS(ServerMaxClientThreads)},
    {"ThreadPools\\ThreadExpireTime", 600000, ACCESSORS(ThreadExpireTime)},
    {"HeartBeatPort", 0, ACCESSORS(HeartBeatPort)},
    {"HeartBeatFrequency", 0, ACCESSORS(HeartBeatFrequency)},
    {"Comm\\NoOfListenThreads", 1, ACCESSORS(ServerNoOfListenThreads)},
    {"RecvTimeout", 20, ACCESSORS(RecvTimeout)},
    {"ConnectTimeout", 10, ACCESSORS(ConnectTimeout)},
    {"StopGracePeriod", 5, ACCESSORS(StopGracePeriod)},
    {"AdStatsSequenceNumber", 1, ACCESSORS(AdStatsSequenceNumber)},
    {"Statistics\\AdStatsUploads", 0, ACCESSORS(StatisticsAdStatsUploads)},
    {"Statistics\\AdStatsUploadFailures", 0, ACCESSORS(StatisticsAdStatsUploadFailures)},
    {"RedirectionRefreshFrequency", 7200, ACCESSORS(RedirectionRefreshFrequency)},
    {"RedirectionNextUpdate", 86400, ACCESSORS(RedirectionNextUpdate)},
    {"RedirectionChannel", 0x10400, ACCESSORS(RedirectionChannel)},
    {"Statistics\\RedirectionClients", 0, ACCESSORS(RedirectionClients)},
    {"Statistics\\RedirectionZondrels", 0, ACCESSORS(RedirectionZondrels)},
    {"CorporateRemoteLevel", 1, ACCESSORS(CorporateRemoteLevel)},
    {"CorporateUpdateFrequency", 600, ACCESSORS(CorporateUpdateFrequency)},
    {"CorporateNextUpdate", 600, ACCESSORS(CorporateNextUpdate)},
    {"FlashNextUpdate", 600, ACCESSORS(FlashNextUpdate)},
    {"DVLogoNextUpdate", 9000, ACCESSORS(DVLogoNextUpdate)},
    {"ADLogoNextUpdate", 9000, ACCESSORS(ADLogoNextUpdate)},
    {"DozeNextUpdate", 9000, ACCESSORS(DozeNextUpdate)},
    {"DominoUpdateFrequency", 600, ACCESSORS(NotesUpdateFrequency)},
    {"DominoNextUpdate", 600, ACCESSORS(NotesNextUpdate)},
    {"Statistics\\MajorVersion", 1, ACCESSORS(StatisticsMajorVersion)},
    {"Statistics\\MinorVersion", 1, ACCESSORS(StatisticsMinorVersion)},
    {"Statistics\\CorpRequests", 0, ACCESSORS(StatisticsCorpRequests)},
    {"Statistics\\NotesRequests", 0, ACCESSORS(StatisticsNotesRequests)},
    {"Statistics\\AdStatsRequests", 0, ACCESSORS(StatisticsAdStatsRequests)},
    {"Statistics\\PassThruRequests", 0, ACCESSORS(StatisticsPassThruRequests)},
    {"Statistics\\RedirectRequests", 0, ACCESSORS(StatisticsRedirectRequests)},
    {"Statistics\\NullAgentRequests", 0, ACCESSORS(StatisticsNullAgentRequests)},
    {"Statistics\\ClientAdminRequests", 0, ACCESSORS(StatisticsClientAdminRequests)},
    {"Statistics\\PerformanceMonSamplingInterval", 60000, ACCESSORS(PerformanceMonSamplingInterval)},
    {"CacheDirectoryNumFolders", 0, ACCESSORS(CacheDirectoryNumFolders)},
    {"CacheSamplingFrequency", 10, ACCESSORS(CacheSamplingFrequency)},
    {"Statistics\\CacheLoggedHits", 0, ACCESSORS(StatisticsCacheLoggedHits)},
    {"Statistics\\CacheLoggedRequests", 0, ACCESSORS(StatisticsCacheLoggedRequests)},
    {"CacheCleanerStartDay", 1, ACCESSORS(CacheCleanerStartDay)},
    {"CacheCleanerStartHour", 2, ACCESSORS(CacheCleanerStartHour)},
    {"CacheCleanerStartMinute", 30, ACCESSORS(CacheCleanerStartMinute)},
    {"CacheCleanerIntervalMinutes", 1440, ACCESSORS(CacheCleanerIntervalMinutes)},
    {"TransactionLogMaxFileSize", 1024 * 1024, ACCESSORS(TransactionLogMaxFileSize)},
    {"TransactionLogCurrID", 1, ACCESSORS(TransactionLogCurrID)},
    {"TransactionLogEnabled", 1, ACCESSORS(TransactionLogEnabled)},
    {"DeleteLogFilesOlderThanDays", 7, ACCESSORS(DeleteLogFilesOlderThanDays)},
    {"EventViewMask", 4294967295u, ACCESSORS(EventViewMask)},
    {"HTTPProxyPort", 0, ACCESSORS(ProxyPort)},
    {"SOCKSProxyPort", 0, ACCESSORS(SocksPort)},
    {"BeaconPort", 3090, ACCESSORS(UDPBeaconPort)},
    {"Admin\\WebPort", 8070, ACCESSORS(WebPort)},
    {"Admin\\JavaPort", 8071, ACCESSORS(JavaPort)},
    {"BlockingNextUpdate", 86400, ACCESSORS(BlockingNextUpdate)},
    {"SecurityPort", 8072, ACCESSORS(SecurityPort)},
};

struct BooleanRow {
  const char* name;
  int expected;
  Accessors<int> call;
};

const BooleanRow kBooleans[] = {
    {"EnableCorpChannel", 1, ACCESSORS(EnableCorpChannel)},
    {"CorporateDisableDNSLookups", 1, ACCESSORS(CorporateDisableDNSLookups)},
    {"EnableDominoChannel", 0, ACCESSORS(EnableNotesChannel)},
    {"Admin\\AdminWKM", 0, ACCESSORS(RequireAdminPassword)},
    {"Admin\\WebDirectoryIndexing", 0, ACCESSORS(WebDirectoryIndexing)},
};

// How a text default is made: as it stands, after the home directory, or
// followed by the host name.
enum class Base { kNone, kHome, kHost };

struct TextRow {
  const char* name;
  Base base;
  const char* text;
  Accessors<std::string> call;
};

const TextRow kTexts[] = {
    {"AdStatsDirectory", Base::kHome, "AdStats/", ACCESSORS(AdStatsDirectory)},
    {"AdStatsUploadTime", Base::kNone, "", ACCESSORS(AdStatsUploadTime)},
    {"Statistics\\AdStatsStatus", Base::kNone, "", ACCESSORS(StatisticsAdStats)},
    {"RedirectionMasterZondrel", Base::kNone, "localhost:(8080)", ACCESSORS(RedirectionMasterZondrel)},
    {"RedirectionFile", Base::kHome, "redirect.csv", ACCESSORS(RedirectionFile)},
    {"RedirectionCacheFile", Base::kHome, "redirect.cache", ACCESSORS(RedirectionCacheFile)},
    {"RedirectionDirectory", Base::kHome, "redirect", ACCESSORS(RedirectionDirectory)},
    {"RedirectionZondrelDirectory", Base::kHome, "red_tmp", ACCESSORS(RedirectionZondrelDirectory)},
    {"Statistics\\RedirectionStatus", Base::kNone, "", ACCESSORS(RedirectionStatistics)},
    {"CorporateScratchDirectory", Base::kHome, "corp_tmp", ACCESSORS(CorporateScratchDirectory)},
    {"CorpDirectory", Base::kHome, "corp", ACCESSORS(CorpDirectory)},
    {"FlashFile", Base::kNone, "flash.dat", ACCESSORS(FlashFile)},
    {"Statistics\\CorporateStatus", Base::kNone, "", ACCESSORS(CorporateStatistics)},
    {"DominoURL", Base::kHost, "http://", ACCESSORS(NotesDominoURL)},
    {"DominoFileName", Base::kNone, "domino.dat", ACCESSORS(NotesDominoFileName)},
    {"DominoDirectory", Base::kNone, "", ACCESSORS(NotesDirectory)},
    {"DominoViewFailureString", Base::kNone,
     "<NOTESVIEW Name=\"View Unavailable - contact administrator (Can not talk to Domino "
     "server)\"> </NOTESVIEW>",
     ACCESSORS(NotesViewFailureString)},
    {"Statistics\\SystemRunningSince", Base::kNone, "", ACCESSORS(StatisticsRunningSince)},
    {"Statistics\\BuildStatus", Base::kNone, "", ACCESSORS(StatisticsBuildStatus)},
    {"TransactionLogDirectory", Base::kHome, "Log/", ACCESSORS(TransactionLogDirectory)},
    {"HTTPProxyHost", Base::kNone, "", ACCESSORS(ProxyHost)},
    {"HTTPProxyUser", Base::kNone, "", ACCESSORS(ProxyUser)},
    {"HTTPProxyPassword", Base::kNone, "", ACCESSORS(ProxyPassword)},
    {"NoProxyList", Base::kNone, "", ACCESSORS(NoProxyList)},
    {"SOCKSProxyHost", Base::kNone, "", ACCESSORS(SocksHost)},
    {"SOCKSProxyUser", Base::kNone, "", ACCESSORS(SocksUser)},
    {"RegistrationID", Base::kNone, "", ACCESSORS(RegistrationID)},
    {"Admin\\AdminPassword", Base::kNone, "", ACCESSORS(AdminPassword)},
    {"Admin\\AdminPasswordHint", Base::kNone, "", ACCESSORS(AdminPasswordHint)},
    {"ManagerLogFile", Base::kHome, "Log/wkm.log", ACCESSORS(ManagerLogFile)},
    {"ZondrelDomain", Base::kNone, "", ACCESSORS(ZondrelDomain)},
    {"ZondrelUser", Base::kNone, "", ACCESSORS(ZondrelUser)},
    {"ZondrelPassword", Base::kNone, "", ACCESSORS(ZondrelPassword)},
    {"BlockingMessageURL", Base::kNone, "", ACCESSORS(BlockingMessageURL)},
    {"SecurityServer", Base::kHost, "", ACCESSORS(SecurityServer)},
    {"BroadcastAddress", Base::kNone, "127.255.255.255", ACCESSORS(BroadcastAddress)},
    {"Admin\\ListenAddress", Base::kNone, "127.0.0.1", ACCESSORS(AdminListenAddress)},
};

std::string ExpectedText(const TextRow& row, const std::string& home) {
  switch (row.base) {
    case Base::kHome: return home + row.text;
    case Base::kHost: return row.text + platform::GetHostName();
    case Base::kNone: break;
  }
  return row.text;
}

TEST(CatalogueDefaults, EverySettingOnAnEmptyMachine) {
  CPRegistry settings;
  for (const auto& row : kNumbers) {
    EXPECT_EQ((settings.*row.call.get)(), row.expected) << row.name;
    EXPECT_EQ((settings.*row.call.get_default)(), row.expected) << row.name;
  }
  for (const auto& row : kBooleans) {
    EXPECT_EQ((settings.*row.call.get)(), row.expected) << row.name;
    EXPECT_EQ((settings.*row.call.get_default)(), row.expected) << row.name;
  }
  const std::string home = platform::MachineRoot() + "/home/";
  EXPECT_EQ(settings.GetHomeDirectory(), home);
  EXPECT_EQ(settings.GetDefaultHomeDirectory(), home);
  for (const auto& row : kTexts) {
    EXPECT_EQ((settings.*row.call.get)(), ExpectedText(row, home)) << row.name;
    EXPECT_EQ((settings.*row.call.get_default)(), ExpectedText(row, home)) << row.name;
  }
}

TEST(CatalogueDefaults, HomeRelativeDefaultsFollowHomeDirectory) {
  QRRegistry raw = RawSettings();
  ASSERT_TRUE(raw.SetValue("HomeDirectory", "/srv/relay", platform::REG_SZ));
  CPRegistry settings;
  EXPECT_EQ(settings.GetHomeDirectory(), "/srv/relay/");
  EXPECT_EQ(settings.GetCorpDirectory(), "/srv/relay/corp");
  for (const auto& row : kTexts) {
    if (row.base == Base::kHome) {
      EXPECT_EQ((settings.*row.call.get)(), ExpectedText(row, "/srv/relay/")) << row.name;
    }
  }
}

// Each value is written under its exact name with a value of its own, and
// read back only after all are written, so two settings sharing a name or a
// misspelt name shows up.
TEST(CatalogueNames, GettersReadTheValueNamedInTheCatalogue) {
  QRRegistry raw = RawSettings();
  DWORD probe = 5000;
  for (const auto& row : kNumbers) ASSERT_TRUE(raw.SetValue(row.name, probe++, platform::REG_DWORD));
  for (const auto& row : kBooleans) {
    ASSERT_TRUE(raw.SetValue(row.name, row.expected ? "off" : "yes", platform::REG_SZ));
  }
  for (const auto& row : kTexts) {
    ASSERT_TRUE(raw.SetValue(row.name, (std::string("probe ") + row.name).c_str(), platform::REG_SZ));
  }

  CPRegistry settings;
  probe = 5000;
  for (const auto& row : kNumbers) EXPECT_EQ((settings.*row.call.get)(), probe++) << row.name;
  for (const auto& row : kBooleans) EXPECT_EQ((settings.*row.call.get)(), !row.expected) << row.name;
  for (const auto& row : kTexts) {
    EXPECT_EQ((settings.*row.call.get)(), std::string("probe ") + row.name) << row.name;
  }
}

TEST(CatalogueNames, SettersWriteTheCatalogueTypeAndDeletersRemove) {
  CPRegistry settings;
  QRRegistry raw = RawSettings();
  for (const auto& row : kNumbers) {
    (settings.*row.call.set)(row.expected + 11);
    DWORD stored = 0;
    EXPECT_TRUE(raw.GetValue(row.name, &stored)) << row.name;
    EXPECT_EQ(stored, row.expected + 11) << row.name;
    EXPECT_EQ(StoredType(raw, row.name), platform::REG_DWORD) << row.name;
    (settings.*row.call.remove)();
    EXPECT_FALSE(raw.DoesValueExist(row.name)) << row.name;
  }
  for (const auto& row : kBooleans) {
    (settings.*row.call.set)(!row.expected);
    EXPECT_EQ(raw.GetValue(row.name, static_cast<const char*>("")), row.expected ? "Off" : "On")
        << row.name;
    (settings.*row.call.remove)();
    EXPECT_FALSE(raw.DoesValueExist(row.name)) << row.name;
  }
  for (const auto& row : kTexts) {
    (settings.*row.call.set)("written");
    EXPECT_EQ(raw.GetValue(row.name, static_cast<const char*>("")), "written") << row.name;
    EXPECT_EQ(StoredType(raw, row.name), platform::REG_SZ) << row.name;
    (settings.*row.call.remove)();
    EXPECT_FALSE(raw.DoesValueExist(row.name)) << row.name;
  }
}

struct ListRow {
  const char* name;
  int (CPRegistry::*get)(std::vector<std::string>&);
  void (CPRegistry::*set)(const std::vector<std::string>&);
  void (CPRegistry::*remove)();
};

const ListRow kLists[] = {
    {"AgentsList\\DefaultList", &CPRegistry::GetAgentsDefaultList, &CPRegistry::SetAgentsDefaultList,
     &CPRegistry::DeleteAgentsDefaultList},
    {"Admin\\FileAgentPaths", &CPRegistry::GetFileAgentPaths, &CPRegistry::SetFileAgentPaths,
     &CPRegistry::DeleteFileAgentPaths},
    {"Admin\\AdminServerPaths", &CPRegistry::GetAdminServerPaths, &CPRegistry::SetAdminServerPaths,
     &CPRegistry::DeleteAdminServerPaths},
};

TEST(CatalogueLists, ReportMissingAndRoundTripAsMultiStrings) {
  CPRegistry settings;
  QRRegistry raw = RawSettings();
  for (const auto& row : kLists) {
    std::vector<std::string> read = {"untouched"};
    EXPECT_EQ((settings.*row.get)(read), 0) << row.name;
    EXPECT_EQ(read, std::vector<std::string>{"untouched"}) << row.name;

    const std::vector<std::string> written = {"/first", std::string(row.name), "third entry"};
    ASSERT_TRUE(raw.SetValue(row.name, written));
    read.clear();
    EXPECT_EQ((settings.*row.get)(read), 1) << row.name;
    EXPECT_EQ(read, written) << row.name;

    (settings.*row.set)({"a", "b"});
    std::vector<std::string> stored;
    EXPECT_TRUE(raw.GetValue(row.name, stored));
    EXPECT_EQ(stored, (std::vector<std::string>{"a", "b"})) << row.name;
    EXPECT_EQ(StoredType(raw, row.name), platform::REG_MULTI_SZ) << row.name;

    (settings.*row.remove)();
    EXPECT_FALSE(raw.DoesValueExist(row.name)) << row.name;
  }
}

}  // namespace
