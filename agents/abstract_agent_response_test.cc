// Data-stream answers of the agent base: one item or a list, from memory or
// from files, read piecewise or handed to the system's file transmission.
#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "agents/agent_testing.h"
#include "agents/test_agent.h"
#include "net/http_date.h"
#include "platform/event_store.h"
#include "platform/file.h"
#include "platform/testing.h"

namespace {

using agent_testing::Answer;
using agent_testing::ParsedRequest;
using agent_testing::PatternBytes;
using agent_testing::SplitAnswer;
using agent_testing::TraceCapture;
using agent_testing::ViewerConnection;

constexpr std::int64_t kLastModified = 946684800;  // 2000-01-01

std::string HeaderLine(const char* name, std::int64_t time) {
  char date[net::kHTTPDateCapacity];
  net::FormatHTTPDate(time, date);
  return std::string("\r\n") + name + ":" + date + "\r\n";
}

class AgentResponse : public testing::Test {
 protected:
  std::unique_ptr<CFetchedItem> MemoryItem(std::uint32_t id, const std::string& bytes, std::int64_t expires) {
    auto item = std::make_unique<CFetchedItem>(id, 3, 7, "mem" + std::to_string(id),
                                               std::vector<char>(bytes.begin(), bytes.end()));
    item->SetNextUpdateTime(expires);
    item->SetLastModified(kLastModified);
    return item;
  }
  std::unique_ptr<CFetchedItem> FileItem(std::uint32_t id, const std::string& bytes, std::int64_t expires,
                                         std::uint32_t announced = 0) {
    const std::string path = testing_support::MakeTempDir("item") + "/item.bin";
    testing_support::WriteFile(path, bytes);
    auto item = std::make_unique<CFetchedItem>(id, 1, 0, "file" + std::to_string(id),
                                               platform::File::Open(path, platform::File::Mode::kRead),
                                               announced != 0 ? announced : static_cast<std::uint32_t>(bytes.size()));
    item->SetNextUpdateTime(expires);
    item->SetLastModified(kLastModified + id);
    return item;
  }

  // Sends `items` (one item alone goes through the single-item form) to a
  // reading viewer and returns what it received.
  std::string Send(const char* method, const std::vector<CFetchedItem*>& items, bool list, int transmit,
                   int* result = nullptr, unsigned long* bytesSent = nullptr) {
    ViewerConnection viewer(16384);
    viewer.StartReading();
    auto request = ParsedRequest(method);
    unsigned long sent = 0;
    CResponseList responseList(items);
    const int outcome = list ? m_Agent.HTTPSendResponse(viewer.Server(), sent, request.get(), &responseList, transmit)
                             : m_Agent.HTTPSendResponse(viewer.Server(), sent, request.get(), items[0], transmit);
    if (result != nullptr) *result = outcome;
    if (bytesSent != nullptr) *bytesSent = sent;
    return viewer.Finish();
  }

  // The data stream an answer must carry after its next-update line.
  static std::string Stream(const std::vector<CFetchedItem*>& items, const std::vector<std::string>& bytes) {
    QRNHTTP formatter;
    std::string stream;
    for (std::size_t i = 0; i < items.size(); ++i) {
      stream += formatter.MakeDataStreamHeader(items[i], 0, 0).get();
      stream += bytes[i];
    }
    return stream;
  }

  static std::string AfterNextUpdateLine(const std::string& body) {
    EXPECT_EQ(body.compare(0, 7, "NXTUPD:"), 0);
    const std::size_t end = body.find("\r\n");
    return end == std::string::npos ? std::string() : body.substr(end + 2);
  }

