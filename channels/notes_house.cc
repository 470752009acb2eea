#include "channels/notes_house.h"

#include <exception>
#include <memory>

#include "base/event_catalogue.h"
#include "base/location_join.h"
#include "base/text_scan.h"
#include "base/trace_bits.h"
#include "channels/notes_expansion.h"
#include "platform/trace.h"
#include "upstream/auth_http_file.h"
#include "upstream/http_file.h"

using platform::DWORD;

namespace {

// The Notes directory: DominoDirectory, or the home directory when it is
// not set, ending in "/".
std::string NotesDirectoryOf(CPRegistry settings) {
  std::string directory = settings.GetNotesDirectory();
  if (directory.empty()) directory = settings.GetHomeDirectory();
  if (!directory.empty() && directory.back() != '/') directory += '/';
  return directory;
}

std::string SourceOf(CPRegistry settings) {
  return JoinLocation(settings.GetNotesDominoURL(), settings.GetNotesDominoFileName());
}

// "<Notes directory>/<base name of DominoFileName>.cache".
std::string MirrorOf(CPRegistry settings) {
  std::string name = settings.GetNotesDominoFileName();
  const std::size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return JoinLocation(JoinLocation(NotesDirectoryOf(settings), name), ".cache");
}

}  // namespace

CNotesHouse::CNotesHouse(const CPRegistry& settings)
    : CGenericHouse(SourceOf(settings), MirrorOf(settings), settings),
      m_Enabled(CPRegistry(settings).GetEnableNotesChannel() != 0),
      m_DominoURL(CPRegistry(settings).GetNotesDominoURL()),
      m_NotesDirectory(NotesDirectoryOf(settings)),
      m_FailureText(CPRegistry(settings).GetNotesViewFailureString()) {}

CNotesHouse::~CNotesHouse() { StopInitialization(); }

int CNotesHouse::Initialize() {
  if (!m_Enabled) return 0;
  return CGenericHouse::Initialize();
}

void CNotesHouse::CheckFile(std::string path, bool& valid, bool& changed) {
  CGenericHouse::CheckFile(path, valid, changed);
  trace(trace_bits::kHouse, "Notes House: %s reading %s: %schanged.\n", valid ? "Succeeded" : "Failed", path.c_str(),
        changed ? "" : "un-");
  if (path != GetSource()) return;
  if (!valid) {
    events::Report<events::kNotesSourceFailed>(m_DominoURL);
    return;
  }
  // Every reload succeeds the same way: once an hour is enough to see it.
  events::ReportLimited<events::kNotesSourceRead>(3600, 1, m_DominoURL);
  if (changed) WriteToDisk(true);
}

bool CNotesHouse::Fetch(const std::string& urlIn, const std::string& user, const std::string& password,
                        std::size_t maxBytes, std::string& text) {
  // Only the web is asked: a name that is not a URL could read any local
  // file into what the viewers get.
  if (!IsURL(urlIn)) {
    trace(trace_bits::kHouseError, "Notes House: \"%s\" is not a URL: not fetched.\n", urlIn.c_str());
    return false;
  }
  const std::string url = net::EqualsNoCase(std::string_view(urlIn).substr(0, 4), "www.") ? "http://" + urlIn : urlIn;
  try {
    // A line with a user name answers a 401 with its credentials.
    std::unique_ptr<HTTPFile> fetch = user.empty() ? std::make_unique<HTTPFile>(m_Settings)
                                                   : std::make_unique<CAuthHTTPFile>(m_Settings, user, password);
    HTTPFile& file = *fetch;
    if (file.Open(url) != 1) return false;
    const long long length = file.GetLength();
    if (length < 0 || static_cast<unsigned long long>(length) > maxBytes) return false;
    text.assign(static_cast<std::size_t>(length), '\0');
    std::size_t done = 0;
    while (done < text.size()) {
      const long long got = file.Read(text.data() + done, text.size() - done);
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::string CNotesHouse::ReadAndExpand() {
  if (!WaitForInitialization(kInitializeWaitSeconds)) {
    trace(trace_bits::kHouse, "Notes House: ReadAndExpand: Initialization thread still not finished.\n");
    return {};
  }
  ReadFiles();
  notes_expansion::Named named;
  std::string output = notes_expansion::Expand(
      GetDataString(), m_NotesDirectory, m_FailureText,
      [this](const std::string& url, const std::string& user, const std::string& password, std::size_t maxBytes,
             std::string& text) { return Fetch(url, user, password, maxBytes, text); },
      named);
  std::lock_guard<std::mutex> hold(m_PathLock);
  m_ADLogoPath = named.adLogo;
  m_DVLogoPath = named.dvLogo;
  m_DVFilePath = named.dvFile;
  return output;
}

std::string CNotesHouse::ADLogoPath() {
  std::lock_guard<std::mutex> hold(m_PathLock);
  return m_ADLogoPath;
}

std::string CNotesHouse::DVLogoPath() {
  std::lock_guard<std::mutex> hold(m_PathLock);
  return m_DVLogoPath;
}

std::string CNotesHouse::DVFilePath() {
  std::lock_guard<std::mutex> hold(m_PathLock);
  return m_DVFilePath;
}
