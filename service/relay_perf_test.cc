// The live counters from outside the relay: zondrelctl perf in another
// process while ab loads the relay, and /metrics of the administration web
// server read by a parser of the Prometheus text format.
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/admin_password.h"
#include "config/cp_registry.h"
#include "conn/relay_process_testing.h"
#include "platform/system.h"
#include "platform/testing.h"
#include "upstream/peer_process_testing.h"

namespace {

constexpr const char* kPython = "/usr/bin/python3";

// The number after `"key": ` in a JSON line, or -1.
double JsonNumber(const std::string& line, const std::string& key) {
  const std::string field = "\"" + key + "\": ";
  const auto at = line.find(field);
  return at == std::string::npos ? -1 : std::stod(line.substr(at + field.size()));
}

std::string Metrics(unsigned short port, const std::string& credentials = {}) {
  std::vector<std::string> argv{"/usr/bin/curl", "-s", "-i", "--max-time", "10"};
  if (!credentials.empty()) argv.insert(argv.end(), {"-u", credentials});
  argv.push_back("http://127.0.0.1:" + std::to_string(port) + "/metrics");
  return testing_support::Run(argv).output;
}

TEST(RelayPerf, CountersLiveFromAnotherProcessWhileAbLoadsAndMetricsParse) {
  if (!platform::FileExists("/usr/bin/ab")) return testing_support::PeerMissing("ab", "apache2-utils");
  if (testing_support::Run({kPython, "-c", "import prometheus_client.parser"}).exit_code != 0) {
    return testing_support::PeerMissing("prometheus_client", "python3-prometheus-client");
  }
  ASSERT_EQ(testing_support::Run({testing_support::ProgramPath("zondrel"), "-i"}).exit_code, 0);
  const unsigned short adminPort = static_cast<unsigned short>(upstream_testing::FreeLoopbackPort());
  conn_testing::RelayProcess relay;
  ASSERT_TRUE(relay.Start({.configure = [&](CPRegistry& settings, const std::string&) {
    settings.SetWebPort(adminPort);
    settings.SetPerformanceMonSamplingInterval(100);
  }}));

  // Without a relay's block the tool says so; with it, it shows the counters.
  const auto once = testing_support::Run({testing_support::ProgramPath("zondrelctl"), "perf", "--count", "1",
                                          "--interval", "0.2"});
  ASSERT_EQ(once.exit_code, 0) << once.error;
  EXPECT_NE(once.output.find("Connections Accepted/sec"), std::string::npos);

  upstream_testing::PeerProcess ab;
  ASSERT_TRUE(ab.Start({"/usr/bin/ab", "-q", "-t", "4", "-n", "1000000", "-c", "16",
                        "http://127.0.0.1:" + std::to_string(relay.Port()) + "/KIBO-1/900-1"},
                       relay.Home() + "ab.txt"));
  const auto watched = testing_support::Run({testing_support::ProgramPath("zondrelctl"), "perf", "--json",
                                             "--interval", "0.5", "--count", "6"});
  ab.Stop(std::chrono::seconds(10));
  ASSERT_EQ(watched.exit_code, 0) << watched.error;
  std::istringstream lines(watched.output);
  std::vector<double> accepted;
  double mostWorking = 0, bestRate = 0;
  for (std::string line; std::getline(lines, line);) {
    ASSERT_EQ(line.rfind("{\"time\": ", 0), 0u) << line;
    accepted.push_back(JsonNumber(line, "accepted_total"));
    mostWorking = std::max(mostWorking, JsonNumber(line, "working_threads"));
    bestRate = std::max(bestRate, JsonNumber(line, "accepted_per_second"));
    EXPECT_GE(JsonNumber(line, "reserved_threads"), 0);
  }
  ASSERT_EQ(accepted.size(), 6u) << watched.output;
  EXPECT_GT(accepted.back(), accepted.front());
  EXPECT_GT(bestRate, 0);
  EXPECT_GT(mostWorking, 0) << watched.output;

  // /metrics: the counters and the statistics, as a scraper parses them.
  const std::string answer = Metrics(adminPort);
  ASSERT_EQ(answer.rfind("HTTP/1.0 200", 0), 0u) << answer;
  EXPECT_NE(answer.find("text/plain; version=0.0.4"), std::string::npos);
  const std::string body = answer.substr(answer.find("\r\n\r\n") + 4);
  const auto parsed = testing_support::Run(
      {kPython, "-c",
       "import sys\n"
       "from prometheus_client.parser import text_string_to_metric_families\n"
       "for family in text_string_to_metric_families(sys.stdin.read()):\n"
       "    for s in family.samples:\n"
       "        print(s.name, ','.join(k + '=' + v for k, v in sorted(s.labels.items())), int(s.value))\n"},
      body);
  ASSERT_EQ(parsed.exit_code, 0) << parsed.error << body;
  EXPECT_NE(parsed.output.find("zondrel_connections_accepted_total  "), std::string::npos) << parsed.output;
  EXPECT_NE(parsed.output.find("zondrel_pool_threads state=working "), std::string::npos);
  EXPECT_NE(parsed.output.find("zondrel_pool_reaped_total after=expired "), std::string::npos);
  EXPECT_NE(parsed.output.find("zondrel_statistic name=MajorVersion 1\n"), std::string::npos) << parsed.output;

  // Behind the administration password, as the file agent.
  CPRegistry settings;
  settings.SetAdminPassword(admin_password::Store("admin:s3cret").c_str());
  EXPECT_EQ(Metrics(adminPort).rfind("HTTP/1.0 401", 0), 0u);
  EXPECT_EQ(Metrics(adminPort, "admin:wrong").rfind("HTTP/1.0 401", 0), 0u);
  EXPECT_EQ(Metrics(adminPort, "admin:s3cret").rfind("HTTP/1.0 200", 0), 0u);

  // The relay gone, the tool finds no data.
  relay.Stop();
  const auto after = testing_support::Run({testing_support::ProgramPath("zondrelctl"), "perf", "--count", "1",
                                           "--interval", "0.1"});
  EXPECT_EQ(after.exit_code, 1);
  EXPECT_NE(after.error.find("no data"), std::string::npos);
}

}  // namespace
