// Test support for the proxy cache: viewer requests, one request answered by
// an agent with its log line taken apart, upstream settings and records.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "agents/abstract_agent.h"
#include "agents/agent_testing.h"
#include "config/cp_registry.h"
#include "net/qrn_http.h"

namespace cache_testing {

// "<method> <target> HTTP/1.0" with `headers` (each line with its CR LF), parsed.
std::unique_ptr<QRNHTTP> ViewerRequest(const std::string& method, const std::string& target,
                                       const std::string& headers = "");

// One request answered by an agent, as the request thread would see it.
struct Exchange {
  int result = 0;
  std::string wire;
  agent_testing::Answer answer;
  // The log line and its blank-separated fields c-ip ... rs-status.
  std::string line;
  std::vector<std::string> fields;
  const std::string& Status() const { return fields.at(5); }
  const std::string& UpstreamHost() const { return fields.at(9); }
  const std::string& UpstreamStatus() const { return fields.at(10); }
};
Exchange Ask(CAbstractAgent& agent, const std::string& method, const std::string& target,
             const std::string& headers = "");

// Settings whose upstream server list holds `address` ("host,port") alone.
CPRegistry UpstreamSettings(const std::string& address);

// One data-stream record: header, empty line, bytes.
std::string Record(std::uint32_t id, std::uint16_t framePart, const std::string& bytes);
// A complete upstream answer with a Content-Length.
std::string UpstreamAnswer(const std::string& body);

}  // namespace cache_testing
