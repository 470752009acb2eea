// The request thread's cycle: read (with its limits), route, answer, log,
// close; and what it leaves behind.
#include "conn/secret_agent.h"

#include <chrono>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/socket.h>

#include "agents/agent_kind.h"
#include "agents/agent_list.h"
#include "agents/agent_testing.h"
#include "conn/client_request_params.h"
#include "conn/conn_testing.h"
#include "platform/sync.h"
#include "platform/testing.h"

namespace {

using conn_testing::ClosedUnanswered;
using conn_testing::ConnectHoldingViewer;
using conn_testing::ConnectViewer;
using conn_testing::SendText;
using conn_testing::TestRelay;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::vector<std::string> Fields(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> fields;
  for (std::string field; in >> field;) fields.push_back(field);
  return fields;
}

// The log's entry lines (those after the three header lines).
std::vector<std::string> EntryLines(const std::string& log) {
  std::vector<std::string> lines;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  }
  return lines;
}

TEST(SecretAgent, AnswersARequestSplitOverPacketsAndLogsIt) {
  TestRelay relay({});
  platform::SOCKET viewer = ConnectViewer(relay.Port());
  ASSERT_NE(viewer, platform::kInvalidSocket);
  for (const char* piece : {"GE", "T /KIBO-1/4", "2-7 HTTP/1.0\r", "\nUser-Agent: v\r\n", "\r\n"}) {
    ASSERT_TRUE(SendText(viewer, piece));
    platform::Sleep(50);
  }
  EXPECT_EQ(conn_testing::ReadToEnd(viewer), "HTTP/1.0 200 OK\r\n\r\npassthrough 42");
  platform::CloseSocket(viewer);

  auto lines = EntryLines(relay.LogText());
  ASSERT_EQ(lines.size(), 1u);
  // c-ip date time cs-method cs-uri sc-status bytes time-taken x-agent r-ip rs-status
  auto fields = Fields(lines[0]);
  ASSERT_EQ(fields.size(), 11u) << lines[0];
  EXPECT_EQ(lines[0].substr(0, 16), "127.0.0.1       ");
  EXPECT_EQ(fields[3], "GET");
  EXPECT_EQ(fields[4], "/KIBO-1/42-7");
  EXPECT_EQ(fields[5], "200");
  EXPECT_EQ(fields[6], "33");
  EXPECT_EQ(fields[7].size(), 6u);  // "0.0010": seconds with four decimals
  EXPECT_EQ(fields[8], "0");
  EXPECT_EQ(fields[9], "-");
  EXPECT_EQ(fields[10], "-");
}

// An agent that fails midway through its answer.
class CFailingAgent : public CAbstractAgent {
 public:
  int Init() override { return 1; }
  int HTTPProcess(platform::SOCKET, unsigned long&, QRNHTTP*, CPTransactionLogEntry*) override {
    throw std::runtime_error("broken");
  }
};

TEST(SecretAgent, KindsWithoutAnAgentArePassedThroughAndAFailingAgentIsStillLogged) {
  CPRegistry settings;
  const std::string home = testing_support::MakeTempDir("agents") + "/";
  settings.SetHomeDirectory(home.c_str());
  CAgentList list(settings);
  testing_support::WriteFile(list.FilePath(), "2\r\n500,1\r\n600,9\r\n");
  ASSERT_EQ(list.Refresh(CAgentList::kInitialLoad), 1);
  TestRelay relay({.agentList = &list});
  CFailingAgent failing;
  relay.Agents()[AgentSlotForKind(eNullAgent)] = &failing;

  auto ask = [&](const char* request) {
    platform::SOCKET viewer = ConnectViewer(relay.Port());
    EXPECT_TRUE(SendText(viewer, request));
    std::string answer = conn_testing::ReadToEnd(viewer);
    platform::CloseSocket(viewer);
    return answer;
  };
  // Category 500 is of a kind whose slot is empty: passed through.
  EXPECT_EQ(ask("GET /KIBO-1/500-1 HTTP/1.0\r\n\r\n"), "HTTP/1.0 200 OK\r\n\r\npassthrough 500");
  // Category 600's agent throws: the viewer's connection closes, the
  // request thread lives on and the request is logged all the same.
  EXPECT_EQ(ask("GET /KIBO-1/600-1 HTTP/1.0\r\n\r\n"), "");
  EXPECT_EQ(ask("GET /KIBO-1/501-1 HTTP/1.0\r\n\r\n"), "HTTP/1.0 200 OK\r\n\r\npassthrough 501");

  auto lines = EntryLines(relay.LogText());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(Fields(lines[0])[8], "1");
  EXPECT_EQ(Fields(lines[1])[4], "/KIBO-1/600-1");
  EXPECT_EQ(Fields(lines[1])[8], "9");
  EXPECT_EQ(Fields(lines[2])[8], "0");
}

