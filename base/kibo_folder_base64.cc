// The base64 codec of CKiboFolder.
#include <array>
#include <cstring>

#include "base/kibo_folder.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr unsigned char kSkip = 0xFF;

// 6-bit value of each alphabet character; every other byte is skipped.
constexpr std::array<unsigned char, 256> MakeDecodeTable() {
  std::array<unsigned char, 256> table {};
  for (auto& value : table) value = kSkip;
  for (unsigned char i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
  return table;
}
constexpr std::array<unsigned char, 256> kDecodeTable = MakeDecodeTable();

std::size_t AlphabetCharacters(std::string_view text) {
  std::size_t count = 0;
  for (char c : text) count += kDecodeTable[static_cast<unsigned char>(c)] != kSkip;
  return count;
}

// Packs the 6-bit values into bytes, most significant bits first; bits left
// over at the end are dropped. `out` must hold Base64DecodedLength bytes.
std::size_t DecodeInto(std::string_view text, unsigned char* out) {
  std::size_t written = 0;
  unsigned int bits = 0;
  int bitCount = 0;
  for (char c : text) {
    const unsigned char value = kDecodeTable[static_cast<unsigned char>(c)];
    if (value == kSkip) continue;
    bits = (bits << 6) | value;
    bitCount += 6;
    if (bitCount >= 8) {
      bitCount -= 8;
      out[written++] = static_cast<unsigned char>(bits >> bitCount);
      bits &= (1u << bitCount) - 1;
    }
  }
  return written;
}

}  // namespace

std::size_t CKiboFolder::Base64Encode(const void* data, std::string& output, std::size_t length) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  if (length == 0 && bytes != nullptr) length = std::strlen(static_cast<const char*>(data));
  output.clear();
  output.reserve((length + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= length; i += 3) {
    const unsigned int group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    output += kAlphabet[(group >> 18) & 63];
    output += kAlphabet[(group >> 12) & 63];
    output += kAlphabet[(group >> 6) & 63];
    output += kAlphabet[group & 63];
  }
  const std::size_t left = length - i;
  if (left > 0) {
    const unsigned int group = (bytes[i] << 16) | (left == 2 ? bytes[i + 1] << 8 : 0);
    output += kAlphabet[(group >> 18) & 63];
    output += kAlphabet[(group >> 12) & 63];
    if (left == 2) output += kAlphabet[(group >> 6) & 63];
  }
  return output.size();
}

std::size_t CKiboFolder::Base64DecodedLength(std::string_view text) {
  return AlphabetCharacters(text) * 6 / 8;
}

long CKiboFolder::Base64Decode(std::string_view text, unsigned char* buffer,
                               std::size_t capacity) {
  if (text.empty() || buffer == nullptr) return -1;
  if (Base64DecodedLength(text) > capacity) return -1;
  return static_cast<long>(DecodeInto(text, buffer));
}

std::string CKiboFolder::Base64Encode(std::string_view text) {
  std::string output;
  // An empty text is encoded as empty, not read as a zero-terminated one.
  if (!text.empty()) Base64Encode(text.data(), output, text.size());
  return output;
}

std::string CKiboFolder::Base64Decode(std::string_view text) {
  std::string output(Base64DecodedLength(text), '\0');
  output.resize(DecodeInto(text, reinterpret_cast<unsigned char*>(output.data())));
  return output;
}
