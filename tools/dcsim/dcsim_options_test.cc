// The simulator's switches: loopback only, bounded values, start-up-only
// switches refused while running.
#include "tools/dcsim/dcsim_options.h"

#include <gtest/gtest.h>

namespace {

bool Parse(std::vector<const char*> args, dcsim::Options& options, std::string& error) {
  args.insert(args.begin(), "dcsim");
  return dcsim::ParseCommandLine(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(DcsimOptions, CommandLineSetsEverySwitch) {
  dcsim::Options options;
  std::string error;
  ASSERT_TRUE(Parse({"--listen", "127.0.0.9:0", "--items", "5", "--item-size=100", "--nxtupd", "0", "--answer-204",
                     "--redirect", "127.0.0.1:9", "--auth", "u:p", "--proxy-auth", "pu:pp", "--delay", "250"},
                    options, error))
      << error;
  EXPECT_EQ(options.listenAddress, 0x7F000009u);
  EXPECT_EQ(options.port, 0);
  EXPECT_EQ(options.items, 5u);
  EXPECT_EQ(options.itemSize, 100u);
  EXPECT_EQ(options.nextUpdate, 0u);
  EXPECT_TRUE(options.answerNoContent);
  EXPECT_EQ(options.redirect, "127.0.0.1:9");
  EXPECT_EQ(options.serverCredentials, "u:p");
  EXPECT_EQ(options.proxyCredentials, "pu:pp");
  EXPECT_EQ(options.delayMs, 250u);
}

TEST(DcsimOptions, RefusesWhatItMustNotServe) {
  std::string error;
  for (std::vector<const char*> args : std::vector<std::vector<const char*>>{
           {"--listen", "0.0.0.0:18081"},
           {"--listen", "10.0.0.1:80"},
           {"--listen", "localhost"},
           {"--items", "100001"},
           {"--item-size", "-1"},
           {"--delay", "99999999999999999999"},
           {"--auth", "nocolon"},
           {"--bogus", "1"},
           {"--items"},
           {"stray"}}) {
    dcsim::Options options;
    EXPECT_FALSE(Parse(args, options, error)) << args[0];
    EXPECT_FALSE(error.empty());
  }
}

TEST(DcsimOptions, RunningChangesOnlyTheAnswerSwitches) {
  dcsim::Options options;
  std::string error;
  EXPECT_FALSE(dcsim::ApplyOption(options, "listen", "127.0.0.1:1", true, error));
  EXPECT_FALSE(dcsim::ApplyOption(options, "item-dir", "/", true, error));
  ASSERT_TRUE(dcsim::ApplyOption(options, "answer-204", "on", true, error));
  EXPECT_TRUE(options.answerNoContent);
  ASSERT_TRUE(dcsim::ApplyOption(options, "redirect", "127.0.0.1:5", true, error));
  ASSERT_TRUE(dcsim::ApplyOption(options, "redirect", "off", true, error));
  EXPECT_TRUE(options.redirect.empty());
  EXPECT_FALSE(dcsim::ApplyOption(options, "answer-204", "maybe", true, error));
}

}  // namespace
