#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/kibo_folder.h"

namespace {

TEST(Base64, EncodesWithoutPadding) {
  EXPECT_EQ(CKiboFolder::Base64Encode("abc"), "YWJj");
  EXPECT_EQ(CKiboFolder::Base64Encode("ab"), "YWI");
  EXPECT_EQ(CKiboFolder::Base64Encode("a"), "YQ");
  EXPECT_EQ(CKiboFolder::Base64Encode(""), "");
  EXPECT_EQ(CKiboFolder::Base64Encode("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ");

  // Length 0 reads a zero-terminated text; the output is replaced.
  std::string out = "previous";
  EXPECT_EQ(CKiboFolder::Base64Encode("abc", out, 0), 4u);
  EXPECT_EQ(out, "YWJj");
  const unsigned char bytes[] = {0xFB, 0xFF, 0x00};
  EXPECT_EQ(CKiboFolder::Base64Encode(bytes, out, 3), 4u);
  EXPECT_EQ(out, "+/8A");
}

TEST(Base64, DecodingSkipsPaddingAndForeignCharacters) {
  EXPECT_EQ(CKiboFolder::Base64Decode("YWI"), "ab");
  EXPECT_EQ(CKiboFolder::Base64Decode("YWI="), "ab");
  EXPECT_EQ(CKiboFolder::Base64Decode("Y W\r\nJ*j"), "abc");
  EXPECT_EQ(CKiboFolder::Base64DecodedLength("YWI="), 2u);
  EXPECT_EQ(CKiboFolder::Base64DecodedLength("Y"), 0u);
  EXPECT_EQ(CKiboFolder::Base64Decode("Y"), "");
  EXPECT_EQ(CKiboFolder::Base64Decode("AA"), std::string(1, '\0'));
}

TEST(Base64, BufferDecodeRefusesEmptyTextMissingOrShortBuffers) {
  unsigned char buffer[4] = {};
  EXPECT_EQ(CKiboFolder::Base64Decode("", buffer, sizeof(buffer)), -1);
  EXPECT_EQ(CKiboFolder::Base64Decode("YWJj", nullptr, 4), -1);
  EXPECT_EQ(CKiboFolder::Base64Decode("YWJjZA", buffer, 3), -1);
  EXPECT_EQ(CKiboFolder::Base64Decode("YWJjZA", buffer, 4), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "abcd");
}

TEST(Base64, RandomBytesRoundTrip) {
  std::mt19937 random(7);
  for (std::size_t length = 1; length < 200; ++length) {
    std::vector<unsigned char> data(length);
    for (auto& byte : data) byte = static_cast<unsigned char>(random());
    std::string text;
    ASSERT_EQ(CKiboFolder::Base64Encode(data.data(), text, length), (length * 8 + 5) / 6);
    ASSERT_EQ(CKiboFolder::Base64DecodedLength(text), length);
    std::vector<unsigned char> back(length);
    ASSERT_EQ(CKiboFolder::Base64Decode(text, back.data(), back.size()),
              static_cast<long>(length));
    ASSERT_EQ(back, data) << "length " << length;
  }
}

}  // namespace
