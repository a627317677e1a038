// A lock-guarded cell: one value and the Mutex that guards it.
//
// with(f) runs f on the value while holding the lock. If f throws, the cell gets back the value
// it held before f ran and the lock is released before the exception propagates, so a failed
// operation never leaves half-changed state behind. Re-entry from the holding thread is a
// UsageError (see Mutex).
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
