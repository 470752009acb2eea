// The Java administration protocol: commands fed from memory with their
// exact replies, the flash stamp, the corporate channel replaced and read
// back, the redirection table, and one relay asking another over loopback.
#include "channels/java_protocol.h"

#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "channels/corporate_data.h"
#include "channels/flash_house.h"
#include "channels/house_testing.h"
#include "platform/socket.h"
#include "platform/testing.h"
#include "upstream/scripted_server_testing.h"

namespace {

using testing_support::WriteFile;

std::string Number(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}
std::string WithLength(const std::string& payload) { return Number(static_cast<std::uint32_t>(payload.size())) + payload; }

// A connection fed from memory; what the server sends is kept.
class MemoryStream : public CJavaStream {
 public:
  explicit MemoryStream(std::string input) : m_Input(std::move(input)) {}
  bool Receive(void* buffer, std::size_t length) override {
    if (m_Input.size() - m_Position < length) return false;
    std::memcpy(buffer, m_Input.data() + m_Position, length);
    m_Position += length;
    return true;
  }
  bool Send(const void* data, std::size_t length) override {
    sent.append(static_cast<const char*>(data), length);
    return true;
  }
  std::string sent;

 private:
  std::string m_Input;
  std::size_t m_Position = 0;
};

// A reply as the client reads it.
struct Reply {
  std::uint32_t code = 0, status = 0;
  std::string payload;
};
std::vector<Reply> Replies(const std::string& sent) {
  std::vector<Reply> replies;
  const auto number = [&](std::size_t at) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(sent[at])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(sent[at + 1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(sent[at + 2])) << 8) |
           static_cast<unsigned char>(sent[at + 3]);
  };
  for (std::size_t at = 0; at + 12 <= sent.size();) {
    Reply reply{number(at), number(at + 4), {}};
    const std::uint32_t length = number(at + 8);
    reply.payload = sent.substr(at + 12, length);
    replies.push_back(reply);
    at += 12 + length;
  }
  return replies;
}

class JavaProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(m_Dir + "GROUPS");
    WriteFile(m_Dir + "corp.dat", "NAME=Acme\r\nDV_LOGO=dv.gif\r\nAD_LOGO=ad.gif\r\nDV_FILE=doze.anm\r\nFLASH_FILE=flash.dat\r\n");
    WriteFile(m_Dir + "flash.dat", "Last Updated On : long ago\r\nMarkets up\r\n");
    WriteFile(m_Dir + "doze.anm", "animation");
    WriteFile(m_Dir + "redirect.csv", "table one\r\n");
    m_Settings = house_testing::Settings();
    m_Settings.SetEnableCorpChannel(1);
    ASSERT_EQ(m_Corporate.Initialize(m_Dir, "corp.dat"), 0);
    ASSERT_EQ(m_Flash.Initialize(), 0);
    ASSERT_EQ(m_Redirection.Initialize(), 0);
  }

  std::string Serve(const std::string& input) {
    CJavaProtocol protocol(m_Settings, &m_Corporate, &m_Redirection, &m_Flash);
    MemoryStream stream(input);
    protocol.Serve(stream);
    return stream.sent;
  }

  const std::string m_Dir = testing_support::MakeTempDir("java") + "/";
  CPRegistry m_Settings;
  CCorporateData m_Corporate;
  CFlashHouse m_Flash{m_Dir + "flash.dat"};
  house_testing::TestHouse m_Redirection{m_Dir + "redirect.csv"};
};

TEST_F(JavaProtocolTest, RepliesAreFramedExactly) {
  // 0x103 is consumed without a reply and the next command is served.
  const std::string sent = Serve(Number(0x103) + Number(0x10D) + Number(0));
  EXPECT_EQ(sent, Number(0x30D) + Number(0) + Number(4) + Number(1));
  // Commands whose value must be 0 say nothing otherwise; an unknown
  // command ends the connection.
  EXPECT_EQ(Serve(Number(0x109) + Number(7) + Number(0x10D) + Number(1) + Number(0x777) + Number(0x10D) + Number(0)),
            "");
  // A payload over the bound ends the connection before it is read.
  EXPECT_EQ(Serve(Number(0x102) + Number(CJavaProtocol::kMaxPayload + 1)), "");
  // A short read ends it without a reply.
  EXPECT_EQ(Serve(Number(0x102) + Number(10) + "short"), "");
  // Switching the corporate channel off.
  EXPECT_EQ(Serve(Number(0x10E) + Number(4) + Number(0)), Number(0x30E) + Number(0) + Number(0));
  EXPECT_EQ(m_Settings.GetEnableCorpChannel(), 0u);
}

