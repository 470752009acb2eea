#include "agents/abstract_agent.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "base/event_catalogue.h"
#include "base/trace_bits.h"
#include "net/http_tables.h"
#include "platform/sync.h"
#include "platform/trace.h"

namespace {

struct SendErrorText {
  int error;
  const char* format;  // thread id, socket, error
};
constexpr SendErrorText kSendErrorTexts[] = {
    {platform::WSAEWOULDBLOCK,
     "Thread %ld: CAbstractAgent::SendResponse() WSAEWOULDBLOCK failed - You should never see this message "
     "because the socket was in blocking mode. socket (%d) error: %d...\n"},
    {platform::WSAECONNABORTED,
     "Thread %ld: CAbstractAgent::SendResponse() WSAECONNABORTED: failed - the socket has been closed by the "
     "remote end due to timeout, socket (%d) error: %d...\n"},
    {platform::WSAECONNRESET,
     "Thread %ld: CAbstractAgent::SendResponse() WSAECONNRESET failed - the socket has been closed by the "
     "remote end. socket (%d) error: %d...\n"},
    {platform::WSAESHUTDOWN,
     "Thread %ld: CAbstractAgent::SendResponse() WSAESHUTDOWN failed - Shutdown requested by remote end. "
     "socket (%d) error: %d...\n"},
};
constexpr const char* kOtherSendErrorText =
    "Thread %ld: CAbstractAgent::SendResponse() failed - socket (%d) error: %d...\n";

void TraceSendError(platform::SOCKET socket, int error) {
  const char* format = kOtherSendErrorText;
  for (const SendErrorText& entry : kSendErrorTexts) {
    if (entry.error == error) format = entry.format;
  }
  trace(trace_bits::kSend, format, static_cast<long>(platform::GetCurrentThreadId()), socket, error);
}

// A socket failure becomes the thread's last error, which the event reports
// carry, as one error number serves sockets and files alike.
void KeepSocketError(int error) { platform::SetLastError(static_cast<platform::DWORD>(error)); }

// Reads until `length` bytes are in or the file ends: the bytes read, or -1.
long long ReadFully(platform::File& file, char* buffer, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    const long long got = file.Read(buffer + done, length - done);
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<long long>(done);
}

// A reason is one short line: it must not add header lines to the packet.
std::string_view ReasonLine(const char* text) {
  std::string_view line(text != nullptr ? text : "");
  line = line.substr(0, line.find_first_of("\r\n"));
  return line.substr(0, CAbstractAgent::kMaxReasonLength);
}

}  // namespace

namespace {

// Event-log texts of the steps of one answer.
struct StepTexts {
  const char* prefix;
  const char* header;
  const char* memory;
  const char* file;
  const char* transmit;
};
constexpr StepTexts kSingleSteps{"Sending single response lpPrefix", "Sending single response lpDSheader",
                                 "Sending single response lpData (in memory)",
                                 "Sending single response lpBuffer (from file)",
                                 "Sending single response via TransmitFile"};
constexpr StepTexts kListSteps{"Sending lpPrefix", "Sending lpDSheader", "Sending lpData (in memory)",
                               "Sending lpBuffer (from file)", "TransmitFile"};

}  // namespace

// One item of an answer with its data-stream header, checked before anything
// is sent: an item must hold every byte its header announces.
class CAbstractAgent::ItemPlan {
 public:
  ItemPlan(const QRNHTTP& request, CFetchedItem& item, long now)
      : m_Item(&item), m_Header(request.MakeDataStreamHeader(&item, now, 0)), m_Length(item.SendLength()) {
    if (m_Header != nullptr) m_HeaderLength = std::strlen(m_Header.get());
  }

  bool Usable() const {
    if (m_Header == nullptr) return false;
    const long long held =
        m_Item->File() != nullptr ? m_Item->File()->Size() : static_cast<long long>(m_Item->Data().size());
    if (held >= static_cast<long long>(m_Length)) return true;
    trace(trace_bits::kSend, "AbsAgent: HTTPSendResponse() - item %lu holds %lld of the %lu bytes it announces.\n",
          static_cast<unsigned long>(m_Item->ItemID()), held, static_cast<unsigned long>(m_Length));
    return false;
  }

  CFetchedItem& Item() const { return *m_Item; }
  const char* Header() const { return m_Header.get(); }
  std::size_t HeaderLength() const { return m_HeaderLength; }
  unsigned long Length() const { return m_Length; }

