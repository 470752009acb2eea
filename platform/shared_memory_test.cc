#include "platform/shared_memory.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(SharedMemory, CreatedZeroedSharedBetweenProcessesAndOpenedReadOnly) {
  EXPECT_EQ(SharedMemory::Open("Block", true), nullptr);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_EQ(SharedMemory::Create("", 16), nullptr);
  EXPECT_EQ(SharedMemory::Create("Block", 0), nullptr);

  auto block = SharedMemory::Create("Block", 4096);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  ASSERT_EQ(block->Size(), 4096u);
  const auto* bytes = static_cast<const unsigned char*>(block->Data());
  for (std::size_t i = 0; i < block->Size(); ++i) ASSERT_EQ(bytes[i], 0) << i;

  pid_t child = ::fork();
  if (child == 0) {
    auto mine = SharedMemory::Create("Block", 4096);
    if (mine == nullptr || GetLastError() != kErrorAlreadyExists) ::_exit(1);
    std::memcpy(mine->Data(), "hello", 6);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_STREQ(static_cast<const char*>(block->Data()), "hello");

  auto reader = SharedMemory::Open("Block", true);
  ASSERT_NE(reader, nullptr);
  EXPECT_TRUE(reader->ReadOnly());
  EXPECT_STREQ(static_cast<const char*>(reader->Data()), "hello");
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

TEST(SharedMemory, RemovedNameIsGoneWhileMappingsStay) {
  auto block = SharedMemory::Create("Removed", 64);
  ASSERT_NE(block, nullptr);
  static_cast<char*>(block->Data())[0] = 'x';
  EXPECT_TRUE(SharedMemory::Remove("Removed"));
  EXPECT_EQ(SharedMemory::Open("Removed", true), nullptr);
  EXPECT_EQ(static_cast<char*>(block->Data())[0], 'x');
  EXPECT_FALSE(SharedMemory::Remove("Removed"));
  EXPECT_FALSE(SharedMemory::Remove("../registry.db"));
  // A new block of the name starts zeroed.
  auto fresh = SharedMemory::Create("Removed", 64);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(static_cast<char*>(fresh->Data())[0], 0);
}

}  // namespace
}  // namespace platform