  CTestAgent m_Agent;
  const std::int64_t m_Now = std::time(nullptr);
};

TEST_F(AgentResponse, SingleItemArrivesByteForByteFromMemoryAndFromFile) {
  TraceCapture traces;
  const std::string bytes = PatternBytes(70001, 5);  // many scratch and transmission pieces
  for (bool fromFile : {false, true}) {
    for (int transmit : {0, 1}) {
      SCOPED_TRACE(testing::Message() << "file " << fromFile << " transmit " << transmit);
      auto item = fromFile ? FileItem(11, bytes, m_Now + 3600) : MemoryItem(11, bytes, m_Now + 3600);
      int result = -1;
      unsigned long sent = 0;
      const std::string wire = Send("GET", {item.get()}, false, transmit, &result, &sent);
      EXPECT_EQ(result, 1);
      EXPECT_EQ(sent, wire.size());
      const Answer answer = SplitAnswer(wire);
      EXPECT_EQ(answer.head.compare(0, 17, "HTTP/1.0 200 OK\r\n"), 0) << answer.head;
      EXPECT_EQ(answer.contentLength, static_cast<long long>(answer.body.size()));
      EXPECT_NE(answer.head.find(HeaderLine("Last-Modified", item->LastModified())), std::string::npos);
      EXPECT_TRUE(AfterNextUpdateLine(answer.body) == Stream({item.get()}, {bytes}));
    }
  }
  EXPECT_NE(traces.Text().find("HTTPSendResponse: Succeeded.\n"), std::string::npos);
}

TEST_F(AgentResponse, HeadRequestGetsTheHeadersOnlyWithTheFullLength) {
  const std::string bytes = PatternBytes(5000, 6);
  for (bool fromFile : {false, true}) {
    for (int transmit : {0, 1}) {
      SCOPED_TRACE(testing::Message() << "file " << fromFile << " transmit " << transmit);
      auto item = fromFile ? FileItem(12, bytes, m_Now + 600) : MemoryItem(12, bytes, m_Now + 600);
      const Answer full = SplitAnswer(Send("GET", {item.get()}, false, transmit));
      int result = -1;
      unsigned long sent = 0;
      const std::string wire = Send("HEAD", {item.get()}, false, transmit, &result, &sent);
      EXPECT_EQ(result, 1);
      EXPECT_EQ(sent, wire.size());
      const Answer head = SplitAnswer(wire);
      EXPECT_EQ(head.body, "");
      EXPECT_EQ(head.contentLength, static_cast<long long>(full.body.size()));
    }
  }
}

TEST_F(AgentResponse, ListOfItemsArrivesInOrderWithTheRightLengthAndDates) {
  const std::vector<std::string> bytes = {PatternBytes(3000, 7), PatternBytes(9000, 8), "", PatternBytes(1, 9)};
  auto first = MemoryItem(21, bytes[0], m_Now + 100);
  auto second = FileItem(22, bytes[1], m_Now + 7200);
  auto empty = MemoryItem(23, bytes[2], m_Now + 50);
  auto last = FileItem(24, bytes[3], m_Now + 300);
  const std::vector<CFetchedItem*> items = {first.get(), second.get(), empty.get(), last.get()};
  for (int transmit : {0, 1}) {
    SCOPED_TRACE(testing::Message() << "transmit " << transmit);
    int result = -1;
    unsigned long sent = 0;
    const std::string wire = Send("GET", items, true, transmit, &result, &sent);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(sent, wire.size());
    const Answer answer = SplitAnswer(wire);
    EXPECT_EQ(answer.contentLength, static_cast<long long>(answer.body.size()));
    EXPECT_TRUE(AfterNextUpdateLine(answer.body) == Stream(items, bytes));
    // Sent piecewise the answer carries the first item's dates; handed to the
    // file transmission, the newest of all.
    const std::int64_t expires = transmit != 0 ? m_Now + 7200 : m_Now + 100;
    const std::int64_t modified = transmit != 0 ? last->LastModified() : first->LastModified();
    EXPECT_NE(answer.head.find(HeaderLine("Expires", expires)), std::string::npos) << answer.head;
    EXPECT_NE(answer.head.find(HeaderLine("Last-Modified", modified)), std::string::npos) << answer.head;
  }
}

TEST_F(AgentResponse, EmptyListAnswersNoContent) {
  for (int transmit : {0, 1}) {
    ViewerConnection viewer;
    viewer.StartReading();
    auto request = ParsedRequest("GET");
    CResponseList none;
    unsigned long sent = 0;
    EXPECT_EQ(m_Agent.HTTPSendResponse(viewer.Server(), sent, request.get(), &none, transmit), 1);
    const std::string wire = viewer.Finish();
    EXPECT_EQ(wire.compare(0, 25, "HTTP/1.0 204 No content\r\n"), 0) << wire;
    EXPECT_EQ(wire.find("Content-length"), std::string::npos);
    EXPECT_EQ(SplitAnswer(wire).body, "");
    EXPECT_EQ(sent, wire.size());
  }
}

TEST_F(AgentResponse, ItemsThatHoldLessThanTheyAnnounceSendNothing) {
  TraceCapture traces;
  auto shortMemory = MemoryItem(31, "ten bytes!", m_Now);
  shortMemory->SetLengths(100, 100);
  auto shortFile = FileItem(32, PatternBytes(1000, 10), m_Now, 20000);
  auto good = MemoryItem(33, "fine", m_Now);
  for (int transmit : {0, 1}) {
    for (CFetchedItem* bad : {shortMemory.get(), shortFile.get()}) {
      SCOPED_TRACE(testing::Message() << "item " << bad->ItemID() << " transmit " << transmit);
      int result = -1;
      unsigned long sent = 7;
      EXPECT_EQ(Send("GET", {bad}, false, transmit, &result, &sent), "");
      EXPECT_EQ(result, 0);
      EXPECT_EQ(Send("GET", {good.get(), bad}, true, transmit, &result, &sent), "");
      EXPECT_EQ(result, 0);
    }
  }
  const std::string text = traces.Text();
  EXPECT_NE(text.find("AbsAgent: HTTPSendResponse() - item 32 holds 1000 of the 20000 bytes it announces.\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("HTTPSendResponse: Failed.\n"), std::string::npos);
}

// A viewer that stops reading: the answer fails after the short wait, counts
// nothing, and the operator learns which step failed.
TEST_F(AgentResponse, StalledViewerFailsTheAnswerAndReportsTheStep) {
  struct Case {
    bool fromFile;
    bool list;
    int transmit;
    const char* step;
  };
  const Case cases[] = {
      {false, false, 0, "Sending single response lpData (in memory)"},
      {true, false, 0, "Sending single response lpBuffer (from file)"},
      {true, false, 1, "Sending single response via TransmitFile"},
      {true, true, 0, "Sending lpBuffer (from file)"},
      {true, true, 1, "TransmitFile"},
  };
  const std::string bytes = PatternBytes(8 << 20, 11);
  CTestAgent agent(300);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    auto item = c.fromFile ? FileItem(41, bytes, m_Now + 60) : MemoryItem(41, bytes, m_Now + 60);
    ViewerConnection viewer(4096);  // never reads
    auto request = ParsedRequest("GET");
    CResponseList list{item.get()};
    unsigned long sent = 0;
    const int result = c.list ? agent.HTTPSendResponse(viewer.Server(), sent, request.get(), &list, c.transmit)
                              : agent.HTTPSendResponse(viewer.Server(), sent, request.get(), item.get(), c.transmit);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(sent, 0u);
    const auto records = platform::ReadEventRecords(1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].type, platform::EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(records[0].category, 11);
    EXPECT_EQ(records[0].id, 0x80000072u);
    EXPECT_EQ(records[0].strings, (std::vector<std::string>{"10060", c.step}));
  }
  EXPECT_EQ(platform::ReadEventRecords().size(), std::size(cases));
}

}  // namespace
