// The console's JSON API: the settings catalogue read and changed with its
// type checks, the channel files, the named events and the logs, and the
// refusals: no authentication, no change marker, a bad body, an object that
// is not there yet.
#include "admin/console_api.h"

#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "admin/console_context.h"
#include "base/json_reader.h"
#include "channels/corporate_data.h"
#include "channels/flash_house.h"
#include "channels/house_testing.h"
#include "config/admin_password.h"
#include "perf/perf_sampler.h"
#include "platform/sync.h"
#include "platform/testing.h"
#include "presence/beacon_reader.h"
#include "presence/presence_testing.h"
#include "upstream/scripted_server_testing.h"

namespace {

using testing_support::WriteFile;

std::unique_ptr<CHTTPRequestMessage> Request(const std::string& method, const std::string& uri,
                                             const std::string& body = {}, bool marked = true) {
  auto request = std::make_unique<CHTTPRequestMessage>();
  std::string head = method + " " + uri + " HTTP/1.0\r\n";
  if (marked) head += "X-Zondrel-Console: 1\r\n";
  EXPECT_TRUE(request->ParseHead(head + "\r\n"));
  request->Body() = body;
  return request;
}

json::JsonValue Json(const CConsoleApi::Answer& answer) {
  json::JsonResult parsed = json::ParseJson(answer.body);
  EXPECT_TRUE(parsed.ok) << answer.body;
  return parsed.value;
}

class ConsoleApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(m_Dir + "corp.dat", "NAME=Acme\r\nDV_LOGO=d\r\nAD_LOGO=a\r\nDV_FILE=f\r\nFLASH_FILE=flash.dat\r\n");
    WriteFile(m_Dir + "flash.dat", "ticker\r\n");
    m_Settings = house_testing::Settings();
    m_Settings.SetTransactionLogDirectory(m_Dir.c_str());
    ASSERT_EQ(m_Corporate.Initialize(m_Dir, "corp.dat"), 0);
    ASSERT_EQ(m_Flash.Initialize(), 0);
  }

  const std::string m_Dir = testing_support::MakeTempDir("console") + "/";
  CPRegistry m_Settings;
  CCorporateData m_Corporate;
  CFlashHouse m_Flash{m_Dir + "flash.dat"};
  CConsoleContext m_Context;
};

TEST_F(ConsoleApiTest, SettingsAreListedAndChangedWithTheirTypesChecked) {
  CConsoleApi api(m_Settings, &m_Context);
  const json::JsonValue all = Json(api.Handle(*Request("GET", "/api/settings")));
  const json::JsonValue* list = all.Member("settings");
  ASSERT_NE(list, nullptr);
  bool sawRecvTimeout = false;
  for (const json::JsonValue& row : list->items) {
    if (row.Member("name")->text != "RecvTimeout") continue;
    sawRecvTimeout = true;
    EXPECT_EQ(row.Member("type")->text, "number");
    EXPECT_EQ(row.Member("default")->number, 20);
  }
  EXPECT_TRUE(sawRecvTimeout);

  auto changed = api.Handle(*Request("POST", "/api/settings", R"({"name": "RecvTimeout", "value": 33})"));
  EXPECT_EQ(changed.status, 200) << changed.body;
  EXPECT_EQ(m_Settings.GetRecvTimeout(), 33u);
  EXPECT_EQ(Json(changed).Member("takesEffect")->text, "at the next start");
  // Wrong types, unknown names and bodies that are not JSON change nothing.
  EXPECT_EQ(api.Handle(*Request("POST", "/api/settings", R"({"name": "RecvTimeout", "value": "33"})")).status, 400);
  EXPECT_EQ(api.Handle(*Request("POST", "/api/settings", R"({"name": "RecvTimeout", "value": -1})")).status, 400);
  EXPECT_EQ(api.Handle(*Request("POST", "/api/settings", R"({"name": "RecvTimeout", "value": 1.5})")).status, 400);
  EXPECT_EQ(api.Handle(*Request("POST", "/api/settings", R"({"name": "NoSuchThing", "value": 1})")).status, 404);
  EXPECT_EQ(api.Handle(*Request("POST", "/api/settings", "{not json")).status, 400);
  EXPECT_EQ(m_Settings.GetRecvTimeout(), 33u);
  EXPECT_EQ(api.Handle(*Request("POST", "/api/settings", R"({"name": "Admin\\FileAgentPaths", "value": ["/d,/tmp"]})"))
                .status,
            200);
  std::vector<std::string> paths;
  m_Settings.GetFileAgentPaths(paths);
  EXPECT_EQ(paths, std::vector<std::string>{"/d,/tmp"});
}

