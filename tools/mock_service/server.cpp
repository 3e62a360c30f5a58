#include "tools/mock_service/server.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <httplib.h>

#include "tools/mock_service/routes.h"

namespace mock_service
{
namespace
{
std::string printable(const std::string& host, int port)
{
  bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

// httplib's stop() closes the listening socket, but a worker holding an
// idle keep-alive connection waits out the keep-alive timeout before it
// notices, and stop() joins the workers.  Shutting every connection down
// (without closing the descriptors, which stay the workers') ends those
// waits at once.
void shutdown_connections()
{
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr)
    return;
  while (dirent* entry = ::readdir(dir))
  {
    char* end = nullptr;
    long fd = std::strtol(entry->d_name, &end, 10);
    struct stat st;
    if (*end != '\0' || end == entry->d_name || fd == ::dirfd(dir) ||
        ::fstat(static_cast<int>(fd), &st) != 0 || !S_ISSOCK(st.st_mode))
      continue;
    ::shutdown(static_cast<int>(fd), SHUT_RDWR);
  }
  ::closedir(dir);
}

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

  int port = cfg.port;
  if (port == 0)
    port = svr->bind_to_any_port(cfg.host);
  else if (!svr->bind_to_port(cfg.host, port))
    port = -1;
  if (port < 0)
  {
    std::fprintf(stderr, "quorvane-mock-service: cannot listen on %s\n",
                 printable(cfg.host, cfg.port).c_str());
    return 1;
  }

  std::atomic<bool> listen_done(false);
  std::thread listener(
      [&]
      {
        svr->listen_after_bind();
        listen_done = true;
        kill(getpid(), SIGTERM);  // wakes the main thread's sigwait
      });
  // The line is the promise that a stop request is honoured: it goes out
  // only once the server loop runs, since stop() before that is lost.  The
  // library has no readiness notice; the loop starts at once.
  while (!svr->is_running() && !listen_done)
    std::this_thread::yield();
  std::printf("listening on %s\n", printable(cfg.host, port).c_str());
  std::fflush(stdout);

  sigset_t set = stop_signals();
  int sig = 0;
  sigwait(&set, &sig);
  stopper.stop();
  svr->stop();
  shutdown_connections();
  listener.join();
  return 0;
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
        sigset_t set = stop_signals();
        int sig = 0;
        sigwait(&set, &sig);
        signalled = true;
        char c = 0;
        (void)!::write(wake[1], &c, 1);
      });
  std::printf("listening on %s\n", printable(cfg.host, port).c_str());
  std::fflush(stdout);
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

sigset_t stop_signals()
{
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

int serve(const Config& cfg)
{
  return cfg.fault == FAULT_CLOSE ? run_close(cfg) : run_http(cfg);
}

}  // namespace mock_service
