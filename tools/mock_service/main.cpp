// quorvane-mock-service: an emulator of the Quorvane cloud service for
// tests and for running the module off the appliance.  It serves the
// settings resource with the service's request signing, plus an echo
// resource for transport tests, and can misbehave on request (--fault).

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "tools/mock_service/signature.h"

namespace
{
enum Fault
{
  FAULT_NONE,
  FAULT_NO_VERSION,         // 10000 without data.aboutus_version
  FAULT_ARRAY,              // a JSON array
  FAULT_NOT_JSON,           // an HTML page
  FAULT_OVERSIZED,          // 2 MiB of JSON with a Content-Length
  FAULT_OVERSIZED_CHUNKED,  // 2 MiB of JSON, chunked
  FAULT_NO_REPLY,           // the request is read, the reply never comes
  FAULT_CLOSE,              // every connection is closed at once
  FAULT_SLOW                // the reply comes after --delay-ms
};

const struct
{
  const char* name;
  Fault fault;
} FAULTS[] = {
    {"none", FAULT_NONE},           {"no-version", FAULT_NO_VERSION},
    {"array", FAULT_ARRAY},         {"not-json", FAULT_NOT_JSON},
    {"oversized", FAULT_OVERSIZED}, {"oversized-chunked", FAULT_OVERSIZED_CHUNKED},
    {"no-reply", FAULT_NO_REPLY},   {"close", FAULT_CLOSE},
    {"slow", FAULT_SLOW},
};

const std::size_t OVERSIZED_BYTES = 2 * 1024 * 1024;

struct Config
{
  std::string host = "127.0.0.1";
  int port = 0;
  mock_service::Account account;
  std::string version = "1.0.0";
  std::string tls_cert;
  std::string tls_key;
  long long max_skew_s = 300;
  Fault fault = FAULT_NONE;
  long delay_ms = 2000;
  bool stop_on_stdin_eof = false;
  long long date_offset_s = 0;
};

void usage()
{
  std::fprintf(stderr,
               "usage: quorvane-mock-service --access-key AK --secret-key SK [options]\n"
               "  --listen HOST:PORT     address to listen on (default 127.0.0.1:0, an ephemeral port;\n"
               "                         IPv6 as [::1]:0); the first line on stdout names the port\n"
               "  --version TEXT         the service version reported (default 1.0.0)\n"
               "  --tls-cert FILE        serve HTTPS with this PEM certificate ...\n"
               "  --tls-key FILE         ... and this PEM private key\n"
               "  --max-skew SECONDS     allowed Client-Now difference (default 300)\n"
               "  --fault MODE           misbehave: no-version, array, not-json, oversized,\n"
               "                         oversized-chunked, no-reply, close, slow\n"
               "  --delay-ms N           delay of the slow fault (default 2000)\n"
               "  --date-offset SECONDS  shift the Date header (to emulate a skewed clock)\n"
               "  --stop-on-stdin-eof    stop when stdin ends (a launcher's pipe: the\n"
               "                         emulator goes when its launcher dies)\n"
               "Resources: GET /fcc/v1/settings (signed), GET /echo (the request as JSON).\n"
               "Stops on SIGTERM or SIGINT.\n");
}

bool parse_number(const char* text, long long low, long long high, long long& out)
{
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < low || v > high)
    return false;
  out = v;
  return true;
}

bool parse_listen(const std::string& text, Config& cfg)
{
  std::string::size_type colon = text.rfind(':');
  if (colon == std::string::npos)
    return false;
  std::string host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  long long port = 0;
  if (host.empty() || !parse_number(text.c_str() + colon + 1, 0, 65535, port))
    return false;
  cfg.host = host;
  cfg.port = static_cast<int>(port);
  return true;
}

