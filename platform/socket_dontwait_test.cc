// Sends that take only what fits: a writer facing a peer that stops reading
// must get control back instead of blocking inside the call.
#include <fcntl.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/file.h"
#include "platform/socket.h"
#include "platform/testing.h"

namespace platform {
namespace {

// The writer is the pair's server end; small buffers fill quickly.
constexpr int kSmallBuffers = 4096;

TEST(SocketsDontWait, SendTakesWhatFitsThenReportsWouldBlock) {
  testing_support::LoopbackPair pair(kSmallBuffers);
  std::vector<char> block(1 << 20, 'x');
  const auto started = std::chrono::steady_clock::now();
  long long queued = 0;
  int result = 0;
  // The reader never reads: the buffers fill and the send stops taking data.
  for (int round = 0; round < 1000 && (result = Send(pair.server, block.data(), block.size(),
                                                     MSG_DONTWAIT_FLAG)) > 0;
       ++round) {
    EXPECT_LE(result, static_cast<int>(block.size()));
    queued += result;
  }
  EXPECT_EQ(result, -1);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  EXPECT_GT(queued, 0);
  EXPECT_LT(queued, 64LL << 20);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  // The wait that a writer uses in between now times out.
  EXPECT_EQ(WaitWritable(pair.server, 100), 0);
}

TEST(SocketsDontWait, TransmitFileReturnsThePartSentAndLeavesTheSocketBlocking) {
  testing_support::LoopbackPair pair(kSmallBuffers);
  const std::string path = testing_support::MakeTempDir("dontwait") + "/big.bin";
  testing_support::WriteFile(path, std::string(16 << 20, 'f'));
  std::unique_ptr<File> file = File::Open(path, File::Mode::kRead);
  ASSERT_TRUE(file);

  long long offset = 0;
  long long sent = 0;
  for (int round = 0; round < 1000 && (sent = TransmitFile(pair.server, file->Descriptor(), offset,
                                                           file->Size() - offset,
                                                           MSG_DONTWAIT_FLAG)) > 0;
       ++round) {
    offset += sent;
  }
  EXPECT_EQ(sent, -1);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  EXPECT_GT(offset, 0);
  EXPECT_LT(offset, file->Size());

  // The call lent the socket its non-blocking mode only for itself.
  EXPECT_EQ(::fcntl(pair.server, F_GETFL, 0) & O_NONBLOCK, 0);
}

}  // namespace
}  // namespace platform
