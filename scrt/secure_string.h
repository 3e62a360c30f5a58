#ifndef SCRT_SECURE_STRING_H
#define SCRT_SECURE_STRING_H

#include <cstddef>
#include <memory>
#include <string>

#include "host/secure_memset.h"

/**
 * Allocator that zeroes every heap block before returning it to the heap.
 *
 * Allocation is the standard allocator's.  Instances hold no state and always
 * compare equal, so containers may exchange blocks freely.  The nested
 * `rebind` keeps the wiping behaviour for every element type a container
 * rebinds to (the base's own `rebind` would give back a plain allocator).
 *
 * What is not wiped here: the small-string buffer inside a string object,
 * and characters left behind in a block that is still owned (see
 * `secure_wipe` for both).
 */
template <typename T>
class secure_allocator : public std::allocator<T>
{
public:
  typedef std::size_t size_type;
  typedef T* pointer;
  typedef T value_type;

  template <typename U>
  struct rebind
  {
    typedef secure_allocator<U> other;
  };

  secure_allocator() noexcept {}
  secure_allocator(const secure_allocator& other) noexcept : std::allocator<T>(other) {}
  secure_allocator& operator=(const secure_allocator&) noexcept = default;
  template <typename U>
  secure_allocator(const secure_allocator<U>&) noexcept
  {
  }

  /// Zeroes the whole block of @a n elements, then frees it.
  void deallocate(pointer p, size_type n)
  {
    secure_memset(p, 0, n * sizeof(T));
    std::allocator<T>::deallocate(p, n);
  }
};

template <typename T, typename U>
bool operator==(const secure_allocator<T>&, const secure_allocator<U>&) noexcept
{
  return true;
}

template <typename T, typename U>
bool operator!=(const secure_allocator<T>&, const secure_allocator<U>&) noexcept
{
  return false;
}

/// A string for secret text: its heap storage is wiped when released.
typedef std::basic_string<char, std::char_traits<char>, secure_allocator<char>> secure_string;

/**
 * Zeroes every character @a s can hold, up to its capacity and the
 * terminator, and leaves @a s empty with its storage kept.
 *
 * The allocator wipes heap blocks only.  A text of up to 15 characters lives
 * in the string object itself, and so inside whatever holds the object (a
 * map node, a `make_shared` block, a stack frame); moving such a string
 * copies the characters and leaves them behind in the source.  Holders of a
 * secret call this before the object goes or is overwritten.  Allocates
 * nothing and never throws.
 */
inline void secure_wipe(secure_string& s) noexcept
{
  // Growing to the capacity never reallocates, and makes every character
  // slot the string's own, so the wipe below stays inside the string.
  s.resize(s.capacity());
  secure_memset(s.data(), 0, s.size());
  s.clear();
}

/// Calls `secure_wipe` on a string when the guard leaves its scope, on
/// every path out (exceptions included).
class Secure_Wipe_Guard
{
public:
  explicit Secure_Wipe_Guard(secure_string& s) noexcept : s_(s) {}
  ~Secure_Wipe_Guard() { secure_wipe(s_); }
  Secure_Wipe_Guard(const Secure_Wipe_Guard&) = delete;
  Secure_Wipe_Guard& operator=(const Secure_Wipe_Guard&) = delete;

private:
  secure_string& s_;
};

#endif /* SCRT_SECURE_STRING_H */
