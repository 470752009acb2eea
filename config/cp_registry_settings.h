// The catalogue of settings under SOFTWARE\Orrinvale\Zondrel: one row per
// value, (accessor stem, value name, default). CPRegistry expands each row
// into GetX(), SetX(value), DeleteX() and GetDefaultX(), so a value name and
// its default are spelled here and nowhere else.
//
// Text defaults are expressions evaluated inside CPRegistry at each call, so
// the home-relative ones follow the current HomeDirectory.
#pragma once

// Numbers, stored as REG_DWORD.
#define CP_NUMBER_SETTINGS(X)                                                        \
  X(ServerMaxClientThreads, "ThreadPools\\MaxClientThreads", 300)                    \
  X(ThreadExpireTime, "ThreadPools\\ThreadExpireTime", 600000)                       \
  X(HeartBeatPort, "HeartBeatPort", 0)                                               \
  X(HeartBeatFrequency, "HeartBeatFrequency", 0)                                     \
  X(ServerNoOfListenThreads, "Comm\\NoOfListenThreads", 1)                           \
  X(RecvTimeout, "RecvTimeout", 20)                                                  \
  X(ConnectTimeout, "ConnectTimeout", 10)                                            \
  X(StopGracePeriod, "StopGracePeriod", 5)                                           \
  X(AdStatsSequenceNumber, "AdStatsSequenceNumber", 1)                               \
  X(StatisticsAdStatsUploads, "Statistics\\AdStatsUploads", 0)                       \
  X(StatisticsAdStatsUploadFailures, "Statistics\\AdStatsUploadFailures", 0)         \
  X(RedirectionRefreshFrequency, "RedirectionRefreshFrequency", 7200)                \
  X(RedirectionNextUpdate, "RedirectionNextUpdate", 86400)                           \
  X(RedirectionChannel, "RedirectionChannel", 66560)                                 \
  X(RedirectionClients, "Statistics\\RedirectionClients", 0)                         \
  X(RedirectionZondrels, "Statistics\\RedirectionZondrels", 0)                       \
  X(CorporateRemoteLevel, "CorporateRemoteLevel", 1)                                 \
  X(CorporateUpdateFrequency, "CorporateUpdateFrequency", 600)                       \
  X(CorporateNextUpdate, "CorporateNextUpdate", 600)                                 \
  X(FlashNextUpdate, "FlashNextUpdate", 600)                                         \
  X(DVLogoNextUpdate, "DVLogoNextUpdate", 9000)                                      \
  X(ADLogoNextUpdate, "ADLogoNextUpdate", 9000)                                      \
  X(DozeNextUpdate, "DozeNextUpdate", 9000)                                          \
  X(NotesUpdateFrequency, "DominoUpdateFrequency", 600)                              \
  X(NotesNextUpdate, "DominoNextUpdate", 600)                                        \
  X(StatisticsMajorVersion, "Statistics\\MajorVersion", 1)                           \
  X(StatisticsMinorVersion, "Statistics\\MinorVersion", 1)                           \
  X(StatisticsCorpRequests, "Statistics\\CorpRequests", 0)                           \
  X(StatisticsNotesRequests, "Statistics\\NotesRequests", 0)                         \
  X(StatisticsAdStatsRequests, "Statistics\\AdStatsRequests", 0)                     \
  X(StatisticsPassThruRequests, "Statistics\\PassThruRequests", 0)                   \
  X(StatisticsRedirectRequests, "Statistics\\RedirectRequests", 0)                   \
  X(StatisticsNullAgentRequests, "Statistics\\NullAgentRequests", 0)                 \
  X(StatisticsClientAdminRequests, "Statistics\\ClientAdminRequests", 0)             \
  X(PerformanceMonSamplingInterval, "Statistics\\PerformanceMonSamplingInterval", 60000) \
  X(CacheDirectoryNumFolders, "CacheDirectoryNumFolders", 0)                         \
  X(CacheSamplingFrequency, "CacheSamplingFrequency", 10)                            \
  X(StatisticsCacheLoggedHits, "Statistics\\CacheLoggedHits", 0)                     \
  X(StatisticsCacheLoggedRequests, "Statistics\\CacheLoggedRequests", 0)             \
  X(CacheCleanerStartDay, "CacheCleanerStartDay", 1)                                 \
  X(CacheCleanerStartHour, "CacheCleanerStartHour", 2)                               \
  X(CacheCleanerStartMinute, "CacheCleanerStartMinute", 30)                          \
  X(CacheCleanerIntervalMinutes, "CacheCleanerIntervalMinutes", 1440)                \
  X(TransactionLogMaxFileSize, "TransactionLogMaxFileSize", 1048576)                 \
  X(TransactionLogCurrID, "TransactionLogCurrID", 1)                                 \
  X(TransactionLogEnabled, "TransactionLogEnabled", 1)                               \
  X(DeleteLogFilesOlderThanDays, "DeleteLogFilesOlderThanDays", 7)                   \
  X(EventViewMask, "EventViewMask", 0xFFFFFFFF)                                      \
  X(ProxyPort, "HTTPProxyPort", 0)                                                   \
  X(SocksPort, "SOCKSProxyPort", 0)                                                  \
  X(UDPBeaconPort, "BeaconPort", 3090)                                               \
  X(WebPort, "Admin\\WebPort", 8070)                                                 \
  X(JavaPort, "Admin\\JavaPort", 8071)                                               \
  X(BlockingNextUpdate, "BlockingNextUpdate", 86400)                                 \
  X(SecurityPort, "SecurityPort", 8072)

