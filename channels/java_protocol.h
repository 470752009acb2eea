// CJavaProtocol: the binary administration protocol of the Java
// administration client, on Admin\JavaPort. A connection carries commands
// until one is not recognised, a read fails or the server stops; each
// command is a 32-bit code (network byte order) with its request fields,
// answered by a 12-byte header (code + 0x200, status, payload length) and
// the payload. It reads and replaces the flash file, the corporate channel
// and the redirection table, switches the corporate channel on and off,
// and asks another relay for its channel's groups.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "config/cp_registry.h"
#include "net/connection_service.h"

class CCorporateData;
class CGenericHouse;

// The bytes of one connection: a socket, or memory for tests and fuzzing.
class CJavaStream {
 public:
  virtual ~CJavaStream() = default;
  // Exactly `length` bytes (0 succeeds at once); false when the peer closed,
  // a read failed or timed out, or the server stops.
  virtual bool Receive(void* buffer, std::size_t length) = 0;
  virtual bool Send(const void* data, std::size_t length) = 0;
  // Before the code of the next command, and after it: a stream with time
  // limits sets them here.
  virtual void AwaitingCommand() {}
  virtual void InCommand() {}
};

class CJavaProtocol : public CConnectionService {
 public:
  // A payload announced larger than this ends the connection before
  // anything is allocated for it.
  static constexpr std::uint32_t kMaxPayload = 16u << 20;
  // How long a connection may wait for its next command.
  static constexpr std::uint32_t kIdleSeconds = 600;
  static constexpr const char* kStampText = "Last Updated On :";

  enum : std::uint32_t {
    eGetFlash = 0x101,
    ePutFlash = 0x102,
    eIgnored1 = 0x103,
    eIgnored2 = 0x104,
    ePutCorp = 0x105,
    eGetCorp = 0x106,
    eAskRelay = 0x108,
    eGetGroups = 0x109,
    eListAnimations = 0x10C,
    eGetCorpEnabled = 0x10D,
    eSetCorpEnabled = 0x10E,
    eGetRedirect = 0x10F,
    ePutRedirect = 0x110,
  };
  static constexpr std::uint32_t kReplyOffset = 0x200;

  // The data objects are borrowed; any of them may be null (its commands
  // then fail).
  CJavaProtocol(const CPRegistry& settings, CCorporateData* corporate, CGenericHouse* redirection,
                CGenericHouse* flash);

  void ServeConnection(platform::SOCKET socket, const std::string& peer, std::chrono::steady_clock::time_point deadline,
                       const std::atomic<bool>& stop) override;
  // Serves commands from `stream` until the connection ends.
  void Serve(CJavaStream& stream);

  // A posted flash text with its first line (up to its line feed, however
  // long) replaced by the stamp line.
  static std::string StampedFlash(std::string_view text, std::time_t now);

 private:
  // One command; false ends the connection.
  bool Dispatch(std::uint32_t code, CJavaStream& stream);
  bool ReceivePayload(CJavaStream& stream, std::string& payload);
  bool Reply(CJavaStream& stream, std::uint32_t code, bool succeeded, std::string_view payload);
  // The group data of the relay at `host`, asked on its Java port; false
  // when it cannot be had.
  bool AskRelay(const std::string& host, std::string& payload);

  CPRegistry m_Settings;
  CCorporateData* m_pCorporate;
  CGenericHouse* m_pRedirection;
  CGenericHouse* m_pFlash;
};
