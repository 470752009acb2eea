#include "redirect/redirection_map.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>

#include "base/text_scan.h"
#include "base/trace_bits.h"
#include "platform/socket.h"
#include "platform/trace.h"
#include "upstream/http_stream.h"

using platform::DWORD;

namespace {

constexpr std::uint32_t kLoopback = 0x7F000001;
constexpr const char* kAllOthers = "all others";
constexpr const char* kPostPath = "/KIBO-1/66560-1?redirect.csv";

std::uint64_t MapKey(std::uint32_t address, int length) {
  return (static_cast<std::uint64_t>(address & redirect::MaskFor(length)) << 6) | static_cast<std::uint64_t>(length);
}

// The marks of a data line's cells after the key, one per server column.
std::string ReadAssignment(const std::vector<std::string_view>& cells, std::size_t servers) {
  std::string assignment;
  for (std::size_t i = 1; i < cells.size() && assignment.size() < servers; ++i) {
    assignment += cells[i].empty() ? ' ' : 'x';
  }
  return assignment;
}

std::string Union(const std::string& a, const std::string& b) {
  std::string joined(std::max(a.size(), b.size()), ' ');
  for (std::size_t i = 0; i < joined.size(); ++i) {
    const bool marked = (i < a.size() && a[i] != ' ') || (i < b.size() && b[i] != ' ');
    joined[i] = marked ? 'x' : ' ';
  }
  return joined;
}

// The ports of this server: the port part of each listen entry.
std::vector<int> ListenPorts(CPRegistry& settings) {
  std::vector<int> ports;
  const DWORD count = std::min<DWORD>(settings.GetServerNoOfListenThreads(), redirect::kMaxPorts);
  for (DWORD i = 1; i <= count; ++i) {
    const std::string entry = settings.GetServerLISTENIPPort(i);
    const std::size_t comma = entry.rfind(',');
    const std::vector<int> port =
        redirect::ParsePortList(comma == std::string::npos ? entry : entry.substr(comma + 1));
    if (!port.empty()) ports.push_back(port.front());
  }
  return ports;
}

}  // namespace

// --- identity --------------------------------------------------------------------

RedirectionIdentity RedirectionIdentity::FromSettings(CPRegistry& settings) {
  RedirectionIdentity identity;
  identity.hostName = CPRegistry::GetHostName();
  identity.ownAddresses = platform::ResolveHost(identity.hostName);
  if (std::find(identity.ownAddresses.begin(), identity.ownAddresses.end(), kLoopback) ==
      identity.ownAddresses.end()) {
    identity.ownAddresses.push_back(kLoopback);
  }
  const std::vector<std::uint32_t> found = platform::ResolveHost(identity.hostName);
  identity.address = found.empty() ? identity.hostName : platform::FormatDottedAddress(found.front());
  identity.ports = ListenPorts(settings);
  identity.corpChannel = settings.GetEnableCorpChannel() != 0;
  identity.notesChannel = settings.GetEnableNotesChannel() != 0;
  return identity;
}

std::string RedirectionIdentity::Designator() const { return hostName + ":(" + redirect::JoinPorts(ports, ",") + ")"; }

std::string RedirectionIdentity::DefaultMasterTable() const {
  return "My Company, " + hostName + "\r\n" + hostName + ", " + redirect::JoinPorts(ports, "|") +
         "\r\nall others, x\r\n";
}

// --- the map ---------------------------------------------------------------------

CRedirectionMap::CRedirectionMap(const CPRegistry& settings)
    : m_Settings(settings), m_Identity(RedirectionIdentity::FromSettings(m_Settings)) {
  m_MasterDesignator = m_Settings.GetRedirectionMasterZondrel();
}

CRedirectionMap::CRedirectionMap(const CPRegistry& settings, RedirectionIdentity identity)
    : m_Settings(settings), m_Identity(std::move(identity)) {
  m_MasterDesignator = m_Settings.GetRedirectionMasterZondrel();
}

