#pragma once
// Bytes the process has allocated and not yet freed, so that a test can see
// a release in any build (the sanitizer build has its own allocator).

#include <malloc.h>
#include <stddef.h>

#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#endif

inline size_t heap_in_use()
{
#if defined(__SANITIZE_ADDRESS__)
	return __sanitizer_get_current_allocated_bytes();
#else
	return mallinfo2().uordblks;
#endif
}
