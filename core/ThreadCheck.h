#pragma once

// Orderings between threads that the thread checker (ThreadSanitizer) cannot see by
// itself because they come from a library that is not instrumented (Qt's event queue
// and its semaphores). They only inform the checker: outside a ThreadSanitizer build
// they compile to nothing and order nothing.

#if defined(__SANITIZE_THREAD__)
#define KV_THREAD_CHECK 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KV_THREAD_CHECK 1
#endif
#endif

#ifdef KV_THREAD_CHECK
#include <sanitizer/tsan_interface.h>
#endif

namespace kv::threadcheck {

// Everything this thread did so far happens before whatever another thread does after
// a later received(key) on the same key.
inline void handedOver([[maybe_unused]] const void* key) {
#ifdef KV_THREAD_CHECK
    __tsan_release(const_cast<void*>(key));
#endif
}

inline void received([[maybe_unused]] const void* key) {
#ifdef KV_THREAD_CHECK
    __tsan_acquire(const_cast<void*>(key));
#endif
}

// A member of a closure that a library moves to another thread and calls there. Put it
// last among the captures: moving the closure into the library's own storage then
// announces the hand-over after everything else was written, and the receiving thread
// calls received() first thing.
class HandOverMark {
  public:
    HandOverMark() = default;
    HandOverMark(const HandOverMark&) { handedOver(this); }
    HandOverMark(HandOverMark&&) noexcept { handedOver(this); }
    HandOverMark& operator=(const HandOverMark&) = delete;
    HandOverMark& operator=(HandOverMark&&) = delete;
    ~HandOverMark() = default;

    void received() const { threadcheck::received(this); }
};

}  // namespace kv::threadcheck