bool CRedirectionMap::IsOwnAddress(std::uint32_t address) const {
  return std::find(m_Identity.ownAddresses.begin(), m_Identity.ownAddresses.end(), address) !=
         m_Identity.ownAddresses.end();
}

bool CRedirectionMap::IsOwnAddress(std::string_view dotted) const {
  std::uint32_t address = 0;
  return platform::ParseDottedAddress(std::string(dotted), &address) && IsOwnAddress(address);
}

bool CRedirectionMap::IsMaster() {
  CSharedLock hold(m_Lock);
  return !m_MasterAddress.empty() && IsOwnAddress(m_MasterAddress);
}

std::string CRedirectionMap::MasterAddress() {
  CSharedLock hold(m_Lock);
  return m_MasterAddress;
}

std::string CRedirectionMap::CompanyName() {
  CSharedLock hold(m_Lock);
  return m_CompanyName;
}

std::string CRedirectionMap::MasterDesignator() {
  CSharedLock hold(m_Lock);
  return m_MasterDesignator;
}

std::string CRedirectionMap::AddressOf(const std::string& host) {
  std::uint32_t dotted = 0;
  if (platform::ParseDottedAddress(host, &dotted)) return host;
  const std::vector<std::uint32_t> found = platform::ResolveHost(host);
  return found.empty() ? host : platform::FormatDottedAddress(found.front());
}

std::string CRedirectionMap::AddressName(std::uint32_t address) { return platform::HostNameOfAddress(address); }

bool CRedirectionMap::IsValidTable(const char* bytes, DWORD length) {
  if (bytes == nullptr && length > 0) return false;
  return redirect::HeaderIsValid(std::string_view(bytes == nullptr ? "" : bytes, length));
}