TEST_F(ConsoleApiTest, ChangesNeedTheMarkerHeaderAndTheObjectsToBeThere) {
  CConsoleApi api(m_Settings, &m_Context);
  EXPECT_EQ(api.Handle(*Request("POST", "/api/settings", R"({"name": "RecvTimeout", "value": 9})", false)).status, 403);
  EXPECT_EQ(api.Handle(*Request("GET", "/api/flash")).status, 503);
  EXPECT_EQ(api.Handle(*Request("PUT", "/api/flash")).status, 405);
  EXPECT_EQ(api.Handle(*Request("GET", "/api/nothing")).status, 404);
  EXPECT_EQ(api.Handle(*Request("POST", "/api/actions/NoSuchEvent", "{}")).status, 404);
  EXPECT_EQ(api.Handle(*Request("POST", "/api/actions/BuildCorpFile", "{}")).status, 503);  // nobody waits on it
  auto event = platform::Event::CreateNamed("BuildCorpFile", false, false);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(api.Handle(*Request("POST", "/api/actions/BuildCorpFile", "{}")).status, 200);
  EXPECT_TRUE(event->IsSet());
}

TEST_F(ConsoleApiTest, ChannelFilesAreReadAndReplaced) {
  m_Context.Set(m_Context.corporate, &m_Corporate);
  m_Context.Set(m_Context.flash, &m_Flash);
  CConsoleApi api(m_Settings, &m_Context);
  EXPECT_EQ(Json(api.Handle(*Request("GET", "/api/flash"))).Member("text")->text, "ticker\r\n");
  EXPECT_EQ(api.Handle(*Request("POST", "/api/flash", R"({"text": "new ticker\r\n"})")).status, 200);
  EXPECT_EQ(testing_support::ReadFile(m_Dir + "flash.dat"), "new ticker\r\n");
  EXPECT_EQ(api.Handle(*Request("POST", "/api/flash", R"({"txt": "x"})")).status, 400);

  const std::string posted = "NAME=Console\\r\\nDV_LOGO=d\\r\\nAD_LOGO=a\\r\\nDV_FILE=f\\r\\nFLASH_FILE=x\\r\\n"
                             "GROUP=G\\r\\nDOC_ID=1\\r\\nDOC_SUBJECT=S\\r\\nDOC_SUMMARY=b\\r\\nDOC_SUMMARY_END\\r\\n";
  const auto corp = api.Handle(*Request("POST", "/api/corp", "{\"text\": \"" + posted + "\"}"));
  ASSERT_EQ(corp.status, 200) << corp.body;
  EXPECT_EQ(Json(corp).Member("text")->text.rfind("NAME=Console\r\n", 0), 0u);
  EXPECT_EQ(api.Handle(*Request("POST", "/api/corp", R"({"text": "GROUP=no name\r\n"})")).status, 400);
  EXPECT_EQ(m_Corporate.GetHeader()->name, "Console");
}

TEST_F(ConsoleApiTest, LogFilesAreListedAndReadInPages) {
  WriteFile(m_Dir + "Tx000001.log", "#Fields: x\r\n127.0.0.1 GET /a 200\r\n127.0.0.1 GET /b 204\r\n127.0.0.1 GET /c 200\r\n");
  CConsoleApi api(m_Settings, &m_Context);
  const json::JsonValue files = Json(api.Handle(*Request("GET", "/api/logs")));
  ASSERT_EQ(files.Member("files")->items.size(), 1u);
  EXPECT_EQ(files.Member("files")->items[0].Member("name")->text, "Tx000001.log");
  // The lines that hold the filter, from the second one on.
  const json::JsonValue ok = Json(api.Handle(*Request("GET", "/api/logs/Tx000001.log?filter=+200&from=1&count=5")));
  ASSERT_EQ(ok.Member("lines")->items.size(), 1u);
  EXPECT_EQ(ok.Member("lines")->items[0].text, "127.0.0.1 GET /c 200");
  EXPECT_EQ(api.Handle(*Request("GET", "/api/logs/..%2Fcorp.dat")).status, 404);
  EXPECT_EQ(api.Handle(*Request("GET", "/api/logs/corp.dat")).status, 404);
}

