#include "regwrap/qr_registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/system.h"

using namespace platform;

namespace {

constexpr const char* kPath = "SOFTWARE\\Orrinvale\\Test";

// A key of the test's own, empty (the tests may share one process).
QRRegistry ProductKey() {
  QRRegistry machine(HKEY_LOCAL_MACHINE);
  machine.DeleteKey(kPath);
  QRRegistry key(machine, kPath);
  EXPECT_TRUE(key.Open(1));
  key.Close(0);
  return key;
}

bool KeyExists(const char* path) {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, path, KEY_READ, &key) != 0) return false;
  RegCloseKey(key);
  return true;
}

DWORD StoredType(QRRegistry& key, const char* name) {
  DWORD type = 0xFFFF;
  key.QueryValue(name, nullptr, nullptr, &type, nullptr);
  return type;
}

std::string StoredBytes(QRRegistry& key, const char* name) {
  BYTE* data = nullptr;
  DWORD size = 0, type = 0;
  if (!key.QueryValue(name, nullptr, &size, &type, &data)) return "<missing>";
  std::string bytes(reinterpret_cast<char*>(data), size);
  delete[] data;
  return bytes;
}

TEST(QRRegistrySubKeyNames, ReadsDoNotCreateWritesDo) {
  QRRegistry key = ProductKey();
  DWORD threads = 77;
  EXPECT_FALSE(key.GetValue("Comm\\NoOfListenThreads", &threads));
  EXPECT_EQ(threads, 77u);  // unchanged on failure
  EXPECT_FALSE(key.DoesValueExist("Comm\\NoOfListenThreads"));
  EXPECT_FALSE(KeyExists("SOFTWARE\\Orrinvale\\Test\\Comm"));

  ASSERT_TRUE(key.SetValue("Comm\\NoOfListenThreads", DWORD{4}, REG_DWORD));
  EXPECT_TRUE(KeyExists("SOFTWARE\\Orrinvale\\Test\\Comm"));
  EXPECT_TRUE(key.GetValue("comm\\NOOFLISTENTHREADS", &threads));
  EXPECT_EQ(threads, 4u);

  // Any depth; a read of a deeper missing path creates nothing either.
  ASSERT_TRUE(key.SetValue("A\\B\\C\\Leaf", "deep", REG_SZ));
  EXPECT_EQ(key.GetValue("a\\b\\c\\leaf", "none"), "deep");
  EXPECT_EQ(key.GetValue("A\\X\\Y\\Leaf", "none"), "none");
  EXPECT_FALSE(key.DoesKeyExist("A\\X"));
  EXPECT_TRUE(key.DoesKeyExist("A\\B\\C"));
  EXPECT_TRUE(key.DoesKeyExist("\\A\\B"));

  // A name starting with a backslash is a plain value name.
  ASSERT_TRUE(key.SetValue("\\odd", DWORD{1}, REG_DWORD));
  EXPECT_TRUE(key.DoesValueExist("\\odd"));
  EXPECT_FALSE(key.DoesKeyExist("odd"));
}

TEST(QRRegistryBooleans, ReadingFollowsTheTextForm) {
  QRRegistry key = ProductKey();
  struct Case {
    const char* text;
    int expected;
  } cases[] = {{" no ", 0}, {"No", 0}, {"off", 0}, {"F", 0}, {"false", 0}, {"0", 0}, {"", 0},
               {"   ", 0},   {"Yes", 1}, {"2", 1},  {"On", 1}, {"true", 1},  {"nope", 1}};
  for (const Case& c : cases) {
    ASSERT_TRUE(key.SetValue("flag", c.text, REG_SZ));
    int value = -1;
    EXPECT_TRUE(key.GetValue("flag", &value)) << c.text;
    EXPECT_EQ(value, c.expected) << "'" << c.text << "'";
  }
  ASSERT_TRUE(key.SetValue("flag", DWORD{0}, REG_DWORD));
  EXPECT_EQ(key.GetValue("flag", 1), 0);
  ASSERT_TRUE(key.SetValue("flag", DWORD{5}, REG_BINARY));
  EXPECT_EQ(key.GetValue("flag", 0), 1);
  EXPECT_EQ(key.GetValue("missing", 1), 1);
  EXPECT_EQ(key.GetValue("missing", 0), 0);
}

