// Runs the built zondrelctl against this test's own machine root.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>

#include "platform/event_store.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/testing.h"
#include "base/json_text.h"
#include "tools/reg_key_path.h"
#include "tools/reg_value_text.h"

namespace zondrelctl {
namespace {

using testing_support::RunResult;

constexpr const char* kComm = "HKLM\\SOFTWARE\\Orrinvale\\Zondrel\\Comm";
constexpr const char* kCommLong = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orrinvale\\Zondrel\\Comm";
constexpr const char* kNotFound =
    "ERROR: The system was unable to find the specified registry key or value.\n";

RunResult Ctl(std::vector<std::string> args) {
  args.insert(args.begin(), testing_support::ProgramPath("zondrelctl"));
  return testing_support::Run(args, {}, std::chrono::seconds(30));
}

std::vector<BYTE> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

// Direct registry access, to check what the program stored.
std::optional<RegValue> Stored(const std::string& subKey, const std::string& name) {
  platform::HKEY key = nullptr;
  if (platform::RegOpenKeyEx(platform::HKEY_LOCAL_MACHINE, subKey.c_str(), platform::KEY_READ, &key) != 0) {
    return std::nullopt;
  }
  RegValue value{name, 0, std::vector<BYTE>(platform::kMaxValueDataSize)};
  DWORD size = static_cast<DWORD>(value.data.size());
  platform::LONG result = platform::RegQueryValueEx(key, name.c_str(), &value.type, value.data.data(), &size);
  platform::RegCloseKey(key);
  if (result != 0) return std::nullopt;
  value.data.resize(size);
  return value;
}

void Store(const std::string& subKey, const RegValue& value) {
  platform::HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(platform::RegCreateKeyEx(platform::HKEY_LOCAL_MACHINE, subKey.c_str(),
                                     platform::KEY_ALL_ACCESS, &key, &disposition), 0);
  ASSERT_EQ(platform::RegSetValueEx(key, value.name.c_str(), value.type, value.data.data(),
                                    static_cast<DWORD>(value.data.size())), 0);
  platform::RegCloseKey(key);
}

bool KeyExists(const std::string& subKey) {
  platform::HKEY key = nullptr;
  if (platform::RegOpenKeyEx(platform::HKEY_LOCAL_MACHINE, subKey.c_str(), platform::KEY_READ, &key) != 0) {
    return false;
  }
  platform::RegCloseKey(key);
  return true;
}

const std::string kCommSub = "SOFTWARE\\Orrinvale\\Zondrel\\Comm";

struct AddCase {
  std::vector<std::string> args;  // after the key
  RegValue stored;
  std::string shown;              // the query line
};

TEST(ZondrelctlReg, AddThenQueryEveryType) {
  const AddCase cases[] = {
      {{"/v", "LISTEN1", "/t", "REG_SZ", "/d", "127.0.0.1,18080", "/f"},
       {"LISTEN1", platform::REG_SZ, Bytes(std::string("127.0.0.1,18080\0", 16))},
       "    LISTEN1    REG_SZ    127.0.0.1,18080"},
      {{"/v", "plain", "/d", "no type given"},
       {"plain", platform::REG_SZ, Bytes(std::string("no type given\0", 14))},
       "    plain    REG_SZ    no type given"},
      {{"/v", "Timeout", "/t", "REG_DWORD", "/d", "20"},
       {"Timeout", platform::REG_DWORD, {20, 0, 0, 0}}, "    Timeout    REG_DWORD    0x14"},
      {{"/v", "Mask", "/t", "reg_dword", "/d", "0xC00005F0", "/f"},
       {"Mask", platform::REG_DWORD, {0xF0, 0x05, 0, 0xC0}}, "    Mask    REG_DWORD    0xc00005f0"},
      {{"/v", "Big", "/t", "REG_QWORD", "/d", "0x100000001"},
       {"Big", kRegQword, {1, 0, 0, 0, 1, 0, 0, 0}}, "    Big    REG_QWORD    0x100000001"},
      {{"/v", "List", "/t", "REG_MULTI_SZ", "/d", "a\\0b"},
       {"List", platform::REG_MULTI_SZ, Bytes(std::string("a\0b\0\0", 5))}, "    List    REG_MULTI_SZ    a\\0b"},
      {{"/v", "Hashed", "/t", "REG_MULTI_SZ", "/s", "#", "/d", "x#y\\0z"},
       {"Hashed", platform::REG_MULTI_SZ, Bytes(std::string("x\0y\\0z\0\0", 8))},
       "    Hashed    REG_MULTI_SZ    x\\0y\\0z"},
      {{"/v", "Path", "/t", "REG_EXPAND_SZ", "/d", "%TEMP%\\x"},
       {"Path", platform::REG_EXPAND_SZ, Bytes(std::string("%TEMP%\\x\0", 9))},
       "    Path    REG_EXPAND_SZ    %TEMP%\\x"},
      {{"/v", "Blob", "/t", "REG_BINARY", "/d", "00ff1A"},
       {"Blob", platform::REG_BINARY, {0, 0xff, 0x1a}}, "    Blob    REG_BINARY    00FF1A"},
      {{"/v", "Nothing", "/t", "REG_NONE"}, {"Nothing", platform::REG_NONE, {}}, "    Nothing    REG_NONE    "},
      {{"/ve", "/d", "default text"},
       {"", platform::REG_SZ, Bytes(std::string("default text\0", 13))}, "    (Default)    REG_SZ    default text"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> add = {"reg", "add", kComm};
    add.insert(add.end(), c.args.begin(), c.args.end());
    RunResult added = Ctl(add);
    ASSERT_EQ(added.exit_code, 0) << c.shown << ": " << added.error;
    EXPECT_EQ(added.output, "The operation completed successfully.\n");
    auto stored = Stored(kCommSub, c.stored.name);
    ASSERT_TRUE(stored) << c.shown;
    EXPECT_EQ(*stored, c.stored) << c.shown;

    std::vector<std::string> query = {"reg", "query", "hklm\\software\\Orrinvale\\Zondrel\\Comm"};
    if (c.stored.name.empty()) query.push_back("/ve"); else query.insert(query.end(), {"/v", c.stored.name});
    RunResult queried = Ctl(query);
    EXPECT_EQ(queried.exit_code, 0) << c.shown;
    EXPECT_EQ(queried.output, "HKEY_LOCAL_MACHINE\\software\\Orrinvale\\Zondrel\\Comm\n" + c.shown + "\n\n");
  }
  // Without /f an existing value is overwritten all the same.
  ASSERT_EQ(Ctl({"reg", "add", kComm, "/v", "Timeout", "/t", "REG_DWORD", "/d", "21"}).exit_code, 0);
  EXPECT_EQ(Stored(kCommSub, "Timeout")->data, (std::vector<BYTE>{21, 0, 0, 0}));
  // The key alone.
  ASSERT_EQ(Ctl({"reg", "add", "HKLM\\SOFTWARE\\Empty\\Nested"}).exit_code, 0);
  EXPECT_TRUE(KeyExists("SOFTWARE\\Empty\\Nested"));
}

TEST(ZondrelctlReg, QueryListsValuesSubkeysAndRecurses) {
  Store(kCommSub, {"A", platform::REG_DWORD, {1, 0, 0, 0}});
  Store(kCommSub, {"B", platform::REG_SZ, Bytes(std::string("b\0", 2))});
  Store(kCommSub + "\\Sub2\\Deep", {"D", platform::REG_BINARY, {0xab}});
  Store(kCommSub + "\\Sub1", {"C", platform::REG_SZ, Bytes(std::string("c\0", 2))});
  std::string base = kCommLong;

  RunResult listed = Ctl({"reg", "query", kComm});
  EXPECT_EQ(listed.exit_code, 0);
  EXPECT_EQ(listed.output, base + "\n    A    REG_DWORD    0x1\n    B    REG_SZ    b\n\n" + base + "\\Sub1\n" +
                               base + "\\Sub2\n");

  RunResult recursive = Ctl({"reg", "query", kComm, "/s"});
  EXPECT_EQ(recursive.exit_code, 0);
  EXPECT_EQ(recursive.output, base + "\n    A    REG_DWORD    0x1\n    B    REG_SZ    b\n\n" + base +
                                  "\\Sub1\n    C    REG_SZ    c\n\n" + base + "\\Sub2\n\n" + base +
                                  "\\Sub2\\Deep\n    D    REG_BINARY    AB\n\n");

  RunResult found = Ctl({"reg", "query", kComm, "/v", "D", "/s"});
  EXPECT_EQ(found.exit_code, 0);
  EXPECT_EQ(found.output, base + "\\Sub2\\Deep\n    D    REG_BINARY    AB\n\n");

  for (const auto& args : std::vector<std::vector<std::string>>{
           {"reg", "query", kComm, "/v", "Missing"},
           {"reg", "query", kComm, "/ve"},
           {"reg", "query", "HKLM\\SOFTWARE\\NoSuchKey"},
           {"reg", "query", "HKLM\\SOFTWARE\\NoSuchKey", "/v", "A"},
           {"reg", "query", kComm, "/v", "Missing", "/s"}}) {
    RunResult missing = Ctl(args);
    EXPECT_EQ(missing.exit_code, 1) << args.back();
    EXPECT_EQ(missing.error, kNotFound) << args.back();
    EXPECT_EQ(missing.output, "") << args.back();
  }
}

TEST(ZondrelctlReg, DeleteValuesAllValuesAndWholeTrees) {
  Store(kCommSub, {"A", platform::REG_DWORD, {1, 0, 0, 0}});
  Store(kCommSub, {"B", platform::REG_DWORD, {2, 0, 0, 0}});
  Store(kCommSub, {"", platform::REG_SZ, {0}});
  Store(kCommSub + "\\Sub\\Deeper", {"C", platform::REG_DWORD, {3, 0, 0, 0}});

  // No prompt is ever shown, so /f is required.
  RunResult unforced = Ctl({"reg", "delete", kComm, "/v", "A"});
  EXPECT_EQ(unforced.exit_code, 1);
  EXPECT_NE(unforced.error.find("/f"), std::string::npos);
  EXPECT_TRUE(Stored(kCommSub, "A"));

  EXPECT_EQ(Ctl({"reg", "delete", kComm, "/v", "A", "/f"}).exit_code, 0);
  EXPECT_FALSE(Stored(kCommSub, "A"));
  EXPECT_EQ(Ctl({"reg", "delete", kComm, "/v", "A", "/f"}).error, kNotFound);
  EXPECT_EQ(Ctl({"reg", "delete", kComm, "/ve", "/f"}).exit_code, 0);
  EXPECT_FALSE(Stored(kCommSub, ""));
  EXPECT_TRUE(Stored(kCommSub, "B"));

  Store(kCommSub, {"A", platform::REG_DWORD, {1, 0, 0, 0}});
  EXPECT_EQ(Ctl({"reg", "delete", kComm, "/va", "/f"}).exit_code, 0);
  EXPECT_FALSE(Stored(kCommSub, "A"));
  EXPECT_FALSE(Stored(kCommSub, "B"));
  EXPECT_TRUE(Stored(kCommSub + "\\Sub\\Deeper", "C"));  // /va leaves subkeys alone

  EXPECT_EQ(Ctl({"reg", "delete", "HKLM\\SOFTWARE\\Orrinvale", "/f"}).exit_code, 0);
  EXPECT_FALSE(KeyExists("SOFTWARE\\Orrinvale"));
  EXPECT_TRUE(KeyExists("SOFTWARE"));
  RunResult again = Ctl({"reg", "delete", "HKLM\\SOFTWARE\\Orrinvale", "/f"});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_EQ(again.error, kNotFound);
  EXPECT_EQ(Ctl({"reg", "delete", "HKLM", "/f"}).exit_code, 1);
}

TEST(ZondrelctlReg, RefusesBadArgumentsAndOverLongInput) {
  const std::vector<std::vector<std::string>> refused = {
      {"reg", "add", kComm, "/v", "x", "/t", "REG_WORD", "/d", "1"},
      {"reg", "add", kComm, "/v", "x", "/t", "REG_DWORD", "/d", "4294967296"},
      {"reg", "add", kComm, "/v", "x", "/t", "REG_DWORD", "/d", "twenty"},
      {"reg", "add", kComm, "/v", "x", "/t", "REG_BINARY", "/d", "0g"},
      {"reg", "add", kComm, "/v", "x", "/t", "REG_MULTI_SZ", "/s", "##", "/d", "a"},
      {"reg", "add", kComm, "/v", "x", "/t", "REG_SZ", "/s", "#", "/d", "a"},
      {"reg", "add", kComm, "/v", "x", "/ve"},
      {"reg", "add", kComm, "/v"},
      {"reg", "add", kComm, "/q"},
      {"reg", "add", "HKXX\\SOFTWARE"},
      {"reg", "add", "HKLM\\SOFTWARE\\" + std::string(256, 'k')},
      {"reg", "add", kComm, "/v", std::string(16384, 'n'), "/d", "x"},
      {"reg", "frobnicate"},
      {"frobnicate"},
  };
  for (const auto& args : refused) {
    RunResult result = Ctl(args);
    EXPECT_EQ(result.exit_code, 1) << args.back().substr(0, 40);
    EXPECT_EQ(result.error.rfind("ERROR: ", 0), 0u) << result.error;
  }
  EXPECT_FALSE(KeyExists(kCommSub));
  EXPECT_FALSE(KeyExists("SOFTWARE\\" + std::string(256, 'k')));

  // The largest names are accepted.
  EXPECT_EQ(Ctl({"reg", "add", "HKLM\\SOFTWARE\\" + std::string(255, 'k')}).exit_code, 0);
  EXPECT_EQ(Ctl({"reg", "add", kComm, "/v", std::string(16383, 'n'), "/d", "x"}).exit_code, 0);

  RunResult help = Ctl({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.output.find("reg add KEY"), std::string::npos);
  EXPECT_NE(help.output.find("standard\n      input is never read"), std::string::npos);
  EXPECT_EQ(Ctl({}).output, help.output);
}

// Odd bytes of every type, a 1 MiB value, a default value and nested keys.
std::vector<RegValue> AwkwardValues() {
  RegValue large{"large", platform::REG_BINARY, std::vector<BYTE>(platform::kMaxValueDataSize)};
  for (std::size_t i = 0; i < large.data.size(); ++i) large.data[i] = static_cast<BYTE>(i * 31 + 7);
  return {
      {"", platform::REG_SZ, Bytes(std::string("default\0", 8))},
      {"quote \" and \\ backslash", platform::REG_SZ, Bytes(std::string("C:\\dir\\\"x\"\0", 11))},
      {"sz without NUL", platform::REG_SZ, Bytes("abc")},
      {"sz with line break", platform::REG_SZ, Bytes(std::string("a\r\nb\0", 5))},
      {"utf8 \xC3\xA9", platform::REG_SZ, Bytes(std::string("\xC3\xA9t\xC3\xA9\0", 6))},
      {"expand", platform::REG_EXPAND_SZ, Bytes(std::string("%PATH%;x\0", 9))},
      {"multi", platform::REG_MULTI_SZ, Bytes(std::string("one\0two\0\0", 9))},
      {"dword", platform::REG_DWORD, {0xF0, 0x05, 0x00, 0xC0}},
      {"short dword", platform::REG_DWORD, {7}},
      {"qword", kRegQword, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"empty binary", platform::REG_BINARY, {}},
      {"none", platform::REG_NONE, {0, 1}},
      {"type 0x4242", 0x4242, {0x42}},
      large,
  };
}

TEST(ZondrelctlReg, ExportThenImportGivesBackEveryValueExactly) {
  const std::string base = "SOFTWARE\\Orrinvale\\Zondrel";
  auto values = AwkwardValues();
  for (const auto& value : values) Store(base, value);
  Store(base + "\\Comm", {"LISTEN1", platform::REG_SZ, Bytes(std::string("127.0.0.1,18080\0", 16))});
  Store(base + "\\Comm\\Deeper", {"n", platform::REG_DWORD, {1, 0, 0, 0}});
  Store(base + "\\Empty", {"x", platform::REG_NONE, {}});
  ASSERT_EQ(Ctl({"reg", "delete", "HKLM\\" + base + "\\Empty", "/va", "/f"}).exit_code, 0);

  std::string dir = testing_support::MakeTempDir("export");
  std::string file = dir + "/zondrel.reg";
  RunResult exported = Ctl({"reg", "export", "HKLM\\" + base, file});
  ASSERT_EQ(exported.exit_code, 0) << exported.error;
  std::string text = testing_support::ReadFile(file);
  EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orrinvale\\Zondrel]\r\n", 0), 0u);
  EXPECT_NE(text.find("\r\n\"multi\"=hex(7):6f,6e,65,00,74,77,6f,00,00\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orrinvale\\Zondrel\\Empty]\r\n"), std::string::npos);

  // An existing file is kept unless /y is given.
  RunResult refused = Ctl({"reg", "export", "HKLM\\" + base, file});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.error.find("/y"), std::string::npos);
  EXPECT_EQ(Ctl({"reg", "export", "HKLM\\" + base, file, "/y"}).exit_code, 0);
  EXPECT_EQ(testing_support::ReadFile(file), text);

  ASSERT_EQ(Ctl({"reg", "delete", "HKLM\\SOFTWARE\\Orrinvale", "/f"}).exit_code, 0);
  ASSERT_FALSE(KeyExists(base));
  RunResult imported = Ctl({"reg", "import", file});
  ASSERT_EQ(imported.exit_code, 0) << imported.error;
  for (const auto& value : values) {
    auto stored = Stored(base, value.name);
    ASSERT_TRUE(stored) << value.name;
    EXPECT_EQ(*stored, value) << value.name;
  }
  EXPECT_EQ(Stored(base + "\\Comm\\Deeper", "n")->data, (std::vector<BYTE>{1, 0, 0, 0}));
  EXPECT_TRUE(KeyExists(base + "\\Empty"));

  std::string again = dir + "/again.reg";
  ASSERT_EQ(Ctl({"reg", "export", "HKLM\\" + base, again}).exit_code, 0);
  EXPECT_EQ(testing_support::ReadFile(again), text);
  EXPECT_EQ(Ctl({"reg", "export", "HKLM\\SOFTWARE\\NoSuchKey", dir + "/none.reg"}).error, kNotFound);
  EXPECT_FALSE(std::filesystem::exists(dir + "/none.reg"));
}

TEST(ZondrelctlReg, ImportAppliesDeletionsAndRefusesMalformedFilesWhole) {
  Store("SOFTWARE\\Old\\Below", {"x", platform::REG_DWORD, {1, 0, 0, 0}});
  Store("SOFTWARE\\Keep", {"gone", platform::REG_DWORD, {1, 0, 0, 0}});
  std::string dir = testing_support::MakeTempDir("import");
  std::string good = dir + "/good.reg";
  testing_support::WriteFile(good,
                             "REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\n[HKLM\\SOFTWARE\\Keep]\n"
                             "\"gone\"=-\n\"new\"=dword:0000002a\n");
  RunResult applied = Ctl({"reg", "import", good});
  ASSERT_EQ(applied.exit_code, 0) << applied.error;
  EXPECT_FALSE(KeyExists("SOFTWARE\\Old"));
  EXPECT_FALSE(Stored("SOFTWARE\\Keep", "gone"));
  EXPECT_EQ(Stored("SOFTWARE\\Keep", "new")->data, (std::vector<BYTE>{42, 0, 0, 0}));

  std::string hugeHex = "hex:00";
  for (std::size_t i = 0; i < platform::kMaxValueDataSize; ++i) hugeHex += ",00";
  const std::pair<std::string, std::string> malformed[] = {
      {"Windows Registry Editor Version 5.00\r\n\r\n[HKLM\\SOFTWARE\\New]\r\n\"a\"=dword:1\r\n"
       "\"b\"=dword:123456789\r\n",
       "line 5:"},
      {"REGEDIT4\n[HKLM\\SOFTWARE\\New]\n\"big\"=" + hugeHex + "\n", "line 3:"},
      {"REGEDIT4\n[HKLM\\SOFTWARE\\New]\n\"" + std::string(16384, 'n') + "\"=dword:1\n", "line 3:"},
      {"REGEDIT4\n[HKLM\\SOFTWARE\\New\\" + std::string(256, 'k') + "]\n", "line 2:"},
      {"[HKLM\\SOFTWARE\\New]\n", "line 1:"},
      {"REGEDIT4\n[-HKLM\\SOFTWARE\\Keep]\n[HKLM\\SOFTWARE\\New]\n\"a\"=\"unterminated\n", "line 4:"},
  };
  for (const auto& [text, where] : malformed) {
    std::string file = dir + "/bad.reg";
    testing_support::WriteFile(file, text);
    RunResult result = Ctl({"reg", "import", file});
    EXPECT_EQ(result.exit_code, 1) << where;
    EXPECT_NE(result.error.find(where), std::string::npos) << result.error;
    EXPECT_NE(result.error.find("Nothing was imported"), std::string::npos) << result.error;
    EXPECT_FALSE(KeyExists("SOFTWARE\\New")) << where;
    EXPECT_TRUE(KeyExists("SOFTWARE\\Keep")) << where;
  }
  EXPECT_EQ(Ctl({"reg", "import", dir + "/missing.reg"}).exit_code, 1);
}

TEST(ZondrelctlEvent, SetsANamedEventHeldByAnotherProcess) {
  RunResult nobody = Ctl({"event", "set", "BuildCorpFile"});
  EXPECT_EQ(nobody.exit_code, 1);
  EXPECT_NE(nobody.error.find("No process holds the named event \"BuildCorpFile\""), std::string::npos);

  auto event = platform::Event::CreateNamed("BuildCorpFile", false, false);
  ASSERT_TRUE(event);
  ASSERT_FALSE(event->IsSet());
  RunResult set = Ctl({"event", "set", "BuildCorpFile"});
  EXPECT_EQ(set.exit_code, 0) << set.error;
  EXPECT_EQ(platform::WaitForSingleObject(*event, 5000), platform::kWaitObject0);
  EXPECT_EQ(Ctl({"event", "reset", "BuildCorpFile"}).exit_code, 1);
}

std::string Utc(std::int64_t seconds) {
  std::time_t time = static_cast<std::time_t>(seconds);
  std::tm parts{};
  ::gmtime_r(&time, &parts);
  char buffer[32];
  std::strftime(buffer, sizeof(buffer), "%Y-%m-%d %H:%M:%S", &parts);
  return buffer;
}

TEST(ZondrelctlEventLog, PrintsRecordsWithTheirMessageTexts) {
  ::setenv("TZ", "UTC", 1);  // the program prints local time
  std::string dir = testing_support::MakeTempDir("messages");
  std::string messages = dir + "/relay.msg";
  testing_support::WriteFile(messages, "; texts\n0xC00005F0 The %1 service was installed.\n");
  Store("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\zondrel",
        {"EventMessageFile", platform::REG_SZ, Bytes(dir + "/missing.msg;" + messages + std::string(1, '\0'))});

  ASSERT_TRUE(platform::AppendEventRecord("zondrel", platform::EVENTLOG_INFORMATION_TYPE, 1, 0xC00005F0,
                                          {"Zon\"drel\nX"}));
  ASSERT_TRUE(platform::AppendEventRecord("other", platform::EVENTLOG_ERROR_TYPE, 3, 0x12345,
                                          {"first", "bad \xFF byte"}));
  auto records = platform::ReadEventRecords();
  ASSERT_EQ(records.size(), 2u);

  RunResult text = Ctl({"eventlog"});
  ASSERT_EQ(text.exit_code, 0) << text.error;
  // A line break inside a record cannot forge a line of its own.
  EXPECT_EQ(text.output,
            "#" + std::to_string(records[0].record) + " " + Utc(records[0].time) +
                " zondrel Information (category 1, id 0xC00005F0): The Zon\"drel X service was installed.\n"
                "#" + std::to_string(records[1].record) + " " + Utc(records[1].time) +
                " other Error (category 3, id 0x00012345): (no message text) first, bad \xFF byte\n");

  RunResult json = Ctl({"eventlog", "--json"});
  ASSERT_EQ(json.exit_code, 0) << json.error;
  EXPECT_EQ(json.output,
            "{\"record\":" + std::to_string(records[0].record) + ",\"time\":" + std::to_string(records[0].time) +
                ",\"source\":\"zondrel\",\"type\":4,\"category\":1,\"id\":3221226992,"
                "\"strings\":[\"Zon\\\"drel\\nX\"],\"message\":\"The Zon\\\"drel\\nX service was installed.\"}\n"
                "{\"record\":" + std::to_string(records[1].record) + ",\"time\":" + std::to_string(records[1].time) +
                ",\"source\":\"other\",\"type\":1,\"category\":3,\"id\":74565,"
                "\"strings\":[\"first\",\"bad \\ufffd byte\"],"
                "\"message\":\"(no message text) first, bad \\ufffd byte\"}\n");
}

// The message file shipped beside the program serves sources that registered none.
TEST(ZondrelctlEventLog, FallsBackToTheMessageFileBesideTheProgram) {
  std::string shipped = std::filesystem::path(testing_support::ProgramPath("zondrelctl")).parent_path() / "evtmsgs.msg";
  if (!std::filesystem::exists(shipped)) GTEST_SKIP() << "no " << shipped;
  std::string expected = platform::FormatEventMessage(shipped, 0xC00005F0, {"zondrel"});
  ASSERT_FALSE(expected.empty());
  ASSERT_TRUE(platform::AppendEventRecord("zondrel", platform::EVENTLOG_INFORMATION_TYPE, 1, 0xC00005F0, {"zondrel"}));
  RunResult json = Ctl({"eventlog", "--json"});
  EXPECT_EQ(json.exit_code, 0);
  EXPECT_NE(json.output.find(",\"message\":" + json::JsonQuote(expected) + "}\n"), std::string::npos) << json.output;
}

}  // namespace
}  // namespace zondrelctl
