#pragma once

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

// A queued signal's argument is copied on the emitting thread and read and destroyed on the
// receiving one. Qt hands it over through its event queue, under a futex-based lock that
// ThreadSanitizer cannot see (Qt's libraries are not instrumented); the only order the
// sanitizer may see is the event dispatcher's wake-up through a file descriptor, which does
// not come with every event. Made the last member of an argument type, this states the
// hand-over itself: its copy, the last step of copying the argument on the emitting thread,
// releases; Received(), the slot's first step, acquires. Without the sanitizer it is an
// empty member that does nothing.
class QueuedHandoff {
  public:
    QueuedHandoff() = default;
    QueuedHandoff(const QueuedHandoff&) noexcept { Release(); }
    QueuedHandoff& operator=(const QueuedHandoff&) noexcept {
        Release();
        return *this;
    }
    ~QueuedHandoff() = default;

    void Received() const noexcept {
#if defined(__SANITIZE_THREAD__)
        __tsan_acquire(const_cast<QueuedHandoff*>(this));
#endif
    }

  private:
    void Release() noexcept {
#if defined(__SANITIZE_THREAD__)
        __tsan_release(this);
#endif
    }
};
