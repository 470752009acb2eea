// CNotesHouse: the Notes channel's description file, fetched from the Domino
// web server (DominoURL joined with DominoFileName) and mirrored in the Notes
// directory as "<base name>.cache", so the channel is served without the
// server. ReadAndExpand turns it into notes.dat: every VIEW_ID line is
// replaced by the view's mark-up and every GROUP_FILE line by the group
// file's lines, fetched over HTTP.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

#include "channels/generic_house.h"
#include "channels/notes_expansion.h"

class CNotesHouse : public CGenericHouse {
 public:
  // What one expansion may fetch (notes_expansion.h has the other bounds).
  static constexpr std::size_t kMaxFetches = notes_expansion::kFetches;
  // How long ReadAndExpand waits for the first load.
  static constexpr platform::DWORD kInitializeWaitSeconds = 240;

  explicit CNotesHouse(const CPRegistry& settings);
  ~CNotesHouse() override;

  // Loads only when EnableDominoChannel is set; otherwise 0 without loading.
  int Initialize() override;
  // The generic check, traced; for the Domino URL itself also reported to
  // the event log, and a new image is written to the mirror.
  void CheckFile(std::string path, bool& valid, bool& changed) override;
  // notes.dat built from the house's image; empty while the first load is
  // still running.
  virtual std::string ReadAndExpand();

  // Files named by the last expansion (Notes directory joined with the
  // value); empty when not named.
  std::string ADLogoPath();
  std::string DVLogoPath();
  std::string DVFilePath();

  bool Enabled() const { return m_Enabled; }
  const std::string& NotesDirectory() const { return m_NotesDirectory; }

 protected:
  // Fetches a view or group file; false when it cannot be had (or is larger
  // than `maxBytes`).
  virtual bool Fetch(const std::string& url, const std::string& user, const std::string& password,
                     std::size_t maxBytes, std::string& text);

 private:
  const bool m_Enabled;
  const std::string m_DominoURL;
  const std::string m_NotesDirectory;  // ends in "/" (empty when not set)
  const std::string m_FailureText;
  std::mutex m_PathLock;
  std::string m_ADLogoPath;
  std::string m_DVLogoPath;
  std::string m_DVFilePath;
};
