#include "platform/registry.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/machine.h"
#include "platform/system.h"
#include "platform/testing.h"

extern char** environ;

namespace platform {
namespace {

LONG Err(DWORD code) { return static_cast<LONG>(code); }

// A key below HKEY_LOCAL_MACHINE, created fresh, closed at the end.
class Key {
 public:
  explicit Key(const char* path, HKEY parent = HKEY_LOCAL_MACHINE) {
    EXPECT_EQ(RegCreateKeyEx(parent, path, KEY_ALL_ACCESS, &key_, nullptr), 0) << path;
  }
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  operator HKEY() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

LONG SetText(HKEY key, const char* name, const std::string& text) {
  return RegSetValueEx(key, name, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
}

// The value's data, or "<error N>".
std::string Read(HKEY key, const char* name, DWORD* type = nullptr) {
  DWORD size = 0;
  LONG error = RegQueryValueEx(key, name, type, nullptr, &size);
  if (error != 0) return "<error " + std::to_string(error) + ">";
  std::string data(size, '\0');
  error = RegQueryValueEx(key, name, type, reinterpret_cast<BYTE*>(data.data()), &size);
  if (error != 0) return "<error " + std::to_string(error) + ">";
  data.resize(size);
  return data;
}

std::string Text(const char* text) { return std::string(text, std::strlen(text) + 1); }

std::vector<std::string> SubKeys(HKEY key) {
  std::vector<std::string> names;
  std::string name;
  for (DWORD i = 0; RegEnumKey(key, i, &name) == 0; ++i) names.push_back(name);
  return names;
}

std::vector<std::string> ValueNames(HKEY key) {
  std::vector<std::string> names;
  std::string name;
  for (DWORD i = 0; RegEnumValue(key, i, &name, nullptr, nullptr, nullptr) == 0; ++i) {
    names.push_back(name);
  }
  return names;
}

TEST(RegistryKeys, NamesIgnoreCaseKeepSpellingAndEnumerateInNameOrder) {
  HKEY created = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Soft\\Mixed", KEY_ALL_ACCESS, &created, &disposition), 0);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  RegCloseKey(created);
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFT\\mixed\\", KEY_ALL_ACCESS, &created, &disposition), 0);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  RegCloseKey(created);

  Key soft("soft");
  for (const char* name : {"beta", "Alpha", "gamma", "_under"}) Key child(name, soft);
  EXPECT_EQ(SubKeys(soft), (std::vector<std::string>{"Alpha", "beta", "gamma", "Mixed", "_under"}));
  std::string name;
  EXPECT_EQ(RegEnumKey(soft, 5, &name), Err(kErrorNoMoreItems));

  HKEY opened = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Soft\\Missing", KEY_READ, &opened), Err(kErrorFileNotFound));
  EXPECT_EQ(opened, nullptr);
  // The same name below another root is another key.
  EXPECT_EQ(RegOpenKeyEx(HKEY_USERS, "Soft", KEY_READ, &opened), Err(kErrorFileNotFound));
}

TEST(RegistryKeys, PredefinedRootsAlwaysExistAndCannotBeDeletedOrClosed) {
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS}) {
    EXPECT_TRUE(IsPredefinedKey(root));
    EXPECT_EQ(RegQueryInfoKey(root, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(RegCloseKey(root), 0);
    EXPECT_EQ(SetText(root, "v", "x"), 0);  // still usable after "closing"
    HKEY self = nullptr;
    ASSERT_EQ(RegOpenKeyEx(root, "", KEY_READ, &self), 0);
    EXPECT_FALSE(IsPredefinedKey(self));
    EXPECT_EQ(RegDeleteKey(self, ""), Err(kErrorAccessDenied));
    RegCloseKey(self);
  }
}

TEST(RegistryKeys, DeleteRefusesKeysWithSubkeysAndLeavesThemWhole) {
  Key parent("Tree\\Parent\\Child");
  Key top("Tree");
  ASSERT_EQ(SetText(top, "keep", "me"), 0);
  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "Tree\\Parent"), Err(kErrorAccessDenied));
  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "Tree\\Nothing"), Err(kErrorFileNotFound));
  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "TREE\\PARENT\\CHILD"), 0);
  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "Tree\\Parent"), 0);
  EXPECT_EQ(SubKeys(top).size(), 0u);
  EXPECT_EQ(Read(top, "keep"), Text("me"));
}

