#include "cache/cache_testing.h"

#include <gtest/gtest.h>

#include <sstream>

#include "txlog/transaction_log_entry.h"

namespace cache_testing {

std::unique_ptr<QRNHTTP> ViewerRequest(const std::string& method, const std::string& target,
                                       const std::string& headers) {
  auto request = std::make_unique<QRNHTTP>();
  request->ResetHTTP();
  std::string text = method + " " + target + " HTTP/1.0\r\n" + headers + "\r\n";
  unsigned int length = static_cast<unsigned int>(text.size());
  EXPECT_EQ(request->HTTPprocess(text.data(), length), eHTTPComplete) << text;
  return request;
}

Exchange Ask(CAbstractAgent& agent, const std::string& method, const std::string& target,
             const std::string& headers) {
  const std::unique_ptr<QRNHTTP> request = ViewerRequest(method, target, headers);
  agent_testing::ViewerConnection viewer;
  viewer.StartReading();
  CPTransactionLogEntry entry;
  unsigned long bytesSent = 0;
  Exchange exchange;
  exchange.result = agent.HTTPProcess(viewer.Server(), bytesSent, request.get(), &entry);
  exchange.wire = viewer.Finish();
  exchange.answer = agent_testing::SplitAnswer(exchange.wire);
  EXPECT_EQ(bytesSent, exchange.wire.size()) << "the byte count is what the viewer received";

  // What the request thread adds before the line is written.
  entry.SetClientAddress("127.0.0.1");
  entry.SetMethod(method);
  entry.SetUri(request->RequestURI());
  entry.SetTimeTaken(0.001);
  entry.SetBytes(bytesSent);
  entry.SetAgent(3);
  entry.Format();
  exchange.line = entry.Line();
  std::istringstream words(exchange.line);
  for (std::string word; words >> word;) exchange.fields.push_back(word);
  EXPECT_EQ(exchange.fields.size(), 11u) << exchange.line;
  return exchange;
}

CPRegistry UpstreamSettings(const std::string& address) {
  CPRegistry settings;
  settings.SetIPPort(1, address.c_str());
  settings.SetRecvTimeout(5);
  settings.SetConnectTimeout(2);
  return settings;
}

std::string Record(std::uint32_t id, std::uint16_t framePart, const std::string& bytes) {
  return "OFF:0\r\nLEN:0\r\nLID:" + std::to_string(id) + "\r\nTLEN:" + std::to_string(bytes.size()) +
         "\r\nFP:" + std::to_string(framePart) + "\r\nSRC:test\r\n\r\n" + bytes;
}

std::string UpstreamAnswer(const std::string& body) {
  return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace cache_testing
