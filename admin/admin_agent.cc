#include "admin/admin_agent.h"

#include "base/event_catalogue.h"
#include "base/file_exception.h"
#include "base/trace_bits.h"
#include "cache/proxy_agent.h"
#include "net/qrn_http.h"
#include "base/text_scan.h"
#include "platform/file.h"
#include "platform/trace.h"
#include "txlog/transaction_log_entry.h"

CAdminAgent::CAdminAgent(const CPRegistry& settings, CProxyAgent* proxyAgent)
    : m_Registry(settings), m_ProxyAgent(proxyAgent) {}

std::string CAdminAgent::DumpFileName(const std::string& directory, std::time_t when) {
  std::tm local{};
  char name[96] = "";
  if (::localtime_r(&when, &local) != nullptr) std::strftime(name, sizeof(name), "Dump for %B %d - %H.%M.%S.log", &local);
  std::string path = directory;
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
  return path + name;
}

int CAdminAgent::Answer(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                        CPTransactionLogEntry* logEntry, int status, const char* reason) {
  HTTPSendErrorPacket(socket, bytesSent, request, status, reason);
  if (logEntry != nullptr) logEntry->SetStatus(status);
  return 0;
}

int CAdminAgent::HTTPProcess(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                             CPTransactionLogEntry* logEntry) {
  if (request == nullptr) return 0;
  std::vector<std::string>& arguments = request->Arguments();
  if (arguments.empty()) return Answer(socket, bytesSent, request, logEntry, 400, "No administrative command");
  const std::string command = arguments.front();
  arguments.erase(arguments.begin());
  if (net::EqualsNoCase(command, kDumpCommand)) return DumpProxyCache(socket, bytesSent, request, logEntry);
  trace(trace_bits::kRequest, "CAdminAgent::HTTPProcess - unknown command \"%s\"\n", command.c_str());
  return Answer(socket, bytesSent, request, logEntry, 400, "Unknown administrative command");
}

int CAdminAgent::DumpProxyCache(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                                CPTransactionLogEntry* logEntry) {
  if (m_ProxyAgent == nullptr) {
    // No cache to report on: no empty report file either.
    return Answer(socket, bytesSent, request, logEntry, 500, "No proxy cache");
  }
  const std::vector<std::string>& arguments = request->Arguments();
  const std::uint32_t flags = arguments.empty() ? kDefaultDumpFlags : net::ScanUnsigned(arguments.front());
  const std::string path = DumpFileName(m_Registry.GetTransactionLogDirectory(), std::time(nullptr));

  std::unique_ptr<platform::File> file = platform::File::Open(path, platform::File::Mode::kCreate);
  if (file == nullptr) {
    const CFileException error(platform::GetLastError(), path);
    events::Report<events::kDumpFileFailed>(path, error.Reason());
    // The administrator hears of the failure rather than seeing the line drop.
    Answer(socket, bytesSent, request, logEntry, 500, "Cannot create the dump file");
    return 0;
  }
  const int written = m_ProxyAgent->DumpCache(*file, flags);
  file.reset();
  trace(trace_bits::kRequest, "CAdminAgent::DumpProxyCache - %s \"%s\" with flags 0x%X\n",
        written != 0 ? "wrote" : "failed to write", path.c_str(), flags);
  Answer(socket, bytesSent, request, logEntry, written != 0 ? 204 : 500, nullptr);
  return written;
}