int CRedirectionMap::SetRedirectCsv(const char* bytes, DWORD length) {
  if (!IsValidTable(bytes, length)) {
    trace(trace_bits::kRedirect, "Redirect Map: Invalid redirect.csv (%u bytes) not installed.\n", length);
    return 0;
  }
  const std::string_view table(bytes == nullptr ? "" : bytes, length);
  bool master = false;
  try {
    std::vector<std::string_view> lines;
    redirect::SplitLines(table, lines);
    std::vector<std::string_view> names = redirect::SplitCells(lines[0]);
    std::vector<std::string_view> portCells = redirect::SplitCells(lines[1]);
    const std::string company(names.front().substr(0, redirect::kMaxCellLength));
    const std::string masterHost(portCells.front().substr(0, redirect::kMaxCellLength));
    names.erase(names.begin());
    portCells.erase(portCells.begin());

    // Names are looked up before the lock is taken: readers go on meanwhile.
    const std::string masterAddress = HostAddress(masterHost);
    std::vector<Server> servers;
    int serverIndex = -1;
    std::string masterDesignator;
    for (std::size_t i = 0; i < names.size(); ++i) {
      Server server;
      const std::string host(names[i].substr(0, redirect::kMaxCellLength));
      std::string portCell(portCells[i].substr(0, redirect::kMaxCellLength));
      if (portCell.empty() || portCell.front() != '(') portCell = "(" + portCell + ")";
      server.designator = host + ":" + portCell;
      server.ports = redirect::ParsePortList(portCell);
      server.address = HostAddress(host);
      std::uint32_t dotted = 0;
      server.name = host;
      if (platform::ParseDottedAddress(host, &dotted)) {
        const std::string name = AddressName(dotted);
        if (!name.empty()) server.name = name;
      }
      server.addressText = server.address + ":(" + redirect::JoinPorts(server.ports, ",") + ")";
      if ((serverIndex < 0 && IsOwnAddress(server.address)) || server.address == m_Identity.address) {
        serverIndex = static_cast<int>(i);
      }
      if (server.address == masterAddress) {
        masterDesignator = masterHost + ":(" + std::to_string(server.ports.empty() ? -1 : server.ports.front()) + ")";
      }
      servers.push_back(std::move(server));
    }

    CExclusiveLock hold(m_Lock);
    m_CompanyName = company;
    m_MasterHost = masterHost;
    m_MasterAddress = masterAddress;
    if (!masterDesignator.empty()) m_MasterDesignator = masterDesignator;
    m_ServerIndex = serverIndex;
    m_Servers = std::move(servers);
    m_Smallest = 32;
    m_Largest = 0;
    m_LengthsInUse = 0;
    m_AddressesCovered = 0;
    m_Map.clear();
    m_AllOthers.reset();
    m_Assignments.clear();
    m_Answers.clear();
    m_AssignmentIndex.clear();

    std::vector<redirect::Block> blocks;
    for (std::size_t n = 2; n < lines.size(); ++n) {
      const std::string_view line = lines[n];
      const std::size_t comma = line.find(',');
      const std::string_view keyText = net::TrimBlanks(line.substr(0, comma));
      if (keyText.empty() || keyText.size() > redirect::kMaxCellLength) continue;
      const std::string key = net::LowerCase(keyText);
      const std::vector<std::string_view> cells = redirect::SplitCells(line);
      const std::string assignment = ReadAssignment(cells, m_Servers.size());
      if (key == kAllOthers) {
        const std::string joined = m_AllOthers ? Union(m_Assignments[*m_AllOthers], assignment) : assignment;
        m_AllOthers = static_cast<std::uint32_t>(AnswerFor(joined));
        continue;
      }
      blocks.clear();
      if (key.find('-') != std::string::npos) {
        if (!redirect::RangeToBlocks(key, blocks)) {
          trace(trace_bits::kRedirect, "Redirect Map: Range \"%s\" ignored.\n", key.c_str());
          continue;
        }
      } else {
        redirect::Block block;
        if (!redirect::ParseAddressKey(key, block)) {
          trace(trace_bits::kRedirect, "Redirect Map: Key \"%s\" ignored.\n", key.c_str());
          continue;
        }
        blocks.push_back(block);
      }
      if (m_Map.size() + blocks.size() > redirect::kMaxKeys) {
        trace(trace_bits::kRedirect, "Redirect Map: More than %zu keys: \"%s\" and the lines after it ignored.\n",
              redirect::kMaxKeys, key.c_str());
        break;
      }
      for (const redirect::Block& block : blocks) Store(MapKey(block.address, block.length), assignment);
    }
    master = IsOwnAddress(m_MasterAddress);
  } catch (const std::exception&) {
    trace(trace_bits::kRedirect, "Redirect Map: Exception thrown creating data structures.\n");
    return 0;
  }
  PrintMap();

  if (master) {
    try {
      PostToSlaves(table);
    } catch (const std::exception&) {
      trace(trace_bits::kRedirect, "Redirect Map: Exception thrown broadcasting to slaves.\n");
    }
  }
  // The table this relay made for itself when it found no master must not
  // take the place of the master it was told to ask.
  const std::string designator = MasterDesignator();
  if (table != m_Identity.DefaultMasterTable() && !designator.empty()) {
    m_Settings.SetRedirectionMasterZondrel(designator.c_str());
  }
  return 1;
}

void CRedirectionMap::Store(std::uint64_t key, const std::string& assignment) {
  const int length = static_cast<int>(key & 0x3F);
  auto found = m_Map.find(key);
  if (found != m_Map.end()) {
    found->second = static_cast<std::uint32_t>(AnswerFor(Union(m_Assignments[found->second], assignment)));
    return;
  }
  m_Map.emplace(key, static_cast<std::uint32_t>(AnswerFor(assignment)));
  m_Smallest = std::min(m_Smallest, length);
  m_Largest = std::max(m_Largest, length);
  if (length > 0) m_LengthsInUse |= 1u << (length - 1);
  m_AddressesCovered += std::uint64_t{1} << (32 - length);
}

std::size_t CRedirectionMap::AnswerFor(const std::string& assignment) {
  auto found = m_AssignmentIndex.find(assignment);
  if (found != m_AssignmentIndex.end()) return found->second;
  const std::uint32_t index = static_cast<std::uint32_t>(m_Assignments.size());
  m_Assignments.push_back(assignment);
  m_Answers.push_back(BuildAnswer(assignment));
  m_AssignmentIndex.emplace(assignment, index);
  return index;
}

