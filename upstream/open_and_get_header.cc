// CPHTTPStream's request to the data centre: one attempt at one server
// (redirection, credentials) and the walk through the server list.
#include "base/trace_bits.h"
#include "platform/trace.h"
#include "upstream/http_stream.h"
#include "upstream/request_text.h"
#include "upstream/stream_abort.h"
#include "upstream/upstream_servers.h"

namespace {

constexpr int kNoAnswer = 500;

bool Answered(int status) { return status == 200 || status == 204; }

int Report(CUpstreamResult* result, const std::string& host, unsigned port, int status) {
  if (result != nullptr) {
    result->host = host;
    result->port = port;
    result->status = status;
  }
  return status;
}

}  // namespace

int CPHTTPStream::OpenAndGetHeader(const std::string& request, std::string& header, CUpstreamResult* result) {
  return OpenAndGetHeader(request, nullptr, 0, header, result);
}

int CPHTTPStream::AttemptOpenUsing(std::string request, const void* body, std::size_t bodyLength,
                                   std::string& header, std::string& host, unsigned& port,
                                   CUpstreamResult* result) {
  header.clear();
  const std::string dialHost = m_UseProxy ? m_ProxyHost : host;
  const unsigned dialPort = m_UseProxy ? m_ProxyPort : port;
  trace(trace_bits::kNetwork, "CPHTTPStream::AttemptOpenUsing() - attempting connection to %s:%d\n", dialHost.c_str(),
        static_cast<int>(dialPort));
  if (Open(dialHost, dialPort) != 0) {
    Close();
    return kNoAnswer;
  }

  const std::string sent = m_UseProxy ? upstream::MakeAbsoluteRequest(request, host, port) : request;
  const bool withBody = body != nullptr && bodyLength > 0;
  if (Write(sent.data(), sent.size()) != static_cast<int>(sent.size()) ||
      (withBody && Write(body, bodyLength) != static_cast<int>(bodyLength))) {
    trace(trace_bits::kNetwork, "CPHTTPStream::AttemptOpenUsing() Unable to send request [%s]: %d, to %s:%d\n",
          request.c_str(), platform::WSAGetLastError(), host.c_str(), static_cast<int>(port));
    Close();
    return Report(result, host, port, kNoAnswer);
  }

  const int status = ReadHeader(header);
  std::string credentialsLine;
  switch (status) {
    case 200:
    case 204:
      upstream::SetLastGoodServer(host, port);
      return Report(result, host, port, status);  // the body is still to be read
    case 302: {
      std::string target;
      unsigned targetPort = 0;
      switch (upstream::ParseRedirectLocation(header, target, targetPort)) {
        case upstream::RedirectTarget::kNone:
          trace(trace_bits::kNetwork,
                "CPHTTPStream::AttemptOpenUsing() - Unable to parse the redir location from response: %s\n",
                header.c_str());
          break;
        case upstream::RedirectTarget::kNoPort:
          trace(trace_bits::kNetwork,
                "CPHTTPStream::AttemptOpenUsing() - Unable to parse the port number from response: %s\n",
                header.c_str());
          break;
        case upstream::RedirectTarget::kFound:
          host = target;
          port = targetPort;
          trace(trace_bits::kNetwork, "CPHTTPStream::AttemptOpenUsing() - Redirection Request to %s:%d\n", host.c_str(),
                static_cast<int>(port));
          break;
      }
      Close();
      return status;
    }
    case 401: {
      // Credentials already refused: the caller hears of it as it is.
      if (upstream::HasBasicCredentials(request, "Authorization")) {
        Close();
        return status;
      }
      std::string user;
      std::string password;
      if (GetCredentials(user, password) == 0) {
        Close();
        return Report(result, host, port, status);
      }
      credentialsLine = "Authorization: Basic " + upstream::BasicCredentials(user, password);
      break;
    }
    case 407:
      if (m_UseProxy) {
        if (upstream::HasBasicCredentials(request, "Proxy-Authorization")) {
          Close();
          return status;
        }
        credentialsLine = "Proxy-Authorization: Basic " + m_ProxyCredentials;
        break;
      }
      [[fallthrough]];
    default:
      trace(trace_bits::kNetwork, "CPHTTPStream::AttemptOpenUsing() HTTP Response Code: %d, from %s:%d\n", status,
            host.c_str(), static_cast<int>(port));
      Close();
      return Report(result, host, port, status);
  }

  // Ask once more, with the credentials the server or proxy asked for.
  Close();
  if (!upstream::InsertHeaderLine(request, credentialsLine)) {
    trace(trace_bits::kNetwork, "CPHTTPStream::AttemptOpenUsing() - Unable to find header termination.\n");
    return Report(result, host, port, status);
  }
  return AttemptOpenUsing(std::move(request), body, bodyLength, header, host, port, result);
}

int CPHTTPStream::OpenAndGetHeader(const std::string& request, const void* body, std::size_t bodyLength,
                                   std::string& header, CUpstreamResult* result) {
  int status = kNoAnswer;
  upstream::ServerEndpoint last = upstream::LastGoodServer();
  if (last.port != 0) {
    status = AttemptOpenUsing(request, body, bodyLength, header, last.host, last.port, result);
    if (Answered(status)) return Report(result, last.host, last.port, status);
  }

  if (upstream::InstallDefaultServers(m_Settings)) {
    trace(trace_bits::kNetwork, "CPHTTPStream: OpenAndGetHeader() installed the built-in server list\n");
  }
  for (unsigned n = 1; n <= upstream::kServerListEntries && !upstream::StreamsAborted(); ++n) {
    const std::string text = m_Settings.GetIPPort(n);
    upstream::ServerEndpoint entry;
    if (!upstream::ParseServerEntry(text, entry)) {
      if (text.find_first_not_of(" \t") != std::string::npos) {
        trace(trace_bits::kNetwork, "CPHTTPStream: OpenAndGetHeader() skips server entry %u [%s]\n", n, text.c_str());
      }
      continue;
    }
    const upstream::ServerEndpoint asked = entry;
    status = AttemptOpenUsing(request, body, bodyLength, header, entry.host, entry.port, result);
    if (status == 302) {
      // A 302 that named no usable target leaves the entry as it was.
      if (entry.host == asked.host && entry.port == asked.port) continue;
      if (upstream::IsOwnListenAddress(m_Settings, entry.host, entry.port)) {
        const std::string self = entry.host + "," + std::to_string(entry.port);
        trace(trace_bits::kNetwork, "Self Routing detected, [%s]\n", self.c_str());
        // The 302 is no answer to pass on: it would send the viewer back here.
        header.clear();
        Close();
        return Report(result, entry.host, entry.port, kNoAnswer);
      }
      status = AttemptOpenUsing(request, body, bodyLength, header, entry.host, entry.port, result);
    }
    if (Answered(status)) return status;
    if (status == 407) {
      if (result != nullptr) {
        result->status = status;
        result->reason = GetStatusText(header);
      }
      return status;
    }
  }
  trace(trace_bits::kNetwork, "CPHTTPStream: OpenAndGetHeader() was unable to connect to any Orrinhost\n");
  if (result != nullptr) result->status = status;
  return status;
}
