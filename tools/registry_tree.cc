#include "tools/registry_tree.h"

namespace zondrelctl {

using platform::HKEY;
using platform::LONG;

OpenedKey& OpenedKey::operator=(OpenedKey&& other) noexcept {
  if (this != &other) {
    if (key_ != nullptr) platform::RegCloseKey(key_);
    key_ = other.key_;
    other.key_ = nullptr;
  }
  return *this;
}

OpenedKey::~OpenedKey() {
  if (key_ != nullptr) platform::RegCloseKey(key_);
}

HKEY RootKey(RegRoot root) {
  switch (root) {
    case RegRoot::kClassesRoot: return platform::HKEY_CLASSES_ROOT;
    case RegRoot::kCurrentUser: return platform::HKEY_CURRENT_USER;
    case RegRoot::kUsers: return platform::HKEY_USERS;
    case RegRoot::kLocalMachine: break;
  }
  return platform::HKEY_LOCAL_MACHINE;
}

LONG OpenKey(const RegKeyPath& path, OpenedKey* key) {
  HKEY opened = nullptr;
  LONG result = platform::RegOpenKeyEx(RootKey(path.root), path.subKey.c_str(),
                                       platform::KEY_ALL_ACCESS, &opened);
  if (result == 0) *key = OpenedKey(opened);
  return result;
}

LONG CreateKey(const RegKeyPath& path, OpenedKey* key) {
  HKEY opened = nullptr;
  platform::DWORD disposition = 0;
  LONG result = platform::RegCreateKeyEx(RootKey(path.root), path.subKey.c_str(),
                                         platform::KEY_ALL_ACCESS, &opened, &disposition);
  if (result == 0) *key = OpenedKey(opened);
  return result;
}

LONG ReadValues(HKEY key, std::vector<RegValue>* values) {
  // Every value fits: the registry refuses larger ones.
  std::vector<BYTE> buffer(platform::kMaxValueDataSize);
  for (DWORD index = 0;; ++index) {
    RegValue value;
    DWORD size = static_cast<DWORD>(buffer.size());
    LONG result = platform::RegEnumValue(key, index, &value.name, &value.type, buffer.data(), &size);
    if (result == static_cast<LONG>(platform::kErrorNoMoreItems)) return 0;
    if (result != 0) return result;
    value.data.assign(buffer.begin(), buffer.begin() + size);
    values->push_back(std::move(value));
  }
}

LONG ReadSubkeyNames(HKEY key, std::vector<std::string>* names) {
  for (DWORD index = 0;; ++index) {
    std::string name;
    LONG result = platform::RegEnumKey(key, index, &name);
    if (result == static_cast<LONG>(platform::kErrorNoMoreItems)) return 0;
    if (result != 0) return result;
    names->push_back(std::move(name));
  }
}

LONG ReadValue(HKEY key, const std::string& name, RegValue* value) {
  DWORD size = 0;
  LONG result = platform::RegQueryValueEx(key, name.c_str(), &value->type, nullptr, &size);
  if (result != 0) return result;
  // The value may grow between the two calls; the registry caps it anyway.
  value->data.resize(platform::kMaxValueDataSize);
  size = static_cast<DWORD>(value->data.size());
  result = platform::RegQueryValueEx(key, name.c_str(), &value->type, value->data.data(), &size);
  if (result != 0) return result;
  value->data.resize(size);
  value->name = name;
  return 0;
}

namespace {

LONG DeleteBelow(HKEY parent, const std::string& subKey) {
  HKEY opened = nullptr;
  LONG result = platform::RegOpenKeyEx(parent, subKey.c_str(), platform::KEY_ALL_ACCESS, &opened);
  if (result != 0) return result;
  OpenedKey key(opened);
  std::vector<std::string> names;
  result = ReadSubkeyNames(key.get(), &names);
  if (result != 0) return result;
  for (const auto& name : names) {
    result = DeleteBelow(key.get(), name);
    if (result != 0 && result != static_cast<LONG>(platform::kErrorFileNotFound)) return result;
  }
  key = OpenedKey();
  return platform::RegDeleteKey(parent, subKey.c_str());
}

LONG WalkFrom(const RegKeyPath& path,
              const std::function<LONG(const RegKeyPath&, HKEY)>& visit) {
  OpenedKey key;
  LONG result = OpenKey(path, &key);
  if (result != 0) return result;
  result = visit(path, key.get());
  if (result != 0) return result;
  std::vector<std::string> names;
  result = ReadSubkeyNames(key.get(), &names);
  if (result != 0) return result;
  key = OpenedKey();  // keeps one handle per level at most while descending
  for (const auto& name : names) {
    RegKeyPath child{path.root, path.subKey.empty() ? name : path.subKey + "\\" + name};
    result = WalkFrom(child, visit);
    // A subkey deleted meanwhile is no failure of the walk.
    if (result != 0 && result != static_cast<LONG>(platform::kErrorFileNotFound)) return result;
  }
  return 0;
}

}  // namespace

LONG DeleteKeyTree(const RegKeyPath& path) {
  return DeleteBelow(RootKey(path.root), path.subKey);
}

LONG WalkKeyTree(const RegKeyPath& path, const std::function<LONG(const RegKeyPath&, HKEY)>& visit) {
  return WalkFrom(path, visit);
}

LONG ApplyRegFile(const std::vector<RegFileEntry>& entries, std::size_t* failedLine) {
  // Consecutive values of one section share the handle.
  OpenedKey key;
  const RegKeyPath* keyPath = nullptr;
  auto sameKey = [&](const RegKeyPath& path) {
    return keyPath != nullptr && *keyPath == path;
  };
  for (const auto& entry : entries) {
    LONG result = 0;
    switch (entry.kind) {
      case RegFileEntry::Kind::kKey:
      case RegFileEntry::Kind::kValue:
        if (!sameKey(entry.key)) {
          keyPath = nullptr;
          result = CreateKey(entry.key, &key);
          if (result == 0) keyPath = &entry.key;
        }
        if (result == 0 && entry.kind == RegFileEntry::Kind::kValue) {
          result = platform::RegSetValueEx(key.get(), entry.value.name.c_str(), entry.value.type,
                                           entry.value.data.data(),
                                           static_cast<DWORD>(entry.value.data.size()));
        }
        break;
      case RegFileEntry::Kind::kDeleteKey:
        key = OpenedKey();
        keyPath = nullptr;
        result = DeleteKeyTree(entry.key);
        if (result == static_cast<LONG>(platform::kErrorFileNotFound)) result = 0;
        break;
      case RegFileEntry::Kind::kDeleteValue:
        if (!sameKey(entry.key)) {
          keyPath = nullptr;
          result = CreateKey(entry.key, &key);
          if (result == 0) keyPath = &entry.key;
        }
        if (result == 0) result = platform::RegDeleteValue(key.get(), entry.value.name.c_str());
        if (result == static_cast<LONG>(platform::kErrorFileNotFound)) result = 0;
        break;
    }
    if (result != 0) {
      *failedLine = entry.line;
      return result;
    }
  }
  return 0;
}

std::string RegistryErrorText(LONG code) {
  switch (static_cast<DWORD>(code)) {
    case platform::kErrorFileNotFound:
      return "The system was unable to find the specified registry key or value.";
    case platform::kErrorAccessDenied:
      return "Access is denied.";
    case platform::kErrorInvalidParameter:
      return "The parameter is incorrect.";
    case platform::kErrorFilenameExcedRange:
      return "The name is too long.";
    case platform::kErrorKeyDeleted:
      return "The key has been marked for deletion.";
    case platform::kErrorInvalidHandle:
      return "The key handle is invalid.";
    default:
      return "The registry reported error " + std::to_string(code) + ".";
  }
}

}  // namespace zondrelctl
