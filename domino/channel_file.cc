#include "domino/channel_file.h"

#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/file.h"

namespace domino {

namespace {

constexpr std::size_t kBlock = 1000;
constexpr std::size_t kStepBack = 100;
constexpr std::string_view kHeadKey = "DV_File = ";
constexpr std::string_view kClosingTag = "</NotesChannelContent";

// Reads `length` bytes at `offset` of an open file, fewer only at its end.
long long ReadAt(platform::File& file, long long offset, char* buffer, std::size_t length) {
  if (file.Seek(offset) < 0) return -1;
  std::size_t total = 0;
  while (total < length) {
    const long long got = file.Read(buffer + total, length - total);
    if (got < 0) return -1;
    if (got == 0) break;
    total += static_cast<std::size_t>(got);
  }
  return static_cast<long long>(total);
}

}  // namespace

std::string ChannelHead(const ChannelSettings& settings) {
  return "<NotesChannelContent\r\nChannelName = \"" + EscapeValue(settings.name) + "\"\r\nDV_Logo = \"" +
         EscapeValue(settings.dv_logo) + "\"\r\nAD_Logo = \"" + EscapeValue(settings.ad_logo) +
         "\"\r\nDV_File = \"" + EscapeValue(settings.dv_file) + "\"\r\n>";
}

ChannelSettings ReadChannelSettings(const std::string& path) {
  std::unique_ptr<platform::File> file = platform::File::Open(path, platform::File::Mode::kRead);
  if (file == nullptr) return ChannelSettings();
  std::string head(kHeadBytes, '\0');
  const long long got = ReadAt(*file, 0, head.data(), head.size());
  if (got < 0) return ChannelSettings();
  head.resize(static_cast<std::size_t>(got));
  return SettingsFromHead(head);
}

BodyCopy CopyChannelBody(const BlockReader& read, const BodyWriter& write) {
  enum class Phase { kKey, kHeadEnd, kBody };
  Phase phase = Phase::kKey;
  bool whole_file = false;
  long long offset = 0;  // where the block starts in the file
  long long scan = 0;    // where the search goes on
  long long copied = 0;  // the body is written up to here
  char buffer[kBlock];
  for (;;) {
    const long long got = read(offset, buffer, kBlock);
    if (got < 0) return BodyCopy::kReadFailed;
    const auto size = static_cast<std::size_t>(got);
    const std::string_view block(buffer, size);
    const bool last = size < kBlock;
    const auto from = static_cast<std::size_t>(scan - offset);
    if (phase == Phase::kKey) {
      const std::size_t at = block.find(kHeadKey, from);
      if (at != std::string_view::npos) {
        phase = Phase::kHeadEnd;
        scan = offset + static_cast<long long>(at + kHeadKey.size());
        continue;  // the same block again, for the ">"
      }
      if (size >= kHeadKey.size()) scan = std::max(scan, offset + static_cast<long long>(size - kHeadKey.size() + 1));
    } else if (phase == Phase::kHeadEnd) {
      const std::size_t at = block.find('>', from);
      if (at != std::string_view::npos) {
        phase = Phase::kBody;
        scan = copied = offset + static_cast<long long>(at + 1);
        continue;
      }
      scan = offset + static_cast<long long>(size);
    } else {
      const std::size_t at = block.find(kClosingTag, from);
      const auto start = static_cast<std::size_t>(copied - offset);
      if (at != std::string_view::npos) {
        if (at > start && !write(block.substr(start, at - start))) return BodyCopy::kWriteFailed;
        return whole_file ? BodyCopy::kWholeFile : BodyCopy::kCopied;
      }
      // Bytes before the next block's start are written now; a closing tag
      // that starts there would lie wholly in this block.
      const std::size_t keep = last ? size : std::min(size, kBlock - kStepBack);
      if (keep > start) {
        if (!write(block.substr(start, keep - start))) return BodyCopy::kWriteFailed;
        copied = offset + static_cast<long long>(keep);
      }
      if (size >= kClosingTag.size()) scan = std::max(scan, offset + static_cast<long long>(size - kClosingTag.size() + 1));
    }
    if (last) {
      if (phase == Phase::kBody) return whole_file ? BodyCopy::kWholeFile : BodyCopy::kCopied;
      // No head: the whole file is the body.
      whole_file = true;
      phase = Phase::kBody;
      offset = scan = copied = 0;
      continue;
    }
    offset += static_cast<long long>(kBlock - kStepBack);
  }
}

bool RewriteChannelFile(const std::string& path, const ChannelSettings& settings) {
  const std::string temporary = platform::TemporaryFileFor(path);
  std::unique_ptr<platform::File> out = platform::File::Open(temporary, platform::File::Mode::kCreateNew);
  if (out == nullptr) return false;
  auto write = [&](std::string_view piece) { return out->Write(piece.data(), piece.size()) >= 0; };
  bool ok = write(ChannelHead(settings));
  std::error_code error;
  if (ok) {
    std::unique_ptr<platform::File> old = platform::File::Open(path, platform::File::Mode::kRead);
    if (old != nullptr) {
      const BodyCopy copy = CopyChannelBody(
          [&](long long offset, char* buffer, std::size_t length) { return ReadAt(*old, offset, buffer, length); },
          write);
      ok = copy == BodyCopy::kCopied || copy == BodyCopy::kWholeFile;
    } else if (!std::filesystem::exists(path, error) && !error) {
      ok = write("\r\n");
    } else {
      ok = false;  // there, but unreadable: its body must not be lost
    }
  }
  ok = ok && write(kChannelEnd) && out->Flush();
  out.reset();
  if (ok && platform::RenameOver(temporary, path)) return true;
  std::filesystem::remove(temporary, error);
  return false;
}

}  // namespace domino
