#include "tools/dcsim/dcsim_server.h"

#include "base/kibo_folder.h"
#include "base/trace_bits.h"
#include "net/http_message.h"
#include "net/http_network.h"
#include "net/qrn_http.h"
#include "net/socket_request.h"
#include "base/text_scan.h"
#include "platform/trace.h"
#include "tools/dcsim/dcsim_content.h"

namespace dcsim {
namespace {

constexpr platform::DWORD kReadTimeoutSeconds = 10;
constexpr platform::DWORD kWriteWaitSeconds = 10;
constexpr std::size_t kMaxRequestBody = 1024 * 1024;
constexpr std::string_view kControlPrefix = "/dcsim/";

// The path of a request target, without "http://host:port" when a proxy
// passed it on in absolute form.
std::string_view TargetPath(std::string_view uri) {
  if (uri.size() > 7 && net::EqualsNoCase(uri.substr(0, 7), "http://")) {
    const std::size_t slash = uri.find('/', 7);
    return slash == std::string_view::npos ? std::string_view("/") : uri.substr(slash);
  }
  return uri;
}

// Whether the request carries "Basic <base64 of expected>" in header `name`.
bool HasCredentials(const CHTTPRequestMessage& request, std::string_view name, const std::string& expected) {
  auto value = request.FindHeader(name);
  if (!value || value->size() < 6 || !net::EqualsNoCase(value->substr(0, 6), "Basic ")) return false;
  return CKiboFolder::Base64Decode(net::TrimBlanks(value->substr(6))) == expected;
}

void SetText(CHTTPResponseMessage& response, int status, const std::string& text) {
  response.SetStatus(status);
  response.AddHeader("Content-Type", "text/plain");
  response.Body() = text;
  response.SetContentLength(static_cast<int>(text.size()));
}

}  // namespace

Server::Server(const Options& options)
    : options_(options), stop_event_(platform::Event::Create(true, false)) {}

Server::~Server() {
  Stop();
  for (std::thread& worker : workers_) {
    if (worker.joinable()) worker.join();
  }
  if (listener_ != platform::kInvalidSocket) platform::CloseSocket(listener_);
}

bool Server::Listen(std::string& error) {
  const Options options = Snapshot();
  if ((options.listenAddress >> 24) != 127) {
    error = "only loopback addresses are served";
    return false;
  }
  std::string agents;
  if (!AgentListBody(options.agentsFile, agents, error)) return false;
  listener_ = platform::TcpSocket();
  platform::SetReuseAddress(listener_, true);
  if (platform::Bind(listener_, {options.listenAddress, options.port}) != 0 ||
      platform::Listen(listener_, 128) != 0) {
    error = "cannot listen on " + platform::FormatDottedAddress(options.listenAddress) + ":" +
            std::to_string(options.port) + " (error " + std::to_string(platform::WSAGetLastError()) + ")";
    return false;
  }
  platform::SocketAddress local;
  platform::GetLocalAddress(listener_, &local);
  port_ = local.port;
  for (std::uint32_t i = 0; i < options.maxConnections; ++i) workers_.emplace_back([this] { Work(); });
  return true;
}

void Server::Run() {
  const std::size_t maxQueued = workers_.size() * 4;
  while (!stopping_) {
    platform::SOCKET client = platform::Accept(listener_, nullptr);
    if (client == platform::kInvalidSocket) break;
    std::unique_lock<std::mutex> hold(queue_lock_);
    if (stopping_ || queue_.size() >= maxQueued) {
      hold.unlock();
      ++counters_.refused;
      platform::CloseSocket(client);
      continue;
    }
    queue_.push_back(client);
    queue_ready_.notify_one();
  }
}

void Server::Stop() {
  if (stopping_.exchange(true)) return;
  stop_event_->Set();
  if (listener_ != platform::kInvalidSocket) platform::Shutdown(listener_, platform::SD_BOTH);
  std::lock_guard<std::mutex> hold(queue_lock_);
  for (platform::SOCKET client : active_) platform::Shutdown(client, platform::SD_BOTH);
  queue_ready_.notify_all();
}

Options Server::Snapshot() {
  std::lock_guard<std::mutex> hold(options_lock_);
  return options_;
}

void Server::Work() {
  for (;;) {
    platform::SOCKET client = platform::kInvalidSocket;
    {
      std::unique_lock<std::mutex> hold(queue_lock_);
      queue_ready_.wait(hold, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) {
        for (platform::SOCKET queued : queue_) platform::CloseSocket(queued);
        queue_.clear();
        return;
      }
      client = queue_.front();
      queue_.pop_front();
      active_.insert(client);
    }
    Answer(client);
    {
      std::lock_guard<std::mutex> hold(queue_lock_);
      active_.erase(client);
    }
    platform::Shutdown(client, platform::SD_SEND);
    platform::CloseSocket(client);
  }
}

void Server::Answer(platform::SOCKET client) {
  CHTTPNetwork network(client, kReadTimeoutSeconds, kWriteWaitSeconds);
  CHTTPSocketRequest reader(network);
  CHTTPRequestMessage request;
  CHTTPResponseMessage response;
  response.AddHeader("Server", "dcsim");
  if (reader.ReadMessage(request, kMaxRequestBody) < 0) {
    ++counters_.invalid;
    if (stopping_) return;
    SetText(response, 400, "unreadable request\n");
  } else {
    const std::string path(TargetPath(request.URI()));
    if (path.compare(0, kControlPrefix.size(), kControlPrefix) == 0) {
      AnswerControl(path, response);
    } else {
      ++counters_.requests;
      const Options options = Snapshot();
      // A slow data centre; stopping ends the wait.
      if (options.delayMs > 0 && platform::WaitForSingleObject(*stop_event_, options.delayMs) != platform::kWaitTimeout) {
        return;
      }
      AnswerRequest(request, options, response);
      response.SetNoBody(request.Method() == net::kHTTPHead);
    }
  }
  trace(trace_bits::kNetwork, "dcsim: %s -> %d\n", request.URI().c_str(), response.StatusCode());
  response.Send(network);
}

void Server::AnswerRequest(const CHTTPRequestMessage& request, const Options& options,
                           CHTTPResponseMessage& response) {
  if (!options.proxyCredentials.empty() &&
      !HasCredentials(request, "Proxy-Authorization", options.proxyCredentials)) {
    ++counters_.proxyAuth;
    response.SetStatus(407, "Proxy Authentication Required");
    response.AddHeader("Proxy-Authenticate", "Basic realm=\"dcsim\"");
    response.SetContentLength(0);
    return;
  }
  if (!options.serverCredentials.empty() && !HasCredentials(request, "Authorization", options.serverCredentials)) {
    ++counters_.unauthorized;
    response.SetStatus(401, "Unauthorized");
    response.AddHeader("WWW-Authenticate", "Basic realm=\"dcsim\"");
    response.SetContentLength(0);
    return;
  }
  const std::string path(TargetPath(request.URI()));
  if (!options.redirect.empty()) {
    ++counters_.redirected;
    response.SetStatus(302, "Moved temporarily");
    response.AddHeader("Location", "http://" + options.redirect + path);
    response.SetContentLength(0);
    return;
  }

  // The viewer protocol's addressing: category, item, number of items.
  QRNHTTP parser;
  parser.ResetHTTP();
  std::string head = request.MethodName() + " " + path + " HTTP/1.0\r\n\r\n";
  unsigned int length = static_cast<unsigned int>(head.size());
  if (parser.HTTPprocess(head.data(), length) != eHTTPComplete) {
    ++counters_.invalid;
    SetText(response, 400, "not a request of the viewer protocol\n");
    return;
  }
  const std::int32_t category = parser.GetCategory();
  if (category == kAgentListCategory && parser.GetItem() == kAgentListItem) {
    std::string body;
    std::string error;
    if (!AgentListBody(options.agentsFile, body, error)) {
      SetText(response, 500, error + "\n");
      return;
    }
    ++counters_.agentList;
    response.SetStatus(200);
    response.Body() = std::move(body);
    response.SetContentLength(static_cast<int>(response.Body().size()));
    return;
  }
  if (options.answerNoContent) {
    ++counters_.noContent;
    response.SetStatus(204);
    return;
  }
  const std::string argument = parser.Arguments().empty() ? std::string() : parser.Arguments().front();
  const std::int32_t wanted = parser.NumberOfItems() > 0 ? parser.NumberOfItems() : parser.NumberOfReferences();
  const std::vector<Item> items =
      SelectItems(options, category, argument, parser.GetItem(), wanted > 0 ? static_cast<std::uint32_t>(wanted) : 0);
  if (items.empty()) {
    ++counters_.noContent;
    response.SetStatus(204);
    return;
  }
  ++counters_.data;
  counters_.itemsSent += items.size();
  response.SetStatus(200);
  response.AddHeader("Content-Type", "application/octet-stream");
  response.Body() = DataStreamBody(items, options.nextUpdate);
  response.SetContentLength(static_cast<int>(response.Body().size()));
}

void Server::AnswerControl(const std::string& path, CHTTPResponseMessage& response) {
  if (path == "/dcsim/stats") {
    SetText(response, 200, StatsText());
    return;
  }
  if (path == "/dcsim/reset") {
    for (auto* counter : {&counters_.requests, &counters_.data, &counters_.agentList, &counters_.noContent,
                          &counters_.redirected, &counters_.unauthorized, &counters_.proxyAuth, &counters_.invalid,
                          &counters_.refused, &counters_.itemsSent}) {
      *counter = 0;
    }
    SetText(response, 200, "reset\n");
    return;
  }
  constexpr std::string_view kSet = "/dcsim/set/";
  if (path.compare(0, kSet.size(), kSet) == 0) {
    const std::string rest = path.substr(kSet.size());
    const std::size_t slash = rest.find('/');
    std::string error;
    bool applied = false;
    if (slash != std::string::npos) {
      std::lock_guard<std::mutex> hold(options_lock_);
      applied = ApplyOption(options_, rest.substr(0, slash), rest.substr(slash + 1), true, error);
    } else {
      error = "use /dcsim/set/<switch>/<value>";
    }
    SetText(response, applied ? 200 : 400, applied ? "set\n" : error + "\n");
    return;
  }
  SetText(response, 404, "unknown control path\n");
}

std::string Server::StatsText() const {
  const auto line = [](const char* name, const std::atomic<std::uint64_t>& value) {
    return std::string(name) + "=" + std::to_string(value.load()) + "\n";
  };
  return line("requests", counters_.requests) + line("data", counters_.data) +
         line("agentlist", counters_.agentList) + line("nocontent", counters_.noContent) +
         line("redirected", counters_.redirected) + line("unauthorized", counters_.unauthorized) +
         line("proxyauth", counters_.proxyAuth) + line("invalid", counters_.invalid) +
         line("refused", counters_.refused) + line("items", counters_.itemsSent);
}

}  // namespace dcsim
