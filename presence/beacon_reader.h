// CBeaconReader: listens on a UDP port for "ZDRL" packets. Clients get the
// relay's identity; other relays may ask for its status, ping it, stop the
// reader or move it to another port; when it starts it broadcasts a wake-up
// on the port below its own. The plain reader answers neither status
// queries nor pings; CServerBeaconReader, which holds the performance
// sampler, answers both.
//
// Commands that stop or move the reader are obeyed only from this host's
// own addresses. Start and Stop belong to the owner's thread; the reader's
// thread alone handles datagrams (and moves the socket).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "config/cp_registry.h"
#include "platform/socket.h"
#include "platform/sync.h"
#include "platform/types.h"

class CPerfSampler;

class CBeaconReader {
 public:
  static constexpr platform::DWORD kStopWaitMs = 7500;

  explicit CBeaconReader(const CPRegistry& settings);
  virtual ~CBeaconReader();
  CBeaconReader(const CBeaconReader&) = delete;
  CBeaconReader& operator=(const CBeaconReader&) = delete;

  // Binds any interface on `port` and starts the thread; -1 when the socket
  // is open already, the thread exists, or a step fails.
  int Start(std::uint16_t port);
  void Stop();
  std::uint16_t ListenPort() const { return m_ListenPort; }
  bool Running() const { return m_bRunning; }
  // Whether a datagram from `address` (host order) comes from this machine:
  // loopback, or an address of its host name.
  static bool IsOwnAddress(std::uint32_t address);

 protected:
  // Broadcasts the wake-up on the port below the listen port.
  virtual void Announce();
  // Closes the socket and binds a new one on `port`.
  virtual void MoveToPort(std::uint16_t port);
  virtual void AnswerStatusQuery(const platform::SocketAddress& to);
  virtual void AnswerPing(const platform::SocketAddress& to);

  // Sends the 48-byte header with `code` and `data` to `to` on the reader's
  // socket; data beyond 199 bytes is refused.
  bool Answer(const platform::SocketAddress& to, std::int32_t code, const unsigned char* data = nullptr,
              std::size_t length = 0);

 private:
  platform::DWORD Run();
  void Handle(const unsigned char* data, std::size_t length, const platform::SocketAddress& from);
  // Opens and binds the socket on `port`; false on failure (nothing left open).
  bool OpenSocket(std::uint16_t port);

  CPRegistry m_Settings;
  std::unique_ptr<platform::Thread> m_hThread;
  std::atomic<platform::SOCKET> m_Socket{platform::kInvalidSocket};
  std::atomic<std::uint16_t> m_ListenPort{0};
  std::atomic<bool> m_bRunning{false};
  bool m_bAnnounce = true;
};

class CServerBeaconReader : public CBeaconReader {
 public:
  // `sampler` is not owned and outlives the reader.
  CServerBeaconReader(const CPRegistry& settings, const CPerfSampler* sampler);

 protected:
  void AnswerStatusQuery(const platform::SocketAddress& to) override;
  void AnswerPing(const platform::SocketAddress& to) override;

 private:
  const CPerfSampler* m_pSampler;
};