// Booleans: read as text ("Off", "no", "0", ... are false), written "On"/"Off".
#define CP_BOOLEAN_SETTINGS(X)                                   \
  X(EnableCorpChannel, "EnableCorpChannel", 1)                   \
  X(CorporateDisableDNSLookups, "CorporateDisableDNSLookups", 1) \
  X(EnableNotesChannel, "EnableDominoChannel", 0)                \
  X(RequireAdminPassword, "Admin\\AdminWKM", 0)                  \
  X(WebDirectoryIndexing, "Admin\\WebDirectoryIndexing", 0)

// Texts, stored as REG_SZ. Directories end in "/".
#define CP_TEXT_SETTINGS(X)                                                          \
  X(AdStatsDirectory, "AdStatsDirectory", GetHomeDirectory() + "AdStats/")           \
  X(AdStatsUploadTime, "AdStatsUploadTime", "")                                      \
  X(StatisticsAdStats, "Statistics\\AdStatsStatus", "")                              \
  X(RedirectionMasterZondrel, "RedirectionMasterZondrel", "localhost:(8080)")        \
  X(RedirectionFile, "RedirectionFile", GetHomeDirectory() + "redirect.csv")         \
  X(RedirectionCacheFile, "RedirectionCacheFile", GetHomeDirectory() + "redirect.cache") \
  X(RedirectionDirectory, "RedirectionDirectory", GetHomeDirectory() + "redirect")   \
  X(RedirectionZondrelDirectory, "RedirectionZondrelDirectory", GetHomeDirectory() + "red_tmp") \
  X(RedirectionStatistics, "Statistics\\RedirectionStatus", "")                      \
  X(CorporateScratchDirectory, "CorporateScratchDirectory", GetHomeDirectory() + "corp_tmp") \
  X(CorpDirectory, "CorpDirectory", GetHomeDirectory() + "corp")                     \
  X(FlashFile, "FlashFile", "flash.dat")                                             \
  X(CorporateStatistics, "Statistics\\CorporateStatus", "")                          \
  X(NotesDominoURL, "DominoURL", "http://" + GetHostName())                          \
  X(NotesDominoFileName, "DominoFileName", "domino.dat")                             \
  X(NotesDirectory, "DominoDirectory", "")                                           \
  X(NotesViewFailureString, "DominoViewFailureString",                               \
    "<NOTESVIEW Name=\"View Unavailable - contact administrator (Can not talk to "   \
    "Domino server)\"> </NOTESVIEW>")                                                \
  X(StatisticsRunningSince, "Statistics\\SystemRunningSince", "")                    \
  X(StatisticsBuildStatus, "Statistics\\BuildStatus", "")                            \
  X(TransactionLogDirectory, "TransactionLogDirectory", GetHomeDirectory() + "Log/") \
  X(ProxyHost, "HTTPProxyHost", "")                                                  \
  X(ProxyUser, "HTTPProxyUser", "")                                                  \
  X(ProxyPassword, "HTTPProxyPassword", "")                                          \
  X(NoProxyList, "NoProxyList", "")                                                  \
  X(SocksHost, "SOCKSProxyHost", "")                                                 \
  X(SocksUser, "SOCKSProxyUser", "")                                                 \
  X(RegistrationID, "RegistrationID", "")                                            \
  X(AdminPassword, "Admin\\AdminPassword", "")                                       \
  X(AdminPasswordHint, "Admin\\AdminPasswordHint", "")                               \
  X(ManagerLogFile, "ManagerLogFile", GetHomeDirectory() + "Log/wkm.log")            \
  X(ZondrelDomain, "ZondrelDomain", "")                                              \
  X(ZondrelUser, "ZondrelUser", "")                                                  \
  X(ZondrelPassword, "ZondrelPassword", "")                                          \
  X(BlockingMessageURL, "BlockingMessageURL", "")                                    \
  X(SecurityServer, "SecurityServer", GetHostName())                                 \
  X(BroadcastAddress, "BroadcastAddress", "127.255.255.255")                         \
  X(AdminListenAddress, "Admin\\ListenAddress", "127.0.0.1")

// String lists, stored as REG_MULTI_SZ; they have no default (Get reports
// whether the value was read).
#define CP_LIST_SETTINGS(X)                           \
  X(AgentsDefaultList, "AgentsList\\DefaultList")     \
  X(FileAgentPaths, "Admin\\FileAgentPaths")          \
  X(AdminServerPaths, "Admin\\AdminServerPaths")      \
  X(RedirectionAllowedPosters, "Redirection\\AllowedPosters")