TEST(SecretAgent, DropsSilentDrippingAndOverlongViewersUnanswered) {
  agent_testing::TraceCapture traces;
  TestRelay relay({.poolDepth = 8, .recvTimeoutSeconds = 1});

  // Sends nothing: the system hands the connection over about a second
  // later, and it is dropped after the receive timeout. Meanwhile it holds
  // no request thread.
  const auto started = Clock::now();
  platform::SOCKET silent = ConnectViewer(relay.Port());
  platform::Sleep(300);
  EXPECT_EQ(relay.Working(), 0);
  // Drips a byte every 300 ms: each read comes in time, the request never
  // does; dropped at the request deadline of two receive timeouts.
  const auto drippingStarted = Clock::now();
  platform::SOCKET dripping = ConnectViewer(relay.Port());
  Clock::duration drippedFor {};
  std::thread dripper([&] {
    const std::string request = "GET /KIBO-1/5-1 HTTP/1.0\r\n\r\n";
    for (std::size_t i = 0; i < request.size(); ++i) {
      if (!SendText(dripping, request.substr(i, 1)) || ClosedUnanswered(dripping, milliseconds(300))) {
        drippedFor = Clock::now() - drippingStarted;
        return;
      }
    }
  });
  // A header line that does not fit the receive buffer.
  platform::SOCKET overlong = ConnectViewer(relay.Port());
  ASSERT_TRUE(SendText(overlong, "GET /KIBO-1/5-1 HTTP/1.0\r\nX-Long: " + std::string(5000, 'a')));
  // Not the viewer protocol.
  platform::SOCKET invalid = ConnectViewer(relay.Port());
  ASSERT_TRUE(SendText(invalid, "BREW /KIBO-1/5-1 HTTP/1.0\r\n\r\n"));
  EXPECT_TRUE(ClosedUnanswered(overlong, milliseconds(900)));
  EXPECT_TRUE(ClosedUnanswered(invalid, milliseconds(900)));

  EXPECT_TRUE(ClosedUnanswered(silent, milliseconds(3000)));
  const auto silentFor = Clock::now() - started;
  EXPECT_GE(silentFor, milliseconds(1900));
  EXPECT_LT(silentFor, milliseconds(3000));
  dripper.join();
  EXPECT_GE(drippedFor, milliseconds(1900));
  EXPECT_LT(drippedFor, milliseconds(3000));

  for (platform::SOCKET s : {silent, dripping, overlong, invalid}) platform::CloseSocket(s);
  EXPECT_EQ(relay.Answering().Calls(), 0);
  EXPECT_TRUE(EntryLines(relay.LogText()).empty());
  const std::string text = traces.Text();
  // The listener collects requests: it drops these before any thread sees them.
  EXPECT_EQ(relay.Working(), 0);
  for (const char* why : {"a line is longer than a request may hold", "its request is invalid",
                          "no bytes came within the receive timeout", "the whole request took too long"}) {
    EXPECT_NE(text.find("ConnMgr: connection from 127.0.0.1 closed unanswered: " + std::string(why) + "\n"),
              std::string::npos)
        << why << "\n" << text;
  }
}

TEST(SecretAgent, ClosingThePoolEndsAThreadThatWaitsForItsViewer) {
  TestRelay relay({.poolDepth = 4, .recvTimeoutSeconds = 60});
  platform::SOCKET viewer = ConnectHoldingViewer(relay.Port());
  ASSERT_TRUE(relay.WaitForWorking(1));
  relay.Listener().Shutdown();
  const auto started = Clock::now();
  relay.Pool().ClosePoolEasy();
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(3));
  EXPECT_TRUE(ClosedUnanswered(viewer, milliseconds(1000)));
  platform::CloseSocket(viewer);
}

TEST(SecretAgent, AJobHandedOverAsThePoolClosesHasItsConnectionClosed) {
  // Closing the pool right after handing a job over often finds the thread
  // not yet started on it: the connection must be closed all the same.
  CSecretAgentFactory factory;
  for (int round = 0; round < 50; ++round) {
    int ends[2] = {-1, -1};
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    QRPoolManager pool(&factory, 180000, 600000, 5);
    ASSERT_EQ(pool.OpenPool(2, 0), 0);
    CClientRequestParams job;
    job.m_Socket = ends[0];
    job.m_RecvTimeoutSeconds = 30;
    ASSERT_EQ(pool.IssueThread(&job, 1), 0);
    pool.ClosePoolEasy();
    EXPECT_TRUE(ClosedUnanswered(ends[1], milliseconds(2000))) << "round " << round;
    platform::CloseSocket(ends[1]);
  }
}

TEST(SecretAgent, ManyConnectionsLeaveNoDescriptorsOrThreadsBehind) {
  TestRelay relay({.poolDepth = 64, .recvTimeoutSeconds = 1});
  const std::string request = "GET /KIBO-1/5-1 HTTP/1.0\r\n\r\n";
  // Four viewers at a time; every fourth connection answered, the others
  // abandoned: before sending, midway through the request, or after it
  // without reading the answer.
  auto load = [&](int connections) {
    conn_testing::RunViewers(relay.Port(), connections, [&](int i, platform::SOCKET s) {
      switch (i % 4) {
        case 0: SendText(s, request); conn_testing::ReadToEnd(s, milliseconds(2000)); break;
        case 1: break;
        case 2: SendText(s, request.substr(0, 10)); break;
        case 3: SendText(s, request); break;
      }
    });
  };
  load(400);
  ASSERT_TRUE(relay.WaitUntilQuiet());
  // Pool threads come and go with the load, up to the pool's depth; no
  // other thread may.
  const int descriptors = conn_testing::OpenDescriptors();
  const int otherThreads = conn_testing::Threads() - relay.PoolThreads();

  load(2000);
  ASSERT_TRUE(relay.WaitUntilQuiet());
  EXPECT_EQ(conn_testing::OpenDescriptors(), descriptors);
  EXPECT_LE(conn_testing::Threads() - relay.PoolThreads(), otherThreads);
  EXPECT_LE(relay.PoolThreads(), 64);
  EXPECT_GE(relay.Answering().Calls(), 1000);
}

}  // namespace
