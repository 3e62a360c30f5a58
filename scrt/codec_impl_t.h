#ifndef SCRT_CODEC_IMPL_T_H
#define SCRT_CODEC_IMPL_T_H

#include <cstddef>
#include <memory>

#include "host/secure_memset.h"

/**
 * The result part of the host's codecs (HMAC, RSA): an owned buffer and its
 * length.  A codec holds a result exactly when its operation succeeded.
 * The buffer is wiped before it is released, since it may hold plaintext.
 */
template <typename T>
class Codec_Impl_T
{
public:
  Codec_Impl_T() : length_(0), capacity_(0) {}
  ~Codec_Impl_T() { clear(); }
  Codec_Impl_T(const Codec_Impl_T&) = delete;
  Codec_Impl_T& operator=(const Codec_Impl_T&) = delete;

  /// True when the operation succeeded and a result is held.
  explicit operator bool() const { return static_cast<bool>(result_); }
  /// The result, or null.
  const T* get() const { return result_.get(); }
  /// The number of result elements (a text result's terminator not counted).
  std::size_t length() const { return length_; }

protected:
  /// Takes ownership of @a result, an array of @a capacity elements whose
  /// first @a length are the result.
  void assign(std::unique_ptr<T[]> result, std::size_t length, std::size_t capacity)
  {
    clear();
    result_ = std::move(result);
    length_ = length;
    capacity_ = capacity;
  }

  /// Wipes the whole array and releases it.
  void clear()
  {
    if (result_)
      secure_memset(result_.get(), 0, capacity_ * sizeof(T));
    result_.reset();
    length_ = 0;
    capacity_ = 0;
  }

private:
  std::unique_ptr<T[]> result_;
  std::size_t length_;
  std::size_t capacity_;
};

#endif /* SCRT_CODEC_IMPL_T_H */
