#include "admin/console_api.h"

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "admin/admin_agent.h"
#include "admin/admin_auth.h"
#include "admin/console_context.h"
#include "admin/diagnostics.h"
#include "base/json_reader.h"
#include "base/json_text.h"
#include "base/kibo_folder.h"
#include "base/product_identity.h"
#include "base/text_scan.h"
#include "cache/proxy_agent.h"
#include "channels/corp_file_format.h"
#include "channels/corporate_data.h"
#include "channels/flash_house.h"
#include "net/http_network.h"
#include "perf/perf_block.h"
#include "perf/perf_text.h"
#include "platform/file.h"
#include "platform/sync.h"
#include "platform/system.h"
#include "poolmgr/read_write_lock.h"
#include "presence/heartbeat.h"
#include "regwrap/qr_registry.h"
#include "presence/relay_discovery.h"
#include "txlog/log_analysis.h"

namespace {

using Answer = CConsoleApi::Answer;
constexpr std::size_t kMaxBody = 1 << 20;
constexpr std::size_t kMaxLogBytes = 64u << 20;

// The named events a console may set: the background jobs of the server.
constexpr const char* kActions[] = {"BuildCorpFile",   "BuildNotesFile",  "RefreshRedirectionFiles",
                                    "BuildAgentList",  "WriteLogEntries", "AdminWriteLogEntries"};

Answer Error(int status, std::string_view message) {
  return {status, "{\"error\":" + json::JsonQuote(message) + "}"};
}

Answer Text(std::string_view text) { return {200, "{\"text\":" + json::JsonQuote(text) + "}"}; }

// A posted JSON body; nothing, with the reason, when it is not JSON.
std::optional<json::JsonValue> PostedJson(std::string_view body, std::string& error) {
  json::JsonLimits limits;
  limits.max_bytes = kMaxBody;
  json::JsonResult parsed = json::ParseJson(body, limits);
  if (!parsed.ok) {
    error = "the body is not JSON: " + parsed.error;
    return std::nullopt;
  }
  return std::move(parsed.value);
}

// The "text" member of a posted body; nothing when the body is not JSON or
// has no text.
std::optional<std::string> PostedText(std::string_view body, std::string& error) {
  const std::optional<json::JsonValue> parsed = PostedJson(body, error);
  if (!parsed) return std::nullopt;
  const json::JsonValue* text = parsed->Member("text");
  if (text == nullptr || text->kind != json::JsonValue::Kind::kString) {
    error = "the body has no \"text\"";
    return std::nullopt;
  }
  return text->text;
}

// One setting of the catalogue as the console shows and changes it.
struct SettingRow {
  const char* name;
  const char* type;  // "number", "boolean", "text", "list"
  std::function<std::string(CPRegistry&)> defaultJson;
  std::function<std::string(CPRegistry&)> valueJson;
  // Writes a checked value; false (with the reason) when it has the wrong type.
  std::function<bool(CPRegistry&, const json::JsonValue&, std::string&)> set;
};

std::string ListJson(const std::vector<std::string>& values) {
  std::string out = "[";
  for (std::size_t i = 0; i < values.size(); ++i) out += (i == 0 ? "" : ",") + json::JsonQuote(values[i]);
  return out + "]";
}

bool WholeNumber(const json::JsonValue& value, std::uint32_t& number) {
  if (value.kind != json::JsonValue::Kind::kNumber || value.number < 0 || value.number > 4294967295.0 ||
      value.number != static_cast<double>(static_cast<std::uint64_t>(value.number))) {
    return false;
  }
  number = static_cast<std::uint32_t>(value.number);
  return true;
}

const std::vector<SettingRow>& SettingRows() {
  static const std::vector<SettingRow> rows = [] {
    std::vector<SettingRow> table;
#define ROW_NUMBER(Stem, name, fallback)                                                          \
  table.push_back({name, "number", [](CPRegistry& r) { return std::to_string(r.GetDefault##Stem()); }, \
                   [](CPRegistry& r) { return std::to_string(r.Get##Stem()); },                    \
                   [](CPRegistry& r, const json::JsonValue& v, std::string& why) {                 \
                     std::uint32_t n = 0;                                                          \
                     if (!WholeNumber(v, n)) return why = "a whole number from 0 to 4294967295", false; \
                     r.Set##Stem(n);                                                               \
                     return true;                                                                  \
                   }});
#define ROW_BOOLEAN(Stem, name, fallback)                                                                     \
  table.push_back({name, "boolean", [](CPRegistry& r) { return std::string(r.GetDefault##Stem() ? "true" : "false"); }, \
                   [](CPRegistry& r) { return std::string(r.Get##Stem() ? "true" : "false"); },                  \
                   [](CPRegistry& r, const json::JsonValue& v, std::string& why) {                               \
                     if (v.kind != json::JsonValue::Kind::kBool) return why = "true or false", false;           \
                     r.Set##Stem(v.boolean ? 1 : 0);                                                             \
                     return true;                                                                                \
                   }});
#define ROW_TEXT(Stem, name, fallback)                                                               \
  table.push_back({name, "text", [](CPRegistry& r) { return json::JsonQuote(r.GetDefault##Stem()); }, \
                   [](CPRegistry& r) { return json::JsonQuote(r.Get##Stem()); },                      \
                   [](CPRegistry& r, const json::JsonValue& v, std::string& why) {                    \
                     if (v.kind != json::JsonValue::Kind::kString || v.text.find('\0') != std::string::npos) \
                       return why = "a text", false;                                                  \
                     r.Set##Stem(v.text.c_str());                                                     \
                     return true;                                                                     \
                   }});
#define ROW_LIST(Stem, name)                                                                          \
  table.push_back({name, "list", [](CPRegistry&) { return std::string("[]"); },                       \
                   [](CPRegistry& r) {                                                                \
                     std::vector<std::string> values;                                                 \
                     r.Get##Stem(values);                                                             \
                     return ListJson(values);                                                         \
                   },                                                                                 \
                   [](CPRegistry& r, const json::JsonValue& v, std::string& why) {                    \
                     std::vector<std::string> values;                                                 \
                     if (v.kind != json::JsonValue::Kind::kArray) return why = "a list of texts", false; \
                     for (const json::JsonValue& item : v.items) {                                    \
                       if (item.kind != json::JsonValue::Kind::kString) return why = "a list of texts", false; \
                       values.push_back(item.text);                                                   \
                     }                                                                                \
                     r.Set##Stem(values);                                                             \
                     return true;                                                                     \
                   }});
    CP_NUMBER_SETTINGS(ROW_NUMBER)
    CP_BOOLEAN_SETTINGS(ROW_BOOLEAN)
    CP_TEXT_SETTINGS(ROW_TEXT)
    CP_LIST_SETTINGS(ROW_LIST)
#undef ROW_NUMBER
#undef ROW_BOOLEAN
#undef ROW_TEXT
#undef ROW_LIST
    return table;
  }();
  return rows;
}

// Settings read at each use; every other one holds from the next start.
bool TakesEffectNow(std::string_view name) {
  for (const char* now : {"Admin\\AdminPassword", "TraceMask", "TraceFilename", "EventViewMask", "EnableCorpChannel"}) {
    if (name == now) return true;
  }
  return false;
}

// A query value as the browser encoded it: "+" for blanks, "%XX" escapes.
std::string PercentDecoded(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      decoded += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
               std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      decoded += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

std::string QueryValue(std::string_view query, std::string_view name) {
  std::size_t start = 0;
  while (start <= query.size()) {
    const std::size_t end = std::min(query.find('&', start), query.size());
    const std::string_view pair = query.substr(start, end - start);
    if (pair.substr(0, name.size()) == name && pair.size() > name.size() && pair[name.size()] == '=') {
      return PercentDecoded(pair.substr(name.size() + 1));
    }
    start = end + 1;
  }
  return {};
}

}  // namespace

CConsoleApi::CConsoleApi(const CPRegistry& settings, CConsoleContext* context)
    : m_Settings(settings), m_pContext(context) {}

int CConsoleApi::ProcessRequest(CHTTPNetwork& connection, const CHTTPRequestMessage& request,
                                CHTTPResponseMessage& response) {
  Answer answer;
  if (!admin_auth::IsAuthorised(m_Settings, request)) {
    answer = Error(401, "authentication required");
    response.AddHeader("WWW-Authenticate", std::string("Basic realm=\"") + admin_auth::kRealm + "\"");
  } else {
    answer = Handle(request);
  }
  response.SetStatus(answer.status);
  response.AddHeader("Content-type", "application/json");
  response.AddHeader("Cache-Control", "no-store");
  response.AddHeader(kContentLengthHeader, static_cast<int>(answer.body.size()));
  response.Body() = std::move(answer.body);
  if (request.Method() == net::kHTTPHead) response.SetNoBody(true);
  return response.Send(connection);
}

CConsoleApi::Answer CConsoleApi::Handle(const CHTTPRequestMessage& request) {
  const std::string& uri = request.URI();
  const std::size_t mark = uri.find('?');
  const std::string_view path = std::string_view(uri).substr(0, mark);
  const std::string_view query = mark == std::string::npos ? std::string_view() : std::string_view(uri).substr(mark + 1);
  const bool get = request.Method() == net::kHTTPGet || request.Method() == net::kHTTPHead;
  const bool post = request.Method() == net::kHTTPPost;
  if (!get && !post) return Error(405, "only GET and POST");
  if (post) {
    const std::optional<std::string_view> marker = request.FindHeader(kChangeHeader);
    if (!marker || *marker != "1") return Error(403, std::string("a change needs the header ") + kChangeHeader + ": 1");
    if (request.Body().size() > kMaxBody) return Error(413, "the body is too large");
  }
  const std::string_view body = request.Body();
  // The objects stay while the call uses them.
  CSharedLock hold(m_pContext->lock);
  if (path == "/api/status" && get) return Status();
  if (path == "/api/settings") return get ? Settings() : ChangeSetting(body);
  if (path == "/api/flash") return Flash(post, body);
  if (path == "/api/corp") return Corporate(post, body);
  if (path == "/api/redirect") return Redirection(post, body);
  if (path.substr(0, 13) == "/api/actions/" && post) return Action(path.substr(13));
  if (path == "/api/cache-dump" && post) return CacheDump();
  if (path == "/api/logs" && get) return Logs();
  if (path == "/api/logs/analysis" && get) return LogAnalysis(query);
  if (path == "/api/diagnostics" && post) return Diagnostics(body);
  if (path == "/api/relays" && get) return Relays();
  if (path.substr(0, 10) == "/api/logs/" && get) return LogLines(path.substr(10), query);
  return Error(404, "no such call");
}

namespace {

// The service's state as its ServiceStatus value holds it (one character
// for the state, one for the checkpoint plus one, then the text).
std::string ServiceStatusJson() {
  static constexpr const char* kStates[] = {"unknown", "stopped", "starting", "stopping",
                                            "running", "continuing", "pausing", "paused"};
  QRRegistry key(QRRegistry(platform::HKEY_LOCAL_MACHINE),
                 (std::string("SYSTEM\\CurrentControlSet\\Services\\") + net::kServiceName).c_str());
  const std::string value = key.GetValue("ServiceStatus", "");
  if (value.size() < 2) return "{\"state\":\"stopped\",\"text\":\"\"}";
  const auto state = static_cast<unsigned char>(value[0]);
  return std::string("{\"state\":\"") + kStates[state < std::size(kStates) ? state : 0] +
         "\",\"text\":" + json::JsonQuote(value.substr(2)) + "}";
}

}  // namespace

CConsoleApi::Answer CConsoleApi::Status() {
  CPRegistry settings(m_Settings);
  const auto uptime = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() -
                                                                        m_pContext->started);
  std::string out = "{\"service\":" + ServiceStatusJson() + ",\"uptime\":" + std::to_string(uptime.count()) +
                    ",\"version\":" + json::JsonQuote(std::to_string(net::kProductMajorVersion) + "." +
                                                      std::to_string(net::kProductMinorVersion)) +
                    ",\"build\":" + json::JsonQuote(net::kProductBuildText) +
                    ",\"runningSince\":" + json::JsonQuote(settings.GetStatisticsRunningSince()) + ",\"statistics\":{";
  bool first = true;
  for (const perf::Statistic& statistic : perf::ReadStatistics()) {
    out += (first ? "" : ",") + json::JsonQuote(statistic.first) + ":" + std::to_string(statistic.second);
    first = false;
  }
  out += "},\"counters\":";
  // The live counters, while the relay publishes them; word 0 is a running
  // count that the console turns into a rate between two calls.
  perf::Counters words{};
  if (perf::ReadBlock(words)) {
    out += "{";
    for (std::size_t i = 0; i < perf::kCounterCount; ++i) {
      const char* key = i == perf::eAcceptedRate ? "accepted" : perf::kCounterTexts[i].key;
      out += (i == 0 ? "\"" : ",\"") + std::string(key) + "\":" + std::to_string(words[i]);
    }
    out += "}";
  } else {
    out += "null";
  }
  return {200, out + ",\"time\":" + std::to_string(std::time(nullptr)) + "}"};
}

CConsoleApi::Answer CConsoleApi::Settings() {
  CPRegistry settings(m_Settings);
  std::string out = "{\"settings\":[";
  bool first = true;
  for (const SettingRow& row : SettingRows()) {
    out += std::string(first ? "" : ",") + "{\"name\":" + json::JsonQuote(row.name) + ",\"type\":\"" + row.type +
           "\",\"default\":" + row.defaultJson(settings) + ",\"value\":" + row.valueJson(settings) +
           ",\"takesEffect\":\"" + (TakesEffectNow(row.name) ? "now" : "at the next start") + "\"}";
    first = false;
  }
  return {200, out + "]}"};
}

CConsoleApi::Answer CConsoleApi::ChangeSetting(std::string_view body) {
  std::string error;
  const std::optional<json::JsonValue> parsed = PostedJson(body, error);
  if (!parsed) return Error(400, error);
  const json::JsonValue* name = parsed->Member("name");
  const json::JsonValue* value = parsed->Member("value");
  if (name == nullptr || name->kind != json::JsonValue::Kind::kString || value == nullptr) {
    return Error(400, "the body needs \"name\" and \"value\"");
  }
  for (const SettingRow& row : SettingRows()) {
    if (!net::EqualsNoCase(row.name, name->text)) continue;
    CPRegistry settings(m_Settings);
    std::string why;
    if (!row.set(settings, *value, why)) return Error(400, std::string(row.name) + " takes " + why);
    return {200, "{\"name\":" + json::JsonQuote(row.name) + ",\"value\":" + row.valueJson(settings) +
                     ",\"takesEffect\":\"" + (TakesEffectNow(row.name) ? "now" : "at the next start") + "\"}"};
  }
  return Error(404, "no setting " + name->text);
}

CConsoleApi::Answer CConsoleApi::Flash(bool change, std::string_view body) {
  CFlashHouse* flash = m_pContext->flash.load();
  if (flash == nullptr) return Error(503, "the flash file is not there yet");
  if (!change) return Text(flash->GetDataString());
  std::string error;
  const std::optional<std::string> text = PostedText(body, error);
  if (!text) return Error(400, error);
  if (flash->WriteNewData(text->data(), static_cast<platform::DWORD>(text->size()), false) != 0) {
    return Error(400, "the flash text was refused");
  }
  return Text(flash->GetDataString());
}

CConsoleApi::Answer CConsoleApi::Corporate(bool change, std::string_view body) {
  CCorporateData* corporate = m_pContext->corporate.load();
  if (corporate == nullptr) return Error(503, "the corporate channel is not there yet");
  if (change) {
    std::string error;
    const std::optional<std::string> text = PostedText(body, error);
    if (!text) return Error(400, error);
    if (corporate->ReplaceFromImage(*text) != 0) return Error(400, "the channel was refused: it needs a NAME= line");
  }
  const std::optional<std::string> image = corporate->GetExpandedImage();
  if (!image) return Error(503, "no corp.dat is loaded");
  return Text(*image);
}

CConsoleApi::Answer CConsoleApi::Redirection(bool change, std::string_view body) {
  CGenericHouse* redirection = m_pContext->redirection.load();
  if (redirection == nullptr) return Error(503, "the redirection table is not there yet");
  if (change) {
    std::string error;
    const std::optional<std::string> text = PostedText(body, error);
    if (!text) return Error(400, error);
    if (redirection->WriteNewData(text->data(), static_cast<platform::DWORD>(text->size()), false) != 0) {
      return Error(400, "the table was refused: it is not a valid redirect.csv");
    }
  }
  return Text(redirection->GetDataString());
}

CConsoleApi::Answer CConsoleApi::Action(std::string_view event) {
  for (const char* known : kActions) {
    if (event != known) continue;
    std::unique_ptr<platform::Event> named = platform::Event::OpenNamed(known);
    if (named == nullptr || !named->Set()) return Error(503, std::string("nothing waits on ") + known);
    return {200, "{\"set\":" + json::JsonQuote(known) + "}"};
  }
  return Error(404, "no such action");
}

CConsoleApi::Answer CConsoleApi::CacheDump() {
  CProxyAgent* proxy = m_pContext->proxy.load();
  if (proxy == nullptr) return Error(503, "the proxy cache is not there yet");
  CPRegistry settings(m_Settings);
  const std::string path = CAdminAgent::DumpFileName(settings.GetTransactionLogDirectory(), std::time(nullptr));
  std::unique_ptr<platform::File> file = platform::File::Open(path, platform::File::Mode::kCreate);
  if (file == nullptr) return Error(500, "cannot create " + path);
  const int written = proxy->DumpCache(*file, CAdminAgent::kDefaultDumpFlags);
  return written ? Answer{200, "{\"file\":" + json::JsonQuote(path) + "}"} : Error(500, "the report failed");
}

CConsoleApi::Answer CConsoleApi::Logs() {
  CPRegistry settings(m_Settings);
  const std::string directory = settings.GetTransactionLogDirectory();
  std::string out = "{\"directory\":" + json::JsonQuote(directory) + ",\"files\":[";
  bool first = true;
  for (const std::string& name : CKiboFolder::ListFiles(directory, "*.log")) {
    std::unique_ptr<platform::File> file = platform::File::Open(directory + name, platform::File::Mode::kRead);
    out += std::string(first ? "" : ",") + "{\"name\":" + json::JsonQuote(name) +
           ",\"bytes\":" + std::to_string(file != nullptr ? file->Size() : 0) + "}";
    first = false;
  }
  return {200, out + "]}"};
}

CConsoleApi::Answer CConsoleApi::LogLines(std::string_view name, std::string_view query) {
  if (!corp_format::IsPlainFileName(name) || name.size() < 4 || name.substr(name.size() - 4) != ".log") {
    return Error(404, "no such log file");
  }
  CPRegistry settings(m_Settings);
  std::string reason;
  const std::optional<std::string> text =
      CCorporateData::ReadDataFile(settings.GetTransactionLogDirectory() + std::string(name), kMaxLogBytes, reason);
  if (!text) return Error(404, "cannot read the log file: " + reason);
  const std::size_t from = std::strtoul(QueryValue(query, "from").c_str(), nullptr, 10);
  const std::string countText = QueryValue(query, "count");
  const std::size_t count = std::min<std::size_t>(countText.empty() ? 100 : std::strtoul(countText.c_str(), nullptr, 10),
                                                  kMaxLogLines);
  const std::string filter = QueryValue(query, "filter");
  std::string out = "{\"lines\":[";
  std::size_t matched = 0, sent = 0;
  for (std::size_t start = 0; start < text->size() && sent < count;) {
    std::size_t end = text->find('\n', start);
    if (end == std::string::npos) end = text->size();
    std::string_view line = std::string_view(*text).substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    start = end + 1;
    if (!filter.empty() && line.find(filter) == std::string_view::npos) continue;
    if (matched++ < from) continue;
    out += (sent++ == 0 ? "" : ",") + json::JsonQuote(line);
  }
  return {200, out + "],\"from\":" + std::to_string(from) + "}"};
}

CConsoleApi::Answer CConsoleApi::LogAnalysis(std::string_view query) {
  const std::optional<std::string> from = CLogAnalysis::ParseBound(QueryValue(query, "from"));
  const std::optional<std::string> to = CLogAnalysis::ParseBound(QueryValue(query, "to"));
  if (!from || !to) return Error(400, "from and to take a time as YYYY-MM-DD HH:MM");
  CPRegistry settings(m_Settings);
  const std::string directory = settings.GetTransactionLogDirectory();
  CLogAnalysis analysis(*from, *to);
  // The viewers' logs (the administration log has its own files), newest
  // first, so that a bound on the bytes read drops the oldest.
  std::vector<std::string> names = CKiboFolder::ListFiles(directory, "Tx*.log");
  std::sort(names.rbegin(), names.rend());
  std::size_t read = 0;
  for (const std::string& name : names) {
    if (read >= kMaxAnalysedBytes) {
      analysis.MarkTruncated();
      break;
    }
    std::string reason;
    const std::optional<std::string> text =
        CCorporateData::ReadDataFile(directory + name, std::min(kMaxLogBytes, kMaxAnalysedBytes - read), reason);
    if (!text) {
      analysis.MarkTruncated();
      continue;
    }
    read += text->size();
    analysis.AddText(*text);
  }
  return {200, analysis.Json()};
}

CConsoleApi::Answer CConsoleApi::Diagnostics(std::string_view body) {
  std::string error;
  const std::optional<json::JsonValue> parsed = PostedJson(body, error);
  if (!parsed) return Error(400, error);
  const json::JsonValue* category = parsed->Member("category");
  if (category == nullptr || category->kind != json::JsonValue::Kind::kString ||
      !diagnostics::IsCategoryPath(category->text)) {
    return Error(400, "\"category\" takes a category as a viewer names it, such as 12345-0");
  }
  const json::JsonValue* target = parsed->Member("target");
  const std::string which = target != nullptr && target->kind == json::JsonValue::Kind::kString ? target->text : "both";
  if (which != "relay" && which != "dataCentre" && which != "both") {
    return Error(400, "\"target\" is relay, dataCentre or both");
  }
  CPRegistry settings(m_Settings);
  std::string out = "{\"request\":" + json::JsonQuote(diagnostics::ViewerRequest(category->text));
  if (which != "dataCentre") out += ",\"relay\":" + diagnostics::ProbeJson(diagnostics::AskRelay(settings, category->text));
  if (which != "relay") {
    out += ",\"dataCentre\":" + diagnostics::ProbeJson(diagnostics::AskDataCentre(settings, category->text));
  }
  return {200, out + "}"};
}

CConsoleApi::Answer CConsoleApi::Relays() {
  CPRegistry settings(m_Settings);
  const std::uint32_t broadcast = presence::BroadcastAddress(settings);
  // Beacon readers listen on the port above BeaconPort.
  const platform::DWORD beaconPort = settings.GetUDPBeaconPort();
  const auto port = static_cast<std::uint16_t>(beaconPort > 0 && beaconPort < 0xFFFF ? beaconPort + 1 : 0);
  std::string out = "{\"broadcast\":" + json::JsonQuote(platform::FormatDottedAddress(broadcast)) +
                    ",\"port\":" + std::to_string(port) + ",\"relays\":[";
  if (port == 0) return {200, out + "]}"};
  const std::vector<presence::FoundRelay> found = presence::DiscoverRelays({broadcast, port}, kDiscoveryWaitMs);
  std::vector<platform::SocketAddress> readers;
  for (const presence::FoundRelay& relay : found) readers.push_back(relay.reader);
  const std::vector<std::optional<perf::Counters>> statuses = presence::QueryRelayStatus(readers, kStatusWaitMs);
  for (std::size_t i = 0; i < found.size(); ++i) {
    out += std::string(i == 0 ? "" : ",") + "{\"address\":" +
           json::JsonQuote(platform::FormatDottedAddress(found[i].reader.address)) +
           ",\"port\":" + std::to_string(found[i].reader.port) +
           ",\"computerName\":" + json::JsonQuote(found[i].computerName) +
           ",\"registrationId\":" + json::JsonQuote(found[i].registrationId) + ",\"counters\":";
    if (statuses[i]) {
      out += "{";
      // Word 0, the rate, is not part of a peer's snapshot.
      for (std::size_t word = 1; word < perf::kCounterCount; ++word) {
        out += (word == 1 ? "\"" : ",\"") + std::string(perf::kCounterTexts[word].key) +
               "\":" + std::to_string((*statuses[i])[word]);
      }
      out += "}";
    } else {
      out += "null";
    }
    out += "}";
  }
  return {200, out + "]}"};
}
