#include "tools/host/web_agent.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <utility>

#include <httplib.h>

#include "tools/common/http_listener.h"

namespace
{
typedef std::chrono::steady_clock Clock;

const char CSP[] =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
    "base-uri 'none'; form-action 'self'; frame-ancestors 'none'";

/// Worker threads beyond the requests in hand: a connection holds a worker
/// while it is open, so the spare ones read what comes past the bound and
/// answer it with 503 instead of leaving it unread.
const std::size_t SPARE_WORKERS = 8;

// When this worker's current request started: set as routing begins, so
// unset for a request refused while its head was read.
thread_local bool request_started = false;
thread_local Clock::time_point request_start;
// Whether this worker's current request was let in past the bound and its
// response is not written yet.
thread_local bool request_unwritten = false;

std::string lower(std::string text)
{
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string trimmed(const std::string& text)
{
  const std::string::size_type b = text.find_first_not_of(" \t");
  const std::string::size_type e = text.find_last_not_of(" \t");
  return b == std::string::npos ? std::string() : text.substr(b, e - b + 1);
}

// "application/json", with no parameter but a charset of UTF-8 (RFC 8259
// texts are UTF-8; the media type defines no parameter of its own).
bool json_media_type(const std::string& value)
{
  std::string::size_type start = 0;
  for (bool first = true;; first = false)
  {
    const std::string::size_type end = value.find(';', start);
    std::string part = lower(trimmed(value.substr(start, end == std::string::npos ? end : end - start)));
    if (first ? part != "application/json" : part != "charset=utf-8" && part != "charset=\"utf-8\"")
      return false;
    if (end == std::string::npos)
      return true;
    start = end + 1;
  }
}

// The path as the access log shows it: printable ASCII only, cut short.
std::string loggable(const std::string& path)
{
  std::string out = path.substr(0, 200);
  for (char& c : out)
    if (c < 0x21 || c > 0x7e)
      c = '?';
  return out + (path.size() > 200 ? "..." : "");
}

void refuse(httplib::Response& res, int status, const std::string& why)
{
  res.status = status;
  res.set_content(why + "\n", "text/plain; charset=utf-8");
}
}  // namespace

Web_Agent::Web_Agent(Web_Agent_Config cfg, RPC_Session& session)
    : cfg_(std::move(cfg)), session_(session), assets_(cfg_.assets_dir)
{
}

void Web_Agent::set_own_origin(const std::string& host, int port)
{
  own_origin_ = std::string(cfg_.tls ? "https" : "http") + "://" + tools::printable(host, port);
}

void Web_Agent::install(httplib::Server& svr)
{
  const std::size_t workers = cfg_.max_in_flight + SPARE_WORKERS;
  svr.new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
  svr.set_default_headers({{"Content-Security-Policy", CSP},
                           {"X-Content-Type-Options", "nosniff"},
                           {"Cache-Control", "no-store"}});
  // A longer body is answered with 413 by the library itself.
  svr.set_payload_max_length(cfg_.max_body);
  svr.set_read_timeout(cfg_.read_timeout_s, 0);
  svr.set_tcp_nodelay(true);

  auto route = [this](Route r)
  { return [this, r](const httplib::Request& req, httplib::Response& res) { guarded(r, req, res); }; };
  // The first pattern that matches wins: the key before the page's files.
  svr.Get("/appliance.pub", route(&Web_Agent::public_key));
  svr.Get("/rpc", route(&Web_Agent::rpc_other_method));
  // One path component; Web_Assets decides which names are files.
  svr.Get(R"(/[^/]*)", route(&Web_Agent::page_file));
  svr.Post("/rpc", route(&Web_Agent::rpc));
  svr.Put("/rpc", route(&Web_Agent::rpc_other_method));
  svr.Patch("/rpc", route(&Web_Agent::rpc_other_method));
  svr.Delete("/rpc", route(&Web_Agent::rpc_other_method));
  svr.Options("/rpc", route(&Web_Agent::rpc_other_method));

  svr.set_pre_routing_handler(
      [](const httplib::Request&, httplib::Response&)
      {
        request_started = true;
        request_start = Clock::now();
        return httplib::Server::HandlerResponse::Unhandled;
      });
  // The library calls the logger once a response has been written (or
  // its writing has failed), on the worker that routed the request.  Were
  // `drain` to wait for the handlers alone, the stop could shut a
  // connection down before its reply went out.
  svr.set_logger(
      [this](const httplib::Request& req, const httplib::Response& res)
      {
        if (request_unwritten)
        {
          request_unwritten = false;
          written();
        }
        char took[32] = "-";
        if (request_started)
          // A log field: a duration too long for it is cut, not lost.
          static_cast<void>(std::snprintf(took, sizeof took, "%.1f ms",
                            std::chrono::duration<double, std::milli>(Clock::now() - request_start).count()));
        request_started = false;
        std::fprintf(stderr, "quorvane-host serve: %s \"%s %s\" %d %zu bytes %s\n",
                     tools::printable(req.remote_addr, req.remote_port).c_str(), loggable(req.method).c_str(),
                     loggable(req.path).c_str(), res.status, res.body.size(), took);
      });
}

bool Web_Agent::origin_allowed(const httplib::Request& req) const
{
  // Every Origin the request carries must be one we take.
  const std::size_t count = req.get_header_value_count("Origin");
  for (std::size_t i = 0; i < count; ++i)
  {
    const std::string origin = req.get_header_value("Origin", i);
    if (origin != own_origin_ && std::find(cfg_.allowed_origins.begin(), cfg_.allowed_origins.end(),
                                           origin) == cfg_.allowed_origins.end())
      return false;
  }
  return true;
}

bool Web_Agent::enter()
{
  std::lock_guard<std::mutex> guard(lock_);
  if (draining_ || in_flight_ >= cfg_.max_in_flight)
    return false;
  ++in_flight_;
  ++unwritten_;
  return true;
}

void Web_Agent::leave()
{
  std::lock_guard<std::mutex> guard(lock_);
  --in_flight_;
}

void Web_Agent::written()
{
  std::lock_guard<std::mutex> guard(lock_);
  if (--unwritten_ == 0)
    idle_.notify_all();
}

void Web_Agent::drain()
{
  std::unique_lock<std::mutex> guard(lock_);
  draining_ = true;
  idle_.wait(guard, [this] { return unwritten_ == 0; });
}

void Web_Agent::guarded(Route route, const httplib::Request& req, httplib::Response& res)
{
  if (!origin_allowed(req))
    return refuse(res, 403, "requests from another origin are refused");
  if (!enter())
  {
    res.set_header("Retry-After", "1");
    return refuse(res, 503, "too many requests in hand; try again");
  }
  request_unwritten = true;  // until the logger: see install
  struct Leave
  {
    Web_Agent& agent;
    ~Leave() { agent.leave(); }
  } leave{*this};
  (this->*route)(req, res);
}

void Web_Agent::page_file(const httplib::Request& req, httplib::Response& res)
{
  const std::string name = req.path == "/" ? std::string("index.html") : req.path.substr(1);
  std::string body;
  if (!assets_.read(name, body))
    return refuse(res, 404, "not found");
  res.set_content(body, Web_Assets::content_type(name));
}

void Web_Agent::public_key(const httplib::Request&, httplib::Response& res)
{
  res.set_content(cfg_.public_key_pem, "application/x-pem-file");
}

void Web_Agent::rpc_other_method(const httplib::Request&, httplib::Response& res)
{
  res.set_header("Allow", "POST");
  refuse(res, 405, "/rpc takes POST only");
}

void Web_Agent::rpc(const httplib::Request& req, httplib::Response& res)
{
  if (!json_media_type(req.get_header_value("Content-Type")))
    return refuse(res, 415, "/rpc takes Content-Type: application/json");
  if (req.body.size() > cfg_.max_body)
    return refuse(res, 413, "the body is longer than " + std::to_string(cfg_.max_body) + " bytes");
  // Shared with the answer, which may run on a worker of the handler after
  // this function has returned.
  std::shared_ptr<std::promise<std::unique_ptr<std::string>>> done =
      std::make_shared<std::promise<std::unique_ptr<std::string>>>();
  std::future<std::unique_ptr<std::string>> reply = done->get_future();
  session_.feed(req.body, [done](const std::string* text)
                { done->set_value(text != nullptr ? std::make_unique<std::string>(*text) : nullptr); });
  std::unique_ptr<std::string> text = reply.get();
  if (!text)
  {
    res.status = 204;  // only notifications: JSON-RPC answers nothing
    return;
  }
  res.set_content(*text, "application/json");
}
