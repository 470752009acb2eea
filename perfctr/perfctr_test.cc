#include "perfctr/perfctr.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "perf/perf_block.h"
#include "perfctr/perf_data.h"
#include "platform/dynamic_library.h"
#include "platform/shared_memory.h"
#include "regwrap/qr_registry.h"

namespace {

using OpenFn = std::uint32_t (*)(const char*);
using CollectFn = std::uint32_t (*)(const char*, void**, std::uint32_t*, std::uint32_t*);
using CloseFn = std::uint32_t (*)();

std::uint32_t WordAt(const std::vector<unsigned char>& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | bytes[at + static_cast<std::size_t>(i)];
  return value;
}

// The library as the collector sees it: loaded by name, three entry points.
struct Library {
  Library() {
    library = platform::DynamicLibrary::Load("libperfctr.so", &error);
    if (!library) return;
    open = reinterpret_cast<OpenFn>(library->Symbol("OpenZondrelPerf"));
    collect = reinterpret_cast<CollectFn>(library->Symbol("CollectZondrelPerf"));
    close = reinterpret_cast<CloseFn>(library->Symbol("CloseZondrelPerf"));
  }
  struct Result {
    std::uint32_t code, size, objects;
    std::size_t advanced;
    std::vector<unsigned char> bytes;
  };
  Result Collect(const char* request, std::uint32_t room = 4096) {
    std::vector<unsigned char> buffer(room);
    void* at = buffer.data();
    std::uint32_t size = room, objects = 99;
    const std::uint32_t code = collect(request, &at, &size, &objects);
    buffer.resize(size);
    return {code, size, objects, static_cast<std::size_t>(static_cast<unsigned char*>(at) - buffer.data()), buffer};
  }
  std::string error;
  std::unique_ptr<platform::DynamicLibrary> library;
  OpenFn open = nullptr;
  CollectFn collect = nullptr;
  CloseFn close = nullptr;
};

void InstallIndexes(platform::DWORD firstCounter) {
  QRRegistry key(QRRegistry(platform::HKEY_LOCAL_MACHINE), "SYSTEM\\CurrentControlSet\\Services\\Zondrel\\Performance");
  ASSERT_TRUE(key.Open(1));
  key.SetValue("First Counter", firstCounter, platform::REG_DWORD);
  key.SetValue("First Help", firstCounter + 1, platform::REG_DWORD);
  key.Close(0);
}

TEST(PerfCtr, WithoutARelayEveryCollectionIsEmpty) {
  InstallIndexes(1000);
  Library perf;
  ASSERT_NE(perf.library, nullptr) << perf.error;
  EXPECT_EQ(perf.open(nullptr), 0u);
  for (const char* request : {static_cast<const char*>(nullptr), "Global", "Costly", "1000"}) {
    const auto result = perf.Collect(request);
    EXPECT_EQ(result.code, 0u);
    EXPECT_EQ(result.size, 0u);
    EXPECT_EQ(result.objects, 0u);
    EXPECT_EQ(result.advanced, 0u);
  }
  EXPECT_EQ(perf.close(), 0u);
}

TEST(PerfCtr, CollectsTheBlockByRequestClassAndRoom) {
  InstallIndexes(1000);
  auto block = platform::SharedMemory::Create(perf::kBlockName, perf::kBlockSize);
  ASSERT_NE(block, nullptr);
  auto* words = static_cast<std::uint32_t*>(block->Data());
  for (std::uint32_t i = 0; i < perf::kCounterCount; ++i) words[i] = 100 + i;

  Library perf;
  ASSERT_NE(perf.library, nullptr) << perf.error;
  ASSERT_EQ(perf.open(""), 0u);
  ASSERT_EQ(perf.open(""), 0u);  // a second user

  const auto global = perf.Collect("Global");
  ASSERT_EQ(global.code, 0u);
  ASSERT_EQ(global.size, 640u);
  EXPECT_EQ(global.objects, 1u);
  EXPECT_EQ(global.advanced, 640u);
  EXPECT_EQ(WordAt(global.bytes, 0), 640u);
  EXPECT_EQ(WordAt(global.bytes, 4), 584u);
  EXPECT_EQ(WordAt(global.bytes, 8), 64u);
  EXPECT_EQ(WordAt(global.bytes, 12), 1000u);
  EXPECT_EQ(WordAt(global.bytes, 20), 1001u);
  EXPECT_EQ(WordAt(global.bytes, 28), 100u);
  EXPECT_EQ(WordAt(global.bytes, 32), 13u);
  // Counter 0 is a rate, counter 12 a raw count at offset 52 of the block.
  EXPECT_EQ(WordAt(global.bytes, 64 + 4), 1002u);
  EXPECT_EQ(WordAt(global.bytes, 64 + 12), 1003u);
  EXPECT_EQ(WordAt(global.bytes, 64 + 28), perfctr::kRatePerSecond);
  EXPECT_EQ(WordAt(global.bytes, 64 + 12 * 40 + 4), 1026u);
  EXPECT_EQ(WordAt(global.bytes, 64 + 12 * 40 + 28), perfctr::kRawCount);
  EXPECT_EQ(WordAt(global.bytes, 64 + 12 * 40 + 36), 52u);
  EXPECT_EQ(WordAt(global.bytes, 584), 56u);
  for (std::uint32_t i = 0; i < perf::kCounterCount; ++i) EXPECT_EQ(WordAt(global.bytes, 588 + 4 * i), 100 + i);

  EXPECT_EQ(perf.Collect(nullptr).size, 640u);
  EXPECT_EQ(perf.Collect("").size, 640u);
  EXPECT_EQ(perf.Collect("Costly").size, 640u);
  EXPECT_EQ(perf.Collect("Foreign").size, 0u);
  EXPECT_EQ(perf.Collect("2 1000").size, 640u);
  EXPECT_EQ(perf.Collect("1000 2").objects, 1u);
  EXPECT_EQ(perf.Collect("2 4").size, 0u);
  EXPECT_EQ(perf.Collect("10000").size, 0u);
  EXPECT_EQ(perf.Collect("99999999999999999991000").size, 0u);

  const auto shortRoom = perf.Collect("Global", 639);
  EXPECT_EQ(shortRoom.code, perfctr::kMoreData);
  EXPECT_EQ(shortRoom.size, 0u);
  EXPECT_EQ(shortRoom.objects, 0u);
  EXPECT_EQ(shortRoom.advanced, 0u);
  EXPECT_EQ(perf.Collect("Global", 640).size, 640u);

  // The words are read at each collection.
  words[12] = 7;
  EXPECT_EQ(WordAt(perf.Collect("Global").bytes, 588 + 48), 7u);
  EXPECT_EQ(perf.close(), 0u);
  EXPECT_EQ(perf.Collect("Global").size, 640u);  // one user is left
  EXPECT_EQ(perf.close(), 0u);
}

TEST(PerfCtr, WithoutIndexNumbersNothingIsCollected) {
  auto block = platform::SharedMemory::Create(perf::kBlockName, perf::kBlockSize);
  Library perf;
  ASSERT_NE(perf.library, nullptr) << perf.error;
  ASSERT_EQ(perf.open(nullptr), 0u);
  EXPECT_EQ(perf.Collect("Global").size, 0u);
  // Installed meanwhile: the next collection opens again and the one after
  // that has data.
  InstallIndexes(2000);
  EXPECT_EQ(perf.Collect("Global").size, 0u);
  EXPECT_EQ(perf.Collect("Global").size, 640u);
  perf.close();
}

}  // namespace
