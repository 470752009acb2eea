#include "regwrap/qr_registry.h"

#include <cstring>
#include <string>
#include <vector>

#include "base/trace_bits.h"
#include "platform/system.h"
#include "platform/trace.h"
#include "regwrap/value_text.h"

using namespace platform;

namespace {

constexpr DWORD kAccessOnCreate = KEY_ALL_ACCESS;

LONG ToLong(DWORD error) { return static_cast<LONG>(error); }

// Reads a whole value of any size into `data`. The first attempt uses a buffer
// on the stack that holds the usual small values, so most reads take one query.
LONG ReadWholeValue(HKEY key, const char* subKey, const char* name, std::vector<BYTE>* data,
                    DWORD* type) {
  BYTE first[256];
  DWORD size = sizeof(first);
  LONG error = RegGetValue(key, subKey, name, type, first, &size);
  if (error == 0) {
    data->assign(first, first + size);
    return 0;
  }
  // A value may grow between two attempts; a few rounds settle it.
  for (int attempt = 0; attempt < 8 && error == ToLong(kErrorMoreData); ++attempt) {
    data->resize(size);
    error = RegGetValue(key, subKey, name, type, data->data(), &size);
    if (error == 0) data->resize(size);
  }
  return error;
}

// Splits a value name the way the operations descend: at each backslash that
// does not start the rest. "A\\B\\v" is value "v" of subkey "A\\B"; "A\\\\v" is
// value "\\v" of subkey "A". Returns the value name; `keys` gets the subkeys.
const char* SplitValueName(const char* name, std::string* keys) {
  const char* rest = name;
  while (rest != nullptr) {
    const char* slash = std::strchr(rest, '\\');
    if (slash == nullptr || slash == rest) break;
    if (!keys->empty()) *keys += '\\';
    keys->append(rest, static_cast<std::size_t>(slash - rest));
    rest = slash + 1;
  }
  return rest;
}

// The text form of a stored value: what the text reads return.
bool TextForm(const std::vector<BYTE>& data, DWORD type, std::string* text) {
  switch (type) {
    case REG_SZ:
    case REG_MULTI_SZ:
      *text = regvalue::FirstString(data);
      return true;
    case REG_EXPAND_SZ:
      *text = platform::ExpandEnvironmentStrings(regvalue::FirstString(data));
      return true;
    case REG_BINARY:
    case REG_DWORD:
      *text = std::to_string(regvalue::FirstDword(data));
      return true;
    default:
      return false;
  }
}

std::string JoinPath(const std::string& parent, const std::string& child) {
  if (child.empty()) return parent;
  return parent.empty() ? child : parent + "\\" + child;
}

// Deletes the key at `path` below `key` with everything below it, leaves first.
LONG DeleteTree(HKEY key, const std::string& path) {
  std::vector<std::string> pending{path};
  while (!pending.empty()) {
    std::string current = pending.back();
    bool top = pending.size() == 1;
    HKEY opened = nullptr;
    LONG error = RegOpenKeyEx(key, current.c_str(), kAccessOnCreate, &opened);
    if (error != 0) {
      // A subkey that someone else removed meanwhile needs no more work.
      if (top || error != ToLong(kErrorFileNotFound)) return error;
      pending.pop_back();
      continue;
    }
    DWORD count = 0;
    error = RegQueryInfoKey(opened, &count, nullptr, nullptr, nullptr, nullptr);
    std::vector<std::string> children;
    for (DWORD index = count; error == 0 && index-- > 0;) {
      std::string name;
      if (RegEnumKey(opened, index, &name) == 0) children.push_back(JoinPath(current, name));
    }
    RegCloseKey(opened);
    if (error != 0) return error;
    if (!children.empty()) {
      pending.insert(pending.end(), children.begin(), children.end());
      continue;
    }
    error = RegDeleteKey(key, current.c_str());
    if (error != 0 && (top || error != ToLong(kErrorFileNotFound))) return error;
    pending.pop_back();
  }
  return 0;
}

}  // namespace

QRRegistry::QRRegistry() { Init(); }

QRRegistry::QRRegistry(HKEY root) {
  Init();
  m_hKeyRoot = root;
  m_hKey = root;
}

QRRegistry::QRRegistry(const QRRegistry& parent, const char* subKey, const char* computer) {
  Init();
  SetKey(parent, subKey, computer);
}

QRRegistry::QRRegistry(const char* subKey, const QRRegistry& parent, const char* computer) {
  Init();
  SetKey(parent, subKey, computer);
}

