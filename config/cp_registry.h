// CPRegistry: the settings catalogue on HKEY_LOCAL_MACHINE\SOFTWARE\Orrinvale\Zondrel.
// One family of accessors per setting (the rows of cp_registry_settings.h):
//
//   GetX()         the value, or the default when it is missing or unreadable;
//                  every read writes a "CPRegistry(...)" trace line (level 1)
//   SetX(value)    writes it (numbers REG_DWORD, texts REG_SZ, booleans "On"/"Off")
//   DeleteX()      removes the value
//   GetDefaultX()  the default alone
//
// Writes report nothing; the registry's error code stays in GetLastError().
// Objects are cheap to copy and copies share no handle: each thread or
// long-lived object keeps its own.
#pragma once

#include <string>
#include <vector>

#include "config/cp_registry_settings.h"
#include "regwrap/qr_registry.h"

class CPRegistry : public QRRegistry {
 public:
  CPRegistry();
  CPRegistry(const QRRegistry& parent, const char* path, const char* computer);
  ~CPRegistry() override = default;

#define CP_DECLARE_NUMBER(Stem, name, fallback) \
  DWORD Get##Stem();                            \
  void Set##Stem(DWORD value);                  \
  void Delete##Stem();                          \
  DWORD GetDefault##Stem();
#define CP_DECLARE_BOOLEAN(Stem, name, fallback) \
  int Get##Stem();                               \
  void Set##Stem(int value);                     \
  void Delete##Stem();                           \
  int GetDefault##Stem();
#define CP_DECLARE_TEXT(Stem, name, fallback) \
  std::string Get##Stem();                    \
  void Set##Stem(const char* value);          \
  void Delete##Stem();                        \
  std::string GetDefault##Stem();
#define CP_DECLARE_LIST(Stem, name)                      \
  int Get##Stem(std::vector<std::string>& values);       \
  void Set##Stem(const std::vector<std::string>& values); \
  void Delete##Stem();

  CP_NUMBER_SETTINGS(CP_DECLARE_NUMBER)
  CP_BOOLEAN_SETTINGS(CP_DECLARE_BOOLEAN)
  CP_TEXT_SETTINGS(CP_DECLARE_TEXT)
  CP_LIST_SETTINGS(CP_DECLARE_LIST)

#undef CP_DECLARE_NUMBER
#undef CP_DECLARE_BOOLEAN
#undef CP_DECLARE_TEXT
#undef CP_DECLARE_LIST

  // HomeDirectory: always ends in "/" when read. Not cached: the
  // home-relative defaults follow it at each read.
  std::string GetHomeDirectory();
  void SetHomeDirectory(const char* path);
  void DeleteHomeDirectory();
  std::string GetDefaultHomeDirectory();

  // The directory for temporary files, ending in "/" (TempDirectory decides
  // it when the system has none of its own; the result is kept in TempTemp).
  // Worked out once per process.
  std::string GetTempDirectory();
  // The same, worked out afresh.
  std::string FindTempDirectory();

  // The machine's host name, once per process; the registry is not read.
  static std::string GetHostName();
  // For the administration tool only: GetHostName ignores it.
  void SetHostName(const char* name);

  // Listen entry n: "Comm\LISTEN<n>", a port number, or as text either a
  // port or "address,port".
  DWORD GetServerLISTENPort(DWORD n);
  void SetServerLISTENPort(DWORD n, DWORD port);
  void DeleteServerLISTENPort(DWORD n);
  DWORD GetDefaultServerLISTENPort();
  std::string GetServerLISTENIPPort(DWORD n);
  void SetServerLISTENIPPort(DWORD n, const char* text);
  std::string GetDefaultServerLISTENIPPort();
  // How many listen entries are configured (at least 1: entry 1 always has
  // its default).
  DWORD GetServerLISTENIPPortCount();

  // Upstream server n: "IPList\IP:PORT-<n>".
  std::string GetIPPort(DWORD n);
  void SetIPPort(DWORD n, const char* text);
  void DeleteIPPort(DWORD n);
  std::string GetDefaultIPPort();

 protected:
  void Init() override;

 private:
  DWORD ReadNumber(const char* name, DWORD fallback);
  int ReadBoolean(const char* name, int fallback);
  std::string ReadText(const char* name, const std::string& fallback);
};