TEST(RegistryKeys, HandlesOnDeletedKeysReportKeyDeleted) {
  HKEY doomed = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Doomed", KEY_ALL_ACCESS, &doomed, nullptr), 0);
  ASSERT_EQ(SetText(doomed, "v", "x"), 0);
  ASSERT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "Doomed"), 0);

  const LONG deleted = Err(kErrorKeyDeleted);
  EXPECT_EQ(Read(doomed, "v"), "<error 1018>");
  EXPECT_EQ(SetText(doomed, "v", "y"), deleted);
  EXPECT_EQ(RegDeleteValue(doomed, "v"), deleted);
  std::string name;
  EXPECT_EQ(RegEnumKey(doomed, 0, &name), deleted);
  EXPECT_EQ(RegEnumValue(doomed, 0, &name, nullptr, nullptr, nullptr), deleted);
  EXPECT_EQ(RegQueryInfoKey(doomed, nullptr, nullptr, nullptr, nullptr, nullptr), deleted);
  HKEY sub = nullptr;
  EXPECT_EQ(RegOpenKeyEx(doomed, "x", KEY_READ, &sub), deleted);
  EXPECT_EQ(RegCreateKeyEx(doomed, "x", KEY_ALL_ACCESS, &sub, nullptr), deleted);

  // A key of the same name made later is another key: the old handle stays dead.
  Key again("Doomed");
  EXPECT_EQ(SetText(doomed, "v", "y"), deleted);
  EXPECT_EQ(Read(again, "v"), "<error 2>");
  EXPECT_EQ(RegCloseKey(doomed), 0);
}

TEST(RegistryKeys, ClosedAndMadeUpHandlesAreRefused) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "H", KEY_ALL_ACCESS, &key, nullptr), 0);
  ASSERT_EQ(RegCloseKey(key), 0);
  const LONG invalid = Err(kErrorInvalidHandle);
  EXPECT_EQ(RegCloseKey(key), invalid);
  EXPECT_EQ(SetText(key, "v", "x"), invalid);
  RegKey* madeUp = reinterpret_cast<RegKey*>(std::uintptr_t{0x1234560});
  EXPECT_EQ(Read(madeUp, "v"), "<error 6>");
  EXPECT_EQ(RegCloseKey(nullptr), invalid);
  HKEY opened = nullptr;
  EXPECT_EQ(RegOpenKeyEx(nullptr, "H", KEY_READ, &opened), invalid);
}

TEST(RegistryValues, EveryTypeKeepsItsExactBytes) {
  Key key("Values");
  const std::string binary("\x00\x01\xFF\x00zz", 6);
  const std::string multi("one\0two\0\0", 9);
  const DWORD number = 0xDEADBEEF;
  struct Case {
    const char* name;
    DWORD type;
    std::string data;
  } cases[] = {
      {"text", REG_SZ, Text("hello")},
      {"expand", REG_EXPAND_SZ, Text("%PATH%;x")},
      {"binary", REG_BINARY, binary},
      {"number", REG_DWORD, std::string(reinterpret_cast<const char*>(&number), 4)},
      {"multi", REG_MULTI_SZ, multi},
      {"empty", REG_BINARY, ""},
      {"none", REG_NONE, "raw"},
      {"", REG_SZ, Text("default value")},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(RegSetValueEx(key, c.name, c.type, reinterpret_cast<const BYTE*>(c.data.data()),
                            static_cast<DWORD>(c.data.size())),
              0)
        << c.name;
  }
  for (const Case& c : cases) {
    DWORD type = 99;
    EXPECT_EQ(Read(key, c.name, &type), c.data) << c.name;
    EXPECT_EQ(type, c.type) << c.name;
  }
  // A null name is the default value as well.
  EXPECT_EQ(Read(key, nullptr), Text("default value"));
}

