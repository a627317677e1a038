// A lock-guarded cell: one value and the Mutex that guards it.
//
// The cell is itself the Mutex (a private base), so that the thread-safety analysis tracks the
// cell as the capability and a class holding cells can declare the order in which they are
// taken (TM_ACQUIRED_AFTER on the cell member).
// The value is reached only through value(), which requires the cell's lock: hold a Held for
// the scope of the work and call cell.value() inside it; clang (-Wthread-safety) rejects a
// value() outside such a scope. Re-entry from the holding thread is a UsageError (see Mutex).
//
// What a failure leaves behind is the caller's to decide, under the lock: code that changes the
// value makes the change its last step (or puts back what it took), so that a failed operation
// never leaves half-changed state. A reference from value() is for the holding scope only; do
// not keep it, or anything pointing into the value, beyond the Held.
#pragma once

#include <utility>

#include "Platform/Mutex.hpp"

namespace tallowmere::detail {

template <class T>
class TM_CAPABILITY("mutex") Guarded : private Mutex {
 public:
  Guarded(const char* name, T initial) : Mutex(name), value_(std::move(initial)) {}
  ~Guarded() = default;
  Guarded(const Guarded&) = delete;
  Guarded& operator=(const Guarded&) = delete;

  // Holds the cell's lock for its own lifetime. Neither copyable nor movable, so the lock
  // cannot leave the scope that took it.
  class TM_SCOPED_CAPABILITY Held {
   public:
    explicit Held(Guarded& cell) TM_ACQUIRE(cell) : cell_(cell) { cell_.lock(); }
    ~Held() TM_RELEASE() { cell_.unlock(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    Held(Held&&) = delete;
    Held& operator=(Held&&) = delete;

   private:
    Guarded& cell_;
  };

  // The value, while the caller holds the lock.
  T& value() TM_REQUIRES(this) { return value_; }
  [[nodiscard]] const T& value() const TM_REQUIRES(this) { return value_; }

  // Waits until the lock is free and returns a copy of the value.
  T get() TM_EXCLUDES(this) {
    Held held(*this);
    return value_;
  }

 private:
  T value_ TM_GUARDED_BY(this);
};

}  // namespace tallowmere::detail
