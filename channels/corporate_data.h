// CCorporateData: the corporate channel's description, corp.dat and the
// group files of its "GROUPS/" folder, read into a tree. It gives corp.dat
// back compact (as stored) or expanded (as served, every group inline),
// lists the folder's data and animation files, reserves names for new group
// files and replaces the whole channel with a posted image.
//
// Readers of the tree take its lock shared; loading and replacing take it
// exclusively. Every operation answers -1 (or nothing) until corp.dat has
// been loaded once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "channels/corp_tree.h"
#include "config/cp_registry.h"
#include "platform/types.h"
#include "poolmgr/read_write_lock.h"

class CCorporateData {
 public:
  static constexpr const char* kGroupFolder = "GROUPS/";
  // Opening corp.dat or a group file is tried this often, this far apart,
  // unless the file is simply not there.
  static constexpr int kOpenAttempts = 5;
  static constexpr platform::DWORD kOpenRetryMs = 1500;
  // Names tried when reserving a group file before giving up.
  static constexpr int kReserveAttempts = 1000;

  explicit CCorporateData(const CPRegistry& settings = CPRegistry());
  CCorporateData(const CCorporateData&) = delete;
  CCorporateData& operator=(const CCorporateData&) = delete;

  // Loads `fileName` from `directory` (which ends in "/"), once; makes the
  // group folder when it is missing. 0 when loaded, -1 otherwise.
  int Initialize(const std::string& directory, const std::string& fileName);
  // Loads corp.dat again when its bytes changed since the last load (or it
  // appeared since Initialize found none). A file that does not load keeps
  // the tree there was. True when the tree was replaced.
  bool ReloadIfChanged();

  bool IsLoaded();
  // The corporate directory, ending in "/" (empty before Initialize).
  std::string Directory();
  // CorporateDisableDNSLookups is 0. The relay makes no name lookups of its
  // own for the channel: remote groups go to the viewers by reference.
  bool DNSLookups() const { return m_DNSLookups; }

  // corp.dat as served to the viewers, or nothing.
  std::optional<std::string> GetExpandedImage();
  // corp.dat as stored, or nothing.
  std::optional<std::string> GetCompactImage();
  // The groups' reference lines, or nothing.
  std::optional<std::string> GetGroupLines();
  // The channel's header values (no groups), or nothing.
  std::optional<CCorpChannel> GetHeader();
  // A copy of the tree, or nothing.
  std::optional<CCorpChannel> GetChannel();

  // Replaces the channel with a posted image (groups inline): groups
  // without a file get a newly reserved one, every group held here is
  // written to its file, then corp.dat in compact form; then the new tree
  // replaces the old. 0, or -1 when the image does not parse or a file
  // cannot be written (the old tree stays).
  int ReplaceFromImage(std::string_view image);

  // The names of the "*.dat" / "*.anm" files of `folder`, each followed by
  // a line feed, and their count; -1 when not loaded.
  int ListDataFiles(const std::string& folder, std::string& names, int& count);
  int ListAnimationFiles(const std::string& folder, std::string& names, int& count);

  // Creates an empty file "g<hex>8.dat" in `folder` that did not exist
  // before and returns its name; nothing when none could be created.
  static std::optional<std::string> ReserveGroupFile(const std::string& folder);

  // Reads a whole file of at most `maxBytes`, opening it as described at
  // kOpenAttempts. nothing when it is missing, unreadable or too large
  // (`reason` says which); `attempts` counts the opens tried.
  static std::optional<std::string> ReadDataFile(const std::string& path, std::size_t maxBytes, std::string& reason,
                                                 int* attempts = nullptr);

 private:
  // Reads and parses corp.dat; the group files are read as they are named.
  std::unique_ptr<CCorpChannel> LoadChannel(std::string_view text, std::string& reason) const;
  bool ReadGroup(CCorpGroup& group) const;
  std::optional<std::string> GroupFileBytes(const CCorpGroup& group) const;
  std::string GroupPath(const std::string& name) const;
  int ListFiles(const std::string& folder, const char* pattern, std::string& names, int& count);
  // Loads corp.dat when its bytes differ from `m_LoadedText`.
  bool LoadIfChanged();

  CPRegistry m_Settings;
  CReadWriteLock m_Lock;
  // Set by Initialize, read-only after it.
  std::string m_Directory;
  std::string m_FileName;
  bool m_DNSLookups = false;
  bool m_Initialized = false;
  // Guarded by m_Lock.
  std::unique_ptr<CCorpChannel> m_pRoot;
  std::string m_LoadedText;
  bool m_Modified = false;
};
