// SHA-256 digests computed on other threads while this one copies the bytes. The undo
// snapshot and the undo read and write every file on the calling thread (where the
// run's error handling and the file layer's fault seam are) and hand each block they
// copied to the workers, which hash the blocks of each message in the order they were
// handed over; the blocks of different messages are hashed side by side. The blocks are
// the workers' own buffers, a bounded number of them: taking one waits while every one
// is handed over and not hashed yet, so the copying never runs more than that far ahead.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sha256.h"

namespace lum {

class DigestWorkers {
 public:
  using Message = std::size_t;

  // `blocks` buffers of `block_bytes` each at most; one worker for each processor, two
  // at least (so that a lone processor still copies while it hashes) and four at most.
  explicit DigestWorkers(std::size_t block_bytes = std::size_t{1} << 20, std::size_t blocks = 8);
  // Stops the workers; what was handed over and not hashed yet is dropped.
  ~DigestWorkers();
  DigestWorkers(const DigestWorkers&) = delete;
  DigestWorkers& operator=(const DigestWorkers&) = delete;

  std::size_t block_bytes() const { return block_bytes_; }
  // A new message, empty.
  Message begin();
  // A buffer of block_bytes() to fill; waits while none is free.
  std::vector<char> block();
  // Hands over the first `n` bytes of `block` (one from block()) as the next bytes of `m`.
  void add(Message m, std::vector<char> block, std::size_t n);
  // Gives back a block that is not handed over (the copy it was read for failed).
  void give_back(std::vector<char> block);
  // The digest of everything handed over for `m`, as 64 lower-case hexadecimal digits;
  // waits until it is hashed. Then the message is spent.
  std::string digest(Message m);

 private:
  struct State {
    Sha256 hash;
    std::size_t pending = 0;  // blocks handed over, not hashed yet
    bool busy = false;        // a worker is hashing one of its blocks
  };
  struct Task {
    Message message;
    std::vector<char> block;
    std::size_t bytes;
  };
  void work();

  const std::size_t block_bytes_;
  const std::size_t limit_;
  std::mutex mutex_;
  std::condition_variable work_ready_;  // a task to take, or stop
  std::condition_variable hashed_;      // a block was hashed and its buffer is free
  std::deque<Task> tasks_;
  std::vector<std::vector<char>> spare_;
  std::size_t allocated_ = 0;
  std::vector<std::unique_ptr<State>> messages_;
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace lum
