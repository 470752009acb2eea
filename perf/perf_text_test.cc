#include "perf/perf_text.h"

#include <gtest/gtest.h>

#include "regwrap/qr_registry.h"

namespace {

using platform::DWORD;

constexpr const char* kPerflib = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib";
constexpr const char* kPerformance = "SYSTEM\\CurrentControlSet\\Services\\Zondrel\\Performance";

QRRegistry Key(const char* path) { return QRRegistry(QRRegistry(platform::HKEY_LOCAL_MACHINE), path); }

TEST(PerfText, JsonNamesEveryCounterAndRate) {
  perf::Counters words{};
  for (std::size_t i = 0; i < words.size(); ++i) words[i] = static_cast<std::uint32_t>(i * 10);
  EXPECT_EQ(perf::FormatJson(1700000000, words, 2.5),
            "{\"time\": 1700000000, \"counters\": {\"accepted_per_second\": 2.500, \"refused_total\": 10, "
            "\"idle_threads\": 20, \"working_threads\": 30, \"ended_threads\": 40, \"expired_threads\": 50, "
            "\"pool_slots\": 60, \"jobs_per_thread\": 70, \"reaped_ended\": 80, \"reaped_expired\": 90, "
            "\"stuck_threads\": 100, \"reserved_threads\": 110, \"accepted_total\": 120}}");
  // Without a block only the statistics are shown; label values are escaped.
  const std::string text = perf::FormatPrometheus(nullptr, {{"Odd\"Name\\", 3}});
  EXPECT_EQ(text.find("zondrel_connections"), std::string::npos);
  EXPECT_NE(text.find("zondrel_statistic{name=\"Odd\\\"Name\\\\\"} 3\n"), std::string::npos);
}

TEST(PerfText, InstallWritesNamesAboveTheMachinesAndKeepsThemOnReinstall) {
  QRRegistry perflib = Key(kPerflib);
  ASSERT_TRUE(perflib.Open(1));
  perflib.SetValue("Last Counter", DWORD{1846}, platform::REG_DWORD);
  perflib.SetValue("Last Help", DWORD{1847}, platform::REG_DWORD);
  QRRegistry english = Key((std::string(kPerflib) + "\\009").c_str());
  ASSERT_TRUE(english.Open(1));
  english.SetValue("Counter", std::vector<std::string>{"1", "1847", "2", "System"});
  english.SetValue("Help", std::vector<std::string>{"3", "The System object"});

  ASSERT_TRUE(perf::InstallCounterNames("Zondrel"));
  QRRegistry performance = Key(kPerformance);
  EXPECT_EQ(performance.GetValue("First Counter", DWORD{0}), 1848u);
  EXPECT_EQ(performance.GetValue("First Help", DWORD{0}), 1849u);
  EXPECT_EQ(perflib.GetValue("Last Counter", DWORD{0}), 1848u + 26);
  EXPECT_EQ(perflib.GetValue("Last Help", DWORD{0}), 1849u + 26);
  std::vector<std::string> counters, helps;
  ASSERT_TRUE(english.GetValue("Counter", counters));
  ASSERT_TRUE(english.GetValue("Help", helps));
  // The machine's own pairs stay; then the object and the thirteen counters
  // in block order.
  ASSERT_EQ(counters.size(), 4u + 28u);
  EXPECT_EQ(counters[1], "1847");
  EXPECT_EQ(counters[4], "1848");
  EXPECT_EQ(counters[5], "Zondrel");
  EXPECT_EQ(counters[6], "1850");
  EXPECT_EQ(counters[7], "Connections Accepted/sec");
  EXPECT_EQ(counters[30], "1874");
  EXPECT_EQ(counters[31], "Connections Accepted");
  ASSERT_EQ(helps.size(), 2u + 28u);
  EXPECT_EQ(helps[4], "1851");

  // Installed again: the same numbers, no second copy.
  ASSERT_TRUE(perf::InstallCounterNames("Zondrel"));
  EXPECT_EQ(performance.GetValue("First Counter", DWORD{0}), 1848u);
  ASSERT_TRUE(english.GetValue("Counter", counters));
  EXPECT_EQ(counters.size(), 32u);
  EXPECT_EQ(perflib.GetValue("Last Counter", DWORD{0}), 1874u);
}

}  // namespace
