#include "tools/reg_key_path.h"

#include <array>
#include <strings.h>

#include "platform/registry.h"

namespace zondrelctl {

namespace {

struct RootNames {
  RegRoot root;
  std::string_view shortName;
  std::string_view longName;
};

constexpr std::array<RootNames, 4> kRoots{{
    {RegRoot::kClassesRoot, "HKCR", "HKEY_CLASSES_ROOT"},
    {RegRoot::kCurrentUser, "HKCU", "HKEY_CURRENT_USER"},
    {RegRoot::kLocalMachine, "HKLM", "HKEY_LOCAL_MACHINE"},
    {RegRoot::kUsers, "HKU", "HKEY_USERS"},
}};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

std::string_view RootName(RegRoot root) {
  for (const auto& names : kRoots) {
    if (names.root == root) return names.longName;
  }
  return {};
}

std::string RegKeyPath::Format() const {
  std::string text(RootName(root));
  if (!subKey.empty()) text += "\\" + subKey;
  return text;
}

std::optional<RegKeyPath> ParseRegKeyPath(std::string_view text, std::string* error) {
  if (!text.empty() && text.back() == '\\') text.remove_suffix(1);
  std::size_t slash = text.find('\\');
  std::string_view rootText = text.substr(0, slash);
  RegKeyPath path;
  bool known = false;
  for (const auto& names : kRoots) {
    if (EqualsIgnoringCase(rootText, names.shortName) || EqualsIgnoringCase(rootText, names.longName)) {
      path.root = names.root;
      known = true;
    }
  }
  if (!known) {
    *error = "Invalid key name: \"" + std::string(text) +
             "\" does not start with HKLM, HKCU, HKU, HKCR or their long forms.";
    return std::nullopt;
  }
  if (slash == std::string_view::npos) return path;
  std::string_view rest = text.substr(slash + 1);
  if (rest.size() > platform::kMaxKeyPathLength) {
    *error = "Invalid key name: the path is longer than " +
             std::to_string(platform::kMaxKeyPathLength) + " characters.";
    return std::nullopt;
  }
  // Each component is checked on its own: the registry limits them one by one.
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t end = rest.find('\\', start);
    if (end == std::string_view::npos) end = rest.size();
    std::size_t length = end - start;
    if (length == 0) {
      *error = "Invalid key name: \"" + std::string(text) + "\" has an empty component.";
      return std::nullopt;
    }
    if (length > platform::kMaxKeyNameLength) {
      *error = "Invalid key name: a component is longer than " +
               std::to_string(platform::kMaxKeyNameLength) + " characters.";
      return std::nullopt;
    }
    if (rest.substr(start, length).find('\0') != std::string_view::npos) {
      *error = "Invalid key name: it contains a NUL character.";
      return std::nullopt;
    }
    start = end + 1;
  }
  path.subKey = std::string(rest);
  return path;
}

}  // namespace zondrelctl
