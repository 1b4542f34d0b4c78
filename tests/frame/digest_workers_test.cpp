#include "frame/digest_workers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/sha256.h"

namespace lum {
namespace {

// Several messages handed over block by block, their blocks interleaved, with fewer
// buffers than blocks in flight and blocks cut short: each digest is the digest of its
// message's bytes in the order they were handed over.
TEST(DigestWorkers, EachMessageIsHashedInTheOrderItsBlocksCame) {
  struct Case {
    const char* name;
    std::size_t block_bytes, blocks;
  } cases[] = {{"one buffer", 64, 1}, {"a few buffers", 1000, 3}, {"many buffers", 4096, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DigestWorkers workers(c.block_bytes, c.blocks);
    std::vector<std::string> messages(5);
    std::vector<DigestWorkers::Message> ids;
    for (std::size_t m = 0; m < messages.size(); ++m) ids.push_back(workers.begin());
    // Block k of message m holds n bytes, every byte telling m, k and its place.
    for (std::size_t k = 0; k < 40; ++k) {
      for (std::size_t m = 0; m < messages.size(); ++m) {
        if (k >= 8 * (m + 1)) continue;  // messages of different lengths
        const std::size_t n = (k * 7 + m * 13) % c.block_bytes + 1;
        std::vector<char> block = workers.block();
        ASSERT_EQ(c.block_bytes, block.size());
        for (std::size_t i = 0; i < n; ++i) block[i] = static_cast<char>(m * 31 + k * 7 + i);
        messages[m].append(block.data(), n);
        workers.add(ids[m], std::move(block), n);
      }
    }
    // A block taken and given back unused is not part of any message.
    std::vector<char> unused = workers.block();
    std::memset(unused.data(), 'x', unused.size());
    workers.give_back(std::move(unused));
    for (std::size_t m = 0; m < messages.size(); ++m) {
      EXPECT_EQ(Sha256::of(messages[m]), workers.digest(ids[m])) << "message " << m;
    }
    EXPECT_EQ(Sha256::of(""), workers.digest(workers.begin()));
  }
}

// Workers that are stopped with blocks still waiting to be hashed end without them.
TEST(DigestWorkers, StopWithBlocksNotHashedYet) {
  for (int round = 0; round < 20; ++round) {
    DigestWorkers workers(1 << 16, 8);
    const DigestWorkers::Message m = workers.begin();
    for (int k = 0; k < 8; ++k) workers.add(m, workers.block(), 1 << 16);
  }
}

}  // namespace
}  // namespace lum
