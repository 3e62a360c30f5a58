#ifndef TOOLS_MOCK_SERVICE_ROUTES_H
#define TOOLS_MOCK_SERVICE_ROUTES_H

#include <condition_variable>
#include <mutex>

#include "tools/mock_service/options.h"

namespace httplib
{
class Server;
}

namespace mock_service
{
/// Wakes the handlers that hold a reply back when the service stops.
class Stopper
{
public:
  void stop();
  /// Waits until the service stops or @a ms pass; true when stopping.
  bool wait_for(long ms);
  /// Waits until the service stops.
  void wait();

private:
  std::mutex lock_;
  std::condition_variable cv_;
  bool stopping_ = false;
};

/**
 * Installs the emulated resources on @a svr: GET /fcc/v1/settings (checked
 * against the account's request signing), GET /echo, and a JSON 404 for
 * anything else, each answered as @a cfg's fault asks and logged in one
 * line on stderr that never holds a key or a signature.  @a cfg and
 * @a stopper must outlive the server.
 */
void install_routes(httplib::Server& svr, const Config& cfg, Stopper& stopper);

}  // namespace mock_service

#endif /* TOOLS_MOCK_SERVICE_ROUTES_H */