TEST_F(ConsoleApiTest, TheViewersLogsAreAnalysedOverATimeRange) {
  const std::string header =
      "#Fields: c-ip date time cs-method cs-uri sc-status bytes time-taken x-agent r-ip rs-status\r\n";
  WriteFile(m_Dir + "Tx000001.log", header +
                                        "10.0.0.1        2026-12-09 09:00:00 GET /KIBO-1/5-0 200 10 0.0010 3 - -\r\n"
                                        "10.0.0.1        2026-12-09 10:00:00 GET /KIBO-1/5-0 200 20 0.0010 3 - -\r\n");
  WriteFile(m_Dir + "Tx000002.log", header + "10.0.0.2        2026-12-09 10:30:00 GET /KIBO-1/7-1 204 0 0.0020 1 - -\r\n");
  // The administration log is not the viewers'.
  WriteFile(m_Dir + "Adm00001.log", "#Fields: c-ip date time cs-method cs-uri sc-status bytes time-taken x-agent\r\n"
                                    "127.0.0.1       2026-12-09 10:30:00 GET /api/status 200 99 0.0001 3\r\n");
  CConsoleApi api(m_Settings, &m_Context);
  const CConsoleApi::Answer answer = api.Handle(*Request("GET", "/api/logs/analysis?from=2026-12-09T10%3A00&to="));
  ASSERT_EQ(answer.status, 200) << answer.body;
  const json::JsonValue analysis = Json(answer);
  EXPECT_EQ(analysis.Member("requests")->number, 2);
  EXPECT_EQ(analysis.Member("bytes")->number, 20);
  EXPECT_EQ(analysis.Member("perMinute")->items.size(), 2u);
  EXPECT_EQ(Json(api.Handle(*Request("GET", "/api/logs/analysis"))).Member("requests")->number, 3);
  EXPECT_EQ(api.Handle(*Request("GET", "/api/logs/analysis?from=ten+o%27clock")).status, 400);
}

TEST_F(ConsoleApiTest, DiagnosticsAskTheRelayAndTheDataCentre) {
  upstream_testing::ScriptedServer relay("HTTP/1.0 200 OK\r\nVia: relay\r\n\r\nfrom the relay");
  upstream_testing::ScriptedServer dataCentre("HTTP/1.0 200 OK\r\nContent-Length: 15\r\n\r\nfrom the centre");
  ASSERT_NE(relay.Port(), 0u);
  m_Settings.SetServerLISTENIPPort(1, ("0.0.0.0," + std::to_string(relay.Port())).c_str());
  m_Settings.SetIPPort(1, dataCentre.Address().c_str());
  CConsoleApi api(m_Settings, &m_Context);
  const CConsoleApi::Answer answer = api.Handle(*Request("POST", "/api/diagnostics", R"({"category": "12345-0?a+b"})"));
  ASSERT_EQ(answer.status, 200) << answer.body;
  const json::JsonValue result = Json(answer);
  const json::JsonValue* fromRelay = result.Member("relay");
  ASSERT_NE(fromRelay, nullptr);
  EXPECT_EQ(fromRelay->Member("target")->text, "127.0.0.1:" + std::to_string(relay.Port()));
  EXPECT_EQ(fromRelay->Member("status")->number, 200);
  EXPECT_EQ(fromRelay->Member("header")->text, "HTTP/1.0 200 OK\r\nVia: relay\r\n");
  EXPECT_EQ(fromRelay->Member("bodyStart")->text, "from the relay");
  const json::JsonValue* fromCentre = result.Member("dataCentre");
  ASSERT_NE(fromCentre, nullptr);
  EXPECT_EQ(fromCentre->Member("status")->number, 200);
  EXPECT_EQ(fromCentre->Member("bodyBytes")->number, 15);
  ASSERT_EQ(relay.Requests().size(), 1u);
  EXPECT_EQ(relay.Requests()[0].substr(0, 37), "GET /KIBO-1/12345-0?a+b HTTP/1.0\r\nUse");

  // Only a category as a viewer names it goes out.
  for (const char* body : {R"({"category": "../etc/passwd"})", R"({"category": "5-0 HTTP/1.0\r\nX: y"})",
                           R"({"category": 5})", R"({"category": "5", "target": "elsewhere"})", "[]"}) {
    EXPECT_EQ(api.Handle(*Request("POST", "/api/diagnostics", body)).status, 400) << body;
  }
  EXPECT_EQ(relay.Requests().size(), 1u);
  // A relay that does not listen is reported, not an error of the call.
  m_Settings.SetServerLISTENIPPort(1, "127.0.0.1,1");
  const json::JsonValue down = Json(api.Handle(*Request("POST", "/api/diagnostics", R"({"category": "5", "target": "relay"})")));
  EXPECT_EQ(down.Member("relay")->Member("error")->text, "cannot connect to 127.0.0.1:1");
  EXPECT_EQ(down.Member("dataCentre"), nullptr);
}

