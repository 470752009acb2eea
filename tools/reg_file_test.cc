#include "tools/reg_file.h"

#include <gtest/gtest.h>

#include "platform/registry.h"

namespace zondrelctl {
namespace {

using namespace std::string_literals;
using Kind = RegFileEntry::Kind;

std::vector<BYTE> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

RegFileContents ParseOk(const std::string& text) {
  RegFileContents contents = ParseRegFile(text);
  EXPECT_TRUE(contents.ok()) << "line " << contents.errorLine << ": " << contents.error;
  return contents;
}

TEST(RegFileParse, ReadsEveryFormOfBothHeaders) {
  for (std::string header : {"REGEDIT4", "Windows Registry Editor Version 5.00"}) {
    auto contents = ParseOk(header +
                            "\r\n\r\n; a comment\r\n"
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orrinvale\\Zondrel\\Comm]\r\n"
                            "\"LISTEN1\"=\"127.0.0.1,18080\"\r\n"
                            "@=\"C:\\\\dir\\\\ \\\"q\\\"\"\r\n"
                            "\"Port\"=dword:00001f90\r\n"
                            "\"Bin\"=hex:01,ab,\\\r\n"
                            "  ff\r\n"
                            "\"Exp\"=hex(2):25,00\r\n"
                            "\"Multi\"=hex(7):61,00,62,00,00\r\n"
                            "\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
                            "\"Gone\"=-\r\n"
                            "[-hklm\\SOFTWARE\\Old]\r\n");
    ASSERT_EQ(contents.entries.size(), 10u) << header;
    const auto& e = contents.entries;
    EXPECT_EQ(e[0].kind, Kind::kKey);
    EXPECT_EQ(e[0].key.root, RegRoot::kLocalMachine);
    EXPECT_EQ(e[0].key.subKey, "SOFTWARE\\Orrinvale\\Zondrel\\Comm");
    EXPECT_EQ(e[0].line, 4u);
    EXPECT_EQ(e[1].value, (RegValue{"LISTEN1", platform::REG_SZ, Bytes(std::string("127.0.0.1,18080\0", 16))}));
    EXPECT_EQ(e[2].value, (RegValue{"", platform::REG_SZ, Bytes(std::string("C:\\dir\\ \"q\"\0", 12))}));
    EXPECT_EQ(e[3].value, (RegValue{"Port", platform::REG_DWORD, {0x90, 0x1f, 0, 0}}));
    EXPECT_EQ(e[4].value, (RegValue{"Bin", platform::REG_BINARY, {0x01, 0xab, 0xff}}));
    EXPECT_EQ(e[5].value, (RegValue{"Exp", platform::REG_EXPAND_SZ, {0x25, 0}}));
    EXPECT_EQ(e[6].value, (RegValue{"Multi", platform::REG_MULTI_SZ, {'a', 0, 'b', 0, 0}}));
    EXPECT_EQ(e[7].value.type, kRegQword);
    EXPECT_EQ(e[8].kind, Kind::kDeleteValue);
    EXPECT_EQ(e[8].value.name, "Gone");
    EXPECT_EQ(e[9].kind, Kind::kDeleteKey);
    EXPECT_EQ(e[9].key.subKey, "SOFTWARE\\Old");
    EXPECT_EQ(e[9].line, 14u);
  }
}

TEST(RegFileParse, AcceptsBomsLoneLineFeedsAndShortRoots) {
  auto utf8 = ParseOk("\xEF\xBB\xBFREGEDIT4\n[HKCU\\A]\n\"x\"=dword:1\n");
  ASSERT_EQ(utf8.entries.size(), 2u);
  EXPECT_EQ(utf8.entries[0].key.root, RegRoot::kCurrentUser);
  EXPECT_EQ(utf8.entries[1].value.data, (std::vector<BYTE>{1, 0, 0, 0}));

  // UTF-16LE with BOM, as the classic editor writes it; "é" becomes UTF-8.
  std::string narrow = "REGEDIT4\r\n[HKU\\B]\r\n\"n\"=\"\xC3\xA9\"\r\n";
  std::u16string wide = u"REGEDIT4\r\n[HKU\\B]\r\n\"n\"=\"\u00E9\"\r\n";
  std::string utf16 = "\xFF\xFE";
  for (char16_t c : wide) {
    utf16 += static_cast<char>(c & 0xFF);
    utf16 += static_cast<char>(c >> 8);
  }
  auto fromWide = ParseOk(utf16);
  auto fromNarrow = ParseOk(narrow);
  ASSERT_EQ(fromWide.entries.size(), 2u);
  EXPECT_EQ(fromWide.entries, fromNarrow.entries);
  EXPECT_EQ(fromWide.entries[0].key.root, RegRoot::kUsers);
}

TEST(RegFileParse, BackslashesInsideQuotesDoNotContinueTheLine) {
  auto contents = ParseOk(
      "REGEDIT4\n[HKCR\\K]\n\"a\\\\\"=\"ends with \\\\\"\n\"b\"=hex:\\\n  01,\\\n  02\n");
  ASSERT_EQ(contents.entries.size(), 3u);
  EXPECT_EQ(contents.entries[1].value.name, "a\\");
  EXPECT_EQ(contents.entries[1].value.data, Bytes(std::string("ends with \\\0", 12)));
  EXPECT_EQ(contents.entries[2].value.data, (std::vector<BYTE>{1, 2}));
  EXPECT_EQ(contents.entries[2].line, 4u);
}

struct Malformed {
  std::string text;
  std::size_t line;
  const char* reason;  // part of the message
};

TEST(RegFileParse, RejectsMalformedFilesWithTheLineAndNoEntries) {
  const Malformed cases[] = {
      {""s, 1, "empty"},
      {"\n\nREGEDIT5\n"s, 3, "does not start"},
      {"REGEDIT4\n\"a\"=\"b\"\n"s, 2, "before any [key]"},
      {"REGEDIT4\n[HKLM\\A\n"s, 2, "closing ]"},
      {"REGEDIT4\n[HKXX\\A]\n"s, 2, "HKLM"},
      {"REGEDIT4\n[HKLM\\A\\\\B]\n"s, 2, "empty component"},
      {"REGEDIT4\n[-HKLM]\n"s, 2, "root key"},
      {"REGEDIT4\n[-HKLM\\A]\n\"a\"=\"b\"\n"s, 3, "[-key]"},
      {"REGEDIT4\n[HKLM\\A]\n\"a\"=dword:123456789\n"s, 3, "dword"},
      {"REGEDIT4\n[HKLM\\A]\n\"a\"=dword:xyz\n"s, 3, "dword"},
      {"REGEDIT4\n[HKLM\\A]\n\"a\"=hex:1,2g\n"s, 3, "not a hex byte"},
      {"REGEDIT4\n[HKLM\\A]\n\"a\"=hex:123\n"s, 3, "not a hex byte"},
      {"REGEDIT4\n[HKLM\\A]\n\"a\"=hex:01,,02\n"s, 3, "not a hex byte"},
      {"REGEDIT4\n[HKLM\\A]\n\"a\"=hex(zz):01\n"s, 3, "type number"},
      {"REGEDIT4\n[HKLM\\A]\n\"a\"=hex(2)01\n"s, 3, "type number"},
      {"REGEDIT4\n[HKLM\\A]\n\"a\"=\"b\n"s, 3, "closing quote"},
      {"REGEDIT4\n[HKLM\\A]\n\"a\"=\"b\\n\"\n"s, 3, "unknown escape"},
      {"REGEDIT4\n[HKLM\\A]\n\"a\"=\"b\" x\n"s, 3, "unexpected text"},
      {"REGEDIT4\n[HKLM\\A]\n\"a\"\"b\"\n"s, 3, "not followed by ="},
      {"REGEDIT4\n[HKLM\\A]\n\"a\"=qword:1\n"s, 3, "unknown value data"},
      {"REGEDIT4\n[HKLM\\A]\nname=\"x\"\n"s, 3, "expected a [key]"},
      {"REGEDIT4\n[HKLM\\A]\n\"a\"=hex:01,\\\n"s, 3, "past the end"},
      {"REGEDIT4\n[HKLM\\A]\n\"a\"=\"x\"\n\"b\"=\"\0\"\n"s, 4, "NUL"},
      {"\xFF\xFE\x41"s, 1, "UTF-16"},
  };
  for (const auto& c : cases) {
    auto contents = ParseRegFile(c.text);
    EXPECT_FALSE(contents.ok()) << c.text;
    EXPECT_EQ(contents.errorLine, c.line) << c.text << ": " << contents.error;
    EXPECT_NE(contents.error.find(c.reason), std::string::npos) << c.text << ": " << contents.error;
    EXPECT_TRUE(contents.entries.empty()) << c.text;
  }
}

TEST(RegFileParse, EnforcesTheRegistryLimits) {
  std::string component(platform::kMaxKeyNameLength, 'k');
  EXPECT_TRUE(ParseRegFile("REGEDIT4\n[HKLM\\" + component + "]\n").ok());
  auto tooLongKey = ParseRegFile("REGEDIT4\n[HKLM\\" + component + "k]\n");
  EXPECT_EQ(tooLongKey.errorLine, 2u);
  EXPECT_NE(tooLongKey.error.find("255"), std::string::npos);

  std::string name(platform::kMaxValueNameLength, 'n');
  EXPECT_TRUE(ParseRegFile("REGEDIT4\n[HKLM\\A]\n\"" + name + "\"=dword:0\n").ok());
  auto tooLongName = ParseRegFile("REGEDIT4\n[HKLM\\A]\n\"" + name + "n\"=dword:0\n");
  EXPECT_EQ(tooLongName.errorLine, 3u);
  EXPECT_NE(tooLongName.error.find("16383"), std::string::npos);

  std::string hex = "hex:";
  for (std::size_t i = 0; i < platform::kMaxValueDataSize; ++i) hex += i == 0 ? "00" : ",00";
  auto largest = ParseRegFile("REGEDIT4\n[HKLM\\A]\n\"a\"=" + hex + "\n");
  ASSERT_TRUE(largest.ok()) << largest.error;
  EXPECT_EQ(largest.entries[1].value.data.size(), platform::kMaxValueDataSize);
  auto tooLarge = ParseRegFile("REGEDIT4\n[HKLM\\A]\n\"a\"=" + hex + ",00\n");
  EXPECT_EQ(tooLarge.errorLine, 3u);
  EXPECT_NE(tooLarge.error.find("limit"), std::string::npos);
}

// Writing then reading gives back every value exactly, whatever its bytes.
TEST(RegFileWrite, RoundTripsEveryTypeAndOddBytes) {
  std::vector<RegValue> values = {
      {"", platform::REG_SZ, Bytes(std::string("default\0", 8))},
      {"sz \"quoted\" \\ name", platform::REG_SZ, Bytes(std::string("C:\\x \"y\"\0", 10))},
      {"empty sz", platform::REG_SZ, {0}},
      {"sz without NUL", platform::REG_SZ, Bytes("abc")},
      {"sz with inner NUL", platform::REG_SZ, Bytes(std::string("a\0b\0", 4))},
      {"sz with line break", platform::REG_SZ, Bytes(std::string("a\r\nb\0", 5))},
      {"expand", platform::REG_EXPAND_SZ, Bytes(std::string("%TEMP%\\x\0", 9))},
      {"multi", platform::REG_MULTI_SZ, Bytes(std::string("a\0bc\0\0", 6))},
      {"dword", platform::REG_DWORD, {0x78, 0x56, 0x34, 0x12}},
      {"short dword", platform::REG_DWORD, {1, 2}},
      {"qword", kRegQword, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"binary", platform::REG_BINARY, {}},
      {"none", platform::REG_NONE, {0xff}},
      {"odd type", 0x12345678, {9}},
  };
  RegValue large{"large", platform::REG_BINARY, {}};
  for (int i = 0; i < 1000; ++i) large.data.push_back(static_cast<BYTE>(i * 7));
  values.push_back(large);

  RegKeyPath key{RegRoot::kLocalMachine, "SOFTWARE\\Orrinvale\\Zondrel"};
  std::string text = std::string(kRegFileHeader) + FormatRegSection(key, values);
  auto contents = ParseOk(text);
  ASSERT_EQ(contents.entries.size(), values.size() + 1);
  EXPECT_EQ(contents.entries[0].key.Format(), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orrinvale\\Zondrel");
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(contents.entries[i + 1].kind, Kind::kValue);
    EXPECT_EQ(contents.entries[i + 1].value, values[i]) << values[i].name;
  }
  // The plain forms where they are exact; hex lists wrapped below 80 columns.
  EXPECT_NE(text.find("\r\n\"dword\"=dword:12345678\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n@=\"default\"\r\n"), std::string::npos);
  EXPECT_NE(text.find("\"sz without NUL\"=hex(1):61,62,63\r\n"), std::string::npos);
  EXPECT_NE(text.find("\"multi\"=hex(7):61,00,62,63,00,00\r\n"), std::string::npos);
  EXPECT_NE(text.find("\"odd type\"=hex(12345678):09\r\n"), std::string::npos);
  std::size_t lineStart = 0;
  while (lineStart < text.size()) {
    std::size_t end = text.find("\r\n", lineStart);
    if (end == std::string::npos) end = text.size();
    if (text.compare(lineStart, 7, "\"large\"") == 0 || text.compare(lineStart, 2, "  ") == 0) {
      EXPECT_LE(end - lineStart, 80u);
    }
    lineStart = end + 2;
  }
}

}  // namespace
}  // namespace zondrelctl
