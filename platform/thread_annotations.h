// Lock rules the compiler checks: clang's thread-safety analysis
// (-Wthread-safety) reads these attributes; other compilers see nothing.
#pragma once

#if defined(__clang__)
#define ZUQ_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ZUQ_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) ZUQ_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY ZUQ_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) ZUQ_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) ZUQ_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) ZUQ_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) ZUQ_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) ZUQ_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define EXCLUDES(...) ZUQ_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// For a function whose reads are safe by another thread's hold of the lock,
// which the analysis cannot see; its comment must say why.
#define NO_THREAD_SAFETY_ANALYSIS ZUQ_THREAD_ANNOTATION(no_thread_safety_analysis)
