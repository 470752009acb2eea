// HTTPFile: a file whose Open takes a local file name or an http URL. A URL
// is fetched into a local copy under the temporary directory (with a
// conditional GET when a copy exists, so an unchanged document is not sent
// again) and the copy is opened, so the caller reads a URL like a file.
// Servers and proxies that ask for Basic credentials get them once: the
// proxy the stored proxy credentials, a server those of GetCredentials.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "config/cp_registry.h"
#include "platform/file.h"
#include "platform/types.h"

class CPHTTPStream;

class HTTPFile {
 public:
  // GetErrorCode after a failed fetch; an HTTP answer gives kErrorHTTPBase +
  // its status (404: 4500).
  static constexpr platform::DWORD kErrorHTTPBase = 4096;
  static constexpr platform::DWORD kErrorBadURL = 4096;
  static constexpr platform::DWORD kErrorProtocol = 4097;
  static constexpr platform::DWORD kErrorConnect = 4098;
  static constexpr platform::DWORD kErrorWrite = 4099;
  // The document's bytes did not all arrive (or were too many to keep); the
  // copy stays as it was.
  static constexpr platform::DWORD kErrorIncomplete = 4100;

  // The body is copied in blocks of this size; a copy larger than
  // kMaxCopyBytes is refused.
  static constexpr std::size_t kCopyBlock = 1024;
  static constexpr long long kMaxCopyBytes = 256LL * 1024 * 1024;
  // ReadString returns a longer line in pieces of this length.
  static constexpr std::size_t kMaxLineLength = 64 * 1024;

  // The proxy, NoProxyList and temporary-directory settings come from
  // `settings`.
  explicit HTTPFile(const CPRegistry& settings = CPRegistry());
  virtual ~HTTPFile();
  HTTPFile(const HTTPFile&) = delete;
  HTTPFile& operator=(const HTTPFile&) = delete;

  // 1 when open. `force` 1 fetches without the conditional request, `head` 1
  // asks with HEAD instead of GET (the copy is then left as it is).
  virtual int Open(const std::string& name, platform::File::Mode mode = platform::File::Mode::kRead, int force = 0,
                   int head = 0);
  // After a local open the system error of trying the name as a file, after
  // a failed fetch one of the codes above.
  virtual platform::DWORD GetErrorCode() const { return m_LastError; }
  // Credentials for a server that answers 401: 1 with them, 0 without.
  virtual int GetCredentials(std::string& user, std::string& password);

  bool IsOpen() const { return m_File != nullptr; }
  void Close();
  // Bytes read (0 at the end), or -1.
  long long Read(void* buffer, std::size_t length);
  // The next line without its line end; false at the end of the file.
  bool ReadString(std::string& line);
  long long GetLength() const;
  bool SeekToBegin();
  // The file opened last: the local name, or the local copy of a URL.
  const std::string& GetFilePath() const { return m_FileName; }
  // Hands the open file over (for sending it elsewhere); the object is closed.
  std::unique_ptr<platform::File> Detach();

 protected:
  CPRegistry m_Settings;

 private:
  bool OpenLocal(const std::string& path, platform::File::Mode mode);
  int OpenURL(const std::string& name, platform::File::Mode mode, int force, int head);
  // Sends `request` to host:port on a fresh connection and reads the answer's
  // header into m_LastHeader; its status, or -1 (with the last error set)
  // when the exchange failed.
  int Exchange(CPHTTPStream& stream, const std::string& request, const std::string& host, unsigned port);
  // Writes the body into `copy` through a temporary file; false with the
  // last error set when it did not all arrive.
  bool SaveCopy(CPHTTPStream& stream, const std::string& header, const std::string& copy);
  int Fail(platform::DWORD error) {
    m_LastError = error;
    return 0;
  }

  std::unique_ptr<platform::File> m_File;
  std::string m_FileName;
  std::string m_LastHeader;
  platform::DWORD m_LastError = 0;
  std::vector<char> m_ReadBuffer;
  std::size_t m_ReadPosition = 0;
  std::size_t m_ReadEnd = 0;
};
