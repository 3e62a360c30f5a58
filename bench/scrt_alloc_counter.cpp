// Counts heap allocations of a benchmark program.  The program's own malloc
// family stands in front of the C library's, so operator new (which calls
// malloc), libcurl and ACE_OS::realloc are all counted in one place.
#include <atomic>
#include <cstddef>

namespace
{
std::atomic<unsigned long> allocations{0};
}  // namespace

/// The number of malloc, calloc and realloc calls so far; -1 when the
/// program is built with a sanitizer, which owns the allocator.
long scrt_allocation_count()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return -1;
#else
  return static_cast<long>(allocations.load(std::memory_order_relaxed));
#endif
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
extern "C"
{
  void* __libc_malloc(size_t size);
  void* __libc_calloc(size_t count, size_t size);
  void* __libc_realloc(void* block, size_t size);
  void __libc_free(void* block);

  void* malloc(size_t size)
  {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
  }

  void* calloc(size_t count, size_t size)
  {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
  }

  void* realloc(void* block, size_t size)
  {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(block, size);
  }

  void free(void* block)
  {
    __libc_free(block);
  }
}
#endif
