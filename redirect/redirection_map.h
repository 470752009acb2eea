// CRedirectionMap: redirect.csv as an address-prefix map. It says which relay
// servers a client address should use, answers that as a small [DataCenter]
// document, traces itself, and on the master pushes every newly installed
// table to the other servers it names (the slaves).
//
// redirect.csv: line 1 is the company name and the host of each server
// column, line 2 the master's host and each server's ports, every later line
// a client address key and a mark per server ("all others" for clients that
// match no key). Keys are kept in canonical form ("10.1/16"); a range is kept
// as the smallest set of blocks that covers it; a key given twice gets the
// union of its marks; the longest prefix wins.
//
// Readers (BuildRedirectAnswer, PrintMap) run on request threads under the
// shared lock; SetRedirectCsv replaces everything under the exclusive lock
// and posts to the slaves outside it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "config/cp_registry.h"
#include "platform/types.h"
#include "poolmgr/read_write_lock.h"
#include "redirect/redirect_csv.h"

// Who this server is: its host name (the machine's computer name), the
// addresses that count as its own, its address and its listening ports, and
// the channel flags its answers carry.
struct RedirectionIdentity {
  std::string hostName;
  // Every address of a lookup of the host name, then 127.0.0.1.
  std::vector<std::uint32_t> ownAddresses;
  // The first address of the host name ("" when it has none).
  std::string address;
  // The port parts of the Comm\LISTEN<n> entries.
  std::vector<int> ports;
  bool corpChannel = true;
  bool notesChannel = false;

  // Read from the settings and the machine's name lookups.
  static RedirectionIdentity FromSettings(CPRegistry& settings);
  // host ":(" ports joined by "," ")".
  std::string Designator() const;
  // The table a relay writes when it finds none and no master: itself alone,
  // master of itself, for every client.
  std::string DefaultMasterTable() const;
};

class CRedirectionMap {
 public:
  explicit CRedirectionMap(const CPRegistry& settings);
  CRedirectionMap(const CPRegistry& settings, RedirectionIdentity identity);
  virtual ~CRedirectionMap() = default;
  CRedirectionMap(const CRedirectionMap&) = delete;
  CRedirectionMap& operator=(const CRedirectionMap&) = delete;

  // Parses and installs a table: 1, or 0 when it is invalid (nothing changes).
  // On the master the table then goes to every slave it names.
  int SetRedirectCsv(const char* bytes, platform::DWORD length);
  // The answer for a client (dotted address); empty when neither a key nor
  // "all others" covers it.
  std::string BuildRedirectAnswer(std::string_view client);
  // Traces the installed map.
  void PrintMap();
  // The header check alone; nothing is installed.
  static bool IsValidTable(const char* bytes, platform::DWORD length);

  // Whether an address (dotted, or host order) is one of this host's.
  bool IsOwnAddress(std::uint32_t address) const;
  bool IsOwnAddress(std::string_view dotted) const;
  // Whether the installed table names this host as its master.
  bool IsMaster();
  // The master's address (dotted) of the installed table, "" before one.
  std::string MasterAddress();
  // The address of a host: itself when dotted, else its first looked-up
  // address, else the host as written.
  static std::string AddressOf(const std::string& host);

  const RedirectionIdentity& Identity() const { return m_Identity; }

  // What is installed, for tests and the benchmark.
  struct Statistics {
    std::size_t keys = 0;
    int smallest = 32;
    int largest = 0;
    std::uint32_t lengthsInUse = 0;  // bit n-1 for length n
    std::uint64_t addressesCovered = 0;
    int serverIndex = -1;
    std::size_t servers = 0;
  };
  Statistics GetStatistics();
  // The canonical keys with their marks ("10/8" → "x  x").
  std::vector<std::pair<std::string, std::string>> Entries();
  std::string CompanyName();
  std::string MasterDesignator();

 protected:
  // Sends the table to one slave; the master's posting calls it for each.
  virtual void PostToSlave(const std::string& name, int port, std::string_view table);
  // The name lookups of a table's servers: AddressOf, and the name of a
  // dotted address ("" when it has none).
  virtual std::string HostAddress(const std::string& host) { return AddressOf(host); }
  virtual std::string AddressName(std::uint32_t address);

 private:
  struct Server {
    std::string name;
    std::string address;      // dotted (or the host as written)
    std::string addressText;  // address ":(" ports ")"
    std::string designator;   // host ":" port cell
    std::vector<int> ports;
  };

  // Answers per distinct assignment, built at install: index into m_Answers.
  std::size_t AnswerFor(const std::string& assignment);
  std::string BuildAnswer(const std::string& assignment) const;
  void Store(std::uint64_t key, const std::string& assignment);
  void PostToSlaves(std::string_view table);

  CPRegistry m_Settings;
  const RedirectionIdentity m_Identity;
  CReadWriteLock m_Lock;

  // Guarded by m_Lock.
  std::string m_CompanyName;
  std::string m_MasterHost;
  std::string m_MasterAddress;
  std::string m_MasterDesignator;
  int m_ServerIndex = -1;
  std::vector<Server> m_Servers;
  // (address << 6 | length) → index of the key's assignment.
  std::unordered_map<std::uint64_t, std::uint32_t> m_Map;
  std::optional<std::uint32_t> m_AllOthers;
  std::vector<std::string> m_Assignments;
  std::vector<std::string> m_Answers;
  std::unordered_map<std::string, std::uint32_t> m_AssignmentIndex;
  int m_Smallest = 32;
  int m_Largest = 0;
  std::uint32_t m_LengthsInUse = 0;
  std::uint64_t m_AddressesCovered = 0;
};
