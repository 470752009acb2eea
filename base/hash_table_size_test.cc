#include "base/hash_table_size.h"

#include <gtest/gtest.h>

namespace {

TEST(HashTableSize, TheFirstPrimeFromOnePointTwoTimesTheCountPlusOne) {
  EXPECT_EQ(HashTableSize(10), 14u);    // 12 -> 13, plus one
  EXPECT_EQ(HashTableSize(100), 128u);  // 120 -> 127, plus one
  EXPECT_EQ(HashTableSize(11), 14u);    // 13 is prime already
  // Counts below two: the first prime is 2.
  EXPECT_EQ(HashTableSize(0), 3u);
  EXPECT_EQ(HashTableSize(1), 3u);
}

}  // namespace
