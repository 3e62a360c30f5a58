#include "devhost/full/handle_lease.h"

#include <utility>

namespace devhost
{
Handle_Lease::Handle_Lease(Curl_Pool& pool, bool share, Curl_Handle_Ptr& own, const std::string& origin)
    : pool_(pool), share_(share), own_(own)
{
  if (share_)
  {
    handle_ = pool_.acquire(origin);
    return;
  }
  // A private handle made under other options may hold connections that
  // were verified against another CA bundle; it is replaced.
  if (own_ && own_->generation != pool_.current())
    own_.reset();
  if (!own_)
    own_ = pool_.create_private();
  handle_ = std::move(own_);
}

Handle_Lease::~Handle_Lease()
{
  // Neither way throws: `release` never does, and the slot takes a move.
  if (share_)
    pool_.release(std::move(handle_));
  else
    own_ = std::move(handle_);
}

}  // namespace devhost
