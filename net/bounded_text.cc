#include "net/bounded_text.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>

namespace net {

void BoundedText::Append(std::string_view text) {
  if (!ok_) return;
  if (text.size() >= capacity_ - length_) {
    ok_ = false;
    return;
  }
  std::memcpy(buffer_ + length_, text.data(), text.size());
  length_ += text.size();
  buffer_[length_] = '\0';
}

void BoundedText::AppendNumber(unsigned long number) {
  char digits[24];
  const std::to_chars_result end = std::to_chars(digits, digits + sizeof(digits), number);
  Append(std::string_view(digits, static_cast<std::size_t>(end.ptr - digits)));
}

void BoundedText::Format(const char* format, ...) {
  if (!ok_) return;
  va_list args;
  va_start(args, format);
  const int written = std::vsnprintf(buffer_ + length_, capacity_ - length_, format, args);
  va_end(args);
  if (written < 0 || static_cast<std::size_t>(written) >= capacity_ - length_) {
    buffer_[length_] = '\0';
    ok_ = false;
    return;
  }
  length_ += static_cast<std::size_t>(written);
}

std::unique_ptr<char[]> BoundedText::Copy() const {
  if (!ok_) return nullptr;
  std::unique_ptr<char[]> copy(new (std::nothrow) char[length_ + 1]);
  if (copy != nullptr) std::memcpy(copy.get(), buffer_, length_ + 1);
  return copy;
}

}  // namespace net
