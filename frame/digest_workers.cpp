#include "frame/digest_workers.h"

#include <algorithm>
#include <utility>

#include "platform/terminal.h"

namespace lum {

DigestWorkers::DigestWorkers(std::size_t block_bytes, std::size_t blocks)
    : block_bytes_(block_bytes), limit_(std::max<std::size_t>(blocks, 1)) {
  const std::size_t n = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 2, 4);
  // Stop requests go to the run's thread, never to a worker.
  for (std::size_t i = 0; i < n; ++i) workers_.push_back(start_worker_thread([this] { work(); }));
}

DigestWorkers::~DigestWorkers() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  work_ready_.notify_all();
  for (std::thread& t : workers_) t.join();
}

DigestWorkers::Message DigestWorkers::begin() {
  std::lock_guard<std::mutex> lock(mutex_);
  messages_.push_back(std::make_unique<State>());
  return messages_.size() - 1;
}

std::vector<char> DigestWorkers::block() {
  std::unique_lock<std::mutex> lock(mutex_);
  hashed_.wait(lock, [this] { return !spare_.empty() || allocated_ < limit_; });
  if (!spare_.empty()) {
    std::vector<char> b = std::move(spare_.back());
    spare_.pop_back();
    return b;
  }
  ++allocated_;
  lock.unlock();
  return std::vector<char>(block_bytes_);
}

void DigestWorkers::add(Message m, std::vector<char> block, std::size_t n) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++messages_[m]->pending;
    tasks_.push_back(Task{m, std::move(block), n});
  }
  work_ready_.notify_one();
}

void DigestWorkers::give_back(std::vector<char> block) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    spare_.push_back(std::move(block));
  }
  hashed_.notify_all();
}

std::string DigestWorkers::digest(Message m) {
  std::unique_lock<std::mutex> lock(mutex_);
  State& s = *messages_[m];
  hashed_.wait(lock, [&s] { return s.pending == 0; });
  return s.hash.hex_digest();
}

void DigestWorkers::work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    // The oldest block of a message no other worker is hashing: each message's blocks
    // are taken in the order they were handed over, one at a time.
    auto next = tasks_.end();
    work_ready_.wait(lock, [&] {
      next = std::find_if(tasks_.begin(), tasks_.end(),
                          [this](const Task& t) { return !messages_[t.message]->busy; });
      return stop_ || next != tasks_.end();
    });
    if (stop_) return;
    Task task = std::move(*next);
    tasks_.erase(next);
    State& s = *messages_[task.message];
    s.busy = true;
    lock.unlock();
    s.hash.update(task.block.data(), task.bytes);
    lock.lock();
    s.busy = false;
    --s.pending;
    spare_.push_back(std::move(task.block));
    // Another worker may wait for this message's next block.
    work_ready_.notify_all();
    hashed_.notify_all();
  }
}

}  // namespace lum
