// A non-recursive mutex that refuses re-entry.
//
// Every lock of the library is one of these. A thread that tries to take a Mutex it already
// holds gets a UsageError naming the lock instead of a deadlock: callbacks that run under a
// lock must not call back into the handle that owns it.
#pragma once

#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>

#include <tallowmere/Platform/Errors.hpp>
#include "Platform/ThreadAnnotations.hpp"

namespace tallowmere::detail {

class TM_CAPABILITY("mutex") Mutex {
 public:
  // `name` says in the re-entry message which lock it is ("index", "fortune text file", ...).
  explicit Mutex(const char* name) : name_(name) {}
  ~Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() TM_ACQUIRE() {
    const std::thread::id self = std::this_thread::get_id();
    // Only this thread ever stores its own id, so seeing it means this thread holds the lock.
    if (owner_.load(std::memory_order_relaxed) == self) {
      throw UsageError(std::string("the ") + name_ +
                       " lock was taken again by the thread that holds it: an action running "
                       "under a handle's lock must not use the same handle");
    }
    mutex_.lock();
    owner_.store(self, std::memory_order_relaxed);
  }

  void unlock() TM_RELEASE() {
    owner_.store(std::thread::id(), std::memory_order_relaxed);
    mutex_.unlock();
  }

 private:
  const char* name_;
  std::mutex mutex_;
  std::atomic<std::thread::id> owner_{};
};

// Holds a Mutex for the lifetime of the object.
class TM_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) TM_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() TM_RELEASE() { mutex_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

// A readers-writer lock: any number of shared holders, or one exclusive holder. Used where
// many threads may work at once and only a rare operation (closing a file) must be alone.
class TM_CAPABILITY("shared mutex") SharedMutex {
 public:
  SharedMutex() = default;
  ~SharedMutex() = default;
  SharedMutex(const SharedMutex&) = delete;
  SharedMutex& operator=(const SharedMutex&) = delete;

  void lock() TM_ACQUIRE() { mutex_.lock(); }
  void unlock() TM_RELEASE() { mutex_.unlock(); }
  void lockShared() TM_ACQUIRE_SHARED() { mutex_.lock_shared(); }
  void unlockShared() TM_RELEASE_SHARED() { mutex_.unlock_shared(); }

 private:
  std::shared_mutex mutex_;
};

// Holds a SharedMutex shared for the lifetime of the object.
class TM_SCOPED_CAPABILITY SharedLock {
 public:
  explicit SharedLock(SharedMutex& mutex) TM_ACQUIRE_SHARED(mutex) : mutex_(mutex) {
    mutex_.lockShared();
  }
  ~SharedLock() TM_RELEASE_GENERIC() { mutex_.unlockShared(); }
  SharedLock(const SharedLock&) = delete;
  SharedLock& operator=(const SharedLock&) = delete;

 private:
  SharedMutex& mutex_;
};

// Holds a SharedMutex exclusively for the lifetime of the object.
class TM_SCOPED_CAPABILITY ExclusiveLock {
 public:
  explicit ExclusiveLock(SharedMutex& mutex) TM_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~ExclusiveLock() TM_RELEASE() { mutex_.unlock(); }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;

 private:
  SharedMutex& mutex_;
};

}  // namespace tallowmere::detail