TEST_F(ConsoleApiTest, RelaysThatAnswerTheBroadcastAreListedWithTheirCounters) {
  presence_testing::PortPair ports;
  ASSERT_NE(ports.readerPort, 0);
  // The reader listens on the port above BeaconPort.
  m_Settings.SetUDPBeaconPort(ports.readerPort - 1);
  m_Settings.SetBroadcastAddress("127.255.255.255");
  CPerfSampler sampler;
  ASSERT_EQ(sampler.Start(nullptr, 60000), 0);
  CServerBeaconReader reader(m_Settings, &sampler);
  ASSERT_EQ(reader.Start(ports.readerPort), 0);
  CConsoleApi api(m_Settings, &m_Context);
  const json::JsonValue result = Json(api.Handle(*Request("GET", "/api/relays")));
  EXPECT_EQ(result.Member("broadcast")->text, "127.255.255.255");
  ASSERT_EQ(result.Member("relays")->items.size(), 1u);
  const json::JsonValue& relay = result.Member("relays")->items[0];
  EXPECT_EQ(relay.Member("port")->number, ports.readerPort);
  ASSERT_EQ(relay.Member("counters")->kind, json::JsonValue::Kind::kObject);
  // A sampler without a pool reports zeros, but it reports.
  EXPECT_NE(relay.Member("counters")->Member("accepted_total"), nullptr);
  reader.Stop();
  sampler.Stop();
}

}  // namespace

namespace {

TEST(ConsoleApiStatus, TheLiveCountersAreThereWhileTheRelayPublishesThem) {
  CPRegistry settings;
  CConsoleContext context;
  CConsoleApi api(settings, &context);
  EXPECT_EQ(Json(api.Handle(*Request("GET", "/api/status"))).Member("counters")->kind, json::JsonValue::Kind::kNull);
  CPerfSampler sampler;
  ASSERT_EQ(sampler.Start(nullptr, 60000), 0);
  sampler.CountAccepted();
  sampler.CountAccepted();
  const json::JsonValue status = Json(api.Handle(*Request("GET", "/api/status")));
  const json::JsonValue* counters = status.Member("counters");
  ASSERT_NE(counters, nullptr);
  ASSERT_EQ(counters->kind, json::JsonValue::Kind::kObject);
  EXPECT_EQ(counters->Member("accepted")->number, 2);
  EXPECT_EQ(counters->Member("accepted_total")->number, 2);
  EXPECT_NE(status.Member("time"), nullptr);
  EXPECT_EQ(status.Member("uptime")->kind, json::JsonValue::Kind::kNumber);
  // Not installed, so not running.
  EXPECT_EQ(status.Member("service")->Member("state")->text, "stopped");
  sampler.Stop();
}

}  // namespace
