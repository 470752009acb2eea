// Gathered sends of many pieces through a socket that fills up, and a viewer
// that stops reading.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agents/agent_testing.h"
#include "cache/piece_sender.h"

namespace {

TEST(PieceSender, EveryByteInOrderThroughAFullSocket) {
  agent_testing::ViewerConnection viewer(4096);
  viewer.StartReading();
  // More pieces than one call takes, some empty, some larger than the buffers.
  std::vector<std::string> texts;
  for (int i = 0; i < 150; ++i) texts.push_back(i % 7 == 0 ? std::string() : agent_testing::PatternBytes(97 * i, i));
  std::vector<platform::SendSlice> pieces;
  std::string expected;
  for (const std::string& text : texts) {
    pieces.push_back({text.data(), text.size()});
    expected += text;
  }
  std::size_t sent = 0;
  EXPECT_TRUE(SendPieces(viewer.Server(), pieces, 5000, sent));
  EXPECT_EQ(sent, expected.size());
  EXPECT_EQ(viewer.Finish(), expected);
}

TEST(PieceSender, AViewerThatStopsReadingEndsTheSendAfterTheWait) {
  agent_testing::ViewerConnection viewer(4096);
  const std::string big(4 * 1024 * 1024, 'x');
  const platform::SendSlice pieces[] = {{"head", 4}, {big.data(), big.size()}};
  std::size_t sent = 0;
  EXPECT_FALSE(SendPieces(viewer.Server(), pieces, 200, sent));
  EXPECT_EQ(platform::WSAGetLastError(), platform::WSAETIMEDOUT);
  EXPECT_GE(sent, 4u);
  EXPECT_LT(sent, big.size());
}

}  // namespace
