#ifndef TOOLS_HOST_WEB_AGENT_H
#define TOOLS_HOST_WEB_AGENT_H

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "tools/host/rpc_session.h"
#include "tools/host/web_assets.h"

namespace httplib
{
class Server;
struct Request;
struct Response;
}  // namespace httplib

/// What `quorvane-host serve` was asked for.
struct Web_Agent_Config
{
  std::string assets_dir;
  /// The appliance key's public half, PEM, served as /appliance.pub.
  std::string public_key_pem;
  /// Origins besides the server's own whose requests are taken.
  std::vector<std::string> allowed_origins;
  std::size_t max_in_flight = 16;
  /// Largest POST body, bytes.
  std::size_t max_body = 1024 * 1024;
  /// Seconds a client may stay silent while its request is read.
  int read_timeout_s = 10;
  bool tls = false;
};

/**
 * The development host's web service agent on an httplib server: the login
 * page's files (GET /, GET /NAME), the appliance's public key
 * (GET /appliance.pub) and JSON-RPC 2.0 over HTTP (POST /rpc), handed to
 * an RPC_Session as `quorvane-host rpc` hands its lines.
 *
 * Every response carries a Content-Security-Policy that allows the page's
 * own origin only and no inline script, X-Content-Type-Options: nosniff and
 * Cache-Control: no-store.  A request whose Origin is neither the server's
 * own nor an allowed one is refused with 403 (a page of another site must
 * not drive logins); beyond `max_in_flight` requests in hand, with 503.
 * One access-log line per response on stderr: client, method, path, status,
 * body bytes and duration, never a body or a query.
 *
 * The config, session and agent must outlive the server.  The handlers run
 * on the server's threads; `drain` on another.
 */
class Web_Agent
{
public:
  Web_Agent(Web_Agent_Config cfg, RPC_Session& session);

  /// Installs the routes, headers, limits, worker pool and access log on
  /// @a svr, before it starts.
  void install(httplib::Server& svr);
  /// Sets the server's own origin from where it listens, before it serves.
  void set_own_origin(const std::string& host, int port);
  const std::string& own_origin() const { return own_origin_; }

  /// From now on refuses requests with 503; returns once no request is in
  /// hand any more: every response let in has been written.
  void drain();

private:
  typedef void (Web_Agent::*Route)(const httplib::Request&, httplib::Response&);
  /// @a route behind the Origin check and the bound of requests in hand.
  void guarded(Route route, const httplib::Request& req, httplib::Response& res);
  bool origin_allowed(const httplib::Request& req) const;
  /// A request in hand from `enter` to `leave` (its handler returned),
  /// which the bound counts, and to `written` (its response went out),
  /// which `drain` waits for.
  bool enter();
  void leave();
  void written();

  void page_file(const httplib::Request& req, httplib::Response& res);
  void public_key(const httplib::Request& req, httplib::Response& res);
  void rpc(const httplib::Request& req, httplib::Response& res);
  void rpc_other_method(const httplib::Request& req, httplib::Response& res);

  const Web_Agent_Config cfg_;
  RPC_Session& session_;
  Web_Assets assets_;
  std::string own_origin_;
  std::mutex lock_;
  std::condition_variable idle_;
  std::size_t in_flight_ = 0;
  std::size_t unwritten_ = 0;
  bool draining_ = false;
};

#endif /* TOOLS_HOST_WEB_AGENT_H */
