// Threads that do work beside the run's own never take its stop requests: a stop signal
// must wake the run's thread where it waits for a key.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/terminal.h"

namespace lum {
namespace {

#ifndef _WIN32
std::thread::id g_run_thread;
std::atomic<int> g_handled{0};
std::atomic<bool> g_handled_elsewhere{false};

void on_stop(int) {
  if (std::this_thread::get_id() != g_run_thread) g_handled_elsewhere = true;
  ++g_handled;
}

// The run's thread holds the stop requests back for a moment while a worker sends one
// to the process: it waits for the run's thread instead of being taken by the worker.
TEST(WorkerThread, StopRequestsWaitForTheRunsThread) {
  using namespace std::chrono_literals;
  const int request = host_stop_requests().back();
  g_run_thread = std::this_thread::get_id();
  install_stop_signals(on_stop);
  std::atomic<bool> go{false}, sent{false}, done{false};
  std::thread worker = start_worker_thread([&] {
    while (!go) std::this_thread::sleep_for(1ms);
    send_stop_request_to_process(request);
    sent = true;
    while (!done) std::this_thread::sleep_for(1ms);
  });
  hold_stop_requests(true);
  go = true;
  while (!sent) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(20ms);  // a worker that took it would have handled it by now
  EXPECT_EQ(0, g_handled.load());
  hold_stop_requests(false);  // handled before this returns
  EXPECT_EQ(1, g_handled.load());
  EXPECT_FALSE(g_handled_elsewhere.load());
  done = true;
  worker.join();
  install_stop_signals(nullptr);
}
#endif

}  // namespace
}  // namespace lum