 private:
  CFetchedItem* m_Item;
  HTTPText m_Header;
  std::size_t m_HeaderLength = 0;
  unsigned long m_Length;
};

int CAbstractAgent::HTTPSendErrorPacket(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request, int code,
                                        const char* reason) {
  const std::string_view given = ReasonLine(reason);
  const char* standard = given.empty() ? net::HTTPStatusReason(code) : nullptr;
  const std::string_view text = standard != nullptr ? ReasonLine(standard) : given;

  char packet[kMaxReasonLength + 96];
  const int length =
      std::snprintf(packet, sizeof(packet), "HTTP/1.0 %d %.*s\r\nServer: Orrinvale, Inc. Zondrel\r\n\r\n", code,
                    static_cast<int>(text.size()), text.data());
  // The reason is bounded, so the packet always fits.
  const bool sent = length > 0 && static_cast<std::size_t>(length) < sizeof(packet) &&
                    SendResponse(socket, bytesSent, packet, static_cast<unsigned long>(length)) == kSendSucceeded;
  trace(trace_bits::kHttp, "SendErrorPacket: %s: %d %.*s\n", sent ? "Succeeded" : "Failed", code,
        static_cast<int>(given.size()), given.data());
  return 1;
}

int CAbstractAgent::HTTPSendResponse(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                                     CFetchedItem* item, int useTransmitFile) {
  const CResponseList items{item};
  return SendItems(socket, bytesSent, request, items, true, useTransmitFile != 0);
}

int CAbstractAgent::HTTPSendResponse(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                                     CResponseList* items, int useTransmitFile) {
  const CResponseList none;
  return SendItems(socket, bytesSent, request, items != nullptr ? *items : none, false, useTransmitFile != 0);
}

int CAbstractAgent::SendItems(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                              const CResponseList& items, bool single, bool useTransmitFile) {
  const StepTexts& steps = single ? kSingleSteps : kListSteps;
  const bool transmit = useTransmitFile && !items.empty();
  const long now = static_cast<long>(std::time(nullptr));

  // Everything is built and checked first, so that an answer that cannot be
  // whole is not begun.
  if (request == nullptr) return 0;
  std::vector<ItemPlan> plans;
  plans.reserve(items.size());
  unsigned long contentLength = 0;
  for (CFetchedItem* item : items) {
    if (item == nullptr) return 0;
    const ItemPlan& plan = plans.emplace_back(*request, *item, now);
    if (!plan.Usable()) {
      trace(trace_bits::kHttp, "HTTPSendResponse: %s.\n", "Failed");
      return 0;
    }
    contentLength += plan.Length() + plan.HeaderLength();
  }
  // A single item or a file transmission announces the newest dates of its
  // items; a list sent piecewise those of its first item.
  long expires = 0;
  long lastModified = 0;
  for (const ItemPlan& plan : plans) {
    const CFetchedItem& item = plan.Item();
    if (!transmit && &plan != &plans.front()) break;
    expires = std::max(expires, static_cast<long>(item.NextUpdateTime()));
    lastModified = std::max(lastModified, static_cast<long>(item.LastModified()));
  }
  const HTTPText prefix = request->MakeResponsePrefix(contentLength, expires, lastModified, 1);
  if (prefix == nullptr) return 0;
  const std::string_view prefixText(prefix.get());

  bool ok = true;
  if (request->GetMethod() == QRNHTTP::eHEAD) {
    // The next-update line that closes the prefix is the body's first line:
    // a HEAD answer stops at the empty line before it.
    const std::size_t headersEnd = prefixText.find("\r\n\r\n");
    const std::string_view headers =
        headersEnd == std::string_view::npos ? prefixText : prefixText.substr(0, headersEnd + 4);
    ok = SendResponse(socket, bytesSent, headers.data(), headers.size()) == kSendSucceeded;
    if (!ok) ReportSendFailure(steps.prefix);
  } else if (transmit) {
    // The prefix travels with the first item's header.
    std::string head(prefixText);
    for (const ItemPlan& plan : plans) {
      head.append(plan.Header(), plan.HeaderLength());
      ok = SendResponse(socket, bytesSent, head.data(), head.size()) == kSendSucceeded &&
           SendItemData(socket, bytesSent, request, plan, true);
      if (!ok) {
        ReportSendFailure(steps.transmit);
        break;
      }
      head.clear();
    }
  } else {
    ok = SendResponse(socket, bytesSent, prefixText.data(), prefixText.size()) == kSendSucceeded;
    if (!ok) ReportSendFailure(steps.prefix);
    if (ok && request->ScratchBuffer() == nullptr) {
      trace(trace_bits::kSend, "AbsAgent: HTTPSendResponse() - m_lpScratchBuffer is NULL.\n");
      ok = false;
    }
    for (const ItemPlan& plan : plans) {
      if (!ok) break;
      ok = SendResponse(socket, bytesSent, plan.Header(), plan.HeaderLength()) == kSendSucceeded;
      if (!ok) {
        ReportSendFailure(steps.header);
        break;
      }
      ok = SendItemData(socket, bytesSent, request, plan, false);
      if (!ok) ReportSendFailure(plan.Item().File() != nullptr ? steps.file : steps.memory);
    }
  }
  if (!ok) bytesSent = 0;
  trace(trace_bits::kHttp, "HTTPSendResponse: %s.\n", ok ? "Succeeded" : "Failed");
  return ok ? 1 : 0;
}

