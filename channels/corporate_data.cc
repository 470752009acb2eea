#include "channels/corporate_data.h"

#include <cstdio>
#include <ctime>
#include <random>
#include <utility>

#include "base/event_catalogue.h"
#include "base/kibo_folder.h"
#include "base/trace_bits.h"
#include "channels/corp_file_format.h"
#include "platform/file.h"
#include "platform/sync.h"
#include "platform/system.h"
#include "platform/trace.h"

namespace {

std::string ErrorText(platform::DWORD error) { return "error " + std::to_string(error); }

}  // namespace

CCorporateData::CCorporateData(const CPRegistry& settings) : m_Settings(settings) {}

std::optional<std::string> CCorporateData::ReadDataFile(const std::string& path, std::size_t maxBytes,
                                                        std::string& reason, int* attempts) {
  std::unique_ptr<platform::File> file;
  for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
    if (attempts != nullptr) *attempts = attempt;
    file = platform::File::Open(path, platform::File::Mode::kRead);
    if (file != nullptr) break;
    const platform::DWORD error = platform::GetLastError();
    reason = ErrorText(error);
    // A file that is not there will not come by waiting; one that is being
    // written by someone else may.
    if (error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound) {
      reason = "no such file";
      return std::nullopt;
    }
    if (attempt < kOpenAttempts) platform::Sleep(kOpenRetryMs);
  }
  if (file == nullptr) return std::nullopt;
  const long long size = file->Size();
  if (size < 0 || static_cast<unsigned long long>(size) > maxBytes) {
    reason = size < 0 ? "cannot tell its size" : "larger than " + std::to_string(maxBytes) + " bytes";
    return std::nullopt;
  }
  std::string text(static_cast<std::size_t>(size), '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    const long long got = file->Read(text.data() + done, text.size() - done);
    if (got <= 0) {
      reason = got < 0 ? ErrorText(platform::GetLastError()) : "shorter than its size";
      return std::nullopt;
    }
    done += static_cast<std::size_t>(got);
  }
  return text;
}

int CCorporateData::Initialize(const std::string& directory, const std::string& fileName) {
  if (IsLoaded()) return 0;
  m_DNSLookups = m_Settings.GetCorporateDisableDNSLookups() == 0;
  m_Directory = directory;
  if (!m_Directory.empty() && m_Directory.back() != '/') m_Directory += '/';
  m_FileName = fileName;
  m_Initialized = true;
  const std::string groups = m_Directory + kGroupFolder;
  if (!platform::DirectoryExists(groups) && !platform::CreateDirectory(groups)) {
    trace(trace_bits::kHouseError, "CorporateData: cannot create the group folder %s\n", groups.c_str());
  }
  LoadIfChanged();
  return IsLoaded() ? 0 : -1;
}

bool CCorporateData::ReloadIfChanged() {
  if (!m_Initialized) return false;
  return LoadIfChanged();
}

bool CCorporateData::LoadIfChanged() {
  const std::string path = m_Directory + m_FileName;
  // Held throughout, so that a load never puts back a tree older than one
  // a posted image installed meanwhile.
  CExclusiveLock hold(m_Lock);
  std::string reason;
  std::optional<std::string> text = ReadDataFile(path, corp_limits::kFileBytes, reason);
  if (!text) {
    trace(trace_bits::kHouse, "CorporateData: %s not loaded: %s\n", path.c_str(), reason.c_str());
    if (reason != "no such file") events::Report<events::kCorpFileFailed>(path, reason);
    return false;
  }
  if (m_pRoot != nullptr && *text == m_LoadedText) return false;
  std::unique_ptr<CCorpChannel> root = LoadChannel(*text, reason);
  if (root == nullptr) {
    trace(trace_bits::kHouseError, "CorporateData: %s refused: %s\n", path.c_str(), reason.c_str());
    events::Report<events::kCorpFileFailed>(path, reason);
    return false;
  }
  m_pRoot = std::move(root);
  m_LoadedText = std::move(*text);
  m_Modified = false;
  trace(trace_bits::kHouse, "CorporateData: loaded %s (%zu groups)\n", path.c_str(), m_pRoot->groups.size());
  return true;
}

std::unique_ptr<CCorpChannel> CCorporateData::LoadChannel(std::string_view text, std::string& reason) const {
  auto root = std::make_unique<CCorpChannel>();
  const bool read = corp_format::ReadChannel(text, *root, [this](CCorpGroup& group) { return ReadGroup(group); },
                                             reason);
  return read ? std::move(root) : nullptr;
}

std::string CCorporateData::GroupPath(const std::string& name) const {
  return m_Directory + kGroupFolder + name;
}

bool CCorporateData::ReadGroup(CCorpGroup& group) const {
  std::optional<std::string> bytes = GroupFileBytes(group);
  if (!bytes) return false;
  std::string reason;
  if (!corp_format::ReadGroupFile(*bytes, group, reason)) {
    trace(trace_bits::kHouseError, "CorporateData: group file %s refused: %s\n", group.reference.c_str(),
          reason.c_str());
    events::Report<events::kCorpFileFailed>(GroupPath(group.reference), reason);
    return false;
  }
  return true;
}

std::optional<std::string> CCorporateData::GroupFileBytes(const CCorpGroup& group) const {
  // A group file lives directly in the group folder and nowhere else.
  if (!corp_format::IsPlainFileName(group.reference)) {
    trace(trace_bits::kHouseError, "CorporateData: group file name \"%s\" is not a plain file name: ignored\n",
          group.reference.c_str());
    return std::nullopt;
  }
  const std::string path = GroupPath(group.reference);
  std::string reason;
  std::optional<std::string> bytes = ReadDataFile(path, corp_limits::kFileBytes, reason);
  if (!bytes) {
    trace(trace_bits::kHouse, "CorporateData: group file %s not read: %s\n", path.c_str(), reason.c_str());
    if (reason != "no such file") events::Report<events::kCorpFileFailed>(path, reason);
  }
  return bytes;
}