TEST_F(JavaProtocolTest, APostedFlashTextGetsAFreshStamp) {
  const auto replies = Replies(Serve(Number(0x102) + WithLength("Last Updated On : yesterday\r\nRates down\r\n") +
                                     Number(0x101) + WithLength("ignored")));
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].code, 0x302u);
  EXPECT_EQ(replies[0].status, 0u);
  EXPECT_EQ(replies[1].code, 0x301u);
  const std::string& image = replies[1].payload;
  EXPECT_EQ(image.rfind("Last Updated On : ", 0), 0u) << image;
  EXPECT_EQ(image.find("yesterday"), std::string::npos);
  EXPECT_EQ(image.substr(image.find("\r\n") + 2), "Rates down\r\n");
  EXPECT_EQ(testing_support::ReadFile(m_Dir + "flash.dat"), image);

  // "Last Updated On : Monday December 08, 2025 12:00 PM": an hour without
  // a leading zero.
  const std::string stamped = CJavaProtocol::StampedFlash("old\nrest", 1765195200);
  EXPECT_TRUE(std::regex_match(stamped, std::regex("Last Updated On : [A-Z][a-z]+day [A-Z][a-z]+ [0-9]{2}, [0-9]{4} "
                                                   "([1-9]|1[0-2]):[0-9]{2} (AM|PM)\r\nrest")))
      << stamped;
}

TEST_F(JavaProtocolTest, TheCorporateChannelIsReplacedAndReadBack) {
  const std::string posted = "NAME=Posted\r\nDV_LOGO=dv.gif\r\nAD_LOGO=ad.gif\r\nDV_FILE=doze.anm\r\nFLASH_FILE=flash.dat\r\n"
                             "GROUP=News\r\nDOC_ID=1\r\nDOC_SUBJECT=One\r\nDOC_SUMMARY=<p>1</p>\r\nDOC_SUMMARY_END\r\n";
  const auto replies =
      Replies(Serve(Number(0x105) + WithLength(posted) + Number(0x106) + Number(0) + Number(0x109) + Number(0) +
                    Number(0x10C) + Number(0)));
  ASSERT_EQ(replies.size(), 4u);
  EXPECT_EQ(replies[0].code, 0x305u);
  EXPECT_EQ(replies[0].status, 0u);
  EXPECT_EQ(replies[1].code, 0x306u);
  EXPECT_EQ(replies[1].payload, testing_support::ReadFile(m_Dir + "corp.dat"));
  EXPECT_EQ(replies[1].payload.rfind("NAME=Posted\r\n", 0), 0u);
  EXPECT_EQ(replies[2].payload, replies[1].payload.substr(replies[1].payload.find("GROUP_FILE=")));
  EXPECT_EQ(replies[3].payload, "doze.anm\n");
  // An image without a channel name fails and changes nothing.
  const auto refused = Replies(Serve(Number(0x105) + WithLength("GROUP=x\r\n")));
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].status, 0x605u);
  EXPECT_EQ(m_Corporate.GetHeader()->name, "Posted");
}

TEST_F(JavaProtocolTest, TheRedirectionTableIsReadAndReplaced) {
  auto replies = Replies(Serve(Number(0x10F) + Number(0) + Number(0x110) + WithLength("table two\r\n") +
                               Number(0x110) + WithLength("table two\r\n") + Number(0x110) + WithLength("bad table")));
  ASSERT_EQ(replies.size(), 4u);
  EXPECT_EQ(replies[0].payload, "table one\r\n");
  EXPECT_EQ(replies[1].status, 0u);
  EXPECT_EQ(replies[2].status, 0u);
  // The same table twice is stored once: nothing to pass on the second time.
  EXPECT_EQ(m_Redirection.NewDataCalls(), 1);
  EXPECT_EQ(replies[3].status, 0x610u);  // refused by the house
}

TEST_F(JavaProtocolTest, OneRelayAsksAnotherForItsGroups) {
  WriteFile(m_Dir + "GROUPS/g1.dat", "GROUP=G\r\n");
  WriteFile(m_Dir + "corp.dat", "NAME=Acme\r\nDV_LOGO=d\r\nAD_LOGO=a\r\nDV_FILE=f\r\nFLASH_FILE=x\r\nGROUP_FILE=g1.dat,1,2\r\n");
  ASSERT_TRUE(m_Corporate.ReloadIfChanged());
  // The other relay: this protocol on a loopback port.
  platform::SOCKET listening = platform::TcpSocket();
  ASSERT_EQ(platform::Bind(listening, platform::SocketAddress{0x7F000001, 0}), 0);
  ASSERT_EQ(platform::Listen(listening, 4), 0);
  platform::SocketAddress local;
  ASSERT_EQ(platform::GetLocalAddress(listening, &local), 0);
  CJavaProtocol other(m_Settings, &m_Corporate, nullptr, nullptr);
  std::thread serve([&] {
    platform::SocketAddress peer;
    platform::SOCKET connection = platform::Accept(listening, &peer);
    std::atomic<bool> stop{false};
    other.ServeConnection(connection, "127.0.0.1", std::chrono::steady_clock::now() + std::chrono::seconds(5), stop);
    platform::CloseSocket(connection);
  });
  m_Settings.SetJavaPort(local.port);
  const auto replies = Replies(Serve(Number(0x108) + WithLength("127.0.0.1")));
  serve.join();
  platform::CloseSocket(listening);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].code, 0x308u);
  EXPECT_EQ(replies[0].status, 0u);
  EXPECT_EQ(replies[0].payload, "GROUP_FILE=g1.dat,1,2\r\n");

  // Nobody there: the failure status.
  m_Settings.SetJavaPort(upstream_testing::FreeLoopbackPort());
  const auto failed = Replies(Serve(Number(0x108) + WithLength("127.0.0.1")));
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].status, 0x608u);
}

}  // namespace
