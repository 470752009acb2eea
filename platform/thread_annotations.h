// Annotations for clang's thread-safety analysis (-Wthread-safety): which
// lock guards a member, which functions need a lock held or take one. The
// clang build checks every access against them; other compilers see nothing.
#pragma once

#if defined(__clang__)
#define ZONDREL_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ZONDREL_THREAD_ANNOTATION(x)
#endif

// A type whose objects are locks.
#define CAPABILITY(name) ZONDREL_THREAD_ANNOTATION(capability(name))
// A type whose objects hold a lock for their lifetime.
#define SCOPED_CAPABILITY ZONDREL_THREAD_ANNOTATION(scoped_lockable)

// Members read and written only while `lock` is held (for PT_GUARDED_BY: the
// object the member points at).
#define GUARDED_BY(lock) ZONDREL_THREAD_ANNOTATION(guarded_by(lock))
#define PT_GUARDED_BY(lock) ZONDREL_THREAD_ANNOTATION(pt_guarded_by(lock))

// Functions called with the locks held, or without them.
#define REQUIRES(...) ZONDREL_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) ZONDREL_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

// Functions that take or give up locks (without arguments: their own object).
#define ACQUIRE(...) ZONDREL_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) ZONDREL_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// Takes the lock when it returns `result`.
#define TRY_ACQUIRE(...) ZONDREL_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
// Returns (a reference to) the lock named.
#define RETURN_CAPABILITY(lock) ZONDREL_THREAD_ANNOTATION(lock_returned(lock))

// For code whose locking the analysis cannot follow; say why beside it.
#define NO_THREAD_SAFETY_ANALYSIS ZONDREL_THREAD_ANNOTATION(no_thread_safety_analysis)
