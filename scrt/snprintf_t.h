#ifndef SCRT_SNPRINTF_T_H
#define SCRT_SNPRINTF_T_H

#include <climits>
#include <cstdarg>
#include <cstddef>
#include <type_traits>

#include <ace/OS_NS_stdio.h>
#include <ace/OS_NS_stdlib.h>

/**
 * A printf-style formatter that holds its whole result: it formats into an
 * inline buffer of N characters and, when the text does not fit, moves to a
 * heap buffer grown until it does.
 *
 * Texts of up to N - 1 characters cost one formatting pass and no heap
 * allocation.  Longer ones cost one allocation and one more pass.  Once an
 * object has a heap buffer it keeps it (a later `vset` starts from it and
 * grows it) until it is destroyed.
 *
 * Failure: when a heap buffer cannot be had, `length()` is 0 and `c_str()`
 * still gives the last attempt's buffer, holding the text truncated to its
 * capacity and NUL-terminated.  A negative result of the formatting call is
 * passed on in `length()`, with the buffer's contents unspecified.  Nothing
 * throws and errno is neither read nor set.
 *
 * The object owns its heap buffer (ACE_OS::realloc / ACE_OS::free) and is
 * neither copyable nor assignable.  One thread at a time.  Only T = char is
 * supported.
 */
template <size_t N, typename T = char>
class snprintf_t
{
  static_assert(std::is_same<T, char>::value, "snprintf_t formats char text only");
  static_assert(N > 0 && N < INT_MAX, "the inline buffer holds at least the terminator");

public:
  /// An empty text in the inline buffer.
  snprintf_t() : len_(0), ptr_(nullptr), size_(0) { buf_[0] = '\0'; }

  /// Formats @a fmt with the arguments that follow; read `length()` for the outcome.
  // cppcheck-suppress uninitMemberVar ; vset writes buf_ (a terminator at least) first
  explicit snprintf_t(const char* fmt, ...) ACE_GCC_FORMAT_ATTRIBUTE(printf, 2, 3)
      : len_(0), ptr_(nullptr), size_(0)
  {
    va_list args;
    va_start(args, fmt);
    vset(fmt, args);
    va_end(args);
  }

  ~snprintf_t()
  {
    if (ptr_ != nullptr)
      ACE_OS::free(ptr_);
  }

  snprintf_t(const snprintf_t&) = delete;
  snprintf_t& operator=(const snprintf_t&) = delete;

  /// The text: the heap buffer once there is one, else the inline buffer.
  const T* c_str() const { return ptr_ != nullptr ? ptr_ : buf_; }
  /// The active buffer, for callers that edit the text in place.
  T* data() { return ptr_ != nullptr ? ptr_ : buf_; }
  /// The text's length without the terminator; 0 after a failed allocation,
  /// negative after a failed formatting call.
  int length() const { return len_; }

  /// As `vset`, with the arguments that follow.
  int set(const char* fmt, ...) ACE_GCC_FORMAT_ATTRIBUTE(printf, 2, 3)
  {
    va_list args;
    va_start(args, fmt);
    const int result = vset(fmt, args);
    va_end(args);
    return result;
  }

  /**
   * Formats @a fmt with @a args (which stays usable by the caller), growing
   * the heap buffer as needed.  Returns the new `length()`, or -1 (with
   * `length()` 0) when a heap buffer cannot be had or would be too large for
   * an int to count.
   */
  int vset(const char* fmt, va_list args) ACE_GCC_FORMAT_ATTRIBUTE(printf, 2, 0)
  {
    for (;;)
    {
      T* const buf = ptr_ != nullptr ? ptr_ : buf_;
      const size_t capacity = ptr_ != nullptr ? size_ : N;

      // Every attempt must read the arguments from the start.
      va_list attempt;
      va_copy(attempt, args);
      len_ = ACE_OS::vsnprintf(buf, capacity, fmt, attempt);
      va_end(attempt);

      if (len_ < 0 || static_cast<size_t>(len_) < capacity)  // GCOVR_EXCL_BR_LINE: ACE gives no len_ < 0 here
        return len_;

      // ACE reports a formatter that only says "too small" as capacity + 1,
      // a guess; doubling it makes the next attempt likely to fit.  A text
      // that really needs capacity + 1 characters pays the same slack.
      size_t need = static_cast<size_t>(len_);
      if (need == capacity + 1)
        need *= 2;

      // Doubling a repeated guess must not run past what len_ can count.
      void* block =
          need < static_cast<size_t>(INT_MAX) ? ACE_OS::realloc(ptr_, (need + 1) * sizeof(T)) : nullptr;
      if (block == nullptr)
      {
        len_ = 0;
        return -1;
      }
      ptr_ = static_cast<T*>(block);
      size_ = need + 1;
    }
  }

protected:
  T buf_[N];  ///< the inline buffer, used while ptr_ is null
  int len_;   ///< the last result: text length, a negative formatting result, or 0 after a failed allocation
  T* ptr_;    ///< the heap buffer, or null
  size_t size_;  ///< the heap buffer's capacity in characters, terminator included; 0 without one
};

#endif /* SCRT_SNPRINTF_T_H */
