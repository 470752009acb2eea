#include "regwrap/value_text.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace regvalue {

std::string FirstString(const std::vector<BYTE>& data) {
  auto end = std::find(data.begin(), data.end(), BYTE{0});
  return std::string(data.begin(), end);
}

std::vector<std::string> SplitMultiString(const std::vector<BYTE>& data) {
  std::vector<std::string> strings;
  auto start = data.begin();
  while (start != data.end()) {
    auto end = std::find(start, data.end(), BYTE{0});
    if (end == start) break;
    strings.emplace_back(start, end);
    if (end == data.end()) break;
    start = end + 1;
  }
  return strings;
}

std::vector<BYTE> JoinMultiString(const std::vector<std::string>& strings) {
  std::vector<BYTE> data;
  for (const std::string& text : strings) {
    std::size_t length = std::strlen(text.c_str());
    data.insert(data.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
    data.push_back(0);
  }
  data.push_back(0);
  return data;
}

DWORD ParseNumber(const std::string& text) {
  // strtoll saturates instead of overflowing; the cast keeps the low bits.
  return static_cast<DWORD>(std::strtoll(text.c_str(), nullptr, 10));
}

DWORD FirstDword(const std::vector<BYTE>& data) {
  DWORD value = 0;
  if (!data.empty()) std::memcpy(&value, data.data(), std::min<std::size_t>(data.size(), sizeof(value)));
  return value;
}

bool TextIsTrue(const std::string& text) {
  auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  auto first = std::find_if_not(text.begin(), text.end(), blank);
  auto last = std::find_if_not(text.rbegin(), text.rend(), blank).base();
  std::string word = first < last ? std::string(first, last) : std::string();
  for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const char* const kFalse[] = {"", "FALSE", "F", "0", "NO", "OFF"};
  for (const char* no : kFalse) {
    if (word == no) return false;
  }
  return true;
}

}  // namespace regvalue
