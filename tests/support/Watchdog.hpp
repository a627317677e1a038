// A bound on how long a test may run: should the test still be running when the bound
// passes (threads deadlocked, say), the watchdog reports it and aborts the test program, so
// that the run fails with a message instead of hanging.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace tallowmere::test {

class Watchdog {
 public:
  explicit Watchdog(std::string what, std::chrono::seconds bound = std::chrono::seconds(60))
      : what_(std::move(what)), thread_([this, bound] { watch(bound); }) {}
  ~Watchdog() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      finished_ = true;
    }
    done_.notify_one();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  void watch(std::chrono::seconds bound) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (done_.wait_for(lock, bound, [this] { return finished_; })) return;
    std::fprintf(stderr, "%s: still running after %lld s: deadlocked or stuck; aborting\n",
                 what_.c_str(), static_cast<long long>(bound.count()));
    std::abort();
  }

  std::string what_;
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::thread thread_;  // last: starts once the members it uses exist
};

}  // namespace tallowmere::test
