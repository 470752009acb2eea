// QRRegistry: the one class through which the system reads and writes the
// registry. It names a key (root, path, optional computer), opens it for each
// operation and closes it again, and offers typed value access in which a
// value name may carry subkeys: "Comm\\NoOfListenThreads" is the value
// NoOfListenThreads in subkey Comm.
//
// Results are 1/0 (or a default); the registry's error code of the last call
// is kept for GetLastError(). Only the enumerations and QueryKeyInfo throw
// (the integer 0) when the key cannot be read or the index is past the end.
//
// Threads: one object may be used by several threads at once. Its key (root,
// path, computer), its open count and the key counts it has read are guarded
// by its own recursive lock; the value operations run outside it, on the key
// the open count keeps open until its last user closes it (a forced Close by
// another thread ends it early: their calls then fail with
// kErrorInvalidHandle). GetLastError() is the result of the latest call of
// any thread. The settings subclass sets its create flag before sharing.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/types.h"

using platform::BYTE;
using platform::DWORD;
using platform::HKEY;

class QRRegistry {
 public:
  QRRegistry();
  explicit QRRegistry(HKEY root);
  QRRegistry(const QRRegistry& parent, const char* subKey, const char* computer = nullptr);
  QRRegistry(const char* subKey, const QRRegistry& parent, const char* computer = nullptr);
  QRRegistry(const QRRegistry& other);
  QRRegistry& operator=(const QRRegistry& other);
  virtual ~QRRegistry();

  virtual void SetKey(const QRRegistry& parent, const char* subKey, const char* computer);
  virtual HKEY GetKey();
  virtual HKEY GetKeyRoot();
  virtual std::string GetKeyPath();
  virtual std::string GetKeyComputerName();
  virtual int Open(int create);
  virtual int Open();
  virtual int Close(int force);
  virtual DWORD GetLastError();

  // With `buffer`: reads into it, *size being its capacity. Without a buffer
  // and with `allocated`: allocates the value (new[]; the caller delete[]s
  // it), NUL-terminating text. Type and size are returned through the pointers.
  virtual int QueryValue(const char* name, BYTE* buffer, DWORD* size, DWORD* type,
                         BYTE** allocated);

  virtual int SetValue(const char* name, const std::vector<std::string>& strings);
  virtual int SetValue(const char* name, const std::vector<DWORD>& numbers);
  virtual int SetValue(const char* name, int boolValue);
  virtual int SetValue(const char* name, const char* text, DWORD type);
  virtual int SetValue(const char* name, DWORD value, DWORD type);
  virtual int SetValue(const char* name, const BYTE* data, DWORD size, DWORD type);

  virtual int GetValue(const char* name, std::vector<std::string>& strings);
  virtual int GetValue(const char* name, std::vector<DWORD>& numbers);
  virtual int GetValue(const char* name, int defaultBool);
  virtual int GetValue(const char* name, int* boolValue);
  virtual std::string GetValue(const char* name, const char* defaultText);
  virtual int GetValue(const char* name, std::string* text);
  virtual DWORD GetValue(const char* name, DWORD defaultValue);
  virtual int GetValue(const char* name, DWORD* value);

  virtual int DoesValueExist(const char* name);
  virtual int DoesKeyExist(const char* path);
  virtual int DeleteValue(const char* name);
  virtual int DeleteKey(const char* path);

  virtual std::string EnumValue(DWORD index, DWORD* type);
  virtual std::string EnumValue(DWORD index, BYTE* data, DWORD* size, DWORD* type);
  virtual std::string EnumKey(DWORD index);
  virtual QRRegistry EnumRegistryKey(DWORD index);

  operator HKEY() { return GetKey(); }
  operator std::string() { return GetKeyPath(); }
  DWORD GetNumberOfSubKeys();
  DWORD GetNumberOfValues();

 protected:
  virtual void Init();
  int IsKeyRootSystemKey();
  void QueryKeyInfo();

  // The settings catalogue opens its key with create.
  int m_bCreateOnOpen = 0;

 private:
  // How a value operation treats the key that holds the value.
  enum class KeyUse { kRead, kCreate, kDeleteFrom };

  // SetKey's work; `createAtOnce` is the create argument used when the root is
  // an open key (reads and copies must not create keys).
  void AssignKey(const QRRegistry& parent, const char* subKey, const char* computer,
                 int createAtOnce);
  // Runs `operation(key, subKeyPath, leafName)` for value `name`, whose
  // subkeys are named before its backslashes: either from the root with the
  // whole path, or on the opened key (path null) after descending.
  template <typename Operation>
  int WithValueKey(const char* name, KeyUse use, Operation operation);
  // One of the counts that QueryKeyInfo reads; 0 when the key cannot be read.
  DWORD KeyInfoCount(DWORD QRRegistry::*count);
  // The whole value, whatever its size.
  int ReadValue(const char* name, std::vector<BYTE>* data, DWORD* type);
  // Open's way out when the key cannot be opened: 0.
  int OpenFailed(platform::LONG error) REQUIRES(m_Lock);

  mutable platform::RecursiveLock m_Lock;
  HKEY m_hKey GUARDED_BY(m_Lock) = nullptr;  // closed by Close when it is not the root itself
  int m_nOpenCount GUARDED_BY(m_Lock) = 0;
  std::string m_strKeyPath GUARDED_BY(m_Lock);
  std::string m_strComputerName GUARDED_BY(m_Lock);
  HKEY m_hKeyRoot GUARDED_BY(m_Lock) = nullptr;
  int m_bKeyInfoRead GUARDED_BY(m_Lock) = 0;
  DWORD m_dwAccess GUARDED_BY(m_Lock) = 0x2001F;
  std::atomic<DWORD> m_dwLastError{0};
  DWORD m_dwSubKeys GUARDED_BY(m_Lock) = 0;
  DWORD m_dwMaxSubKeyLen GUARDED_BY(m_Lock) = 0;
  DWORD m_dwValues GUARDED_BY(m_Lock) = 0;
  DWORD m_dwMaxValueNameLen GUARDED_BY(m_Lock) = 0;
  DWORD m_dwMaxValueLen GUARDED_BY(m_Lock) = 0;
};