TEST(RegistryValues, NamesIgnoreCaseAndEnumerateInOrderOfFirstWrite) {
  Key key("Order");
  for (const char* name : {"Zeta", "alpha", "Mid"}) ASSERT_EQ(SetText(key, name, name), 0);
  ASSERT_EQ(SetText(key, "ZETA", "rewritten"), 0);  // keeps its place and spelling
  EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"Zeta", "alpha", "Mid"}));
  EXPECT_EQ(Read(key, "zeta"), Text("rewritten"));

  ASSERT_EQ(RegDeleteValue(key, "ALPHA"), 0);
  EXPECT_EQ(RegDeleteValue(key, "alpha"), Err(kErrorFileNotFound));
  ASSERT_EQ(SetText(key, "alpha", "back"), 0);
  EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"Zeta", "Mid", "alpha"}));

  std::string name;
  DWORD type = 0, size = 64;
  BYTE data[64];
  ASSERT_EQ(RegEnumValue(key, 1, &name, &type, data, &size), 0);
  EXPECT_EQ(name, "Mid");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), Text("Mid"));
  EXPECT_EQ(RegEnumValue(key, 3, &name, nullptr, nullptr, nullptr), Err(kErrorNoMoreItems));
}

TEST(RegistryValues, SmallBuffersGetMoreDataAndTheSizeNeeded) {
  Key key("Sizes");
  ASSERT_EQ(SetText(key, "v", "twelve chars"), 0);
  BYTE buffer[8] = {};
  DWORD size = sizeof(buffer), type = 0;
  EXPECT_EQ(RegQueryValueEx(key, "v", &type, buffer, &size), Err(kErrorMoreData));
  EXPECT_EQ(size, 13u);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(RegQueryValueEx(key, "missing", &type, nullptr, &size), Err(kErrorFileNotFound));
  EXPECT_EQ(RegQueryValueEx(key, "v", &type, buffer, nullptr), Err(kErrorInvalidParameter));
  // Type and existence alone.
  EXPECT_EQ(RegQueryValueEx(key, "v", nullptr, nullptr, nullptr), 0);
}

TEST(RegistryValues, SubKeyValuesInOneStepCreateNothing) {
  Key key("OneStep\\Inner");
  Key outer("OneStep");
  const BYTE data[] = {1, 2, 3};
  EXPECT_EQ(RegSetKeyValue(outer, "inner", "v", REG_BINARY, data, sizeof(data)), 0);
  EXPECT_EQ(RegSetKeyValue(HKEY_LOCAL_MACHINE, "OneStep", "w", REG_SZ, data, 0), 0);
  EXPECT_EQ(Read(key, "V"), std::string("\x01\x02\x03", 3));
  BYTE buffer[3];
  DWORD size = sizeof(buffer), type = 0;
  EXPECT_EQ(RegGetValue(HKEY_LOCAL_MACHINE, "ONESTEP\\INNER", "v", &type, buffer, &size), 0);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(RegGetValue(outer, "", "w", &type, nullptr, &size), 0);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(RegGetValue(outer, nullptr, "w", nullptr, nullptr, nullptr), 0);

  const LONG notFound = Err(kErrorFileNotFound);
  EXPECT_EQ(RegSetKeyValue(outer, "Missing", "v", REG_BINARY, data, sizeof(data)), notFound);
  EXPECT_EQ(RegGetValue(outer, "Missing", "v", &type, nullptr, &size), notFound);
  EXPECT_EQ(RegGetValue(outer, "Inner", "missing", &type, nullptr, &size), notFound);
  EXPECT_EQ(SubKeys(outer), std::vector<std::string>{"Inner"});
  EXPECT_EQ(RegSetKeyValue(outer, "a\\\\b", "v", REG_BINARY, data, 1), Err(kErrorInvalidParameter));
}

TEST(RegistryValues, KeyInfoCountsAndLongestLengths) {
  Key key("Info");
  Key a("Short", key), b("LongerName", key);
  ASSERT_EQ(SetText(key, "n", "1234567"), 0);
  ASSERT_EQ(SetText(key, "LongValueName", "x"), 0);
  DWORD subKeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
  ASSERT_EQ(RegQueryInfoKey(key, &subKeys, &maxSub, &values, &maxName, &maxData), 0);
  EXPECT_EQ(subKeys, 2u);
  EXPECT_EQ(maxSub, 10u);
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(maxName, 13u);
  EXPECT_EQ(maxData, 8u);
}