bool CAbstractAgent::SendItemData(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                                  const ItemPlan& plan, bool useTransmitFile) {
  CFetchedItem& item = plan.Item();
  platform::File* file = item.File();
  if (file == nullptr) return SendResponse(socket, bytesSent, item.Data().data(), plan.Length()) == kSendSucceeded;
  if (useTransmitFile) return SendFileBySystem(socket, bytesSent, *file, plan.Length()) == kSendSucceeded;
  return SendFromScratchBuffer(socket, bytesSent, request, *file, plan.Length());
}

bool CAbstractAgent::SendFromScratchBuffer(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                                           platform::File& file, unsigned long length) {
  char* buffer = request->ScratchBuffer();
  if (file.Seek(0) < 0) return false;
  for (unsigned long offset = 0; offset < length;) {
    const std::size_t piece = std::min<std::size_t>(length - offset, request->ScratchBufferSize());
    const long long got = ReadFully(file, buffer, piece);
    if (got != static_cast<long long>(piece)) {
      // The file shrank after it was checked: the answer cannot be whole.
      if (got >= 0) platform::SetLastError(platform::kErrorReadFault);
      return false;
    }
    if (SendResponse(socket, bytesSent, buffer, piece) != kSendSucceeded) return false;
    offset += piece;
  }
  return true;
}

unsigned short CAbstractAgent::SendFileBySystem(platform::SOCKET socket, unsigned long& bytesSent, platform::File& file,
                                                unsigned long length) {
  long long offset = 0;
  while (offset < static_cast<long long>(length)) {
    if (!WaitToSend(socket)) {
      bytesSent = 0;
      return kSendFailed;
    }
    // Only what fits now, so that the wait above bounds a stalled viewer.
    const long long sent = platform::TransmitFile(socket, file.Descriptor(), offset,
                                                  static_cast<long long>(length) - offset, platform::MSG_DONTWAIT_FLAG);
    if (sent <= 0) {
      if (sent == 0) {
        trace(trace_bits::kSend, "AbsAgent: TransmitFile - file %s ended after %lld of %lu bytes\n",
              file.Path().c_str(), offset, length);
        platform::SetLastError(platform::kErrorReadFault);
      } else {
        const int error = platform::WSAGetLastError();
        trace(trace_bits::kSend, "AbsAgent: TransmitFile failed - socket (%d) error: %d\n", socket, error);
        KeepSocketError(error);
      }
      bytesSent = 0;
      return kSendFailed;
    }
    offset += sent;
  }
  bytesSent += length;
  return kSendSucceeded;
}

bool CAbstractAgent::WaitToSend(platform::SOCKET socket) {
  const int ready = platform::WaitWritable(socket, m_SendWaitMilliseconds);
  if (ready == 1) return true;
  if (ready == 0) {
    trace(trace_bits::kSend, "AbsAgent: No send writability after timeout period\n");
    KeepSocketError(platform::WSAETIMEDOUT);
  } else {
    const int error = platform::WSAGetLastError();
    TraceSendError(socket, error);
    KeepSocketError(error);
  }
  return false;
}

unsigned short CAbstractAgent::SendResponse(platform::SOCKET socket, unsigned long& bytesSent, const void* data,
                                            unsigned long length) {
  if (data == nullptr && length != 0) {
    KeepSocketError(platform::WSAEFAULT);
    bytesSent = 0;
    return kSendFailed;
  }
  const platform::SendSlice piece{data, data != nullptr ? length : 0};
  std::size_t sent = 0;
  return SendPieces(socket, bytesSent, {&piece, 1}, sent);
}

