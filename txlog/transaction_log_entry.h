// CPTransactionLogEntry: the record of one answered request, filled by the
// request thread (client, method, URI, bytes, time taken, agent) and by the
// agent (status, upstream host and status), then formatted into one line of
// the transaction log:
//
//   c-ip date time cs-method cs-uri sc-status bytes time-taken x-agent r-ip rs-status
//
// Every field reads "-" until it is set. Texts that come from the network
// are escaped so that a line is always one line of blank-separated fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class CPTransactionLogEntry {
 public:
  CPTransactionLogEntry();
  virtual ~CPTransactionLogEntry() = default;

  // Every field back to "-", time 0, not filled, no line.
  virtual void Reset();
  // When the entry has been filled since the last Format: stamps the current
  // time, builds the line and clears the filled flag. Otherwise the line
  // stays as it was.
  virtual void Format();

  // The setters mark the entry filled.
  void SetClientAddress(std::string_view address);  // padded to 15 characters
  void SetMethod(std::string_view method);
  void SetUri(std::string_view uri);
  void SetStatus(int status);
  void SetBytes(std::uint64_t bytes);
  void SetTimeTaken(double seconds);  // "%5.4f"
  void SetAgent(int kind);
  void SetUpstreamHost(std::string_view host);  // padded to 15 characters
  void SetUpstreamStatus(int status);
  void MarkFilled() { m_Filled = true; }

  bool IsFilled() const { return m_Filled; }
  // True once Format has built a line.
  bool HasLine() const { return m_HasLine; }
  // The formatted line with its CR LF ("-" before the first Format).
  const std::string& Line() const { return m_Line; }
  // Seconds since 1970 when the line was formatted (0 before).
  std::uint32_t Time() const { return m_Time; }

 protected:
  // Builds the line from the first `valueCount` values (date and time count
  // as one): 10 for viewer requests, 8 (up to x-agent) for the
  // administration log.
  void FormatValues(std::size_t valueCount);

 private:
  bool m_Filled = false;
  bool m_HasLine = false;
  std::string m_Line;
  std::string m_ClientAddress;
  std::string m_Method;
  std::string m_Uri;
  std::string m_Status;
  std::string m_Bytes;
  std::string m_Agent;
  std::string m_TimeTaken;
  std::string m_UpstreamHost;
  std::string m_UpstreamStatus;
  std::uint32_t m_Time = 0;
};

// An administration-port request: its line ends after x-agent, matching the
// administration log's shorter field list.
class CPAdminTransactionLogEntry : public CPTransactionLogEntry {
 public:
  void Format() override;
};
