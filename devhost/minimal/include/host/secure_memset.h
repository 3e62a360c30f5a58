#ifndef HOST_SECURE_MEMSET_H
#define HOST_SECURE_MEMSET_H

#include <cstddef>

#include "host/host_export.h"

/**
 * Fills @a count bytes at @a p with @a value.  The write is never optimised
 * away, even when the memory is released right after.  Returns @a p.
 */
HOST_EXPORT void* secure_memset(void* p, int value, std::size_t count);

#endif /* HOST_SECURE_MEMSET_H */
