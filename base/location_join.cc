#include "base/location_join.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

std::string JoinLocation(std::string_view base, std::string_view part) {
  if (base.empty()) return std::string(part);
  if (part.empty() || part.front() == '.' || base.find('?') != std::string_view::npos) {
    return std::string(base) + std::string(part);
  }
  const bool backslashes = base.find('\\') != std::string_view::npos && base.find('/') == std::string_view::npos;
  const char separator = backslashes ? '\\' : '/';
  while (!base.empty() && IsSeparator(base.back()) && base.size() > 1) base.remove_suffix(1);
  while (!part.empty() && IsSeparator(part.front())) part.remove_prefix(1);
  std::string joined(base);
  if (!IsSeparator(joined.back())) joined += separator;
  joined += part;
  return joined;
}