TEST(QRRegistryBooleans, WritingKeepsNumericValuesNumeric) {
  QRRegistry key = ProductKey();
  ASSERT_TRUE(key.SetValue("dword", DWORD{0}, REG_DWORD));
  ASSERT_TRUE(key.SetValue("dword", 1));
  EXPECT_EQ(StoredType(key, "dword"), REG_DWORD);
  EXPECT_EQ(StoredBytes(key, "dword"), std::string("\x01\0\0\0", 4));

  ASSERT_TRUE(key.SetValue("binary", DWORD{1}, REG_BINARY));
  ASSERT_TRUE(key.SetValue("binary", 0));
  EXPECT_EQ(StoredType(key, "binary"), REG_BINARY);
  EXPECT_EQ(StoredBytes(key, "binary"), std::string("\0\0\0\0", 4));

  ASSERT_TRUE(key.SetValue("missing", 1));
  EXPECT_EQ(StoredType(key, "missing"), REG_SZ);
  EXPECT_EQ(key.GetValue("missing", ""), "On");

  ASSERT_TRUE(key.SetValue("multi", std::vector<std::string>{"a", "b"}));
  ASSERT_TRUE(key.SetValue("multi", 0));
  EXPECT_EQ(StoredType(key, "multi"), REG_SZ);
  EXPECT_EQ(key.GetValue("multi", ""), "Off");

  ASSERT_TRUE(key.SetValue("Sub\\flag", 1));
  EXPECT_EQ(key.GetValue("Sub\\flag", ""), "On");
}

TEST(QRRegistryTypes, NumbersConvertFromEveryStoredType) {
  QRRegistry key = ProductKey();
  ASSERT_TRUE(key.SetValue("sz", "  42abc", REG_SZ));
  ASSERT_TRUE(key.SetValue("neg", "-1", REG_SZ));
  ASSERT_TRUE(key.SetValue("expand", DWORD{7}, REG_EXPAND_SZ));
  ASSERT_TRUE(key.SetValue("multi", std::vector<std::string>{"13", "14"}));
  ASSERT_TRUE(key.SetValue("dword", DWORD{0xFFFFFFFF}, REG_DWORD));
  const BYTE shortBinary[2] = {0x34, 0x12};
  ASSERT_TRUE(key.SetValue("short", shortBinary, 2, REG_BINARY));
  ASSERT_TRUE(key.SetValue("none", reinterpret_cast<const BYTE*>("1"), 1, REG_NONE));

  struct Case {
    const char* name;
    DWORD expected;
  } cases[] = {{"sz", 42}, {"neg", 0xFFFFFFFF}, {"expand", 7}, {"multi", 13},
               {"dword", 0xFFFFFFFF}, {"short", 0x1234}};
  for (const Case& c : cases) {
    DWORD value = 0;
    EXPECT_TRUE(key.GetValue(c.name, &value)) << c.name;
    EXPECT_EQ(value, c.expected) << c.name;
  }
  DWORD value = 9;
  EXPECT_FALSE(key.GetValue("none", &value));
  EXPECT_EQ(value, 9u);
  EXPECT_EQ(key.GetValue("none", DWORD{5}), 5u);
  EXPECT_EQ(key.GetValue("missing", DWORD{6}), 6u);
}

TEST(QRRegistryTypes, TextConvertsFromEveryStoredType) {
  QRRegistry key = ProductKey();
  ::setenv("QRREGISTRY_TEST_DIR", "/opt/zondrel", 1);
  ASSERT_TRUE(key.SetValue("sz", "plain", REG_SZ));
  ASSERT_TRUE(key.SetValue("expand", "%QRREGISTRY_TEST_DIR%\\logs %UNSET_QR_VARIABLE%", REG_EXPAND_SZ));
  ASSERT_TRUE(key.SetValue("multi", "only", REG_MULTI_SZ));
  ASSERT_TRUE(key.SetValue("dword", "123", REG_DWORD));
  ASSERT_TRUE(key.SetValue("binary", DWORD{4000000000u}, REG_BINARY));
  ASSERT_TRUE(key.SetValue("empty", "", REG_SZ));
  // Text without its NUL still reads back whole.
  ASSERT_TRUE(key.SetValue("unterminated", reinterpret_cast<const BYTE*>("abc"), 3, REG_SZ));

  EXPECT_EQ(key.GetValue("sz", "-"), "plain");
  EXPECT_EQ(key.GetValue("expand", "-"), "/opt/zondrel\\logs %UNSET_QR_VARIABLE%");
  EXPECT_EQ(key.GetValue("multi", "-"), "only");
  EXPECT_EQ(StoredBytes(key, "multi"), std::string("only\0\0", 6));
  EXPECT_EQ(StoredType(key, "dword"), REG_DWORD);
  EXPECT_EQ(key.GetValue("dword", "-"), "123");
  EXPECT_EQ(key.GetValue("binary", "-"), "4000000000");
  EXPECT_EQ(key.GetValue("empty", "-"), "");
  EXPECT_EQ(key.GetValue("unterminated", "-"), "abc");
  EXPECT_EQ(key.GetValue("missing", "fallback"), "fallback");
  EXPECT_EQ(key.GetValue("missing", static_cast<const char*>(nullptr)), "");

  // Numbers as text types.
  ASSERT_TRUE(key.SetValue("n", DWORD{99}, REG_MULTI_SZ));
  EXPECT_EQ(StoredBytes(key, "n"), std::string("99\0\0", 4));
  EXPECT_FALSE(key.SetValue("bad", DWORD{1}, REG_NONE));
  EXPECT_FALSE(key.SetValue("bad", "1", 42));
  EXPECT_FALSE(key.DoesValueExist("bad"));
}

