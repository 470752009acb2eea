#include "config/cp_registry.h"

#include "base/trace_bits.h"
#include "platform/machine.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "platform/registry.h"
#include "platform/system.h"
#include "platform/trace.h"

namespace {

constexpr DWORD kDefaultListenPort = 8080;

// Passwords are settings like any other, but they must not reach the trace
// log in clear.
bool IsSecret(std::string_view name) {
  constexpr std::string_view kSuffix = "Password";
  return name.size() >= kSuffix.size() && name.substr(name.size() - kSuffix.size()) == kSuffix;
}

std::string IndexedName(const char* prefix, DWORD n) { return prefix + std::to_string(n); }

// "LISTEN<digits>" in any case: the values of Comm that are listen entries
// (Comm also holds NoOfListenThreads, which is not one).
bool IsListenEntryName(const std::string& name) {
  constexpr std::string_view kPrefix = "LISTEN";
  if (name.size() <= kPrefix.size()) return false;
  for (std::size_t i = 0; i < kPrefix.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != kPrefix[i]) return false;
  }
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(kPrefix.size()), name.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

}  // namespace

CPRegistry::CPRegistry() {
  SetKey(QRRegistry(platform::HKEY_LOCAL_MACHINE), platform::kZondrelKeyPath, nullptr);
  m_bCreateOnOpen = 1;
}

CPRegistry::CPRegistry(const QRRegistry& parent, const char* path, const char* computer)
    : QRRegistry(parent, path, computer) {
  m_bCreateOnOpen = 1;
}

void CPRegistry::Init() {
  QRRegistry::Init();
  m_bCreateOnOpen = 1;
}

// Reads are traced once, with the value actually returned.
DWORD CPRegistry::ReadNumber(const char* name, DWORD fallback) {
  DWORD value = GetValue(name, fallback);
  trace(trace_bits::kConfig, "CPRegistry(%s, %u) = %u\n", name, fallback, value);
  return value;
}

int CPRegistry::ReadBoolean(const char* name, int fallback) {
  int value = GetValue(name, fallback);
  trace(trace_bits::kConfig, "CPRegistry(%s, %u) = %u\n", name, static_cast<unsigned>(fallback),
        static_cast<unsigned>(value));
  return value;
}

// A value that exists is returned as it is, even when empty; one that is
// missing or cannot be read as text gives the default.
std::string CPRegistry::ReadText(const char* name, const std::string& fallback) {
  std::string value = fallback;
  // One read: it fails alike for a missing value and one that is no text.
  std::string stored;
  if (GetValue(name, &stored)) value = std::move(stored);
  trace(trace_bits::kConfig, "CPRegistry(%s, \"%s\") = \"%s\"\n", name, fallback.c_str(),
        IsSecret(name) ? "********" : value.c_str());
  return value;
}

#define CP_DEFINE_NUMBER(Stem, name, fallback)                                                  \
  DWORD CPRegistry::Get##Stem() { return ReadNumber(name, fallback); }                          \
  void CPRegistry::Set##Stem(DWORD value) { SetValue(name, value, platform::REG_DWORD); }       \
  void CPRegistry::Delete##Stem() { DeleteValue(name); }                                        \
  DWORD CPRegistry::GetDefault##Stem() { return fallback; }
#define CP_DEFINE_BOOLEAN(Stem, name, fallback)                          \
  int CPRegistry::Get##Stem() { return ReadBoolean(name, fallback); }    \
  void CPRegistry::Set##Stem(int value) { SetValue(name, value ? 1 : 0); } \
  void CPRegistry::Delete##Stem() { DeleteValue(name); }                 \
  int CPRegistry::GetDefault##Stem() { return fallback; }
#define CP_DEFINE_TEXT(Stem, name, fallback)                                         \
  std::string CPRegistry::Get##Stem() { return ReadText(name, GetDefault##Stem()); } \
  void CPRegistry::Set##Stem(const char* value) {                                    \
    SetValue(name, value != nullptr ? value : "", platform::REG_SZ);                 \
  }                                                                                  \
  void CPRegistry::Delete##Stem() { DeleteValue(name); }                             \
  std::string CPRegistry::GetDefault##Stem() { return fallback; }
