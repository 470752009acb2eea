#include "admin/diagnostics.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>

#include "base/json_text.h"
#include "config/listen_address.h"
#include "platform/socket.h"
#include "upstream/http_stream.h"

namespace diagnostics {

namespace {

constexpr std::size_t kMaxPathLength = 200;
constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
constexpr platform::DWORD kConnectMs = 5000;

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool Digits(std::string_view text) {
  return !text.empty() && text.size() <= 10 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Splits what arrived into header and body once the blank line is there.
void TakeAnswer(const std::string& answer, Probe& probe) {
  const std::size_t end = answer.find("\r\n\r\n");
  if (end == std::string::npos) {
    probe.error = "the answer has no complete HTTP header";
    probe.bodyBytes = answer.size();
    probe.bodyStart = answer.substr(0, kPreviewBytes);
    return;
  }
  probe.header = answer.substr(0, end + 2);
  int status = 0;
  if (std::sscanf(probe.header.c_str(), "HTTP/%*d.%*d %3d", &status) == 1) probe.status = status;
  probe.bodyBytes = answer.size() - end - 4;
  probe.bodyStart = answer.substr(end + 4, kPreviewBytes);
}

}  // namespace

bool IsCategoryPath(std::string_view path) {
  if (path.empty() || path.size() > kMaxPathLength) return false;
  const std::size_t mark = path.find('?');
  const std::string_view name = path.substr(0, mark);
  const std::size_t dash = name.find('-');
  if (!Digits(name.substr(0, dash)) || (dash != std::string_view::npos && !Digits(name.substr(dash + 1)))) return false;
  if (mark == std::string_view::npos) return true;
  const std::string_view arguments = path.substr(mark + 1);
  return std::all_of(arguments.begin(), arguments.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '_' || c == '.' || c == '=';
  });
}

std::string ViewerRequest(std::string_view path) {
  return "GET /KIBO-1/" + std::string(path) + " HTTP/1.0\r\nUser-Agent: Zondrel-Console\r\n\r\n";
}

Probe AskRelay(CPRegistry& settings, std::string_view path) {
  Probe probe;
  const auto start = Clock::now();
  ListenAddress listen;
  if (!ParseListenAddress(settings.GetServerLISTENIPPort(1), listen)) {
    probe.error = "the first listen entry is not valid";
    return probe;
  }
  std::uint32_t address = 0;
  if (!platform::ParseDottedAddress(listen.address, &address) || address == 0) address = 0x7F000001;
  probe.target = platform::FormatDottedAddress(address) + ":" + std::to_string(listen.port);
  platform::SOCKET s = platform::TcpSocket();
  if (s == platform::kInvalidSocket || platform::Connect(s, {address, listen.port}, kConnectMs) != 0) {
    if (s != platform::kInvalidSocket) platform::CloseSocket(s);
    probe.error = "cannot connect to " + probe.target;
    probe.milliseconds = MillisecondsSince(start);
    return probe;
  }
  const std::string request = ViewerRequest(path);
  std::string answer;
  if (platform::Send(s, request.data(), request.size()) != static_cast<int>(request.size())) {
    probe.error = "the request could not be sent";
  } else {
    // HTTP/1.0: the answer ends when the relay closes the connection.
    char buffer[16384];
    const auto deadline = start + std::chrono::milliseconds(kTimeoutMs);
    while (answer.size() < kMaxAnswerBytes) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0 || platform::WaitReadable(s, static_cast<platform::DWORD>(left)) <= 0) {
        probe.error = "the answer did not end in time";
        break;
      }
      const int got = platform::Recv(s, buffer, std::min(sizeof buffer, kMaxAnswerBytes - answer.size()));
      if (got <= 0) break;
      answer.append(buffer, static_cast<std::size_t>(got));
    }
  }
  platform::CloseSocket(s);
  probe.milliseconds = MillisecondsSince(start);
  const std::string error = probe.error;
  TakeAnswer(answer, probe);
  if (!error.empty()) probe.error = error;
  return probe;
}

Probe AskDataCentre(const CPRegistry& settings, std::string_view path) {
  Probe probe;
  const auto start = Clock::now();
  CPHTTPStream stream(settings);
  std::string header;
  CUpstreamResult result;
  const int status = stream.OpenAndGetHeader(ViewerRequest(path), header, &result);
  if (!result.host.empty()) probe.target = result.host + ":" + std::to_string(result.port);
  if (header.size() > kMaxHeaderBytes) header.resize(kMaxHeaderBytes);
  probe.header = header;
  if (header.empty()) {
    probe.error = "no data-centre server answered";
  } else {
    probe.status = status;
  }
  // The stream stays open for the body after 200 and 204 only.
  if (status == 200 || status == 204) {
    char buffer[16384];
    while (probe.bodyBytes < kMaxAnswerBytes) {
      const int got = stream.Read(buffer, sizeof buffer);
      if (got <= 0) break;
      if (probe.bodyStart.size() < kPreviewBytes) {
        probe.bodyStart.append(buffer, std::min<std::size_t>(static_cast<std::size_t>(got), kPreviewBytes - probe.bodyStart.size()));
      }
      probe.bodyBytes += static_cast<std::uint64_t>(got);
    }
  }
  stream.Close();
  probe.milliseconds = MillisecondsSince(start);
  return probe;
}

std::string ProbeJson(const Probe& probe) {
  char milliseconds[32];
  std::snprintf(milliseconds, sizeof milliseconds, "%.1f", probe.milliseconds);
  return "{\"target\":" + json::JsonQuote(probe.target) + ",\"status\":" + std::to_string(probe.status) +
         ",\"header\":" + json::JsonQuote(probe.header) + ",\"bodyBytes\":" + std::to_string(probe.bodyBytes) +
         ",\"bodyStart\":" + json::JsonQuote(probe.bodyStart) + ",\"milliseconds\":" + milliseconds +
         ",\"error\":" + json::JsonQuote(probe.error) + "}";
}

}  // namespace diagnostics