QRRegistry::QRRegistry(const QRRegistry& other) {
  Init();
  m_bCreateOnOpen = other.m_bCreateOnOpen;
  AssignKey(other, nullptr, nullptr, 0);
}

QRRegistry& QRRegistry::operator=(const QRRegistry& other) {
  if (this != &other) {
    m_bCreateOnOpen = other.m_bCreateOnOpen;
    AssignKey(other, nullptr, nullptr, 0);
  }
  return *this;
}

QRRegistry::~QRRegistry() { Close(1); }

void QRRegistry::Init() {
  platform::Locked hold(m_Lock);
  m_hKey = nullptr;
  m_nOpenCount = 0;
  m_strKeyPath.clear();
  m_strComputerName.clear();
  m_hKeyRoot = nullptr;
  m_bCreateOnOpen = 0;
  m_bKeyInfoRead = 0;
  m_dwAccess = 0x2001F;
  m_dwLastError = 0;
  m_dwSubKeys = m_dwMaxSubKeyLen = m_dwValues = m_dwMaxValueNameLen = m_dwMaxValueLen = 0;
}

void QRRegistry::SetKey(const QRRegistry& parent, const char* subKey, const char* computer) {
  AssignKey(parent, subKey, computer, 1);
}

void QRRegistry::AssignKey(const QRRegistry& parent, const char* subKey, const char* computer,
                           int createAtOnce) {
  HKEY parentRoot, parentKey;
  std::string parentPath, parentComputer;
  {
    platform::Locked hold(parent.m_Lock);
    parentRoot = parent.m_hKeyRoot;
    parentKey = parent.m_hKey;
    parentPath = parent.m_strKeyPath;
    parentComputer = parent.m_strComputerName;
  }
  Close(1);
  platform::Locked hold(m_Lock);
  m_hKeyRoot = parentRoot;
  m_strComputerName = parentComputer;
  if (subKey != nullptr && subKey[0] == '\\') ++subKey;
  // An empty subkey names the parent itself, as a null one does.
  if (subKey == nullptr || subKey[0] == '\0') {
    m_strKeyPath = parentPath;
  } else {
    m_strKeyPath = JoinPath(parentPath, subKey);
  }
  if (computer != nullptr) {
    m_strComputerName = computer;
  } else if (!m_strComputerName.empty() && m_hKeyRoot != HKEY_LOCAL_MACHINE &&
             m_hKeyRoot != HKEY_USERS) {
    // Only those two roots can be reached on another computer: continue from
    // the parent's open key instead.
    m_strComputerName.clear();
    m_hKeyRoot = parentKey;
  }
  // A root that is an open key may be closed by its owner later: take a
  // handle of our own now.
  if (m_hKeyRoot != nullptr && !IsPredefinedKey(m_hKeyRoot)) Open(createAtOnce);
}

HKEY QRRegistry::GetKey() {
  platform::Locked hold(m_Lock);
  return m_hKey;
}

HKEY QRRegistry::GetKeyRoot() {
  platform::Locked hold(m_Lock);
  return m_hKeyRoot;
}

std::string QRRegistry::GetKeyPath() {
  platform::Locked hold(m_Lock);
  return m_strKeyPath;
}

std::string QRRegistry::GetKeyComputerName() {
  platform::Locked hold(m_Lock);
  return m_strComputerName;
}

int QRRegistry::Open(int create) {
  platform::Locked hold(m_Lock);
  if (m_nOpenCount++ > 0) return 1;
  if (m_strKeyPath.empty() && m_strComputerName.empty()) {
    if (m_hKeyRoot == nullptr) return OpenFailed(ToLong(kErrorInvalidHandle));
    m_hKey = m_hKeyRoot;
    m_dwLastError = 0;
    return 1;
  }
  HKEY base = m_hKeyRoot;
  HKEY remote = nullptr;
  if (!m_strComputerName.empty()) {
    LONG error = RegConnectRegistry(m_strComputerName.c_str(), m_hKeyRoot, &remote);
    if (error != 0) return OpenFailed(error);
    base = remote;
  }
  HKEY opened = nullptr;
  LONG error = RegOpenKeyEx(base, m_strKeyPath.c_str(), m_dwAccess, &opened);
  if (error != 0 && create) {
    DWORD disposition = 0;
    error = RegCreateKeyEx(base, m_strKeyPath.c_str(), kAccessOnCreate, &opened, &disposition);
    if (error == 0 && disposition == REG_CREATED_NEW_KEY) {
      trace(trace_bits::kConfig, "Sub key created: %s\n", m_strKeyPath.c_str());
    }
  }
  if (remote != nullptr) RegCloseKey(remote);
  if (error != 0) return OpenFailed(error);
  m_hKey = opened;
  m_dwLastError = 0;
  return 1;
}

