#include "net/iqrn_http.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

#include "net/fetched_item_collector.h"

namespace {

// Feeds an answer body to the reader in pieces of `step` bytes through a
// buffer the way the proxy's fetch loop does; returns the last status.
httpStatus Read(IQRNHTTP& reader, const std::string& body, std::size_t step, std::string* left = nullptr) {
  std::string buffer;
  httpStatus status = eHTTPMoreData;
  for (std::size_t at = 0; at < body.size() && status == eHTTPMoreData; at += step) {
    buffer += body.substr(at, step);
    auto length = static_cast<unsigned int>(buffer.size());
    status = reader.HTTPrespState(buffer.data(), length);
    buffer.resize(length);
  }
  if (left != nullptr) *left = buffer;
  return status;
}

const std::string kItem1Header = "OFF:0\r\nLEN:0\r\nLID:41\r\nTLEN:5\r\nFP:1\r\nCMP:2\r\nSRC:a.dat\r\nVER:9\r\n\r\n";
const std::string kItem2Header = "lid:42\r\ntlen:3\r\nsrc:b.dat\r\n\r\n";
const std::string kBody = "NXTUPD:60\r\n" + kItem1Header + "hello" + kItem2Header + "xyz";

TEST(IQRNHTTPRequest, TargetAndArgumentEscaping) {
  EXPECT_EQ(IQRNHTTP::MakeRequestTarget("", 80, "", 1, 1, 0, 67328, 1), "/KIBO-1/67328-1");
  EXPECT_EQ(IQRNHTTP::MakeRequestTarget("up.example", 8080, "r1", 5, 3, 2, 66816, 7),
            "http://up.example:8080/KIBO-1/RegID-r1/BID-5/NumItm-3/NumRef-2/66816-7");
  EXPECT_EQ(IQRNHTTP::EscapeArgument("a b!#%*+/:;=?\\z"), "a%20b%21%23%25%2a%2b%2f%3a%3b%3d%3f%5cz");
  EXPECT_EQ(IQRNHTTP::EscapeArgument("data_file.dat-1~\"&"), "data_file.dat-1~\"&");
  EXPECT_EQ(IQRNHTTP::EscapeArgument("a\r\nb"), "a%0d%0ab");
}

TEST(IQRNHTTPReader, ItemsInAnyPieceSize) {
  for (std::size_t step : {1u, 7u, 4096u}) {
    IQRNHTTP reader;
    CFetchedItemCollector items;
    const std::int64_t before = std::time(nullptr);
    reader.BeginAnswer(static_cast<std::int64_t>(kBody.size()), &items);
    ASSERT_EQ(Read(reader, kBody, step), eHTTPComplete) << step;
    EXPECT_GE(reader.NextUpdateTime(), before + 60);
    EXPECT_LE(reader.NextUpdateTime(), std::time(nullptr) + 60);
    EXPECT_EQ(reader.BytesRead(), static_cast<std::int64_t>(kBody.size()));
    ASSERT_EQ(items.Items().size(), 2u);
    const CFetchedItem& first = *items.Items()[0];
    EXPECT_EQ(first.ItemID(), 41u);
    EXPECT_EQ(first.FramePart(), 1);
    EXPECT_EQ(first.DataFormat(), 2u);
    EXPECT_EQ(first.Source(), "a.dat");
    EXPECT_EQ(std::string(first.Data().begin(), first.Data().end()), "hello");
    EXPECT_EQ(first.NextUpdateTime(), reader.NextUpdateTime());
    const CFetchedItem& second = *items.Items()[1];
    EXPECT_EQ(second.ItemID(), 42u);
    EXPECT_EQ(std::string(second.Data().begin(), second.Data().end()), "xyz");
  }
}

// The raw header handed on is the header as received, without the
// next-update line, so a cache can send the record as it stands.
TEST(IQRNHTTPReader, RawHeaderWithoutNextUpdateLine) {
  struct Recorder : CDataStreamSink {
    std::string headers;
    bool BeginItem(const CDataStreamFields&, std::string_view raw, std::int64_t) override {
      headers += std::string(raw) + "|";
      return true;
    }
    bool AppendItemData(const char*, std::size_t) override { return true; }
    bool EndItem() override { return true; }
  } recorder;
  IQRNHTTP reader;
  reader.BeginAnswer(static_cast<std::int64_t>(kBody.size()), &recorder);
  ASSERT_EQ(Read(reader, kBody, 3), eHTTPComplete);
  EXPECT_EQ(recorder.headers, kItem1Header + "|" + kItem2Header + "|");
}

TEST(IQRNHTTPReader, EndOfAnswer) {
  // Bytes past the announced length stay in the buffer.
  IQRNHTTP reader;
  CFetchedItemCollector items;
  std::string left;
  reader.BeginAnswer(static_cast<std::int64_t>(kBody.size()), &items);
  EXPECT_EQ(Read(reader, kBody + "TRAILING", 4096, &left), eHTTPComplete);
  EXPECT_EQ(left, "TRAILING");

  // NXTUPD 0 stays 0; an answer of only that line is complete and empty.
  CFetchedItemCollector none;
  reader.BeginAnswer(11, &none);
  EXPECT_EQ(Read(reader, "NXTUPD:0\r\n\r", 4096), eHTTPInvalid);  // the line runs past the content
  reader.BeginAnswer(10, &none);
  EXPECT_EQ(Read(reader, "NXTUPD:0\r\n", 4096), eHTTPComplete);
  EXPECT_EQ(reader.NextUpdateTime(), 0);
  EXPECT_TRUE(none.Items().empty());

  // Without an announced length the reader keeps taking items.
  CFetchedItemCollector open;
  reader.BeginAnswer(-1, &open);
  EXPECT_EQ(Read(reader, kBody, 5), eHTTPMoreData);
  EXPECT_EQ(open.Items().size(), 2u);
}

TEST(IQRNHTTPReader, BrokenOrOversizeStreamsAreRefused) {
  CFetchedItemCollector items;
  IQRNHTTP reader;
  // An item longer than the rest of the answer.
  const std::string tooLong = "LID:1\r\nTLEN:100\r\n\r\nabc";
  reader.BeginAnswer(static_cast<std::int64_t>(tooLong.size()), &items);
  EXPECT_EQ(Read(reader, tooLong, 4096), eHTTPInvalid);
  // An item above the item limit, even when the answer claims room for it.
  const std::string huge = "LID:1\r\nTLEN:16777217\r\n\r\n";
  reader.BeginAnswer(100000000, &items);
  EXPECT_EQ(Read(reader, huge, 4096), eHTTPInvalid);
  // A header line without an end within the line limit.
  reader.BeginAnswer(100000, &items);
  EXPECT_EQ(Read(reader, "SRC:" + std::string(5000, 's'), 4096), eHTTPInvalid);
  // A header that grows past its limit.
  std::string manyLines;
  for (int i = 0; i < 2000; ++i) manyLines += "TAG:" + std::string(40, 't') + "\r\n";
  reader.BeginAnswer(static_cast<std::int64_t>(manyLines.size()) + 100, &items);
  EXPECT_EQ(Read(reader, manyLines, 1024), eHTTPInvalid);
  // An answer length beyond what the reader accepts.
  reader.BeginAnswer(IQRNHTTP::kMaxAnswerLength + 1, &items);
  EXPECT_EQ(Read(reader, kBody, 4096), eHTTPInvalid);
  EXPECT_TRUE(items.Items().empty());

  // A sink that cannot make the item ends the reading.
  struct Refuser : CDataStreamSink {
    bool BeginItem(const CDataStreamFields&, std::string_view, std::int64_t) override { return false; }
    bool AppendItemData(const char*, std::size_t) override { return true; }
    bool EndItem() override { return true; }
  } refuser;
  reader.BeginAnswer(static_cast<std::int64_t>(kBody.size()), &refuser);
  EXPECT_EQ(Read(reader, kBody, 4096), eHTTPInvalid);
}

}  // namespace
