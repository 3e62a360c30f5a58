#ifndef HOST_HANDLER_FACTORY_H
#define HOST_HANDLER_FACTORY_H

#include <cerrno>
#include <new>

#include "host/host_export.h"

/**
 * Defines the factory/disposer pair of handler class CLS of the family whose
 * base is BASE and whose disposer type is EXTERMINATOR:
 * `BASE* _make_CLS(EXTERMINATOR* gobbler)`, exported, and
 * `void _gobble_CLS(void* p)`, local to the module.
 *
 * The factory writes the disposer to `*gobbler` first (when `gobbler` is not
 * null, and also when the allocation then fails), allocates with the
 * non-throwing `new` and sets `errno` to ENOMEM on null.  A throwing
 * constructor releases the memory and lets the exception pass.  The disposer
 * ignores null and otherwise deletes through BASE's virtual destructor.
 */
// NOLINTBEGIN(bugprone-macro-parentheses): the arguments name types
#define HOST_HANDLER_FACTORY_DEFINE(BASE, EXTERMINATOR, CLS)           \
  extern "C" void _gobble_##CLS(void* p)                               \
  {                                                                     \
    if (p != nullptr)                                                   \
      delete static_cast<BASE*>(p);                                     \
  }                                                                     \
  extern "C" HOST_EXPORT BASE* _make_##CLS(EXTERMINATOR* gobbler)      \
  {                                                                     \
    if (gobbler != nullptr)                                             \
      *gobbler = _gobble_##CLS;                                         \
    BASE* handler = new (std::nothrow) CLS;                             \
    if (handler == nullptr)                                             \
      errno = ENOMEM;                                                   \
    return handler;                                                     \
  }
// NOLINTEND(bugprone-macro-parentheses)

#endif /* HOST_HANDLER_FACTORY_H */
