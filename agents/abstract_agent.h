// CAbstractAgent: the base of every agent, the object that answers one kind
// of viewer request. The request thread calls HTTPProcess once per parsed
// request; the agent answers with the sending operations below: a complete
// data-stream response for one item or a list of items, an error packet, raw
// bytes, and a file with bytes before and after it.
//
// The base keeps no per-request state, so one agent serves every request
// thread at once. File reads borrow the scratch buffer of the request's
// parser, which belongs to the calling thread.
//
// Byte counting: every operation adds what it sent to `bytesSent`; a failed
// send sets it to 0, so a failed answer never counts as delivered bytes.
#pragma once

#include <cstddef>
#include <span>

#include "net/fetched_item.h"
#include "net/qrn_http.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "platform/types.h"

class CPTransactionLogEntry;

// Bytes sent before and after a file by CAbstractAgent::TransmitFile; either
// part may be missing (null or length 0).
struct TransmitFileBuffers {
  const void* Head = nullptr;
  unsigned long HeadLength = 0;
  const void* Tail = nullptr;
  unsigned long TailLength = 0;
};

class CAbstractAgent {
 public:
  // Results of SendResponse and TransmitFile.
  static constexpr unsigned short kSendSucceeded = 1;
  static constexpr unsigned short kSendFailed = 3;

  // One system call offers the socket at most this many bytes (it takes
  // what fits); files are read in pieces of kTransmitPiece by TransmitFile.
  // Large enough that an answer of a few hundred KB needs only a few calls.
  static constexpr std::size_t kSendPiece = 256 * 1024;
  static constexpr std::size_t kTransmitPiece = 4096;
  // How long a viewer may take no bytes before a send gives up.
  static constexpr platform::DWORD kSendWaitMilliseconds = 300 * 1000;
  // An error packet's reason is cut to this many characters.
  static constexpr std::size_t kMaxReasonLength = 256;

  CAbstractAgent() = default;
  virtual ~CAbstractAgent() = default;
  CAbstractAgent(const CAbstractAgent&) = delete;
  CAbstractAgent& operator=(const CAbstractAgent&) = delete;

  // Called once after construction, before the agent takes requests.
  virtual int Init() = 0;
  // Answers one request completely (or not at all), adds the bytes written
  // to `bytesSent` and fills the log entry's status fields.
  virtual int HTTPProcess(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                          CPTransactionLogEntry* logEntry) = 0;

  // "HTTP/1.0 <code> <reason>" with the server line and nothing else.
  // Without a reason the standard text of the code is used (empty for a code
  // without one). Always 1: the outcome is in the trace and `bytesSent`.
  virtual int HTTPSendErrorPacket(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request, int code,
                                  const char* reason);

 protected:
  // A data-stream answer of one item: response prefix, the item's header and
  // its bytes (from memory, or the first SendLength() bytes of its file).
  // A HEAD request gets the prefix only, announcing the full length. With
  // `useTransmitFile` the file goes out through the system's file
  // transmission. 1 when everything was sent, 0 otherwise (nothing is sent
  // when the item does not hold the bytes it announces).
  virtual int HTTPSendResponse(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request, CFetchedItem* item,
                               int useTransmitFile);
  // The same for a list of items in one answer; an empty list answers 204.
  virtual int HTTPSendResponse(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request,
                               CResponseList* items, int useTransmitFile);
  // Sends all `length` bytes; kSendSucceeded or kSendFailed. Gives up when
  // the viewer takes nothing for m_SendWaitMilliseconds.
  virtual unsigned short SendResponse(platform::SOCKET socket, unsigned long& bytesSent, const void* data,
                                      unsigned long length);
  // Every send of the agents goes through here: the pieces in order, as many
  // of them per system call as the socket takes (at most kSendPiece bytes),
  // without copying them together. Waits, traces, keeps the error and counts
  // as SendResponse does. `sent` receives the bytes that went out, so that a
  // failure can tell which piece it happened in.
  unsigned short SendPieces(platform::SOCKET socket, unsigned long& bytesSent,
                            std::span<const platform::SendSlice> pieces, std::size_t& sent);
  // Warns the operator that an answer could not be sent: the last error and
  // the step that failed.
  static void ReportSendFailure(const char* step);
  // Sends the head of `buffers`, then `bytesToWrite` bytes of `file` from its
  // current position (0: up to its end), then the tail, reading the file
  // itself rather than handing it to the system. A file that ends before
  // `bytesToWrite` bytes is a failure.
  virtual unsigned short TransmitFile(platform::SOCKET socket, platform::File* file, unsigned long bytesToWrite,
                                      unsigned long& bytesSent, const TransmitFileBuffers* buffers);

  // The writability wait of each send; tests shorten it.
  platform::DWORD m_SendWaitMilliseconds = kSendWaitMilliseconds;

 private:
  class ItemPlan;

  int SendItems(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request, const CResponseList& items,
                bool single, bool useTransmitFile);
  // The item's bytes from memory or from its file; the caller reports a failure.
  bool SendItemData(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request, const ItemPlan& plan,
                    bool useTransmitFile);
  bool SendFromScratchBuffer(platform::SOCKET socket, unsigned long& bytesSent, QRNHTTP* request, platform::File& file,
                             unsigned long length);
  unsigned short SendFileBySystem(platform::SOCKET socket, unsigned long& bytesSent, platform::File& file,
                                  unsigned long length);
  // Waits for room to write; false (traced, error kept) when none came.
  bool WaitToSend(platform::SOCKET socket);
};