int QRRegistry::OpenFailed(LONG error) {
  m_hKey = nullptr;
  --m_nOpenCount;
  m_dwLastError = static_cast<DWORD>(error);
  return 0;
}

int QRRegistry::Open() { return Open(m_bCreateOnOpen); }

int QRRegistry::Close(int force) {
  platform::Locked hold(m_Lock);
  if (m_nOpenCount > 0) --m_nOpenCount;
  if (m_nOpenCount > 0 && !force) return 1;
  m_nOpenCount = 0;
  m_bKeyInfoRead = 0;
  int closed = 1;
  // The root (predefined or lent by the creator) is never ours to close.
  if (m_hKey != nullptr && m_hKey != m_hKeyRoot) {
    LONG error = RegCloseKey(m_hKey);
    m_dwLastError = static_cast<DWORD>(error);
    closed = error == 0;
  }
  m_hKey = nullptr;
  return closed;
}

DWORD QRRegistry::GetLastError() { return m_dwLastError; }

template <typename Operation>
int QRRegistry::WithValueKey(const char* name, KeyUse use, Operation operation) {
  // A wrapper that is not held open reaches the value from its root in one
  // call; the steps below (open, descend, close) give the same result and are
  // needed only to create keys or to use a held handle.
  if (use != KeyUse::kDeleteFrom) {
    HKEY root = nullptr;
    std::string path;
    {
      platform::Locked hold(m_Lock);
      if (m_nOpenCount == 0 && m_strComputerName.empty()) {
        root = m_hKeyRoot;
        path = m_strKeyPath;
      }
    }
    if (root != nullptr) {
      std::string keys;
      const char* leaf = SplitValueName(name, &keys);
      LONG error = operation(root, JoinPath(path, keys).c_str(), leaf);
      bool mayCreate = use == KeyUse::kCreate || (m_bCreateOnOpen && keys.empty());
      if (error != ToLong(kErrorFileNotFound) || !mayCreate) {
        m_dwLastError = static_cast<DWORD>(error);
        return error == 0;
      }
      if (use == KeyUse::kRead) {
        // The value is missing either way; opening only creates the key
        // where it was missing too, and the new key holds no value.
        if (!Open()) return 0;  // the open error stays readable
        Close(0);
        m_dwLastError = static_cast<DWORD>(error);
        return 0;
      }
    }
  }
  const char* slash = name != nullptr ? std::strchr(name, '\\') : nullptr;
  if (slash != nullptr && slash != name) {
    std::string head(name, static_cast<std::size_t>(slash - name));
    QRRegistry sub;
    sub.AssignKey(*this, head.c_str(), nullptr, use == KeyUse::kCreate);
    int result;
    if (use == KeyUse::kCreate) {
      result = sub.Open(1) ? sub.WithValueKey(slash + 1, use, operation) : 0;
      sub.Close(0);
    } else {
      result = sub.WithValueKey(slash + 1, use, operation);
    }
    m_dwLastError = sub.m_dwLastError.load();
    return result;
  }
  if (!Open()) {
    // Nothing to delete where there is no key; the open error stays readable.
    return use == KeyUse::kDeleteFrom ? 1 : 0;
  }
  LONG error = operation(GetKey(), nullptr, name);
  Close(0);
  m_dwLastError = static_cast<DWORD>(error);
  return error == 0;
}

int QRRegistry::ReadValue(const char* name, std::vector<BYTE>* data, DWORD* type) {
  return WithValueKey(name, KeyUse::kRead, [&](HKEY key, const char* subKey, const char* leaf) {
    return ReadWholeValue(key, subKey, leaf, data, type);
  });
}

int QRRegistry::QueryValue(const char* name, BYTE* buffer, DWORD* size, DWORD* type,
                           BYTE** allocated) {
  if (allocated != nullptr) *allocated = nullptr;
  auto query = [&](HKEY key, const char* subKey, const char* leaf) -> LONG {
    if (buffer != nullptr || allocated == nullptr) {
      return RegGetValue(key, subKey, leaf, type, buffer, size);
    }
    std::vector<BYTE> data;
    DWORD stored = REG_NONE;
    LONG error = ReadWholeValue(key, subKey, leaf, &data, &stored);
    if (error != 0) return error;
    // Two spare NULs end any text, multi-strings included; an empty value
    // still gets a block.
    *allocated = new BYTE[data.size() + 2]();
    if (!data.empty()) std::memcpy(*allocated, data.data(), data.size());
    if (size != nullptr) *size = static_cast<DWORD>(data.size());
    if (type != nullptr) *type = stored;
    return 0;
  };
  return WithValueKey(name, KeyUse::kRead, query);
}

