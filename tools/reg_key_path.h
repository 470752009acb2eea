// Key paths as people write them: a root name (short "HKLM" or long
// "HKEY_LOCAL_MACHINE", any case) and a backslash-separated path below it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zondrelctl {

enum class RegRoot { kClassesRoot, kCurrentUser, kLocalMachine, kUsers };

struct RegKeyPath {
  RegRoot root = RegRoot::kLocalMachine;
  std::string subKey;  // "" for the root itself; no leading or trailing backslash

  // "HKEY_LOCAL_MACHINE\SOFTWARE\X": always the long root name.
  std::string Format() const;

  bool operator==(const RegKeyPath&) const = default;
};

// The long name of a root ("HKEY_LOCAL_MACHINE").
std::string_view RootName(RegRoot root);

// Parses "HKLM\SOFTWARE\X". One trailing backslash is tolerated. Refuses
// unknown roots, empty components and components over 255 characters; the
// reason goes to *error.
std::optional<RegKeyPath> ParseRegKeyPath(std::string_view text, std::string* error);

}  // namespace zondrelctl
