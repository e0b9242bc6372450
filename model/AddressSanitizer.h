// Whether this build runs under AddressSanitizer (GCC and Clang spell it differently), and the
// poisoning of memory that the program manages itself (arena chunks): under the sanitizer a
// read or write of poisoned bytes is reported as a use of freed memory; elsewhere the marks
// cost nothing.
#pragma once

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLON_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(QUILLON_ASAN)
#define QUILLON_ASAN 1
#endif

#ifdef QUILLON_ASAN
#include <sanitizer/asan_interface.h>
#define QUILLON_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define QUILLON_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define QUILLON_POISON(p, n) ((void)(p), (void)(n))
#define QUILLON_UNPOISON(p, n) ((void)(p), (void)(n))
#endif
