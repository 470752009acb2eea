// Builds a text in a fixed buffer without ever writing past it: appends that
// do not fit mark the text as failed instead.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <memory>
#include <string_view>

namespace net {

class BoundedText {
 public:
  BoundedText(char* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) { buffer_[0] = '\0'; }

  void Append(std::string_view text);
  // The number in decimal digits, without printf's cost.
  void AppendNumber(unsigned long number);
  __attribute__((format(printf, 2, 3))) void Format(const char* format, ...);

  bool ok() const { return ok_; }
  std::string_view text() const { return {buffer_, length_}; }
  // A newly allocated copy; null when the text failed or memory ran out.
  std::unique_ptr<char[]> Copy() const;

 private:
  char* buffer_;
  std::size_t capacity_;
  std::size_t length_ = 0;
  bool ok_ = true;
};

}  // namespace net