TEST(RegistryValues, EveryWriteIsSeenByTheNextRead) {
  Key key("Reread");
  // Each read below comes after the same question was answered once.
  ASSERT_EQ(SetText(key, "v", "one"), 0);
  ASSERT_EQ(Read(key, "v"), Text("one"));
  ASSERT_EQ(SetText(key, "v", "two"), 0);
  EXPECT_EQ(Read(key, "v"), Text("two"));
  EXPECT_EQ(Read(key, "later"), "<error " + std::to_string(kErrorFileNotFound) + ">");
  ASSERT_EQ(SetText(key, "later", "here"), 0);
  EXPECT_EQ(Read(key, "later"), Text("here"));
  ASSERT_EQ(RegDeleteValue(key, "v"), 0);
  EXPECT_EQ(Read(key, "v"), "<error " + std::to_string(kErrorFileNotFound) + ">");

  // Keys: a missing one appears, an opened one goes.
  HKEY sub = nullptr;
  EXPECT_EQ(RegOpenKeyEx(key, "Sub", KEY_READ, &sub), Err(kErrorFileNotFound));
  Key created("Sub", key);
  ASSERT_EQ(RegOpenKeyEx(key, "Sub", KEY_READ, &sub), 0);
  ASSERT_EQ(SetText(sub, "inside", "x"), 0);
  ASSERT_EQ(Read(sub, "inside"), Text("x"));
  ASSERT_EQ(RegDeleteValue(sub, "inside"), 0);
  ASSERT_EQ(RegDeleteKey(key, "Sub"), 0);
  EXPECT_EQ(Read(sub, "inside"), "<error " + std::to_string(kErrorKeyDeleted) + ">");
  HKEY again = nullptr;
  EXPECT_EQ(RegOpenKeyEx(key, "Sub", KEY_READ, &again), Err(kErrorFileNotFound));
  EXPECT_EQ(RegCloseKey(sub), 0);

  // A small buffer still learns the size, from a remembered answer too.
  ASSERT_EQ(SetText(key, "long", std::string(100, 'l')), 0);
  ASSERT_EQ(Read(key, "long"), Text(std::string(100, 'l').c_str()));
  BYTE small[10];
  DWORD size = sizeof(small);
  EXPECT_EQ(RegQueryValueEx(key, "long", nullptr, small, &size), Err(kErrorMoreData));
  EXPECT_EQ(size, 101u);
}

TEST(RegistryLimits, OverlongNamesAndDataAreRefusedAndNothingIsLost) {
  Key key("Limits");
  ASSERT_EQ(SetText(key, "v", "before"), 0);

  HKEY sub = nullptr;
  EXPECT_EQ(RegCreateKeyEx(key, std::string(255, 'k').c_str(), KEY_ALL_ACCESS, &sub, nullptr), 0);
  RegCloseKey(sub);
  EXPECT_EQ(RegCreateKeyEx(key, std::string(256, 'k').c_str(), KEY_ALL_ACCESS, &sub, nullptr),
            Err(kErrorFilenameExcedRange));
  EXPECT_EQ(RegCreateKeyEx(key, "a\\\\b", KEY_ALL_ACCESS, &sub, nullptr), Err(kErrorInvalidParameter));
  EXPECT_EQ(RegCreateKeyEx(key, "\\a", KEY_ALL_ACCESS, &sub, nullptr), Err(kErrorInvalidParameter));
  EXPECT_EQ(RegOpenKeyEx(key, "a\\\\b", KEY_READ, &sub), Err(kErrorInvalidParameter));

  std::string longName(kMaxValueNameLength, 'n');
  EXPECT_EQ(SetText(key, longName.c_str(), "ok"), 0);
  longName += 'n';
  EXPECT_EQ(SetText(key, longName.c_str(), "no"), Err(kErrorFilenameExcedRange));
  EXPECT_EQ(Read(key, longName.c_str()), "<error 206>");

  std::string big(kMaxValueDataSize, 'b');
  EXPECT_EQ(RegSetValueEx(key, "big", REG_BINARY, reinterpret_cast<const BYTE*>(big.data()),
                          static_cast<DWORD>(big.size())),
            0);
  EXPECT_EQ(Read(key, "big"), big);
  big += 'b';
  EXPECT_EQ(RegSetValueEx(key, "v", REG_BINARY, reinterpret_cast<const BYTE*>(big.data()),
                          static_cast<DWORD>(big.size())),
            Err(kErrorInvalidParameter));
  EXPECT_EQ(RegSetValueEx(key, "v", REG_BINARY, nullptr, 4), Err(kErrorInvalidParameter));
  EXPECT_EQ(Read(key, "v"), Text("before"));
  EXPECT_EQ(ValueNames(key).size(), 3u);
  EXPECT_EQ(SubKeys(key).size(), 1u);
}

