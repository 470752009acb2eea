// CFileAgent: the file server of the administration port. A request path is
// mapped through a table of virtual directories to a file on disk, behind
// Basic authentication against the stored administration password, and
// answered with the file, a redirection (a directory named without its
// trailing "/"), or an error status.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "admin/admin_auth.h"
#include "agents/request_agent.h"
#include "config/cp_registry.h"

class CFileAgent : public CRequestAgent {
 public:
  // Builds the virtual directory table: the built-in entries, then those of
  // Admin\FileAgentPaths ("virtual path, physical directory").
  explicit CFileAgent(const CPRegistry& settings = CPRegistry());

  int ProcessRequest(CHTTPNetwork& connection, const CHTTPRequestMessage& request,
                     CHTTPResponseMessage& response) override;

  // The file that `path` names, or empty when no entry maps it (tests).
  std::string MapPath(std::string_view path) const;
  // The content type of a file name: the machine's registry
  // (HKEY_CLASSES_ROOT\<extension>, value "Content Type"), the built-in
  // table, then "application/octet-stream".
  static std::string ContentType(std::string_view fileName);
  // The directory served at "/" and "/Admin": home/Java/, where the console
  // is installed.
  static std::string JavaDirectory(const CPRegistry& settings);
  // Whether `path` stays inside its tree: ".." never climbs above the root.
  static bool PassesDepthCheck(std::string_view path);

 protected:
  bool IsAuthorised(const CHTTPRequestMessage& request) const;
  int SendAuthRequest(CHTTPNetwork& connection, CHTTPResponseMessage& response);
  int SendFile(CHTTPNetwork& connection, const CHTTPRequestMessage& request, CHTTPResponseMessage& response);

 private:
  struct Entry {
    std::string virtualPath;  // without a trailing "/"; the root is ""
    std::string directory;    // ends in "/"
  };
  void AddEntry(std::string virtualPath, std::string directory);
  const Entry* FindEntry(std::string_view path) const;

  CPRegistry m_Settings;
  // Sorted by virtual path (case ignored), searched from the end, so that
  // the most specific entry wins.
  std::vector<Entry> m_Entries;
};
