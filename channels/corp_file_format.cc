#include "channels/corp_file_format.h"

#include <cstddef>
#include <string>
#include <utility>

#include "base/text_scan.h"

namespace corp_format {
namespace {

constexpr std::string_view kName = "NAME=";
constexpr std::string_view kDvLogo = "DV_LOGO=";
constexpr std::string_view kAdLogo = "AD_LOGO=";
constexpr std::string_view kDvFile = "DV_FILE=";
constexpr std::string_view kFlashFile = "FLASH_FILE=";
constexpr std::string_view kGroup = "GROUP=";
constexpr std::string_view kGroupFile = "GROUP_FILE=";
constexpr std::string_view kDocId = "DOC_ID=";
constexpr std::string_view kDocSubject = "DOC_SUBJECT=";
constexpr std::string_view kDocSummary = "DOC_SUMMARY=";
constexpr std::string_view kDocSummaryEnd = "DOC_SUMMARY_END";
constexpr std::string_view kDefaultBody = "<HTML></HTML>";
constexpr std::string_view kLineEnd = "\r\n";

// Lines of a text as a 512-byte line buffer reads them: up to and with the
// line feed, at most corp_limits::kLineBytes bytes at a time. The pieces of
// a longer line after its first are never taken for a key line, so no key
// is found in the middle of a line.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : m_Text(text) {}

  bool Next(std::string_view& line) {
    if (m_Position >= m_Text.size()) return false;
    m_Continued = m_Position > 0 && m_Text[m_Position - 1] != '\n';
    const std::size_t window = std::min(corp_limits::kLineBytes, m_Text.size() - m_Position);
    const std::size_t feed = m_Text.substr(m_Position, window).find('\n');
    const std::size_t length = feed == std::string_view::npos ? window : feed + 1;
    line = m_Text.substr(m_Position, length);
    m_Position += length;
    return true;
  }
  // Whether the last piece continues a line begun by the piece before it.
  bool Continued() const { return m_Continued; }
  std::size_t Position() const { return m_Position; }
  void Rewind(std::size_t position) { m_Position = position; }

 private:
  std::string_view m_Text;
  std::size_t m_Position = 0;
  bool m_Continued = false;
};

bool StartsWithKey(std::string_view line, std::string_view key) {
  return line.size() >= key.size() && net::EqualsNoCase(line.substr(0, key.size()), key);
}

std::string_view CutLineEnd(std::string_view value) {
  while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.remove_suffix(1);
  return value;
}

// The value of `key` on `line`, when the line is that key's line.
bool KeyValue(std::string_view line, std::string_view key, std::string_view& value) {
  if (!StartsWithKey(line, key)) return false;
  value = CutLineEnd(line.substr(key.size()));
  return !value.empty();
}

// The value of the next line of `key`; the lines before it are skipped, and
// so is the rest of the text when there is none.
bool FindKey(LineReader& reader, std::string_view key, std::string& value) {
  std::string_view line, found;
  while (reader.Next(line)) {
    if (!reader.Continued() && KeyValue(line, key, found)) {
      value.assign(found);
      return true;
    }
  }
  return false;
}

bool IsGroupLine(std::string_view line) {
  std::string_view value;
  return KeyValue(line, kGroup, value) || KeyValue(line, kGroupFile, value);
}

// The rest of a document after its DOC_ID line, up to its DOC_SUMMARY_END
// line; the next document or group ends it early.
void ReadDocumentBody(LineReader& reader, CCorpDocument& document) {
  std::string_view line, value;
  bool haveSubject = false;
  for (;;) {
    const std::size_t start = reader.Position();
    if (!reader.Next(line)) return;
    if (reader.Continued()) continue;
    if (IsGroupLine(line) || KeyValue(line, kDocId, value)) {
      reader.Rewind(start);
      return;
    }
    if (!haveSubject && KeyValue(line, kDocSubject, value)) {
      document.subject.assign(value);
      haveSubject = true;
      continue;
    }
    // The summary is kept with its own line breaks, so that it is written
    // back byte for byte; its first line counts even when empty.
    if (StartsWithKey(line, kDocSummary)) {
      document.summary.assign(line.substr(kDocSummary.size()));
      while (reader.Next(line) && (reader.Continued() || !StartsWithKey(line, kDocSummaryEnd))) {
        document.summary.append(line);
      }
      return;
    }
  }
}

// The documents of one group, up to the next group line or the end.
bool ReadDocuments(LineReader& reader, CCorpGroup& group, std::string& reason) {
  std::string_view line, value;
  for (;;) {
    const std::size_t start = reader.Position();
    if (!reader.Next(line)) return true;
    if (reader.Continued()) continue;
    if (IsGroupLine(line)) {
      reader.Rewind(start);
      return true;
    }
    if (!KeyValue(line, kDocId, value)) continue;
    if (group.documents.size() >= corp_limits::kDocumentsPerGroup) {
      reason = "more than " + std::to_string(corp_limits::kDocumentsPerGroup) + " documents in group \"" +
               group.name + "\"";
      return false;
    }
    CCorpDocument& document = group.documents.emplace_back();
    document.id.assign(value);
    ReadDocumentBody(reader, document);
  }
}

// A GROUP_FILE reference: remote as it stands, or a file name with the two
// further values after commas.
void SetReference(std::string_view reference, CCorpGroup& group) {
  if (IsRemoteReference(reference)) {
    group.remote = true;
    group.reference.assign(reference);
    return;
  }
  const std::size_t first = reference.find(',');
  group.reference.assign(reference.substr(0, first));
  if (first == std::string_view::npos) return;
  const std::string_view values = reference.substr(first + 1);
  const std::size_t second = values.find(',');
  group.firstValue.assign(values.substr(0, second));
  if (second != std::string_view::npos) group.secondValue.assign(values.substr(second + 1));
}

void WriteDocument(const CCorpDocument& document, std::string& out) {
  if (document.id.empty()) return;
  out.append(kDocId).append(document.id).append(kLineEnd);
  out.append(kDocSubject).append(document.subject).append(kLineEnd);
  out.append(kDocSummary);
  if (document.summary.empty()) {
    out.append(kDefaultBody).append(kLineEnd);
  } else {
    out.append(document.summary);
    // The end line must start a line of its own to be found again.
    if (document.summary.back() != '\n') out.append(kLineEnd);
  }
  out.append(kDocSummaryEnd).append(kLineEnd);
}

}  // namespace