TEST(RegistryConnect, OnlyThisMachineAndItsTwoReachableRoots) {
  std::string host = GetHostName();
  std::string upper = host;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const std::string& name : {std::string(), host, "\\\\" + upper}) {
    HKEY result = nullptr;
    EXPECT_EQ(RegConnectRegistry(name.c_str(), HKEY_LOCAL_MACHINE, &result), 0) << name;
    EXPECT_EQ(result, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(RegConnectRegistry(name.c_str(), HKEY_USERS, &result), 0) << name;
    EXPECT_EQ(result, HKEY_USERS);
    EXPECT_EQ(RegConnectRegistry(name.c_str(), HKEY_CURRENT_USER, &result), Err(kErrorInvalidHandle));
  }
  HKEY result = nullptr;
  EXPECT_EQ(RegConnectRegistry(nullptr, HKEY_LOCAL_MACHINE, &result), 0);
  EXPECT_EQ(RegConnectRegistry("\\\\elsewhere", HKEY_LOCAL_MACHINE, &result), Err(kErrorBadNetPath));
  EXPECT_EQ(RegConnectRegistry((host + "x").c_str(), HKEY_LOCAL_MACHINE, &result), Err(kErrorBadNetPath));
}

// ---------------------------------------------------------------------------
// Several threads and processes

TEST(RegistryConcurrency, ManyThreadsWritingLoseNothing) {
  constexpr int kThreads = 8;
  constexpr int kWrites = 150;
  // Writes that fail are committed alongside the others: they must fail
  // alone, leaving the rest of their commit in place.
  HKEY gone = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Gone", KEY_ALL_ACCESS, &gone, nullptr), 0);
  ASSERT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "Gone"), 0);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, gone, &failures] {
      // Every thread also creates the same deep path: exactly one key results.
      HKEY key = nullptr;
      if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Shared\\Deep\\Path", KEY_ALL_ACCESS, &key, nullptr) != 0) {
        ++failures;
        return;
      }
      for (int i = 0; i < kWrites; ++i) {
        std::string name = "t" + std::to_string(t) + "_" + std::to_string(i);
        if (SetText(key, name.c_str(), name) != 0) ++failures;
        if (Read(key, name.c_str()) != Text(name.c_str())) ++failures;
        if (t % 2 == 0 && SetText(gone, name.c_str(), name) != Err(kErrorKeyDeleted)) ++failures;
        if (t % 4 == 1 && RegDeleteValue(key, "never written") != Err(kErrorFileNotFound)) ++failures;
      }
      RegCloseKey(key);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  Key key("Shared\\Deep\\Path");
  Key shared("Shared");
  EXPECT_EQ(SubKeys(shared), std::vector<std::string>{"Deep"});
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKey(key, nullptr, nullptr, &values, nullptr, nullptr), 0);
  EXPECT_EQ(values, static_cast<DWORD>(kThreads * kWrites));
  RegCloseKey(gone);
}

