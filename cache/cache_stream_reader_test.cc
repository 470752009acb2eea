// The cache's data-stream reader: records kept exactly as received, however
// the body is cut into reads, and the three ways a body can end.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "cache/cache_stream_reader.h"
#include "cache/cache_testing.h"

namespace {

using cache_testing::Record;

// Hands out `body` in reads of `step` bytes, then `end` (0: closed).
CCacheStreamReader::ReadFunction Source(const std::string& body, std::size_t step, int end = 0) {
  auto position = std::make_shared<std::size_t>(0);
  return [body, step, end, position](char* buffer, std::size_t size) {
    if (*position >= body.size()) return end;
    const std::size_t take = std::min({step, size, body.size() - *position});
    std::copy_n(body.data() + *position, take, buffer);
    *position += take;
    return static_cast<int>(take);
  };
}

struct Read {
  CCacheStreamReader::Outcome outcome;
  std::vector<std::string> records;
  bool announced;
  std::int64_t nextUpdate;
};

Read ReadAll(const std::string& body, std::int64_t contentLength, std::size_t step, int end = 0) {
  CCacheEntry entry("1");
  EXPECT_TRUE(entry.Lock(0));
  CCacheStreamReader reader(entry, contentLength);
  Read result{reader.ReadBody(Source(body, step, end)), {}, reader.NextUpdateAnnounced(), reader.NextUpdateTime()};
  entry.Publish();
  entry.Unlock();
  const auto items = entry.Items();
  for (std::size_t i = 0; i < items->Count(); ++i) {
    result.records.emplace_back((*items)[i].Data(), (*items)[i].DataLength());
  }
  return result;
}

TEST(CacheStreamReader, KeepsRecordsAsReceivedWhateverTheReadSizes) {
  const std::string first = Record(3, 0, std::string(5000, 'a'));
  const std::string second = Record(4, 0, "four");
  const std::string body = "NXTUPD:600\r\n" + first + second;
  for (std::size_t step : {1u, 7u, 4096u, 20000u}) {
    const Read read = ReadAll(body, static_cast<std::int64_t>(body.size()), step);
    EXPECT_EQ(read.outcome, CCacheStreamReader::eBodyComplete) << step;
    EXPECT_EQ(read.records, (std::vector<std::string>{first, second})) << step;
    EXPECT_TRUE(read.announced);
    EXPECT_NEAR(static_cast<double>(read.nextUpdate), static_cast<double>(std::time(nullptr) + 600), 5);
  }
}

TEST(CacheStreamReader, TellsAMissingNextUpdateFromAZeroOne) {
  const std::string record = Record(1, 0, "x");
  const Read without = ReadAll(record, static_cast<std::int64_t>(record.size()), 100);
  EXPECT_EQ(without.outcome, CCacheStreamReader::eBodyComplete);
  EXPECT_FALSE(without.announced);
  const std::string zero = "NXTUPD:0\r\n" + record;
  const Read withZero = ReadAll(zero, static_cast<std::int64_t>(zero.size()), 100);
  EXPECT_TRUE(withZero.announced);
  EXPECT_EQ(withZero.nextUpdate, 0);
}

TEST(CacheStreamReader, BodyEndings) {
  const std::string whole = Record(1, 0, "one") + Record(2, 0, "two");
  // An empty body is complete at once.
  EXPECT_EQ(ReadAll("", 0, 10).outcome, CCacheStreamReader::eBodyComplete);
  // A record announcing more than the body holds is a broken stream.
  const std::string overlong = Record(1, 0, "one").replace(Record(1, 0, "one").find("TLEN:3"), 6, "TLEN:9");
  EXPECT_EQ(ReadAll(overlong, static_cast<std::int64_t>(overlong.size()), 10).outcome,
            CCacheStreamReader::eStreamBroken);
  // A connection that ends inside a record: the complete one stays, the cut one is not kept.
  const std::string cut = whole.substr(0, whole.size() - 1);
  const Read truncated = ReadAll(cut, static_cast<std::int64_t>(whole.size()), 10);
  EXPECT_EQ(truncated.outcome, CCacheStreamReader::eReadFailed);
  EXPECT_EQ(truncated.records.size(), 1u);
  EXPECT_EQ(ReadAll(whole, static_cast<std::int64_t>(whole.size()) + 50, 10, -1).outcome,
            CCacheStreamReader::eReadFailed);
  // Without a Content-Length the peer's close ends the body between records only.
  EXPECT_EQ(ReadAll(whole, -1, 10).outcome, CCacheStreamReader::eBodyComplete);
  EXPECT_EQ(ReadAll(cut, -1, 10).outcome, CCacheStreamReader::eReadFailed);
}

}  // namespace
