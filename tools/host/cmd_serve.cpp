// quorvane-host serve: the development host's web service agent.  The
// login page, the appliance's public key and JSON-RPC 2.0 over HTTP, whose
// requests go to the module's login handler as those of `rpc` do.

#include <cstdio>
#include <memory>
#include <regex>
#include <string>

#include <sys/socket.h>
#include <sys/stat.h>

#include <httplib.h>

#include "tools/common/http_listener.h"
#include "tools/host/commands.h"
#include "tools/host/login_module.h"
#include "tools/host/rpc_session.h"
#include "tools/host/secret_input.h"
#include "tools/host/usage.h"
#include "tools/host/web_agent.h"

namespace
{
const char SERVE[] = "serve";

/// The numbers of the command line; false after the usage error.
bool read_limits(const tools::Options& opts, Web_Agent_Config& cfg, long long& threads)
{
  long long max_line = RPC_DEFAULT_MAX_LINE;
  long long in_flight = SERVE_DEFAULT_MAX_IN_FLIGHT;
  long long read_timeout = SERVE_DEFAULT_READ_TIMEOUT;
  const char* bad =
      !opts.number("--threads", 1, 256, threads)              ? "--threads takes 1 to 256"
      : !opts.number("--max-line", 1, 1LL << 30, max_line)    ? "--max-line takes 1 to 1073741824 bytes"
      : !opts.number("--max-in-flight", 1, 1024, in_flight)   ? "--max-in-flight takes 1 to 1024"
      : !opts.number("--read-timeout", 1, 3600, read_timeout) ? "--read-timeout takes 1 to 3600 seconds"
                                                              : nullptr;
  if (bad != nullptr)
  {
    usage_error(SERVE, bad);
    return false;
  }
  cfg.max_body = static_cast<std::size_t>(max_line);
  cfg.max_in_flight = static_cast<std::size_t>(in_flight);
  cfg.read_timeout_s = static_cast<int>(read_timeout);
  return true;
}

/// The listening address, TLS files and origins; false after the usage error.
bool read_places(const tools::Options& opts, Web_Agent_Config& cfg, tools::Listen_Address& where)
{
  if (opts.has("--listen") && !tools::parse_listen(opts.get("--listen"), where))
  {
    usage_error(SERVE, "--listen takes HOST:PORT, the port 0 to 65535: " + opts.get("--listen"));
    return false;
  }
  if (opts.has("--tls-cert") != opts.has("--tls-key"))
  {
    usage_error(SERVE, "--tls-cert and --tls-key go together");
    return false;
  }
  cfg.tls = opts.has("--tls-cert");
  // An origin is a scheme, a host and maybe a port: what a browser sends.
  const std::regex origin(R"(https?://([A-Za-z0-9.-]+|\[[0-9A-Fa-f:.]+\])(:[0-9]{1,5})?)");
  for (const std::string& o : opts.all("--allow-origin"))
  {
    if (!std::regex_match(o, origin))
    {
      usage_error(SERVE, "--allow-origin takes SCHEME://HOST[:PORT], as a browser sends it: " + o);
      return false;
    }
    cfg.allowed_origins.push_back(o);
  }
  cfg.assets_dir = opts.get("--assets", default_assets_dir());
  return true;
}

std::unique_ptr<httplib::Server> make_server(const tools::Options& opts)
{
  if (!opts.has("--tls-cert"))
    return std::unique_ptr<httplib::Server>(new httplib::Server);
  std::unique_ptr<httplib::Server> svr(
      new httplib::SSLServer(opts.get("--tls-cert").c_str(), opts.get("--tls-key").c_str()));
  if (!svr->is_valid())
  {
    std::fprintf(stderr, "quorvane-host serve: cannot use the TLS certificate '%s' and key '%s'\n",
                 opts.get("--tls-cert").c_str(), opts.get("--tls-key").c_str());
    svr.reset();
  }
  return svr;
}
}  // namespace

int cmd_serve(int argc, char** argv)
{
  tools::Options opts(
      {"--module", "--key", "--listen", "--assets", "--tls-cert", "--tls-key", "--max-in-flight",
       "--read-timeout", "--ca-file", "--timeout", "--method", "--threads", "--max-line"},
      {}, {"--allow-origin"});
  int rc = parse_command_line(SERVE, opts, argc, argv);
  if (rc >= 0)
    return rc;
  Web_Agent_Config cfg;
  tools::Listen_Address where;
  long long threads = 4;
  if (!read_limits(opts, cfg, threads) || !read_places(opts, cfg, where))
    return 2;
  std::string error;
  if (!configure_login_services(opts, error))
    return usage_error(SERVE, error);
  if (!appliance_public_key(cfg.public_key_pem, error))
  {
    std::fprintf(stderr, "quorvane-host serve: %s\n", error.c_str());
    return 1;
  }
  struct stat st;
  if (::stat(cfg.assets_dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    std::fprintf(stderr, "quorvane-host serve: the login page's folder %s is missing; GET / answers 404\n",
                 cfg.assets_dir.c_str());

  // Before the handler's workers and the server's start, so that only the
  // sigwait takes a stop request.
  tools::block_stop_signals();
  Login_Module login;
  if (!login.open(opts.get("--module", default_module_path()), static_cast<int>(threads)))
  {
    std::fprintf(stderr, "quorvane-host serve: %s\n", login.error().c_str());
    return 1;
  }
  std::unique_ptr<httplib::Server> svr = make_server(opts);
  if (!svr)
    return 1;
  RPC_Session session(login.handler(), opts.get("--method", "login"),
                      static_cast<std::size_t>(threads) + RPC_DEFAULT_MAX_QUEUE);
  Web_Agent agent(cfg, session);
  agent.install(*svr);
  rc = tools::serve_until_signal(
      *svr, where, "quorvane-host serve", [&](int port) { agent.set_own_origin(where.host, port); },
      [&]
      {
        // No new connection, then no new request; the requests in hand
        // finish and their replies are written; then the idle keep-alive
        // connections are woken.
        svr->stop();
        agent.drain();
        tools::shutdown_connections(SHUT_RD);
      });
  session.finish();
  return rc;
}