std::string CRedirectionMap::BuildAnswer(const std::string& assignment) const {
  const bool here = m_ServerIndex >= 0 && static_cast<std::size_t>(m_ServerIndex) < assignment.size() &&
                    assignment[static_cast<std::size_t>(m_ServerIndex)] != ' ';
  std::string servers;
  int number = 0;
  for (std::size_t i = 0; i < assignment.size() && i < m_Servers.size(); ++i) {
    if (assignment[i] == ' ') continue;
    ++number;
    servers += "Address" + std::to_string(number) + "=" + m_Servers[i].addressText + "\r\nName" +
               std::to_string(number) + "=" + m_Servers[i].name + "\r\n";
  }
  std::string answer = "[DataCenter]\r\n";
  if (here) {
    answer += std::string("EnableCorpChannel=") + (m_Identity.corpChannel ? "1\r\n" : "0\r\n");
    answer += std::string("EnableDominoChannel=") + (m_Identity.notesChannel ? "1\r\n" : "0\r\n");
  }
  answer += "Name=" + m_CompanyName + "\r\nUsageMode=1\r\n" + servers;
  return answer;
}

std::string CRedirectionMap::BuildRedirectAnswer(std::string_view client) {
  try {
    CSharedLock hold(m_Lock);
    std::uint32_t address = 0;
    const bool dotted = platform::ParseDottedAddress(std::string(client), &address);
    if (dotted && m_LengthsInUse != 0) {
      for (int length = m_Largest; length >= m_Smallest && length > 0; --length) {
        if ((m_LengthsInUse & (1u << (length - 1))) == 0) continue;
        auto found = m_Map.find(MapKey(address, length));
        if (found != m_Map.end()) return m_Answers[found->second];
      }
    }
    // The whole address space, 0/0, has no bit of its own.
    if (dotted && m_Smallest == 0) {
      auto found = m_Map.find(MapKey(0, 0));
      if (found != m_Map.end()) return m_Answers[found->second];
    }
    if (m_AllOthers) return m_Answers[*m_AllOthers];
    return {};
  } catch (const std::exception&) {
    trace(trace_bits::kRedirect, "Redirect Map: Exception thrown Building Response.\n");
    return {};
  }
}

CRedirectionMap::Statistics CRedirectionMap::GetStatistics() {
  CSharedLock hold(m_Lock);
  return {m_Map.size(), m_Smallest, m_Largest, m_LengthsInUse, m_AddressesCovered, m_ServerIndex, m_Servers.size()};
}

std::vector<std::pair<std::string, std::string>> CRedirectionMap::Entries() {
  CSharedLock hold(m_Lock);
  std::vector<std::pair<std::string, std::string>> entries;
  for (const auto& [key, index] : m_Map) {
    entries.emplace_back(redirect::CanonicalKey({static_cast<std::uint32_t>(key >> 6), static_cast<int>(key & 0x3F)}),
                         m_Assignments[index]);
  }
  if (m_AllOthers) entries.emplace_back(kAllOthers, m_Assignments[*m_AllOthers]);
  std::sort(entries.begin(), entries.end());
  return entries;
}

