#include "channels/notes_house.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <memory>
#include <exception>
#include <vector>

#include "base/event_catalogue.h"
#include "base/location_join.h"
#include "base/text_scan.h"
#include "base/trace_bits.h"
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

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

// Lines separated by CR and/or LF; empty lines dropped.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", start);
    const std::size_t stop = end == std::string_view::npos ? text.size() : end;
    if (stop > start) lines.emplace_back(text.substr(start, stop - start));
    start = stop + 1;
  }
  return lines;
}

// The URL and the optional user name and password of a VIEW_ID or
// GROUP_FILE value.
std::vector<std::string> SplitTokens(std::string_view value) {
  std::vector<std::string> tokens;
  std::size_t start = 0;
  while (start < value.size()) {
    const std::size_t end = value.find_first_of(" ,\t\n", start);
    const std::size_t stop = end == std::string_view::npos ? value.size() : end;
    if (stop > start) tokens.emplace_back(value.substr(start, stop - start));
    start = stop + 1;
  }
  return tokens;
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

std::string CNotesHouse::DescriptionValue(std::string_view value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  std::string decoded;
  decoded.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    // "&#" and one to three digits, then ";".
    if (value[i] == '&' && i + 1 < value.size() && value[i + 1] == '#') {
      std::size_t digits = 0;
      int code = 0;
      while (digits < 3 && i + 2 + digits < value.size() && std::isdigit(static_cast<unsigned char>(value[i + 2 + digits]))) {
        code = code * 10 + (value[i + 2 + digits] - '0');
        ++digits;
      }
      const std::size_t end = i + 2 + digits;
      if (digits > 0 && end < value.size() && value[end] == ';' && code > 0 && code < 256) {
        decoded += static_cast<char>(code);
        i = end;
        continue;
      }
    }
    decoded += value[i];
  }
  return decoded;
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
  std::vector<std::string> lines = SplitLines(GetDataString());
  std::string adLogo, dvLogo, dvFile;
  std::string output;
  std::size_t fetches = 0;
  std::size_t fetchedBytes = 0;
  bool inGroup = false;
  std::size_t groupEnd = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::size_t equals = lines[i].find('=');
    if (equals != std::string::npos) {
      const std::string_view line(lines[i]);
      const std::string key = Upper(net::TrimBlanks(line.substr(0, equals)));
      const std::string value(net::TrimBlanks(line.substr(equals + 1)));
      if (key == "DV_FILE" || key == "DV_LOGO" || key == "AD_LOGO") {
        std::string& path = key == "DV_FILE" ? dvFile : key == "DV_LOGO" ? dvLogo : adLogo;
        path = JoinLocation(m_NotesDirectory, DescriptionValue(value));
      } else if ((key == "GROUP_FILE" && !inGroup) || key == "VIEW_ID") {
        const std::vector<std::string> tokens = SplitTokens(value);
        const std::string url = tokens.empty() ? std::string() : tokens[0];
        std::string text;
        bool fetched = false;
        if (fetches >= kMaxFetches || fetchedBytes >= kMaxExpandedBytes) {
          trace(trace_bits::kHouseError,
                "Notes House: ReadAndExpand: more than %zu fetches or %zu bytes: \"%s\" left out.\n", kMaxFetches,
                kMaxExpandedBytes, url.c_str());
        } else if (!url.empty()) {
          ++fetches;
          fetched = Fetch(url, tokens.size() > 1 ? tokens[1] : std::string(),
                          tokens.size() > 2 ? tokens[2] : std::string(),
                          std::min(kMaxFetchBytes, kMaxExpandedBytes - fetchedBytes), text);
          if (fetched) fetchedBytes += text.size();
        }
        if (!fetched) {
          lines[i] = "<!-- Unable to parse \"" + key + "=" + value + "\" -->\r\n" + m_FailureText;
        } else if (key == "VIEW_ID") {
          lines[i] = "<!-- Inserting VIEW_ID \"" + url + "\" -->\r\n" + text;
        } else {
          // The group's lines follow; its GROUP_FILE lines stay as they are.
          std::vector<std::string> inserted = SplitLines(text);
          const std::size_t count = inserted.size();
          lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::make_move_iterator(inserted.begin()),
                       std::make_move_iterator(inserted.end()));
          lines[i] = "<!-- Inserting GROUP_FILE \"" + url + "\" -->";
          inGroup = count > 0;
          groupEnd = i + count;
        }
      }
    }
    output += lines[i];
    output += "\r\n";
    if (inGroup && i >= groupEnd) inGroup = false;
    if (output.size() > kMaxExpandedBytes) {
      trace(trace_bits::kHouseError, "Notes House: ReadAndExpand: the expansion exceeds %zu bytes: cut.\n",
            kMaxExpandedBytes);
      output += m_FailureText + "\r\n";
      break;
    }
  }
  {
    std::lock_guard<std::mutex> hold(m_PathLock);
    m_ADLogoPath = adLogo;
    m_DVLogoPath = dvLogo;
    m_DVFilePath = dvFile;
  }
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