bool IsRemoteReference(std::string_view reference) {
  return StartsWithKey(reference, "http://") || StartsWithKey(reference, "www.");
}

bool IsPlainFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of(std::string_view("/\\\0", 3)) ==
                                                             std::string_view::npos;
}

bool ReadChannel(std::string_view text, CCorpChannel& channel, const GroupFileReader& readGroupFile,
                 std::string& reason) {
  channel = CCorpChannel();
  LineReader reader(text);
  if (!FindKey(reader, kName, channel.name)) {
    reason = "no NAME line";
    return false;
  }
  // Each header key is looked for after the one before it: a missing key
  // takes the rest of the text with it.
  if (!FindKey(reader, kDvLogo, channel.dvLogo) || !FindKey(reader, kAdLogo, channel.adLogo) ||
      !FindKey(reader, kDvFile, channel.dvFile) || !FindKey(reader, kFlashFile, channel.flashFile)) {
    return true;
  }
  std::string_view line, value;
  while (reader.Next(line)) {
    if (reader.Continued()) continue;
    const bool inline_group = KeyValue(line, kGroup, value);
    if (!inline_group && !KeyValue(line, kGroupFile, value)) continue;
    if (channel.groups.size() >= corp_limits::kGroups) {
      reason = "more than " + std::to_string(corp_limits::kGroups) + " groups";
      return false;
    }
    CCorpGroup group;
    if (inline_group) {
      group.name.assign(value);
      if (!ReadDocuments(reader, group, reason)) return false;
    } else {
      SetReference(value, group);
      // A line without a file name names no group.
      if (group.reference.empty()) continue;
      // A group whose file cannot be read stays, by reference.
      if (!group.remote && readGroupFile) readGroupFile(group);
    }
    channel.groups.push_back(std::move(group));
  }
  return true;
}

bool ReadGroupFile(std::string_view text, CCorpGroup& group, std::string& reason) {
  group.documents.clear();
  LineReader reader(text);
  std::string_view line, value;
  while (reader.Next(line)) {
    if (!reader.Continued() && KeyValue(line, kGroup, value)) {
      group.name.assign(value);
      return ReadDocuments(reader, group, reason);
    }
  }
  // No group line: the documents are read from the start.
  reader.Rewind(0);
  return ReadDocuments(reader, group, reason);
}

void WriteHeader(const CCorpChannel& channel, std::string& out) {
  out.append(kName).append(channel.name).append(kLineEnd);
  out.append(kDvLogo).append(channel.dvLogo).append(kLineEnd);
  out.append(kAdLogo).append(channel.adLogo).append(kLineEnd);
  out.append(kDvFile).append(channel.dvFile).append(kLineEnd);
  out.append(kFlashFile).append(channel.flashFile).append(kLineEnd);
}

void WriteGroupLine(const CCorpGroup& group, std::string& out) {
  out.append(kGroupFile).append(group.reference);
  if (!group.remote) out.append(",").append(group.firstValue).append(",").append(group.secondValue);
  out.append(kLineEnd);
}

void WriteGroupBody(const CCorpGroup& group, std::string& out) {
  out.append(kGroup).append(group.name).append(kLineEnd);
  for (const CCorpDocument& document : group.documents) WriteDocument(document, out);
}

std::string WriteCompact(const CCorpChannel& channel) {
  std::string out;
  WriteHeader(channel, out);
  for (const CCorpGroup& group : channel.groups) {
    if (group.remote || group.HasFile()) {
      WriteGroupLine(group, out);
    } else {
      WriteGroupBody(group, out);
    }
  }
  return out;
}

std::string WriteGroupLines(const CCorpChannel& channel) {
  std::string out;
  for (const CCorpGroup& group : channel.groups) {
    if (group.remote || group.HasFile()) WriteGroupLine(group, out);
  }
  return out;
}

std::optional<std::string> WriteExpanded(const CCorpChannel& channel, const GroupFileBytes& readGroupFile) {
  std::string out;
  WriteHeader(channel, out);
  for (const CCorpGroup& group : channel.groups) {
    if (group.remote) {
      WriteGroupLine(group, out);
    } else if (!group.HasFile()) {
      WriteGroupBody(group, out);
    } else if (std::optional<std::string> bytes = readGroupFile ? readGroupFile(group) : std::nullopt) {
      out.append(*bytes);
      // The next group line must start a line of its own.
      if (!bytes->empty() && bytes->back() != '\n') out.append(kLineEnd);
    }
    if (out.size() > corp_limits::kExpandedBytes) return std::nullopt;
  }
  return out;
}

}  // namespace corp_format
