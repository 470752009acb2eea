// The error agent answers 404, and reports a connection it cannot answer on.
#include "agents/error_agent.h"

#include <gtest/gtest.h>

#include "agents/agent_testing.h"
#include "platform/event_store.h"

namespace {

TEST(ErrorAgent, Answers404AndReportsAFailedSend) {
  const std::size_t reportsBefore = platform::ReadEventRecords().size();
  CErrorAgent agent;
  CHTTPRequestMessage request;
  ASSERT_TRUE(request.ParseHead("GET /nowhere HTTP/1.0\r\n\r\n"));
  {
    agent_testing::ViewerConnection viewer;
    viewer.StartReading();
    CHTTPNetwork connection(viewer.Server(), 5);
    CHTTPResponseMessage response;
    EXPECT_EQ(agent.ProcessRequest(connection, request, response), 1);
    EXPECT_EQ(response.StatusCode(), 404);
    EXPECT_EQ(viewer.Finish(), "HTTP/1.0 404 Not Found\r\n\r\n");
  }
  EXPECT_EQ(platform::ReadEventRecords().size(), reportsBefore);

  agent_testing::ViewerConnection gone;
  platform::Shutdown(gone.Server(), platform::SD_SEND);
  CHTTPNetwork connection(gone.Server(), 5);
  CHTTPResponseMessage response;
  EXPECT_EQ(agent.ProcessRequest(connection, request, response), 1);
  ASSERT_EQ(platform::ReadEventRecords().size(), reportsBefore + 1);
  const auto records = platform::ReadEventRecords(1);
  EXPECT_EQ(records[0].id, 0xC0000074u);
  EXPECT_EQ(records[0].category, 26);
  EXPECT_EQ(records[0].strings, std::vector<std::string>{std::to_string(connection.LastError())});
}

}  // namespace
