#include "config/listen_address.h"

#include <cctype>

namespace {

std::string Trimmed(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
  while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
  return text.substr(first, last - first);
}

}  // namespace

bool ParseListenAddress(const std::string& text, ListenAddress& parsed) {
  const std::size_t comma = text.find(',');
  const std::string port = Trimmed(comma == std::string::npos ? text : text.substr(comma + 1));
  if (port.empty() || port.size() > 5) return false;
  unsigned long value = 0;
  for (char c : port) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  parsed.address = comma == std::string::npos ? std::string() : Trimmed(text.substr(0, comma));
  parsed.port = static_cast<unsigned short>(value);
  return true;
}
