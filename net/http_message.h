// Plain HTTP/1.0 messages: a start line, header lines in the order they were
// added, and a body held in memory or in an open file. Requests and responses
// differ only in their start line.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/http_tables.h"
#include "platform/file.h"

class CHTTPNetwork;

// Header names the server reads and writes by name.
inline constexpr const char* kContentLengthHeader = "Content-Length";
inline constexpr const char* kUserAgentHeader = "User-Agent";
inline constexpr const char* kConnectionHeader = "Connection";
inline constexpr const char* kContentEncodingHeader = "Content-Encoding";

// Whether a first line is a response's status line ("HTTP/1.0 200 OK").
bool IsHTTPStatusLine(std::string_view line);

class CHTTPMessage {
 public:
  CHTTPMessage() = default;
  virtual ~CHTTPMessage() = default;
  CHTTPMessage(const CHTTPMessage&) = delete;
  CHTTPMessage& operator=(const CHTTPMessage&) = delete;

  // The first line, without its CR LF.
  virtual std::string StartLine() const = 0;
  // Takes the first line of a received message; false when it is not one of
  // this kind.
  virtual bool ParseStartLine(std::string_view line) = 0;
  // Whether a received message of this kind may carry a body.
  virtual bool ExpectsBody() const = 0;
  // Whether a body without Content-Length runs to the end of the connection.
  virtual bool BodyRunsToClose() const = 0;

  // Takes a received header block (start line, header lines, blank line;
  // lines ended by CR LF or LF). False when the start line is not valid.
  bool ParseHead(std::string_view block);
  // The start line, each header line and the blank line, each with CR LF.
  std::string FormatHead() const;
  // Sends the head, then the body (the file when one is set) unless the
  // message has none. 1 when all went out, 0 with the error in the network.
  int Send(CHTTPNetwork& network) const;

  // Header lines, without their line ends. A line with a CR or LF inside is
  // refused (false): it would let its text forge further header lines.
  const std::vector<std::string>& HeaderLines() const { return m_HeaderLines; }
  bool AddHeaderLine(std::string line);
  bool AddHeader(std::string_view name, std::string_view value);  // "name: value"
  bool AddHeader(std::string_view name, int value);               // "%s: %d"
  // Replaces the first line of that name where it stands, or adds one.
  bool SetHeader(std::string_view name, std::string_view value);
  void RemoveHeader(std::string_view name);
  // The value of the first line of that name (case ignored), trimmed of
  // blanks; none when the message has no such line.
  std::optional<std::string_view> FindHeader(std::string_view name) const;

  // The Content-Length value read as a number, -1 when there is none.
  int ContentLength() const;
  void SetContentLength(int length);

  std::string& Body() { return m_Body; }
  const std::string& Body() const { return m_Body; }
  // A file to send as the body instead of Body(); borrowed, not closed here.
  void SetBodyFile(platform::File* file) { m_BodyFile = file; }
  platform::File* BodyFile() const { return m_BodyFile; }
  // A message without a body (the answer to HEAD): only the head is sent,
  // and none is read.
  void SetNoBody(bool noBody) { m_NoBody = noBody; }
  bool NoBody() const { return m_NoBody; }

 private:
  std::vector<std::string> m_HeaderLines;
  std::string m_Body;
  platform::File* m_BodyFile = nullptr;
  bool m_NoBody = false;
};

class CHTTPRequestMessage : public CHTTPMessage {
 public:
  // Method index of the HTTP tables (net::kHTTPGet, ...); kHTTPUnknown for
  // any other method, whose name MethodName() still gives.
  int Method() const { return m_Method; }
  const std::string& MethodName() const { return m_MethodName; }
  const std::string& URI() const { return m_URI; }
  const std::string& Version() const { return m_Version; }
  void SetRequestLine(int method, std::string uri, std::string version = "HTTP/1.0");

  // "%s %s %s": method, URI, protocol version.
  std::string StartLine() const override;
  // "METHOD URI VERSION", or the old "METHOD URI" without a version.
  bool ParseStartLine(std::string_view line) override;
  bool ExpectsBody() const override { return !NoBody(); }
  bool BodyRunsToClose() const override { return false; }

 private:
  int m_Method = net::kHTTPUnknown;
  std::string m_MethodName;
  std::string m_URI;
  std::string m_Version;
};

class CHTTPResponseMessage : public CHTTPMessage {
 public:
  const std::string& Version() const { return m_Version; }
  int StatusCode() const { return m_StatusCode; }
  const std::string& Reason() const { return m_Reason; }
  // The reason defaults to the status table's text, empty for an unknown code.
  void SetStatus(int code, const char* reason = nullptr, std::string version = "HTTP/1.0");

  // "%s %d %s": protocol version, status code, reason.
  std::string StartLine() const override;
  // "HTTP/x.y NNN reason"; the reason may be empty or missing.
  bool ParseStartLine(std::string_view line) override;
  // 1xx, 204 and 304 answers never carry one.
  bool ExpectsBody() const override;
  bool BodyRunsToClose() const override { return true; }

 private:
  std::string m_Version = "HTTP/1.0";
  int m_StatusCode = 0;
  std::string m_Reason;
};