TEST(QRRegistryTypes, ArraysRoundTrip) {
  QRRegistry key = ProductKey();
  std::vector<std::string> strings{"first", "second", "third"};
  ASSERT_TRUE(key.SetValue("strings", strings));
  EXPECT_EQ(StoredType(key, "strings"), REG_MULTI_SZ);
  EXPECT_EQ(StoredBytes(key, "strings"), std::string("first\0second\0third\0\0", 20));
  std::vector<std::string> read{"stale"};
  ASSERT_TRUE(key.GetValue("strings", read));
  EXPECT_EQ(read, strings);

  ASSERT_TRUE(key.SetValue("numbers", std::vector<DWORD>{1, 0xFFFFFFFF, 30}));
  std::vector<DWORD> numbers;
  ASSERT_TRUE(key.GetValue("numbers", numbers));
  EXPECT_EQ(numbers, (std::vector<DWORD>{1, 0xFFFFFFFF, 30}));
  ASSERT_TRUE(key.GetValue("numbers", read));
  EXPECT_EQ(read, (std::vector<std::string>{"1", "4294967295", "30"}));

  // Other types read as one element; an empty list reads empty.
  ASSERT_TRUE(key.SetValue("single", DWORD{8}, REG_DWORD));
  ASSERT_TRUE(key.GetValue("single", read));
  EXPECT_EQ(read, std::vector<std::string>{"8"});
  ASSERT_TRUE(key.SetValue("none", std::vector<std::string>{}));
  ASSERT_TRUE(key.GetValue("none", read));
  EXPECT_TRUE(read.empty());
  // Reading stops at the first empty string.
  ASSERT_TRUE(key.SetValue("gap", reinterpret_cast<const BYTE*>("a\0\0b\0\0"), 6, REG_MULTI_SZ));
  ASSERT_TRUE(key.GetValue("gap", read));
  EXPECT_EQ(read, std::vector<std::string>{"a"});

  read = {"kept"};
  EXPECT_FALSE(key.GetValue("missing", read));
  EXPECT_EQ(read, std::vector<std::string>{"kept"});
}

TEST(QRRegistryTypes, LargestValuesReadWholeAndLargerOnesAreRefused) {
  QRRegistry key = ProductKey();
  std::string big(kMaxValueDataSize - 1, 'z');
  ASSERT_TRUE(key.SetValue("big", big.c_str(), REG_SZ));
  EXPECT_EQ(key.GetValue("big", "-"), big);
  BYTE* data = nullptr;
  DWORD size = 0, type = 0;
  ASSERT_TRUE(key.QueryValue("big", nullptr, &size, &type, &data));
  EXPECT_EQ(size, kMaxValueDataSize);
  EXPECT_EQ(std::strlen(reinterpret_cast<char*>(data)), big.size());
  delete[] data;

  ASSERT_TRUE(key.SetValue("kept", "old", REG_SZ));
  std::string tooBig(kMaxValueDataSize, 'y');
  EXPECT_FALSE(key.SetValue("kept", tooBig.c_str(), REG_SZ));
  EXPECT_EQ(key.GetLastError(), kErrorInvalidParameter);
  EXPECT_FALSE(key.SetValue("kept", std::vector<std::string>{tooBig}));
  EXPECT_EQ(key.GetValue("kept", "-"), "old");

  EXPECT_FALSE(key.SetValue(std::string(kMaxValueNameLength + 1, 'n').c_str(), "x", REG_SZ));
  EXPECT_EQ(key.GetLastError(), kErrorFilenameExcedRange);

  // A caller's buffer that is too small gets the size needed.
  BYTE small[2];
  size = sizeof(small);
  EXPECT_FALSE(key.QueryValue("kept", small, &size, &type, nullptr));
  EXPECT_EQ(key.GetLastError(), kErrorMoreData);
  EXPECT_EQ(size, 4u);
  BYTE enough[4];
  EXPECT_TRUE(key.QueryValue("kept", enough, &size, &type, nullptr));
  EXPECT_STREQ(reinterpret_cast<char*>(enough), "old");
}