bool CCorporateData::IsLoaded() {
  CSharedLock hold(m_Lock);
  return m_pRoot != nullptr;
}

std::string CCorporateData::Directory() { return m_Directory; }

std::optional<std::string> CCorporateData::GetExpandedImage() {
  CSharedLock hold(m_Lock);
  if (m_pRoot == nullptr) return std::nullopt;
  std::optional<std::string> image =
      corp_format::WriteExpanded(*m_pRoot, [this](const CCorpGroup& group) { return GroupFileBytes(group); });
  if (!image) {
    trace(trace_bits::kHouseError, "CorporateData: the expanded channel exceeds %zu bytes\n",
          corp_limits::kExpandedBytes);
  }
  return image;
}

std::optional<std::string> CCorporateData::GetCompactImage() {
  CSharedLock hold(m_Lock);
  if (m_pRoot == nullptr) return std::nullopt;
  return corp_format::WriteCompact(*m_pRoot);
}

std::optional<std::string> CCorporateData::GetGroupLines() {
  CSharedLock hold(m_Lock);
  if (m_pRoot == nullptr) return std::nullopt;
  return corp_format::WriteGroupLines(*m_pRoot);
}

std::optional<CCorpChannel> CCorporateData::GetHeader() {
  CSharedLock hold(m_Lock);
  if (m_pRoot == nullptr) return std::nullopt;
  CCorpChannel header;
  header.name = m_pRoot->name;
  header.dvLogo = m_pRoot->dvLogo;
  header.adLogo = m_pRoot->adLogo;
  header.dvFile = m_pRoot->dvFile;
  header.flashFile = m_pRoot->flashFile;
  return header;
}

std::optional<CCorpChannel> CCorporateData::GetChannel() {
  CSharedLock hold(m_Lock);
  if (m_pRoot == nullptr) return std::nullopt;
  return *m_pRoot;
}

int CCorporateData::ReplaceFromImage(std::string_view image) {
  if (!m_Initialized || image.size() > corp_limits::kFileBytes) return -1;
  CExclusiveLock hold(m_Lock);
  if (m_pRoot == nullptr) return -1;
  std::string reason;
  std::unique_ptr<CCorpChannel> root = LoadChannel(image, reason);
  if (root == nullptr) {
    trace(trace_bits::kHouseError, "CorporateData: posted channel refused: %s\n", reason.c_str());
    return -1;
  }
  // The groups posted inline get files of their own; corp.dat is written
  // last, so it never names a group file that is not there yet.
  const std::string folder = m_Directory + kGroupFolder;
  for (CCorpGroup& group : root->groups) {
    if (group.remote || !group.reference.empty()) continue;
    std::optional<std::string> name = ReserveGroupFile(folder);
    if (!name) return -1;
    group.reference = *name;
    std::string body;
    corp_format::WriteGroupBody(group, body);
    if (!platform::ReplaceFileContents(folder + *name, body)) {
      trace(trace_bits::kHouseError, "CorporateData: cannot write group file %s\n", (folder + *name).c_str());
      return -1;
    }
  }
  std::string compact = corp_format::WriteCompact(*root);
  const std::string path = m_Directory + m_FileName;
  const std::string temporary = platform::TemporaryFileFor(path);
  bool written = false;
  for (int attempt = 1; attempt <= kOpenAttempts && !written; ++attempt) {
    written = platform::ReplaceFileContents(path, compact, temporary) == platform::ReplaceResult::kReplaced;
    if (!written && attempt < kOpenAttempts) platform::Sleep(kOpenRetryMs);
  }
  if (!written) {
    events::Report<events::kCorpFileFailed>(path, ErrorText(platform::GetLastError()));
    return -1;
  }
  m_pRoot = std::move(root);
  m_LoadedText = std::move(compact);
  m_Modified = true;
  return 0;
}

int CCorporateData::ListFiles(const std::string& folder, const char* pattern, std::string& names, int& count) {
  if (!IsLoaded()) return -1;
  names.clear();
  count = 0;
  for (const std::string& name : CKiboFolder::ListFiles(folder, pattern)) {
    names.append(name).append("\n");
    ++count;
  }
  return 0;
}

int CCorporateData::ListDataFiles(const std::string& folder, std::string& names, int& count) {
  return ListFiles(folder, "*.dat", names, count);
}

int CCorporateData::ListAnimationFiles(const std::string& folder, std::string& names, int& count) {
  return ListFiles(folder, "*.anm", names, count);
}

std::optional<std::string> CCorporateData::ReserveGroupFile(const std::string& folderIn) {
  std::string folder = folderIn;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  std::mt19937 random(static_cast<std::mt19937::result_type>(std::time(nullptr)));
  unsigned long number = random() & 0x7FFFFFFFu;
  for (int attempt = 0; attempt < kReserveAttempts; ++attempt, ++number) {
    char name[32];
    std::snprintf(name, sizeof(name), "g%lX8.dat", number);
    if (platform::File::Open(folder + name, platform::File::Mode::kCreateNew) != nullptr) return std::string(name);
    // Only a name that is taken is worth another try.
    if (platform::GetLastError() != platform::kErrorFileExists) break;
  }
  trace(trace_bits::kHouseError, "CorporateData: no group file could be reserved in %s\n", folder.c_str());
  return std::nullopt;
}
