#include "redirect/redirection_house.h"

#include <exception>
#include <filesystem>
#include <system_error>
#include <vector>

#include "base/trace_bits.h"
#include "platform/file.h"
#include "platform/trace.h"
#include "redirect/redirect_csv.h"
#include "upstream/http_file.h"

using platform::DWORD;

namespace {

constexpr DWORD kStopSeconds = 15;

std::string RedirectionFile(const CPRegistry& settings) {
  CPRegistry copy(settings);
  return copy.GetRedirectionFile();
}

std::string CacheFile(const CPRegistry& settings) {
  CPRegistry copy(settings);
  return copy.GetRedirectionCacheFile();
}

void RemoveFile(const std::string& path) {
  if (CGenericHouse::IsURL(path)) return;
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

}  // namespace

CRedirectionHouse::CRedirectionHouse(const CPRegistry& settings)
    : CRedirectionHouse(settings, [&] {
        CPRegistry copy(settings);
        return RedirectionIdentity::FromSettings(copy);
      }()) {}

CRedirectionHouse::CRedirectionHouse(const CPRegistry& settings, RedirectionIdentity identity)
    : CGenericHouse(RedirectionFile(settings), CacheFile(settings), settings),
      m_Map(settings, std::move(identity)),
      m_InitializeThread("RedirectionInitializeThread", [this] { Refresh(); }),
      m_UpdateThread("RedirectionUpdate", [this] { InstallIfNew(GetDataString()); }) {}

CRedirectionHouse::~CRedirectionHouse() {
  StopThreads();
  // The first load calls Validate, which is this class's.
  StopInitialization();
}

void CRedirectionHouse::StopThreads() {
  m_InitializeThread.Stop(kStopSeconds);
  m_InitializeThread.WaitForDetachedThread(platform::kInfinite);
  std::lock_guard<std::mutex> hold(m_UpdateLock);
  m_UpdateThread.Stop(kStopSeconds);
  m_UpdateThread.WaitForDetachedThread(platform::kInfinite);
}

int CRedirectionHouse::Initialize() {
  CGenericHouse::Initialize();
  m_Refreshed = false;
  m_InitializeThread.Start(false);
  m_InitializeThread.WaitForCompletion(kInitializeWaitSeconds);
  return GetDataString().empty() ? -1 : 0;
}

bool CRedirectionHouse::Validate(const char* bytes, DWORD length, const char* path) {
  return CRedirectionMap::IsValidTable(bytes, length);
}

bool CRedirectionHouse::IsMasterTable(std::string_view table) {
  std::vector<std::string_view> lines;
  if (!redirect::SplitLines(table, lines) || lines.size() < 2) return false;
  const std::string masterHost(redirect::SplitCells(lines[1]).front());
  return m_Map.IsOwnAddress(CRedirectionMap::AddressOf(masterHost));
}

int CRedirectionHouse::WriteToDisk(bool toLocalPath) {
  const std::string table = GetDataString();
  if (!redirect::HeaderIsValid(table)) {
    trace(trace_bits::kRedirect, "Redirect House: Not writing invalid redirect.csv data to disk:\n%s\n", table.c_str());
    return -1;
  }
  const bool master = IsMasterTable(table);
  if (master) {
    RemoveFile(GetLocalPath());
  } else {
    RemoveFile(GetSource());
  }
  const std::string& path = master && !IsURL(GetSource()) ? GetSource() : GetLocalPath();
  trace(trace_bits::kRedirect, "Redirect House: Writing %s data to \"%s\"\n", master ? "MASTER" : "SLAVE", path.c_str());
  return CGenericHouse::WriteToDisk(!master);
}

int CRedirectionHouse::WriteNewData(const char* bytes, DWORD length, bool toLocalPath) {
  std::lock_guard<std::mutex> hold(m_StoreLock);
  return CGenericHouse::WriteNewData(bytes, length, toLocalPath);
}

void CRedirectionHouse::OnNewData() {
  std::lock_guard<std::mutex> hold(m_UpdateLock);
  // A run still posting the previous table finishes first.
  m_UpdateThread.Stop(kUpdateStopSeconds);
  m_UpdateThread.Start(false);
}

void CRedirectionHouse::InstallIfNew(const std::string& table) {
  if (table.empty()) return;
  std::lock_guard<std::mutex> hold(m_InstallLock);
  if (table == m_Installed) return;
  if (m_Map.SetRedirectCsv(table.data(), static_cast<DWORD>(table.size())) == 1) m_Installed = table;
}

void CRedirectionHouse::Refresh() {
  std::lock_guard<std::mutex> hold(m_RefreshLock);
  try {
    if (!IsInitialized()) WaitForInitialization(kLoadWaitSeconds);
    const std::string defaultTable = m_Map.Identity().DefaultMasterTable();
    std::string held = GetDataString();
    const std::string copy = held;
    bool settled = false;
    if (!held.empty()) {
      InstallIfNew(held);
      // A table this relay made for itself when it found no master does not
      // settle the question: the configured master is asked again.
      settled = IsMasterTable(held) && held != defaultTable;
    }
    if (!settled) {
      CPRegistry settings(m_Settings);
      const std::string configuredText = settings.GetRedirectionMasterZondrel();
      const std::string defaultText = settings.GetDefaultRedirectionMasterZondrel();
      const redirect::Designator configured = redirect::ParseDesignator(configuredText);
      const redirect::Designator fallback = redirect::ParseDesignator(defaultText);
      if (!configured.host.empty() && !m_Map.IsOwnAddress(CRedirectionMap::AddressOf(configured.host))) {
        RequestFromMaster(configured.host, configured.FirstPort());
      }
      if (GetDataString().empty() && configuredText != defaultText && !fallback.host.empty() &&
          !m_Map.IsOwnAddress(CRedirectionMap::AddressOf(fallback.host))) {
        RequestFromMaster(fallback.host, fallback.FirstPort());
      }
      if (GetDataString().empty()) CreateDefaultMasterTable();
      held = GetDataString();
      if (!held.empty() && held != copy) InstallIfNew(held);
    }
  } catch (const std::exception&) {
    trace(trace_bits::kRedirect, "Redirection House: Exception initializing.\n");
  }
  m_Refreshed = true;
}

void CRedirectionHouse::RefreshFromFiles() {
  bool changed = false;
  {
    std::lock_guard<std::mutex> hold(m_RefreshLock);
    changed = ReadFiles();
  }
  if (changed) OnNewData();
  Refresh();
}

bool CRedirectionHouse::RequestFromMaster(const std::string& host, int port) {
  if (host.empty()) return false;
  if (port < 0) port = kDefaultMasterPort;
  const std::string url = "http://" + host + ":" + std::to_string(port) + "/KIBO-1/66560-1?redirect.csv";
  HTTPFile file(m_Settings);
  if (file.Open(url, platform::File::Mode::kRead, 1) != 1) {
    trace(trace_bits::kRedirect, "Redirect House: Unable to request redirect.csv from \"%s\"\n", host.c_str());
    return false;
  }
  const long long length = file.GetLength();
  std::vector<char> table;
  bool read = length >= 0 && static_cast<unsigned long long>(length) <= redirect::kMaxTableBytes;
  if (read) {
    table.resize(static_cast<std::size_t>(length));
    std::size_t done = 0;
    while (done < table.size()) {
      const long long got = file.Read(table.data() + done, table.size() - done);
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    read = done == table.size();
  }
  file.Close();
  if (!read || !Validate(table.data(), static_cast<DWORD>(table.size()), nullptr)) {
    trace(trace_bits::kRedirect, "Redirect House: Invalid redirect.csv received from \"%s\"\n", host.c_str());
    return false;
  }
  if (WriteNewData(table.data(), static_cast<DWORD>(table.size()), true) != 0) {
    trace(trace_bits::kRedirect, "Redirect House: Invalid redirect.csv received from \"%s\"\n", host.c_str());
    return false;
  }
  trace(trace_bits::kRedirect, "Redirect House: Successfully requested redirect.csv from \"%s\"\n", host.c_str());
  return true;
}

void CRedirectionHouse::CreateDefaultMasterTable() {
  std::unique_lock<std::mutex> hold(m_StoreLock);
  if (!GetDataString().empty()) return;
  trace(trace_bits::kRedirect, "Redirect House: Creating default master redirect.csv.\n");
  const std::string table = m_Map.Identity().DefaultMasterTable();
  if (IsURL(GetSource()) || !platform::ReplaceFileContents(GetSource(), table)) {
    trace(trace_bits::kRedirect, "Redirect House: Unable to write \"%s\"\n", GetSource().c_str());
    // Served from memory all the same: a relay always has a table.
    hold.unlock();
    WriteNewData(table.data(), static_cast<DWORD>(table.size()), false);
    return;
  }
  ReadFiles();
}
