// A lock-guarded cell: one value and the Mutex that guards it.
//
// with(f) runs f on the value while holding the lock. If f throws, the cell gets back the value
// it held before f ran and the lock is released before the exception propagates, so a failed
// operation never leaves half-changed state behind. Re-entry from the holding thread is a
// UsageError (see Mutex).
//
// Held is the scoped accessor for code that decides for itself what a failure leaves behind:
// it holds the lock for its own lifetime and restores nothing.
#pragma once

#include <functional>
#include <utility>

#include "Platform/Mutex.hpp"

namespace tallowmere::detail {

template <class T>
class Guarded {
 public:
  Guarded(const char* name, T initial) : mutex_(name), value_(std::move(initial)) {}

  template <class F>
  decltype(auto) with(F&& f) {
    MutexLock lock(mutex_);
    T saved = value_;
    try {
      return std::invoke(std::forward<F>(f), value_);
    } catch (...) {
      value_ = std::move(saved);
      throw;
    }
  }

  // The value, with the lock held until the accessor goes away. The reference it hands out
  // must not be kept beyond that.
  class TM_SCOPED_CAPABILITY Held {
   public:
    explicit Held(Guarded& cell) TM_ACQUIRE(cell.mutex_) : cell_(cell) { cell_.mutex_.lock(); }
    ~Held() TM_RELEASE() { cell_.mutex_.unlock(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

    T& value() TM_NO_THREAD_SAFETY_ANALYSIS { return cell_.value_; }

   private:
    Guarded& cell_;
  };

  // Waits until the lock is free and returns a copy of the value.
  T get() {
    MutexLock lock(mutex_);
    return value_;
  }

 private:
  Mutex mutex_;
  T value_ TM_GUARDED_BY(mutex_);
};

}  // namespace tallowmere::detail
