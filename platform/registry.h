// The machine's registry: a tree of keys holding typed values, kept in a
// database under the machine root and shared by every process of the machine.
//
// The calls keep the classic registry semantics the callers rely on: names are
// compared without regard to case, values keep their type and bytes exactly,
// results are error codes (0 = success), a data query with a too small buffer
// gives kErrorMoreData and the size needed, enumeration past the end gives
// kErrorNoMoreItems. Every write is atomic and durable against the writing
// process being killed.
//
// Threads: every call may be made by any number of threads and processes at
// once, on the same handle too. Writes are committed one after the other,
// each call returning once its own is; a read sees a value whole, as it was
// before or after a write. A handle closed while other threads use it makes
// their calls finish on the key or fail with kErrorInvalidHandle; once
// closed it must not be used again, since a new handle may take its place.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace platform {

struct RegKey;             // opaque
using HKEY = RegKey*;

// The four predefined roots. They are never closed.
extern const HKEY HKEY_CLASSES_ROOT;
extern const HKEY HKEY_CURRENT_USER;
extern const HKEY HKEY_LOCAL_MACHINE;
extern const HKEY HKEY_USERS;

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

// Access masks (accepted and kept; the machine has a single user).
constexpr DWORD KEY_QUERY_VALUE = 0x0001;
constexpr DWORD KEY_SET_VALUE = 0x0002;
constexpr DWORD KEY_READ = 0x20019;
constexpr DWORD KEY_WRITE = 0x20006;
constexpr DWORD KEY_ALL_ACCESS = 0xF003F;

// Dispositions reported by RegCreateKeyEx.
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Limits. Longer names and larger values are refused with
// kErrorInvalidParameter (data) or kErrorFilenameExcedRange (names).
constexpr std::size_t kMaxKeyNameLength = 255;       // one path component
constexpr std::size_t kMaxKeyPathLength = 32767;     // a whole path
constexpr std::size_t kMaxValueNameLength = 16383;
constexpr std::size_t kMaxValueDataSize = 1024 * 1024;

bool IsPredefinedKey(HKEY key);

// Opens `subKey` (backslash-separated path, may be empty or null: then a new
// handle on `key` itself) below `key`.
LONG RegOpenKeyEx(HKEY key, const char* subKey, DWORD access, HKEY* result);
// Opens or creates every missing component of `subKey`.
LONG RegCreateKeyEx(HKEY key, const char* subKey, DWORD access, HKEY* result,
                    DWORD* disposition);
LONG RegCloseKey(HKEY key);

// `name` null or "" is the key's default value. With `data` null only the type
// and size are returned. With `data` given, *size is its capacity on entry and
// the value's size on return; kErrorMoreData when the value does not fit.
LONG RegQueryValueEx(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size);
LONG RegSetValueEx(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size);
LONG RegDeleteValue(HKEY key, const char* name);

// The same two for a value of the existing key at `subKey` below `key`, in one
// step without opening that key (null or "" is `key` itself). A missing key
// gives kErrorFileNotFound, as a missing value does; nothing is created.
LONG RegGetValue(HKEY key, const char* subKey, const char* name, DWORD* type, BYTE* data,
                 DWORD* size);
LONG RegSetKeyValue(HKEY key, const char* subKey, const char* name, DWORD type,
                    const BYTE* data, DWORD size);
// Deletes a key that has no subkeys (kErrorAccessDenied otherwise).
LONG RegDeleteKey(HKEY key, const char* subKey);

// Subkeys are enumerated in name order, values in the order they were first
// written. Past the end: kErrorNoMoreItems.
LONG RegEnumKey(HKEY key, DWORD index, std::string* name);
LONG RegEnumValue(HKEY key, DWORD index, std::string* name, DWORD* type, BYTE* data,
                  DWORD* size);

// Any output may be null. Lengths are in characters (names) and bytes (data).
LONG RegQueryInfoKey(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* values,
                     DWORD* maxValueNameLength, DWORD* maxValueLength);

// "Connects" to the registry of `computer`: this machine's own name (with or
// without leading backslashes, or empty) succeeds for HKEY_LOCAL_MACHINE and
// HKEY_USERS and returns that root; any other computer gives kErrorBadNetPath.
LONG RegConnectRegistry(const char* computer, HKEY root, HKEY* result);

}  // namespace platform