void CRedirectionMap::PrintMap() {
  if ((ModuleTraceLog().Mask() & trace_bits::kRedirect) == 0) return;
  try {
    CSharedLock hold(m_Lock);
    trace(trace_bits::kRedirect, "Redirect Map: Final Redirection Map =\n");
    trace(trace_bits::kRedirect, "Master = %s\n", m_MasterAddress.c_str());
    for (std::size_t i = 0; i < m_Servers.size(); ++i) {
      trace(trace_bits::kRedirect, "Zondrel %d: Name = %s, Address = %s\n", static_cast<int>(i + 1),
            m_Servers[i].name.c_str(), m_Servers[i].addressText.c_str());
    }
    std::string header = "vvvCIDRvvv Zondrel:";
    for (std::size_t i = 0; i < m_Servers.size(); ++i) {
      char number[16];
      std::snprintf(number, sizeof(number), " %2d,", static_cast<int>(i + 1));
      header += number;
    }
    if (!m_Servers.empty()) header.pop_back();
    trace(trace_bits::kRedirect, "%s\n", header.c_str());
    auto printEntry = [&](const std::string& key, const std::string& assignment) {
      char start[64];
      std::snprintf(start, sizeof(start), "%19s:  ", key.c_str());
      std::string line = start;
      for (std::size_t i = 0; i < m_Servers.size(); ++i) {
        line += i < assignment.size() ? assignment[i] : '-';
        line += i + 1 < m_Servers.size() ? ",  " : "   ";
      }
      trace(trace_bits::kRedirect, "%s\n", line.c_str());
    };
    for (const auto& [key, index] : m_Map) {
      printEntry(redirect::CanonicalKey({static_cast<std::uint32_t>(key >> 6), static_cast<int>(key & 0x3F)}),
                 m_Assignments[index]);
    }
    if (m_AllOthers) printEntry(kAllOthers, m_Assignments[*m_AllOthers]);
  } catch (const std::exception&) {
    trace(trace_bits::kRedirect, "Redirect Map: Exception printing map\n");
  }
}

void CRedirectionMap::PostToSlaves(std::string_view table) {
  std::vector<Server> slaves;
  {
    CSharedLock hold(m_Lock);
    for (const Server& server : m_Servers) {
      if (!IsOwnAddress(server.address)) slaves.push_back(server);
    }
  }
  for (const Server& slave : slaves) {
    // A table installed meanwhile may have made another relay the master.
    if (!IsMaster()) break;
    trace(trace_bits::kRedirect, "Redirect Map: Posting new redirect.csv to %s.\n", slave.name.c_str());
    try {
      PostToSlave(slave.name, slave.ports.empty() ? -1 : slave.ports.front(), table);
    } catch (const std::exception&) {
      trace(trace_bits::kRedirect, "Redirect Map: Exception thrown posting to slaves.\n");
    }
  }
}

void CRedirectionMap::PostToSlave(const std::string& name, int port, std::string_view table) {
  if (port <= 0) {
    trace(trace_bits::kRedirect, "Redirect Map: %s names no port: not posted.\n", name.c_str());
    return;
  }
  CPHTTPStream stream(m_Settings);
  if (stream.Open(name, static_cast<unsigned>(port)) != 0) {
    trace(trace_bits::kRedirect, "Redirect Map: Unable to connect to %s:%d.\n", name.c_str(), port);
    return;
  }
  char head[512];
  const int headLength = std::snprintf(head, sizeof(head),
                                       "POST %s HTTP/1.0\r\nContent-Length: %d\r\nQRNReqType:4\r\nUser-Agent:QRNviewer\r\n"
                                       "Accept: application/octet-stream; q=0.1\r\n"
                                       "Content-type:application/octet-stream\r\n\r\n",
                                       kPostPath, static_cast<int>(table.size()));
  if (stream.Write(head, static_cast<std::size_t>(headLength)) != headLength ||
      (!table.empty() && stream.Write(table.data(), table.size()) != static_cast<int>(table.size()))) {
    trace(trace_bits::kRedirect, "Redirect Map: Unable to post redirect.csv to %s:%d.\n", name.c_str(), port);
    return;
  }
  // The slave's status line, so that a refused post shows in the trace and
  // the connection closes after the slave has read everything.
  char answer[64] = {};
  const int got = stream.Read(answer, sizeof(answer) - 1, 0);
  if (got > 0) {
    std::string_view status(answer, static_cast<std::size_t>(got));
    status = status.substr(0, status.find('\r'));
    trace(trace_bits::kRedirect, "Redirect Map: %s:%d answered \"%.*s\".\n", name.c_str(), port,
          static_cast<int>(status.size()), status.data());
  }
}
