// The corporate channel as a tree: the channel root with its header values,
// its groups and their documents. corp.dat and the group files are read into
// it and written back from it (corp_file_format.h).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct CCorpDocument {
  std::string id;
  std::string subject;
  // The summary exactly as read, its own line breaks included; empty when
  // the file gave none (written as the default body).
  std::string summary;
};

struct CCorpGroup {
  // "GROUP=": the group's name, from corp.dat or from its group file.
  std::string name;
  // "GROUP_FILE=": a file name in the group folder, a remote reference, or
  // empty for a group whose documents are held inline.
  std::string reference;
  // Two values carried after a local group's file name ("name,first,second")
  // for the administration client; the relay keeps them as they are.
  std::string firstValue;
  std::string secondValue;
  bool remote = false;
  std::vector<CCorpDocument> documents;

  // A local group kept in a file of the group folder.
  bool HasFile() const { return !remote && !reference.empty(); }
};

struct CCorpChannel {
  std::string name;        // NAME=
  std::string dvLogo;      // DV_LOGO=
  std::string adLogo;      // AD_LOGO=
  std::string dvFile;      // DV_FILE=
  std::string flashFile;   // FLASH_FILE=
  std::vector<CCorpGroup> groups;
};

namespace corp_limits {
// Every length read from a file or a posted image is held to these.
inline constexpr std::size_t kLineBytes = 511;       // a longer line is read in pieces
inline constexpr std::size_t kFileBytes = 16u << 20;  // corp.dat, a group file, a posted image
inline constexpr std::size_t kGroups = 4096;
inline constexpr std::size_t kDocumentsPerGroup = 65536;
inline constexpr std::size_t kExpandedBytes = 64u << 20;  // corp.dat with every group inline
}  // namespace corp_limits