TEST(RegistryConcurrency, ReadersNeverSeeAValueGoBack) {
  Key key("Counter");
  constexpr int kLast = 1500;
  ASSERT_EQ(SetText(key, "n", "0"), 0);
  std::atomic<bool> writing{true};
  std::atomic<int> backwards{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 4; ++r) {
    readers.emplace_back([&] {
      int seen = 0;
      while (writing.load()) {
        std::string text = Read(key, "n");
        if (text[0] == '<') continue;  // the size changed between the two calls
        int now = std::atoi(text.c_str());
        if (now < seen) {
          ++backwards;
          ADD_FAILURE() << "read " << now << " after " << seen;
        }
        seen = now;
      }
    });
  }
  for (int i = 1; i <= kLast; ++i) ASSERT_EQ(SetText(key, "n", std::to_string(i)), 0);
  writing = false;
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(backwards.load(), 0);
  EXPECT_EQ(Read(key, "n"), Text(std::to_string(kLast).c_str()));
}

TEST(RegistryConcurrency, MoreThreadsThanPooledConnectionsAllGetServed) {
  Key key("Busy");
  ASSERT_EQ(SetText(key, "v", "value"), 0);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 40; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        HKEY opened = nullptr;
        if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, "busy", KEY_READ, &opened) != 0) {
          ++failures;
          continue;
        }
        if (Read(opened, "V") != Text("value")) ++failures;
        RegCloseKey(opened);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST(RegistryConcurrency, TheLogIsCopiedIntoTheDatabaseAndStaysBounded) {
  Key key("Checkpoints");
  const std::string value(1000, 'c');
  std::string database = MachineRoot() + "/registry.db";
  std::uintmax_t largestLog = 0;
  for (int i = 0; i < 6000; ++i) {
    ASSERT_EQ(SetText(key, ("v" + std::to_string(i % 1500)).c_str(), value), 0);
    if (i % 500 == 0) largestLog = std::max(largestLog, std::filesystem::file_size(database + "-wal"));
  }
  // Every commit adds at least a page to the log; it must have started over.
  EXPECT_LT(largestLog, std::uintmax_t{24} << 20);
  // The values reach the database file itself, without any further writes.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::filesystem::file_size(database) < 1500 * 1000 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_GE(std::filesystem::file_size(database), std::uintmax_t{1500 * 1000});
}

// Other processes are this test program run again with one of the child
// cases below selected; they share the machine root through the environment.
constexpr const char* kChildRoot = "REGISTRY_TEST_SHARED_ROOT";
constexpr const char* kChildMode = "REGISTRY_TEST_CHILD_MODE";

struct Child {
  pid_t pid = -1;
  int output = -1;  // the child's standard output
};

Child StartChild(const std::string& mode) {
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) variables.emplace_back(*entry);
  variables.push_back(std::string(kChildRoot) + "=" + MachineRoot());
  variables.push_back(std::string(kChildMode) + "=" + mode);
  std::vector<char*> envp;
  for (auto& v : variables) envp.push_back(v.data());
  envp.push_back(nullptr);
  std::string self = "/proc/self/exe";
  std::string filter = "--gtest_filter=RegistryChild.Run";
  char* argv[] = {self.data(), filter.data(), nullptr};

  int pipeFds[2];
  EXPECT_EQ(::pipe(pipeFds), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  Child child;
  EXPECT_EQ(posix_spawn(&child.pid, "/proc/self/exe", &actions, nullptr, argv, envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  child.output = pipeFds[0];
  return child;
}

// Reads the child's '@' lines (without the '@') until `done` says so, the
// output ends or time is up.
template <typename Done>
std::string ReadChild(Child& child, Done done, std::chrono::seconds limit = std::chrono::seconds(60)) {
  std::string raw, said;
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done(said) && std::chrono::steady_clock::now() < deadline) {
    pollfd fd{child.output, POLLIN, 0};
    if (::poll(&fd, 1, 100) <= 0) continue;
    char buffer[4096];
    ssize_t n = ::read(child.output, buffer, sizeof(buffer));
    if (n <= 0) break;
    raw.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = raw.find('\n')) != std::string::npos; raw.erase(0, end + 1)) {
      if (raw[0] == '@') said.append(raw, 1, end);
    }
  }
  return said;
}