TEST(QRRegistryOpenClose, OpensNestAndForceClosesAtOnce) {
  QRRegistry key = ProductKey();
  EXPECT_EQ(key.GetKey(), nullptr);
  ASSERT_TRUE(key.Open(0));
  HKEY handle = key.GetKey();
  ASSERT_NE(handle, nullptr);
  ASSERT_TRUE(key.Open(0));
  EXPECT_EQ(key.GetKey(), handle);
  EXPECT_TRUE(key.Close(0));
  EXPECT_EQ(key.GetKey(), handle);  // one Open still unmatched
  EXPECT_TRUE(key.SetValue("v", DWORD{1}, REG_DWORD));
  EXPECT_EQ(key.GetKey(), handle);  // operations nest inside the explicit open
  EXPECT_TRUE(key.Close(0));
  EXPECT_EQ(key.GetKey(), nullptr);
  EXPECT_EQ(RegCloseKey(handle), static_cast<LONG>(kErrorInvalidHandle));  // really released

  ASSERT_TRUE(key.Open(0));
  ASSERT_TRUE(key.Open(0));
  EXPECT_TRUE(key.Close(1));
  EXPECT_EQ(key.GetKey(), nullptr);
  EXPECT_TRUE(key.Close(0));  // an extra Close is harmless

  QRRegistry missing(QRRegistry(HKEY_LOCAL_MACHINE), "No\\Such\\Key");
  EXPECT_FALSE(missing.Open(0));
  EXPECT_EQ(missing.GetLastError(), kErrorFileNotFound);
  EXPECT_EQ(missing.GetKey(), nullptr);
  EXPECT_TRUE(missing.Open(1));
  EXPECT_TRUE(KeyExists("No\\Such\\Key"));
  missing.Close(0);
}

TEST(QRRegistryOpenClose, CopiesNeverShareTheHandle) {
  QRRegistry key = ProductKey();
  ASSERT_TRUE(key.Open(0));
  QRRegistry copy(key);
  EXPECT_EQ(copy.GetKey(), nullptr);
  EXPECT_EQ(copy.GetKeyPath(), kPath);
  EXPECT_EQ(copy.GetKeyRoot(), HKEY_LOCAL_MACHINE);
  key.Close(1);
  EXPECT_TRUE(copy.SetValue("v", "from copy", REG_SZ));
  QRRegistry assigned;
  assigned = copy;
  EXPECT_EQ(assigned.GetValue("v", "-"), "from copy");
}

