// Lock rules the compiler checks. Clang's thread-safety analysis
// (-Wthread-safety) reads these attributes: a member declared GUARDED_BY(mu)
// may only be touched with mu held, a function that REQUIRES(mu) may only be
// called with it held, one that EXCLUDES(mu) only without it. Other
// compilers see nothing.
#pragma once

#if defined(__clang__) && !defined(SWIG)
#define QUINDELO_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define QUINDELO_THREAD_ANNOTATION(x)
#endif

#ifndef GUARDED_BY
#define GUARDED_BY(x) QUINDELO_THREAD_ANNOTATION(guarded_by(x))
#endif
#ifndef PT_GUARDED_BY
#define PT_GUARDED_BY(x) QUINDELO_THREAD_ANNOTATION(pt_guarded_by(x))
#endif
#ifndef ACQUIRED_AFTER
#define ACQUIRED_AFTER(...) QUINDELO_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#endif
#ifndef ACQUIRED_BEFORE
#define ACQUIRED_BEFORE(...) QUINDELO_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#endif
#ifndef REQUIRES
#define REQUIRES(...) QUINDELO_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#endif
#ifndef EXCLUDES
#define EXCLUDES(...) QUINDELO_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#endif
#ifndef ACQUIRE
#define ACQUIRE(...) QUINDELO_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#endif
#ifndef RELEASE
#define RELEASE(...) QUINDELO_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#endif
#ifndef TRY_ACQUIRE
#define TRY_ACQUIRE(...) QUINDELO_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#endif
#ifndef ASSERT_CAPABILITY
#define ASSERT_CAPABILITY(x) QUINDELO_THREAD_ANNOTATION(assert_capability(x))
#endif
#ifndef RETURN_CAPABILITY
#define RETURN_CAPABILITY(x) QUINDELO_THREAD_ANNOTATION(lock_returned(x))
#endif
#ifndef CAPABILITY
#define CAPABILITY(x) QUINDELO_THREAD_ANNOTATION(capability(x))
#endif
#ifndef SCOPED_CAPABILITY
#define SCOPED_CAPABILITY QUINDELO_THREAD_ANNOTATION(scoped_lockable)
#endif
#ifndef NO_THREAD_SAFETY_ANALYSIS
#define NO_THREAD_SAFETY_ANALYSIS QUINDELO_THREAD_ANNOTATION(no_thread_safety_analysis)
#endif
