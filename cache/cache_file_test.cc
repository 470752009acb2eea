#include "cache/cache_file.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CacheFile, GrowsInWholeStepsOnceItsFirstSizeIsPassed) {
  auto item = CCacheFile::Create(7, 0, 10, 16);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Capacity(), 10u);
  ASSERT_TRUE(item->Write("0123456789", 10));
  EXPECT_EQ(item->Capacity(), 10u);
  ASSERT_TRUE(item->Write("abc", 3));
  EXPECT_EQ(item->Capacity(), 16u);
  EXPECT_EQ(item->DataLength(), 13u);
  EXPECT_EQ(std::string(item->Data(), item->DataLength()), "0123456789abc");
  item->MarkPublished();
  EXPECT_FALSE(item->Write("x", 1)) << "a published item is read-only";
}

}  // namespace
