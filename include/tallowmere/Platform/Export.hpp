// TALLOWMERE_API: what the shared library exports.
//
// The shared library is built with hidden visibility, so that only what carries this mark is
// part of its interface: the public classes and the functions declared in these headers (and
// the C API of <tallowmere/tallowmere.h>, which has its own mark). Inline functions and
// templates need none; nothing of namespace tallowmere::detail carries one. For the static
// library the mark changes nothing.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define TALLOWMERE_API __attribute__((visibility("default")))
#else
#define TALLOWMERE_API
#endif

// For what a public class declares but keeps to the library (its shared State): hidden when the
// library is built, so that the shared library does not export it; elsewhere (programs, and
// the tests that reach the library's internals) it changes nothing.
#if defined(TALLOWMERE_BUILDING_LIBRARY) && (defined(__GNUC__) || defined(__clang__))
#define TALLOWMERE_HIDDEN __attribute__((visibility("hidden")))
#else
#define TALLOWMERE_HIDDEN
#endif
