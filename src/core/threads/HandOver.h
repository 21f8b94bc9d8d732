#pragma once

// Marks a hand-over of memory from one thread to another that happens through a library whose
// own locks ThreadSanitizer cannot see: the distribution's Qt is built without it, and Qt's
// QMutex waits on futexes inside QtCore, so a task queued to the thread pool or an event posted
// to another thread looks unsynchronised to it. handOverRelease(p) on the giving side, after the
// last write, and handOverAcquire(p) on the taking side, before the first read, tell it what
// the library's lock guarantees. Both compile to nothing in other builds.

#if defined(__SANITIZE_THREAD__)
#define VARDELLE_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VARDELLE_THREAD_SANITIZER 1
#endif
#endif

#ifdef VARDELLE_THREAD_SANITIZER
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace vardelle {

inline void handOverRelease([[maybe_unused]] void* token)
{
#ifdef VARDELLE_THREAD_SANITIZER
    __tsan_release(token);
#endif
}

inline void handOverAcquire([[maybe_unused]] void* token)
{
#ifdef VARDELLE_THREAD_SANITIZER
    __tsan_acquire(token);
#endif
}

} // namespace vardelle