#define CP_DEFINE_LIST(Stem, name)                                                                 \
  int CPRegistry::Get##Stem(std::vector<std::string>& values) { return GetValue(name, values); }   \
  void CPRegistry::Set##Stem(const std::vector<std::string>& values) { SetValue(name, values); }   \
  void CPRegistry::Delete##Stem() { DeleteValue(name); }

CP_NUMBER_SETTINGS(CP_DEFINE_NUMBER)
CP_BOOLEAN_SETTINGS(CP_DEFINE_BOOLEAN)
CP_TEXT_SETTINGS(CP_DEFINE_TEXT)
CP_LIST_SETTINGS(CP_DEFINE_LIST)

std::string CPRegistry::GetHomeDirectory() {
  std::string home = ReadText("HomeDirectory", GetDefaultHomeDirectory());
  if (home.empty() || home.back() != '/') home += '/';
  return home;
}

void CPRegistry::SetHomeDirectory(const char* path) {
  SetValue("HomeDirectory", path != nullptr ? path : "", platform::REG_SZ);
}

void CPRegistry::DeleteHomeDirectory() { DeleteValue("HomeDirectory"); }

// The relay's files live on its machine: "home/" below the machine root
// (/var/lib/zondrel/home/ on an ordinary installation).
std::string CPRegistry::GetDefaultHomeDirectory() { return platform::MachineRoot() + "/home/"; }

std::string CPRegistry::GetHostName() {
  static const std::string host = platform::GetHostName();
  return host;
}

void CPRegistry::SetHostName(const char* name) {
  SetValue("HostName", name != nullptr ? name : "", platform::REG_SZ);
}

DWORD CPRegistry::GetServerLISTENPort(DWORD n) {
  return ReadNumber(IndexedName("Comm\\LISTEN", n).c_str(), kDefaultListenPort);
}

void CPRegistry::SetServerLISTENPort(DWORD n, DWORD port) {
  SetValue(IndexedName("Comm\\LISTEN", n).c_str(), port, platform::REG_DWORD);
}

void CPRegistry::DeleteServerLISTENPort(DWORD n) {
  DeleteValue(IndexedName("Comm\\LISTEN", n).c_str());
}

DWORD CPRegistry::GetDefaultServerLISTENPort() { return kDefaultListenPort; }

std::string CPRegistry::GetServerLISTENIPPort(DWORD n) {
  return ReadText(IndexedName("Comm\\LISTEN", n).c_str(), GetDefaultServerLISTENIPPort());
}

void CPRegistry::SetServerLISTENIPPort(DWORD n, const char* text) {
  SetValue(IndexedName("Comm\\Listen", n).c_str(), text != nullptr ? text : "", platform::REG_SZ);
}

std::string CPRegistry::GetDefaultServerLISTENIPPort() { return std::to_string(kDefaultListenPort); }

DWORD CPRegistry::GetServerLISTENIPPortCount() {
  if (!DoesKeyExist("Comm")) return 1;
  QRRegistry comm(*this, "Comm", nullptr);
  DWORD entries = 0;
  if (comm.Open(0)) {
    try {
      DWORD values = comm.GetNumberOfValues();
      for (DWORD i = 0; i < values; ++i) {
        DWORD type = 0;
        if (IsListenEntryName(comm.EnumValue(i, &type))) ++entries;
      }
    } catch (int) {
      // The key went away or changed under us: count what was seen.
    }
    comm.Close(0);
  }
  return std::max<DWORD>(entries, 1);
}

std::string CPRegistry::GetIPPort(DWORD n) {
  return ReadText(IndexedName("IPList\\IP:PORT-", n).c_str(), GetDefaultIPPort());
}

void CPRegistry::SetIPPort(DWORD n, const char* text) {
  SetValue(IndexedName("IPList\\IP:PORT-", n).c_str(), text != nullptr ? text : "",
           platform::REG_SZ);
}

void CPRegistry::DeleteIPPort(DWORD n) { DeleteValue(IndexedName("IPList\\IP:PORT-", n).c_str()); }

std::string CPRegistry::GetDefaultIPPort() { return {}; }
