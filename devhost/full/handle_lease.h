#ifndef DEVHOST_SERVICES_HANDLE_LEASE_H
#define DEVHOST_SERVICES_HANDLE_LEASE_H

#include <string>

#include "devhost/full/curl_pool.h"

namespace devhost
{
/**
 * The easy handle of one exchange: taken from the pool (a shared client) or
 * from the client's own slot (a private one) when the lease starts, and
 * given back to where it came from when the lease ends, on every way out of
 * the exchange (a reply, a failure, an exception).  A private handle made
 * under older options is replaced first.  `get` is null when libcurl could
 * not make a handle.  The pool and the slot must outlive the lease; the
 * lease, like the client that holds the slot, is used by one thread.
 */
class Handle_Lease
{
public:
  /// Takes a handle for @a origin ("scheme://host:port") from @a pool when
  /// @a share, else from @a own (which is empty until the lease ends).
  Handle_Lease(Curl_Pool& pool, bool share, Curl_Handle_Ptr& own, const std::string& origin);
  /// Gives the handle back (to the pool or to the slot), unless `close`d.
  ~Handle_Lease();
  Handle_Lease(const Handle_Lease&) = delete;
  Handle_Lease& operator=(const Handle_Lease&) = delete;

  Curl_Handle* get() const { return handle_.get(); }
  Curl_Handle* operator->() const { return handle_.get(); }

  /// Closes the handle, with its connections, instead of giving it back.
  void close() { handle_.reset(); }

private:
  Curl_Pool& pool_;
  bool share_;
  Curl_Handle_Ptr& own_;
  Curl_Handle_Ptr handle_;
};

}  // namespace devhost

#endif /* DEVHOST_SERVICES_HANDLE_LEASE_H */