bool parse_args(int argc, char** argv, Config& cfg)
{
  bool have_ak = false;
  bool have_sk = false;
  for (int i = 1; i < argc; ++i)
  {
    std::string arg = argv[i];
    if (arg == "--stop-on-stdin-eof")
    {
      cfg.stop_on_stdin_eof = true;
      continue;
    }
    if (arg == "--help" || arg == "-h" || i + 1 == argc)
    {
      if (arg != "--help" && arg != "-h")
        std::fprintf(stderr, "quorvane-mock-service: %s needs a value\n", arg.c_str());
      return false;
    }
    const char* val = argv[++i];
    long long n = 0;
    if (arg == "--listen")
    {
      if (!parse_listen(val, cfg))
      {
        std::fprintf(stderr, "quorvane-mock-service: bad --listen '%s'\n", val);
        return false;
      }
    }
    else if (arg == "--access-key")
    {
      cfg.account.access_key = val;
      have_ak = true;
    }
    else if (arg == "--secret-key")
    {
      cfg.account.secret_key = val;
      have_sk = true;
    }
    else if (arg == "--version")
      cfg.version = val;
    else if (arg == "--tls-cert")
      cfg.tls_cert = val;
    else if (arg == "--tls-key")
      cfg.tls_key = val;
    else if (arg == "--max-skew" && parse_number(val, 0, 10LL * 365 * 86400, n))
      cfg.max_skew_s = n;
    else if (arg == "--delay-ms" && parse_number(val, 0, 3600 * 1000, n))
      cfg.delay_ms = static_cast<long>(n);
    else if (arg == "--date-offset" && parse_number(val, -10LL * 365 * 86400, 10LL * 365 * 86400, n))
      cfg.date_offset_s = n;
    else if (arg == "--fault")
    {
      bool known = false;
      for (const auto& f : FAULTS)
        if (f.name == std::string(val))
        {
          cfg.fault = f.fault;
          known = true;
        }
      if (!known)
      {
        std::fprintf(stderr, "quorvane-mock-service: unknown fault '%s'\n", val);
        return false;
      }
    }
    else
    {
      std::fprintf(stderr, "quorvane-mock-service: bad option %s %s\n", arg.c_str(), val);
      return false;
    }
  }
  if (!have_ak || !have_sk)
  {
    std::fprintf(stderr, "quorvane-mock-service: --access-key and --secret-key are required\n");
    return false;
  }
  if (cfg.tls_cert.empty() != cfg.tls_key.empty())
  {
    std::fprintf(stderr, "quorvane-mock-service: --tls-cert and --tls-key go together\n");
    return false;
  }
  return true;
}

/// Wakes the handlers that hold a reply back when the service stops.
class Stopper
{
public:
  void stop()
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
    cv_.notify_all();
  }
  /// Waits until the service stops or @a ms pass; true when stopping.
  bool wait_for(long ms)
  {
    std::unique_lock<std::mutex> guard(lock_);
    return cv_.wait_for(guard, std::chrono::milliseconds(ms), [this] { return stopping_; });
  }
  void wait()
  {
    std::unique_lock<std::mutex> guard(lock_);
    cv_.wait(guard, [this] { return stopping_; });
  }

private:
  std::mutex lock_;
  std::condition_variable cv_;
  bool stopping_ = false;
};

