// Clang thread-safety annotations. Under clang with -Wthread-safety the compiler checks that
// every member marked TM_GUARDED_BY is touched only while its mutex is held; other compilers
// ignore the annotations.
//
// The order in which locks may be nested is declared on the mutexes with TM_ACQUIRED_AFTER and
// TM_ACQUIRED_BEFORE; clang checks it (with -Wthread-safety-beta) wherever one function body
// takes a second lock while holding the first. The declarations compare mutex members, not
// objects: "index cell before Index" holds for every fortune file and every index.
#pragma once

#if defined(__clang__)
#define TM_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define TM_THREAD_ANNOTATION(x)
#endif

#define TM_CAPABILITY(x) TM_THREAD_ANNOTATION(capability(x))
#define TM_SCOPED_CAPABILITY TM_THREAD_ANNOTATION(scoped_lockable)
#define TM_GUARDED_BY(x) TM_THREAD_ANNOTATION(guarded_by(x))
#define TM_PT_GUARDED_BY(x) TM_THREAD_ANNOTATION(pt_guarded_by(x))
#define TM_REQUIRES(...) TM_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define TM_ACQUIRE(...) TM_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define TM_RELEASE(...) TM_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TM_EXCLUDES(...) TM_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define TM_ACQUIRED_AFTER(...) TM_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define TM_ACQUIRED_BEFORE(...) TM_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define TM_NO_THREAD_SAFETY_ANALYSIS TM_THREAD_ANNOTATION(no_thread_safety_analysis)
#define TM_REQUIRES_SHARED(...) TM_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define TM_ACQUIRE_SHARED(...) TM_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define TM_RELEASE_SHARED(...) TM_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define TM_RELEASE_GENERIC(...) TM_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))
