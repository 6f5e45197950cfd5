// Error records of the library: every failure path reports through these.
#pragma once

#include "libkalun.h"

// Exported names that keep an older body beside the default one get the
// older body's version here; the test build links the objects statically and
// has no version nodes, so it leaves them out.
#ifdef LIBKALUN_SYMBOL_VERSIONS
#define KALUN_SYMVER(impl, versioned) __asm__(".symver " impl "," versioned)
#else
#define KALUN_SYMVER(impl, versioned)
#endif

// Records {code, formatted text} in *error unless error is NULL. Any
// allocation failure leaves *error NULL rather than half a record.
void kalun_error_set(kalunError **error, int code, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));

// Puts a formatted prefix before the text of the record already in *error;
// nothing happens when there is none.
void kalun_error_prefix(kalunError **error, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// A new record for a callback, or NULL when memory ran out.
kalunError *kalun_error_new(int code, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