TEST(QRRegistryOpenClose, ConcurrentOperationsOnOneWrapper) {
  QRRegistry key = ProductKey();
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&key, &failures, t] {
      for (DWORD i = 0; i < 100; ++i) {
        std::string name = "Threads\\t" + std::to_string(t);
        DWORD read = 0;
        if (!key.SetValue(name.c_str(), i, REG_DWORD) || !key.GetValue(name.c_str(), &read) ||
            read != i) {
          ++failures;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(key.GetKey(), nullptr);  // every nested open was matched
}

TEST(QRRegistryDelete, ValuesUnderMissingKeysAreAlreadyGone) {
  QRRegistry key = ProductKey();
  QRRegistry missing(QRRegistry(HKEY_LOCAL_MACHINE), "Not\\There");
  EXPECT_TRUE(missing.DeleteValue("anything"));
  EXPECT_TRUE(key.DeleteValue("NoSubKey\\anything"));
  EXPECT_FALSE(KeyExists("Not\\There"));
  EXPECT_FALSE(key.DoesKeyExist("NoSubKey"));

  EXPECT_FALSE(key.DeleteValue("absent"));
  EXPECT_EQ(key.GetLastError(), kErrorFileNotFound);
  ASSERT_TRUE(key.SetValue("Sub\\v", DWORD{1}, REG_DWORD));
  EXPECT_TRUE(key.DeleteValue("sub\\V"));
  EXPECT_FALSE(key.DoesValueExist("Sub\\v"));
  EXPECT_TRUE(key.DoesKeyExist("Sub"));
}

TEST(QRRegistryDelete, KeysGoWithEverythingBelowThem) {
  QRRegistry key = ProductKey();
  for (const char* name : {"Tree\\A\\A1\\v", "Tree\\A\\A2\\v", "Tree\\B\\v", "Tree\\v", "Sibling\\v"}) {
    ASSERT_TRUE(key.SetValue(name, DWORD{1}, REG_DWORD));
  }
  EXPECT_TRUE(key.DeleteKey("tree"));
  EXPECT_FALSE(key.DoesKeyExist("Tree"));
  EXPECT_TRUE(key.DoesValueExist("Sibling\\v"));
  EXPECT_FALSE(key.DeleteKey("Tree"));
  EXPECT_EQ(key.GetLastError(), kErrorFileNotFound);

  ASSERT_TRUE(key.SetValue("Deep\\X\\Y\\v", DWORD{1}, REG_DWORD));
  EXPECT_TRUE(key.DeleteKey("Deep\\X"));
  EXPECT_TRUE(key.DoesKeyExist("Deep"));
  EXPECT_FALSE(key.DoesKeyExist("Deep\\X"));
}

TEST(QRRegistryEnumeration, NamesInOrderThenThrowsZero) {
  QRRegistry key = ProductKey();
  for (const char* name : {"Zeta\\v", "alpha\\v", "Mid\\v"}) ASSERT_TRUE(key.SetValue(name, DWORD{1}, REG_DWORD));
  ASSERT_TRUE(key.SetValue("second", "2", REG_SZ));
  ASSERT_TRUE(key.SetValue("first", DWORD{1}, REG_DWORD));

  EXPECT_EQ(key.GetNumberOfSubKeys(), 3u);
  EXPECT_EQ(key.GetNumberOfValues(), 2u);
  std::vector<std::string> keys;
  try {
    for (DWORD i = 0;; ++i) keys.push_back(key.EnumKey(i));
  } catch (int thrown) {
    EXPECT_EQ(thrown, 0);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"alpha", "Mid", "Zeta"}));
  EXPECT_EQ(key.GetLastError(), kErrorNoMoreItems);

  DWORD type = 0;
  EXPECT_EQ(key.EnumValue(0, &type), "second");
  EXPECT_EQ(type, REG_SZ);
  BYTE data[8];
  DWORD size = sizeof(data);
  EXPECT_EQ(key.EnumValue(1, data, &size, &type), "first");
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(size, 4u);
  EXPECT_THROW(key.EnumValue(2, &type), int);

  QRRegistry child = key.EnumRegistryKey(1);
  EXPECT_EQ(child.GetKeyPath(), std::string(kPath) + "\\Mid");
  EXPECT_EQ(child.GetValue("v", DWORD{0}), 1u);

  QRRegistry missing(QRRegistry(HKEY_LOCAL_MACHINE), "Missing");
  EXPECT_THROW(missing.EnumKey(0), int);
  EXPECT_EQ(missing.GetNumberOfSubKeys(), 0u);
  EXPECT_FALSE(KeyExists("Missing"));
}

