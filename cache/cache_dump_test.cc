// The cache dump report, byte for byte: an empty cache, flags that leave
// parts out, and a full report with times, sizes and raw records.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "cache/cache_dump.h"
#include "cache/cache_table.h"
#include "cache/cache_testing.h"
#include "platform/testing.h"

namespace {

const std::string kLine = std::string(69, '=') + "\r\n";

class CacheDump : public testing::Test {
 protected:
  void SetUp() override {
    // Times in the report are local; the expected texts are in UTC.
    setenv("TZ", "UTC", 1);
    tzset();
  }

  std::string Dump(std::uint32_t flags) {
    const std::string path = testing_support::MakeTempDir("dump") + "/dump.log";
    auto file = platform::File::Open(path, platform::File::Mode::kCreate);
    EXPECT_NE(file, nullptr);
    EXPECT_EQ(DumpCache(m_Table, *file, flags), 1);
    file.reset();
    return testing_support::ReadFile(path);
  }

  // Entry "1000\\x" holding the records of items 7 and 9.
  void Fill() {
    CCacheEntry* entry = m_Table.FindOrCreate("1000\\x");
    ASSERT_TRUE(entry->Lock(0));
    for (std::uint32_t id : {9u, 7u}) {
      const std::string record = cache_testing::Record(id, 0, "item " + std::to_string(id));
      auto item = CCacheFile::Create(id, 0, static_cast<std::uint32_t>(record.size()) + 3);
      ASSERT_TRUE(item->Write(record.data(), record.size()));
      ASSERT_TRUE(entry->AddItem(item));
    }
    entry->Publish();
    entry->ExchangeViewerNextUpdate(86400 + 3600);
    entry->ExchangeRefreshDeadline(86400 + 13 * 3600 + 61);
    entry->Unlock();
  }

  CCacheTable m_Table{CCacheTable::BucketCountFor(0)};
};

TEST_F(CacheDump, AnEmptyCache) {
  EXPECT_EQ(Dump(kDefaultDumpFlags), kLine + kLine +
                                         "\r\nTotal number of folders: 0\r\nTotal number of files: 0\r\n"
                                         "Total Data Bytes in Cache: 0\r\nTotal Buffer Bytes in Cache: 0\r\n");
}

TEST_F(CacheDump, FlagsLeaveParts) {
  Fill();
  const std::string countsOnly = kLine + kLine + "\r\nTotal number of folders: 1\r\nTotal number of files: 2\r\n";
  EXPECT_EQ(Dump(0), countsOnly);
  EXPECT_EQ(Dump(0x02), countsOnly) << "raw bytes belong to the entry sections";
  EXPECT_EQ(Dump(0x20), countsOnly + "Total Data Bytes in Cache: 106\r\nTotal Buffer Bytes in Cache: 112\r\n");
  EXPECT_EQ(Dump(0x40), kLine + "\r\nCache Folder Name: 1000\\x\r\n\r\nTotal number of files in Folder: 2\r\n\r\n" +
                            countsOnly);
}

TEST_F(CacheDump, AFileThatRefusesTheReportFailsIt) {
  Fill();
  // Every write to this device fails for want of space.
  auto full = platform::File::Open("/dev/full", platform::File::Mode::kReadWrite);
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(DumpCache(m_Table, *full, kDefaultDumpFlags), 0);
}

TEST_F(CacheDump, AFullReport) {
  Fill();
  const std::string record7 = cache_testing::Record(7, 0, "item 7");
  const std::string record9 = cache_testing::Record(9, 0, "item 9");
  ASSERT_EQ(record7.size() + record9.size(), 106u);
  const std::string item7 = "\tCache File LastID: 7\r\n\tData Size (bytes): 53\t\tBuffer Size (bytes): 56\r\n\r\n";
  const std::string item9 = "\tCache File LastID: 9\r\n\tData Size (bytes): 53\t\tBuffer Size (bytes): 56\r\n\r\n";
  const std::string entryHead = kLine + "\r\nCache Folder Name: 1000\\x\r\n\r\n" +
                                "\tClient Next Update: Friday, January 02, 1970 - 01:00:00 AM\r\n" +
                                "\tServer Next Update: Friday, January 02, 1970 - 01:01:01 PM\r\n\r\n";
  const std::string entryTail =
      "Total number of files in Folder: 2\r\nTotal Data Bytes in Folder: 106\r\nTotal Buffer Bytes in Folder: 112\r\n"
      "\r\n";
  const std::string totals = kLine + kLine +
                             "\r\nTotal number of folders: 1\r\nTotal number of files: 2\r\n"
                             "Total Data Bytes in Cache: 106\r\nTotal Buffer Bytes in Cache: 112\r\n";
  EXPECT_EQ(Dump(kDefaultDumpFlags), entryHead + item7 + item9 + entryTail + totals);
  EXPECT_EQ(Dump(0x7F), entryHead + item7 + "\t\tData:\r\n\r\n" + record7 + "\r\n\r\n" + item9 +
                            "\t\tData:\r\n\r\n" + record9 + "\r\n\r\n" + entryTail + totals);
}

}  // namespace