int QRRegistry::SetValue(const char* name, const BYTE* data, DWORD size, DWORD type) {
  return WithValueKey(name, KeyUse::kCreate, [&](HKEY key, const char* subKey, const char* leaf) {
    return RegSetKeyValue(key, subKey, leaf, type, data, size);
  });
}

int QRRegistry::SetValue(const char* name, const char* text, DWORD type) {
  if (text == nullptr) text = "";
  std::size_t length = std::strlen(text);
  if (length > kMaxValueDataSize) {
    m_dwLastError = kErrorInvalidParameter;
    return 0;
  }
  const auto* bytes = reinterpret_cast<const BYTE*>(text);
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return SetValue(name, bytes, static_cast<DWORD>(length + 1), type);
    case REG_BINARY:
    case REG_DWORD: {
      DWORD number = regvalue::ParseNumber(text);
      return SetValue(name, reinterpret_cast<const BYTE*>(&number), sizeof(number), type);
    }
    case REG_MULTI_SZ: {
      std::vector<BYTE> data(bytes, bytes + length);
      data.push_back(0);
      data.push_back(0);
      return SetValue(name, data.data(), static_cast<DWORD>(data.size()), type);
    }
    default:
      m_dwLastError = kErrorInvalidParameter;
      return 0;
  }
}

int QRRegistry::SetValue(const char* name, DWORD value, DWORD type) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ:
      return SetValue(name, std::to_string(value).c_str(), type);
    case REG_BINARY:
    case REG_DWORD:
      return SetValue(name, reinterpret_cast<const BYTE*>(&value), sizeof(value), type);
    default:
      m_dwLastError = kErrorInvalidParameter;
      return 0;
  }
}

int QRRegistry::SetValue(const char* name, int boolValue) {
  // Keep a numeric value numeric; anything else becomes "On"/"Off" text.
  DWORD stored = REG_SZ;
  if (!QueryValue(name, nullptr, nullptr, &stored, nullptr)) stored = REG_SZ;
  if (stored == REG_BINARY || stored == REG_DWORD) {
    return SetValue(name, static_cast<DWORD>(boolValue ? 1 : 0), stored);
  }
  return SetValue(name, boolValue ? "On" : "Off", REG_SZ);
}

int QRRegistry::SetValue(const char* name, const std::vector<std::string>& strings) {
  std::size_t total = 1;
  for (const std::string& text : strings) total += text.size() + 1;
  if (total > kMaxValueDataSize) {
    m_dwLastError = kErrorInvalidParameter;
    return 0;
  }
  std::vector<BYTE> data = regvalue::JoinMultiString(strings);
  return SetValue(name, data.data(), static_cast<DWORD>(data.size()), REG_MULTI_SZ);
}

int QRRegistry::SetValue(const char* name, const std::vector<DWORD>& numbers) {
  std::vector<std::string> strings;
  strings.reserve(numbers.size());
  for (DWORD number : numbers) strings.push_back(std::to_string(number));
  return SetValue(name, strings);
}

int QRRegistry::GetValue(const char* name, DWORD* value) {
  std::vector<BYTE> data;
  DWORD type = REG_NONE;
  if (!ReadValue(name, &data, &type)) return 0;
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ:
      *value = regvalue::ParseNumber(regvalue::FirstString(data));
      return 1;
    case REG_BINARY:
    case REG_DWORD:
      *value = regvalue::FirstDword(data);
      return 1;
    default:
      m_dwLastError = kErrorInvalidData;
      return 0;
  }
}

int QRRegistry::GetValue(const char* name, std::string* text) {
  std::vector<BYTE> data;
  DWORD type = REG_NONE;
  if (!ReadValue(name, &data, &type)) return 0;
  if (!TextForm(data, type, text)) {
    m_dwLastError = kErrorInvalidData;
    return 0;
  }
  return 1;
}

int QRRegistry::GetValue(const char* name, int* boolValue) {
  std::string text;
  if (!GetValue(name, &text)) return 0;
  *boolValue = regvalue::TextIsTrue(text) ? 1 : 0;
  return 1;
}

int QRRegistry::GetValue(const char* name, std::vector<std::string>& strings) {
  std::vector<BYTE> data;
  DWORD type = REG_NONE;
  if (!ReadValue(name, &data, &type)) return 0;
  if (type == REG_MULTI_SZ) {
    strings = regvalue::SplitMultiString(data);
    return 1;
  }
  std::string text;
  if (!TextForm(data, type, &text)) {
    m_dwLastError = kErrorInvalidData;
    return 0;
  }
  strings.assign(1, text);
  return 1;
}