int FinishChild(Child& child, bool kill) {
  if (kill) ::kill(child.pid, SIGKILL);
  int status = 0;
  ::waitpid(child.pid, &status, 0);
  ::close(child.output);
  return status;
}

// Lines for the parent start with '@', apart from the test framework's own.
void Say(const std::string& line) {
  std::string text = "@" + line + "\n";
  ASSERT_EQ(::write(1, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

// The child side. Skipped unless started by one of the tests below.
TEST(RegistryChild, Run) {
  const char* root = std::getenv(kChildRoot);
  const char* mode = std::getenv(kChildMode);
  if (root == nullptr || mode == nullptr) GTEST_SKIP() << "runs only as another test's child";
  ::setenv("ZONDREL_ROOT", root, 1);  // before the registry is first used
  ASSERT_EQ(MachineRoot(), root);
  Key key("Processes");
  if (std::string(mode) == "echo") {
    // Reports the parent's value, then answers with one of its own.
    Say(Read(key, "from parent"));
    ASSERT_EQ(SetText(key, "from child", "pong"), 0);
    Say("done");
  } else if (std::string(mode) == "writer") {
    // Writes until killed, reporting each write once it has been committed.
    for (int i = 0; i < 1000000; ++i) {
      std::string name = "w" + std::to_string(i);
      ASSERT_EQ(SetText(key, name.c_str(), std::string(100 + i % 400, 'x')), 0);
      Say(std::to_string(i));
    }
  }
}

TEST(RegistryProcesses, TwoProcessesSeeEachOthersWrites) {
  Key key("Processes");
  ASSERT_EQ(SetText(key, "from parent", "ping"), 0);
  // Read before the child writes, so that a remembered answer would show.
  ASSERT_EQ(Read(key, "from child"), "<error " + std::to_string(kErrorFileNotFound) + ">");
  Child child = StartChild("echo");
  std::string output = ReadChild(child, [](const std::string& out) {
    return out.find("done\n") != std::string::npos;
  });
  int status = FinishChild(child, false);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
  EXPECT_EQ(output, Text("ping") + "\ndone\n");
  EXPECT_EQ(Read(key, "from child"), Text("pong"));
}

TEST(RegistryProcesses, ForkedChildUsesConnectionsOfItsOwn) {
  Key key("Forked");
  ASSERT_EQ(SetText(key, "from parent", "ping"), 0);  // the pool holds connections now
  pid_t pid = ::fork();
  if (pid == 0) {
    bool ok = Read(key, "from parent") == Text("ping") && SetText(key, "from child", "pong") == 0;
    ::_exit(ok ? 0 : 1);
  }
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Read(key, "from child"), Text("pong"));
  EXPECT_EQ(SetText(key, "after", "x"), 0);
}

TEST(RegistryProcesses, KilledWriterLeavesEveryCommittedValue) {
  Key key("Processes");
  ASSERT_EQ(SetText(key, "before", "kept"), 0);
  Child child = StartChild("writer");
  // Let it commit a few hundred values while this process reads alongside.
  std::string output = ReadChild(child, [&key](const std::string& out) {
    Read(key, "w0");
    return std::count(out.begin(), out.end(), '\n') >= 300;
  });
  FinishChild(child, true);
  ASSERT_GE(std::count(output.begin(), output.end(), '\n'), 300) << "the writer stalled";

  // Every number reported before the kill names a committed value.
  int last = -1;
  for (std::size_t start = 0, end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
    last = std::stoi(output.substr(start, end - start));
  }
  for (int i = 0; i <= last; ++i) {
    std::string name = "w" + std::to_string(i);
    ASSERT_EQ(Read(key, name.c_str()), Text(std::string(100 + i % 400, 'x').c_str())) << name;
  }
  EXPECT_EQ(Read(key, "before"), Text("kept"));

  // The database is sound and still takes writes.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((MachineRoot() + "/registry.db").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* check = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
  sqlite3_finalize(check);
  sqlite3_close(db);
  EXPECT_EQ(SetText(key, "after", "written"), 0);
  EXPECT_EQ(Read(key, "after"), Text("written"));
}

}  // namespace
}  // namespace platform