TEST(QRRegistrySetKey, PathsJoinAndComputerNamesFollowTheParent) {
  ProductKey();
  QRRegistry machine(HKEY_LOCAL_MACHINE);
  QRRegistry software(machine, "\\SOFTWARE");
  EXPECT_EQ(software.GetKeyPath(), "SOFTWARE");
  QRRegistry product(software, "Orrinvale\\Test");
  EXPECT_EQ(product.GetKeyPath(), kPath);
  QRRegistry same("", product);
  EXPECT_EQ(same.GetKeyPath(), kPath);
  QRRegistry again(product, nullptr, nullptr);
  EXPECT_EQ(std::string(again), kPath);
  EXPECT_EQ(again.GetKeyRoot(), HKEY_LOCAL_MACHINE);

  // This machine by name: reachable for HKEY_LOCAL_MACHINE, inherited by children.
  std::string host = "\\\\" + GetHostName();
  QRRegistry remote(machine, kPath, host.c_str());
  EXPECT_EQ(remote.GetKeyComputerName(), host);
  ASSERT_TRUE(remote.SetValue("remote", DWORD{3}, REG_DWORD));
  EXPECT_EQ(product.GetValue("remote", DWORD{0}), 3u);
  QRRegistry remoteChild(remote, "Comm");
  EXPECT_EQ(remoteChild.GetKeyComputerName(), host);

  QRRegistry elsewhere(machine, kPath, "\\\\elsewhere");
  EXPECT_FALSE(elsewhere.Open(0));
  EXPECT_EQ(elsewhere.GetLastError(), kErrorBadNetPath);
  EXPECT_EQ(elsewhere.GetValue("remote", DWORD{9}), 9u);

  // Other roots cannot be reached by name: the child drops the name and
  // continues from the parent's open key.
  QRRegistry user(QRRegistry(HKEY_CURRENT_USER), "Console", host.c_str());
  EXPECT_FALSE(user.Open(0));
  QRRegistry userChild(user, "Sub");
  EXPECT_EQ(userChild.GetKeyComputerName(), "");
}

TEST(QRRegistrySetKey, AnOpenKeyAsRootIsOpenedAtOnce) {
  QRRegistry product = ProductKey();
  ASSERT_TRUE(product.Open(0));
  {
    QRRegistry lent(product.GetKey());
    ASSERT_TRUE(lent.SetValue("lent", DWORD{1}, REG_DWORD));
    EXPECT_EQ(lent.GetValue("lent", DWORD{0}), 1u);  // still usable after an operation
    QRRegistry child(lent, "Child");
    EXPECT_NE(child.GetKey(), nullptr);  // opened (and created) by SetKey
    EXPECT_TRUE(product.DoesKeyExist("Child"));
    ASSERT_TRUE(child.SetValue("v", "x", REG_SZ));
    // Reading a subkey name through such a wrapper creates nothing.
    EXPECT_EQ(lent.GetValue("Ghost\\v", "-"), "-");
    EXPECT_FALSE(product.DoesKeyExist("Ghost"));
  }
  // The lent handle belongs to `product` and survives the wrappers above.
  EXPECT_EQ(product.GetValue("Child\\v", "-"), "x");
  EXPECT_EQ(product.GetValue("lent", DWORD{0}), 1u);
  product.Close(0);
}

}  // namespace

// As the settings catalogue does: its own key is created by any operation.
class CreatingRegistry : public QRRegistry {
 public:
  CreatingRegistry(const QRRegistry& parent, const char* path) : QRRegistry(parent, path) {
    m_bCreateOnOpen = 1;
  }
};

TEST(QRRegistryOpenClose, CreateOnPlainOpenMakesTheKeyOnFirstUse) {
  ProductKey();
  CreatingRegistry reader(QRRegistry(HKEY_LOCAL_MACHINE), "SOFTWARE\\Orrinvale\\Test\\Read");
  EXPECT_EQ(reader.GetValue("v", DWORD{4}), 4u);
  EXPECT_TRUE(KeyExists("SOFTWARE\\Orrinvale\\Test\\Read"));
  // Subkeys in value names are still not created by reads.
  EXPECT_EQ(reader.GetValue("Sub\\v", DWORD{4}), 4u);
  EXPECT_FALSE(KeyExists("SOFTWARE\\Orrinvale\\Test\\Read\\Sub"));

  CreatingRegistry writer(QRRegistry(HKEY_LOCAL_MACHINE), "SOFTWARE\\Orrinvale\\Test\\Write");
  EXPECT_TRUE(writer.SetValue("v", DWORD{5}, REG_DWORD));
  QRRegistry copy(writer);  // copies keep the behaviour
  copy.DeleteKey("");
  EXPECT_TRUE(copy.SetValue("v", DWORD{6}, REG_DWORD));
  EXPECT_EQ(writer.GetValue("v", DWORD{0}), 6u);

  QRRegistry plain(QRRegistry(HKEY_LOCAL_MACHINE), "SOFTWARE\\Orrinvale\\Test\\Plain");
  EXPECT_FALSE(plain.SetValue("v", DWORD{5}, REG_DWORD));
  EXPECT_EQ(plain.GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(KeyExists("SOFTWARE\\Orrinvale\\Test\\Plain"));
}