long long now_ms()
{
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string http_date(long long offset_s)
{
  time_t t = std::time(nullptr) + static_cast<time_t>(offset_s);
  struct tm tm;
  gmtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return buf;
}

std::string raw_query(const httplib::Request& req)
{
  std::string::size_type q = req.target.find('?');
  return q == std::string::npos ? std::string() : req.target.substr(q + 1);
}

/// One line per request on stderr; never a key or a signature.
void log_request(const httplib::Request& req, int status, const std::string& note)
{
  std::string query = raw_query(req);
  std::fprintf(stderr, "mock-service: %s %s%s%s from %s:%d -> %d %s\n", req.method.c_str(), req.path.c_str(),
               query.empty() ? "" : "?", query.c_str(), req.remote_addr.c_str(), req.remote_port, status,
               note.c_str());
  std::fflush(stderr);
}

const char* header(const httplib::Request& req, const char* name)
{
  // httplib keeps headers in a case-insensitive multimap.
  auto it = req.headers.find(name);
  return it == req.headers.end() ? nullptr : it->second.c_str();
}

void send_json(httplib::Response& res, int status, const nlohmann::json& body)
{
  res.status = status;
  res.set_content(body.dump(), "application/json");
}

/// Holds the reply back as the fault asks; false when the service stopped.
bool delay(const Config& cfg, Stopper& stopper, const httplib::Request& req)
{
  if (cfg.fault == FAULT_NO_REPLY)
  {
    log_request(req, 0, "(fault: no reply)");
    stopper.wait();
    return false;
  }
  if (cfg.fault == FAULT_SLOW && stopper.wait_for(cfg.delay_ms))
    return false;
  return true;
}

/// Gives @a body to the client, unless a body fault replaces it.
void reply(const Config& cfg, httplib::Response& res, const nlohmann::json& body)
{
  switch (cfg.fault)
  {
    case FAULT_NO_VERSION:
      send_json(res, 200, {{"result_code", mock_service::QMS_RESULT_OK}, {"data", nlohmann::json::object()}});
      return;
    case FAULT_ARRAY:
      send_json(res, 200, nlohmann::json::array({body}));
      return;
    case FAULT_NOT_JSON:
      res.status = 200;
      res.set_content("<html><body>Service temporarily unavailable</body></html>", "text/html");
      return;
    case FAULT_OVERSIZED:
    case FAULT_OVERSIZED_CHUNKED:
    {
      nlohmann::json big = body;
      big["padding"] = std::string(OVERSIZED_BYTES, 'x');
      auto text = std::make_shared<std::string>(big.dump());
      res.status = 200;
      if (cfg.fault == FAULT_OVERSIZED)
      {
        res.set_content(*text, "application/json");
        return;
      }
      res.set_chunked_content_provider("application/json",
                                       [text](size_t offset, httplib::DataSink& sink)
                                       {
                                         std::size_t n =
                                             std::min<std::size_t>(64 * 1024, text->size() - offset);
                                         sink.write(text->data() + offset, n);
                                         if (offset + n == text->size())
                                           sink.done();
                                         return true;
                                       });
      return;
    }
    default:
      send_json(res, 200, body);
  }
}

void install_routes(httplib::Server& svr, const Config& cfg, Stopper& stopper)
{
  svr.Get(
      "/fcc/v1/settings",
      [&cfg, &stopper](const httplib::Request& req, httplib::Response& res)
      {
        res.set_header("Date", http_date(cfg.date_offset_s));
        if (!delay(cfg, stopper, req))
          return;
        mock_service::Signed_Request sreq{header(req, "Client-Now"), header(req, "X-Auth-Accesskey"),
                                          header(req, "X-Auth-Signature"), req.path, raw_query(req)};
        mock_service::Verdict v = mock_service::verify(cfg.account, sreq, now_ms(), cfg.max_skew_s * 1000);
        if (v.status != 200)
        {
          send_json(res, v.status, {{"result_code", v.result_code}, {"message", v.message}});
          log_request(req, v.status, v.message);
          return;
        }
        reply(cfg, res,
              {{"result_code", mock_service::QMS_RESULT_OK}, {"data", {{"aboutus_version", cfg.version}}}});
        log_request(req, res.status, "ok");
      });

  svr.Get("/echo",
          [&cfg, &stopper](const httplib::Request& req, httplib::Response& res)
          {
            res.set_header("Date", http_date(cfg.date_offset_s));
            if (!delay(cfg, stopper, req))
              return;
            nlohmann::json headers = nlohmann::json::object();
            for (const auto& h : req.headers)
              if (h.first != "LOCAL_ADDR" && h.first != "LOCAL_PORT" && h.first != "REMOTE_ADDR" &&
                  h.first != "REMOTE_PORT")  // httplib's own additions
                headers[h.first] = h.second;
            nlohmann::json body = {{"result_code", mock_service::QMS_RESULT_OK},
                                   {"method", req.method},
                                   {"path", req.path},
                                   {"target", req.target},
                                   {"query", raw_query(req)},
                                   {"headers", headers},
                                   {"remote_port", req.remote_port}};
            reply(cfg, res, body);
            log_request(req, res.status, "echo");
          });

  svr.set_error_handler(
      [&cfg](const httplib::Request& req, httplib::Response& res)
      {
        if (res.status != 404)
          return;
        res.set_header("Date", http_date(cfg.date_offset_s));
        send_json(res, 404,
                  {{"result_code", mock_service::QMS_RESULT_NOT_FOUND}, {"message", "no such resource"}});
        log_request(req, 404, "no such resource");
      });
}

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

sigset_t stop_signals()
{
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
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
  // only once the server loop runs, since stop() before that is lost.
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

int main(int argc, char** argv)
{
  Config cfg;
  if (!parse_args(argc, argv, cfg))
  {
    usage();
    return 2;
  }
  // Blocked in every thread, so that only the main thread's sigwait (or the
  // waiter's) takes a stop request; broken connections must not kill us.
  sigset_t set = stop_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  if (cfg.stop_on_stdin_eof)
  {
    // A launcher that dies without stopping us (a crashed test) closes the
    // pipe; reading its end is then the stop request it could not send.
    std::thread(
        []
        {
          char buf[64];
          ssize_t n;
          while ((n = ::read(STDIN_FILENO, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
          {
          }
          kill(getpid(), SIGTERM);
        })
        .detach();
  }
  return cfg.fault == FAULT_CLOSE ? run_close(cfg) : run_http(cfg);
}