int QRRegistry::GetValue(const char* name, std::vector<DWORD>& numbers) {
  std::vector<std::string> strings;
  if (!GetValue(name, strings)) return 0;
  numbers.clear();
  for (const std::string& text : strings) numbers.push_back(regvalue::ParseNumber(text));
  return 1;
}

DWORD QRRegistry::GetValue(const char* name, DWORD defaultValue) {
  DWORD value = 0;
  if (GetValue(name, &value)) return value;
  trace(trace_bits::kConfig, "Registry Query %s - %s = [Default] %u\n", GetKeyPath().c_str(),
        name != nullptr ? name : "", defaultValue);
  return defaultValue;
}

int QRRegistry::GetValue(const char* name, int defaultBool) {
  int value = 0;
  return GetValue(name, &value) ? value : defaultBool;
}

std::string QRRegistry::GetValue(const char* name, const char* defaultText) {
  std::string text;
  if (GetValue(name, &text)) return text;
  if (defaultText == nullptr) defaultText = "";
  trace(trace_bits::kConfig, "Registry Query %s - %s = [Default]'%s'\n", GetKeyPath().c_str(),
        name != nullptr ? name : "", defaultText);
  return defaultText;
}

int QRRegistry::DoesValueExist(const char* name) {
  return QueryValue(name, nullptr, nullptr, nullptr, nullptr);
}

int QRRegistry::DoesKeyExist(const char* path) {
  QRRegistry sub;
  sub.AssignKey(*this, path, nullptr, 0);
  int exists = sub.Open(0);
  m_dwLastError = sub.GetLastError();
  return exists;
}

int QRRegistry::DeleteValue(const char* name) {
  return WithValueKey(name, KeyUse::kDeleteFrom, [](HKEY key, const char*, const char* leaf) {
    return RegDeleteValue(key, leaf);
  });
}

int QRRegistry::DeleteKey(const char* path) {
  if (path == nullptr) {
    m_dwLastError = kErrorInvalidParameter;
    return 0;
  }
  if (path[0] == '\\') ++path;
  if (!Open()) return 0;
  LONG error = DeleteTree(GetKey(), path);
  Close(0);
  m_dwLastError = static_cast<DWORD>(error);
  return error == 0;
}

std::string QRRegistry::EnumValue(DWORD index, DWORD* type) {
  return EnumValue(index, nullptr, nullptr, type);
}

std::string QRRegistry::EnumValue(DWORD index, BYTE* data, DWORD* size, DWORD* type) {
  if (!Open()) throw 0;
  std::string name;
  LONG error = RegEnumValue(GetKey(), index, &name, type, data, size);
  Close(0);
  m_dwLastError = static_cast<DWORD>(error);
  if (error != 0) throw 0;
  return name;
}

std::string QRRegistry::EnumKey(DWORD index) {
  if (!Open()) throw 0;
  std::string name;
  LONG error = RegEnumKey(GetKey(), index, &name);
  Close(0);
  m_dwLastError = static_cast<DWORD>(error);
  if (error != 0) throw 0;
  return name;
}

QRRegistry QRRegistry::EnumRegistryKey(DWORD index) {
  std::string name = EnumKey(index);
  return QRRegistry(*this, name.c_str(), nullptr);
}

DWORD QRRegistry::GetNumberOfSubKeys() { return KeyInfoCount(&QRRegistry::m_dwSubKeys); }

DWORD QRRegistry::GetNumberOfValues() { return KeyInfoCount(&QRRegistry::m_dwValues); }

DWORD QRRegistry::KeyInfoCount(DWORD QRRegistry::*count) {
  // The counts are asked for in loops; a key that cannot be read has none.
  try {
    QueryKeyInfo();
  } catch (int) {
    return 0;
  }
  platform::Locked hold(m_Lock);
  return this->*count;
}

int QRRegistry::IsKeyRootSystemKey() { return IsPredefinedKey(GetKeyRoot()) ? 1 : 0; }

void QRRegistry::QueryKeyInfo() {
  platform::Locked hold(m_Lock);
  if (m_bKeyInfoRead) return;
  if (!Open()) throw 0;
  LONG error = RegQueryInfoKey(m_hKey, &m_dwSubKeys, &m_dwMaxSubKeyLen, &m_dwValues,
                               &m_dwMaxValueNameLen, &m_dwMaxValueLen);
  if (error == 0) m_bKeyInfoRead = 1;
  Close(0);
  m_dwLastError = static_cast<DWORD>(error);
  if (error != 0) throw 0;
}
