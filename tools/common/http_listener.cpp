#include "tools/common/http_listener.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <dirent.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <httplib.h>

namespace tools
{
bool parse_listen(const std::string& text, Listen_Address& where)
{
  std::string::size_type colon = text.rfind(':');
  if (colon == std::string::npos)
    return false;
  std::string host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  const char* digits = text.c_str() + colon + 1;
  errno = 0;
  char* end = nullptr;
  long long port = std::strtoll(digits, &end, 10);
  if (host.empty() || errno != 0 || end == digits || *end != '\0' || port < 0 || port > 65535)
    return false;
  where.host = host;
  where.port = static_cast<int>(port);
  return true;
}

std::string printable(const std::string& host, int port)
{
  bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

sigset_t stop_signals()
{
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

void block_stop_signals()
{
  sigset_t set = stop_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // Fails only for a bad signal number or action.
  static_cast<void>(std::signal(SIGPIPE, SIG_IGN));
}

void shutdown_connections(int how)
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
    // TCP only: a launcher may have made our stdout and stderr Unix
    // sockets (Node.js does), which must stay writable to the end.
    sockaddr_storage addr;
    socklen_t length = sizeof addr;
    if (::getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&addr), &length) != 0 ||
        (addr.ss_family != AF_INET && addr.ss_family != AF_INET6))
      continue;
    ::shutdown(static_cast<int>(fd), how);
  }
  ::closedir(dir);
}

int serve_until_signal(httplib::Server& svr, const Listen_Address& where, const char* program,
                       const std::function<void(int port)>& bound, const std::function<void()>& stop)
{
  int port = where.port;
  if (port == 0)
    port = svr.bind_to_any_port(where.host);
  else if (!svr.bind_to_port(where.host, port))
    port = -1;
  if (port < 0)
  {
    std::fprintf(stderr, "%s: cannot listen on %s\n", program, printable(where.host, where.port).c_str());
    return 1;
  }
  if (bound)
    bound(port);

  std::atomic<bool> listen_done(false);
  std::thread listener(
      [&]
      {
        svr.listen_after_bind();
        listen_done = true;
        kill(getpid(), SIGTERM);  // wakes the main thread's sigwait
      });
  // The line is the promise that a stop request is honoured: it goes out
  // only once the server loop runs, since stop() before that is lost.  The
  // library has no readiness notice; the loop starts at once.
  while (!svr.is_running() && !listen_done)
    std::this_thread::yield();
  // A launcher that does not read the line may have closed stdout; the
  // server serves all the same.
  std::printf("listening on %s\n", printable(where.host, port).c_str());
  static_cast<void>(std::fflush(stdout));

  sigset_t set = stop_signals();
  int sig = 0;
  sigwait(&set, &sig);
  stop();
  listener.join();
  return 0;
}

}  // namespace tools
