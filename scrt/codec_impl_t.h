#ifndef SCRT_CODEC_IMPL_T_H
#define SCRT_CODEC_IMPL_T_H

#include <cstddef>
#include <memory>

/**
 * The result part of the host's codecs (HMAC, RSA): an owned buffer and its
 * length.  A codec holds a result exactly when its operation succeeded.
 *
 * The codec fills both members and owns what it put there: a codec whose
 * result may be secret wipes the buffer in its own destructor, which runs
 * before this part releases the buffer.
 */
template <typename T>
class Codec_Impl_T
{
public:
  /// True when the operation succeeded and a result is held.
  explicit operator bool() const { return static_cast<bool>(result_); }
  /// The result, or null.
  const T* get() const { return result_.get(); }
  /// The number of result elements.
  std::size_t length() const { return length_; }

protected:
  std::unique_ptr<T[]> result_;
  std::size_t length_ = 0;
};

#endif /* SCRT_CODEC_IMPL_T_H */