unsigned short CAbstractAgent::SendPieces(platform::SOCKET socket, unsigned long& bytesSent,
                                          std::span<const platform::SendSlice> pieces, std::size_t& sent) {
  sent = 0;
  std::size_t next = 0;    // the first piece not wholly sent
  std::size_t offset = 0;  // bytes of it already sent
  for (;;) {
    while (next < pieces.size() && offset == pieces[next].length) {
      ++next;
      offset = 0;
    }
    if (next == pieces.size()) break;
    platform::SendSlice batch[platform::kMaxSendSlices];
    std::size_t count = 0;
    std::size_t batchLength = 0;
    for (std::size_t i = next; i < pieces.size() && count < platform::kMaxSendSlices && batchLength < kSendPiece;
         ++i) {
      const std::size_t skip = i == next ? offset : 0;
      const std::size_t length = std::min(pieces[i].length - skip, kSendPiece - batchLength);
      if (length == 0) continue;
      batch[count++] = platform::SendSlice{static_cast<const char*>(pieces[i].data) + skip, length};
      batchLength += length;
    }

    // Only what fits now: a viewer that stops reading holds the thread for
    // no longer than the writability wait.
    const long long done = platform::SendGather(socket, batch, count, platform::MSG_DONTWAIT_FLAG);
    if (done < 0) {
      const int error = platform::WSAGetLastError();
      if (error == platform::WSAEWOULDBLOCK && WaitToSend(socket)) continue;
      if (error != platform::WSAEWOULDBLOCK) {
        TraceSendError(socket, error);
        KeepSocketError(error);
      }
      bytesSent = 0;
      return kSendFailed;
    }
    sent += static_cast<std::size_t>(done);
    // Move past the pieces that went out whole.
    auto left = static_cast<std::size_t>(done) + offset;
    while (next < pieces.size() && left >= pieces[next].length) {
      left -= pieces[next].length;
      ++next;
    }
    offset = left;
  }
  bytesSent += static_cast<unsigned long>(sent);
  return kSendSucceeded;
}

void CAbstractAgent::ReportSendFailure(const char* step) {
  const std::string error = std::to_string(platform::GetLastError());
  events::Report<events::kAgentSendFailed>(error, step);
}

unsigned short CAbstractAgent::TransmitFile(platform::SOCKET socket, platform::File* file, unsigned long bytesToWrite,
                                            unsigned long& bytesSent, const TransmitFileBuffers* buffers) {
  const auto fail = [&bytesSent] {
    bytesSent = 0;
    return kSendFailed;
  };
  if (buffers != nullptr && buffers->Head != nullptr && buffers->HeadLength != 0 &&
      SendResponse(socket, bytesSent, buffers->Head, buffers->HeadLength) != kSendSucceeded) {
    return fail();
  }
  if (file == nullptr && bytesToWrite != 0) return fail();
  if (file != nullptr) {
    char piece[kTransmitPiece];
    unsigned long done = 0;
    // 0 bytes to write means up to the end of the file.
    while (bytesToWrite == 0 || done < bytesToWrite) {
      const std::size_t want =
          bytesToWrite == 0 ? sizeof(piece) : std::min<std::size_t>(sizeof(piece), bytesToWrite - done);
      const long long got = ReadFully(*file, piece, want);
      if (got < 0) {
        trace(trace_bits::kSend, "AbsAgent: TransmitFile (hime brew) caught an exception\n");
        return fail();
      }
      if (got > 0 && SendResponse(socket, bytesSent, piece, static_cast<unsigned long>(got)) != kSendSucceeded) {
        return fail();
      }
      done += static_cast<unsigned long>(got);
      if (static_cast<std::size_t>(got) == want) continue;
      if (bytesToWrite == 0) break;
      trace(trace_bits::kSend, "AbsAgent: TransmitFile (hime brew) - file %s ended after %lu of %lu bytes\n",
            file->Path().c_str(), done, bytesToWrite);
      platform::SetLastError(platform::kErrorReadFault);
      return fail();
    }
  }
  if (buffers != nullptr && buffers->Tail != nullptr && buffers->TailLength != 0 &&
      SendResponse(socket, bytesSent, buffers->Tail, buffers->TailLength) != kSendSucceeded) {
    return fail();
  }
  return kSendSucceeded;
}
