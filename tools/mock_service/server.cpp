#include "tools/mock_service/server.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include "tools/common/http_listener.h"
#include "tools/mock_service/routes.h"

namespace mock_service
{
namespace
{
using tools::printable;

int run_http(const Config& cfg)
{
  std::unique_ptr<httplib::Server> svr;
  if (cfg.tls_cert.empty())
    svr.reset(new httplib::Server);
  else
    svr.reset(new httplib::SSLServer(cfg.tls_cert.c_str(), cfg.tls_key.c_str()));
  if (!svr->is_valid())
  {
    std::fprintf(stderr, "quorvane-mock-service: cannot use the TLS certificate '%s' and key '%s'\n",
                 cfg.tls_cert.c_str(), cfg.tls_key.c_str());
    return 1;
  }
  Stopper stopper;
  install_routes(*svr, cfg, stopper);
  // Many requests per connection and a generous idle time, so that clients
  // can show connection reuse.
  svr->set_keep_alive_max_count(100000);
  svr->set_keep_alive_timeout(30);
  // httplib writes a reply's head and body separately; with Nagle's
  // algorithm the body then waits for the client's delayed ACK (40 ms on
  // Linux) on every reused connection.
  svr->set_tcp_nodelay(true);

  tools::Listen_Address where;
  where.host = cfg.host;
  where.port = cfg.port;
  return tools::serve_until_signal(*svr, where, "quorvane-mock-service", nullptr,
                                   [&]
                                   {
                                     stopper.stop();
                                     svr->stop();
                                     tools::shutdown_connections(SHUT_RDWR);
                                   });
}

// The "close" fault: a bare socket that accepts and closes, with neither
// HTTP nor TLS ever spoken.
int run_close(const Config& cfg)
{
  bool v6 = cfg.host.find(':') != std::string::npos;
  int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_storage addr;
  std::memset(&addr, 0, sizeof addr);
  socklen_t len = 0;
  bool ok = fd >= 0;
  if (ok && v6)
  {
    sockaddr_in6* a = reinterpret_cast<sockaddr_in6*>(&addr);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(static_cast<uint16_t>(cfg.port));
    ok = inet_pton(AF_INET6, cfg.host.c_str(), &a->sin6_addr) == 1;
    len = sizeof *a;
  }
  else if (ok)
  {
    sockaddr_in* a = reinterpret_cast<sockaddr_in*>(&addr);
    a->sin_family = AF_INET;
    a->sin_port = htons(static_cast<uint16_t>(cfg.port));
    ok = inet_pton(AF_INET, cfg.host.c_str(), &a->sin_addr) == 1;
    len = sizeof *a;
  }
  ok = ok && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 && ::listen(fd, 16) == 0 &&
       ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
  if (!ok)
  {
    std::fprintf(stderr, "quorvane-mock-service: cannot listen on %s: %s\n",
                 printable(cfg.host, cfg.port).c_str(), std::strerror(errno));
    if (fd >= 0)
      ::close(fd);
    return 1;
  }
  int port = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port
                      : reinterpret_cast<sockaddr_in*>(&addr)->sin_port);

  int wake[2];
  if (::pipe2(wake, O_CLOEXEC) != 0)
  {
    ::close(fd);
    return 1;
  }
  std::atomic<bool> signalled(false);
  std::thread waiter(
      [&]
      {
        sigset_t set = tools::stop_signals();
        int sig = 0;
        sigwait(&set, &sig);
        signalled = true;
        char c = 0;
        (void)!::write(wake[1], &c, 1);
      });
  // A launcher that does not read the line may have closed stdout; the
  // server serves all the same.
  std::printf("listening on %s\n", printable(cfg.host, port).c_str());
  static_cast<void>(std::fflush(stdout));
  for (;;)
  {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR)
      break;
    if (fds[1].revents != 0)
      break;
    if (fds[0].revents != 0)
    {
      int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (c >= 0)
      {
        std::fprintf(stderr, "mock-service: connection closed at once (fault: close)\n");
        ::close(c);
      }
    }
  }
  if (!signalled)
    kill(getpid(), SIGTERM);  // the loop failed; release the waiter
  waiter.join();
  ::close(wake[0]);
  ::close(wake[1]);
  ::close(fd);
  return 0;
}
}  // namespace

int serve(const Config& cfg)
{
  return cfg.fault == FAULT_CLOSE ? run_close(cfg) : run_http(cfg);
}

}  // namespace mock_service
