#ifndef SCRT_SMART_PTR_MACROS_H
#define SCRT_SMART_PTR_MACROS_H

#include <memory>
#include <new>
#include <utility>

/**
 * `std::make_shared<T>(args...)`, but an empty pointer instead of
 * `std::bad_alloc` when memory runs out anywhere in the allocation or the
 * construction.  Every other exception passes to the caller.
 */
template <typename T, typename... Args>
std::shared_ptr<T> make_shared_nothrow(Args&&... args)
{
  try
  {
    return std::make_shared<T>(std::forward<Args>(args)...);
  }
  catch (const std::bad_alloc&)
  {
    return std::shared_ptr<T>();
  }
}

#endif /* SCRT_SMART_PTR_MACROS_H */
