#include "tools/mock_service/routes.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "tools/mock_service/signature.h"

namespace mock_service
{
namespace
{
const std::size_t OVERSIZED_BYTES = 2 * 1024 * 1024;

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
  // 29 characters whatever the date.
  return std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm) != 0 ? buf : "";
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
  static_cast<void>(std::fflush(stderr));  // as the line itself: nowhere else to report to
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

/// @a body with a member "padding" of OVERSIZED_BYTES, as JSON text.  The
/// padding is plain ASCII made once, so the text is put together by copying
/// rather than by serialising 2 MiB on every request: in a slow build
/// (sanitizers, coverage) that work alone could take longer than a client's
/// patience, and the fault would be seen as another.
std::shared_ptr<const std::string> oversized_text(const nlohmann::json& body)
{
  static const std::string padding(OVERSIZED_BYTES, 'x');
  std::string text = body.dump();  // an object: "{...}"
  text.pop_back();
  text.reserve(text.size() + padding.size() + 16);
  text += text.size() > 1 ? ",\"padding\":\"" : "\"padding\":\"";
  text += padding;
  text += "\"}";
  return std::make_shared<const std::string>(std::move(text));
}

/// Gives @a body to the client, unless a body fault replaces it.
void reply(const Config& cfg, httplib::Response& res, const nlohmann::json& body)
{
  switch (cfg.fault)
  {
    case FAULT_NO_VERSION:
      send_json(res, 200, {{"result_code", QMS_RESULT_OK}, {"data", nlohmann::json::object()}});
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
      std::shared_ptr<const std::string> text = oversized_text(body);
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
}  // namespace

void Stopper::stop()
{
  std::lock_guard<std::mutex> guard(lock_);
  stopping_ = true;
  cv_.notify_all();
}

bool Stopper::wait_for(long ms)
{
  std::unique_lock<std::mutex> guard(lock_);
  return cv_.wait_for(guard, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void Stopper::wait()
{
  std::unique_lock<std::mutex> guard(lock_);
  cv_.wait(guard, [this] { return stopping_; });
}

void install_routes(httplib::Server& svr, const Config& cfg, Stopper& stopper)
{
  svr.Get("/fcc/v1/settings",
          [&cfg, &stopper](const httplib::Request& req, httplib::Response& res)
          {
            res.set_header("Date", http_date(cfg.date_offset_s));
            if (!delay(cfg, stopper, req))
              return;
            Signed_Request sreq{header(req, "Client-Now"), header(req, "X-Auth-Accesskey"),
                                header(req, "X-Auth-Signature"), req.path, raw_query(req)};
            Verdict v = verify(cfg.account, sreq, now_ms(), cfg.max_skew_s * 1000);
            if (v.status != 200)
            {
              send_json(res, v.status, {{"result_code", v.result_code}, {"message", v.message}});
              log_request(req, v.status, v.message);
              return;
            }
            reply(cfg, res, {{"result_code", QMS_RESULT_OK}, {"data", {{"aboutus_version", cfg.version}}}});
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
            nlohmann::json body = {
                {"result_code", QMS_RESULT_OK},  {"method", req.method},    {"path", req.path},
                {"target", req.target},          {"query", raw_query(req)}, {"headers", headers},
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
        send_json(res, 404, {{"result_code", QMS_RESULT_NOT_FOUND}, {"message", "no such resource"}});
        log_request(req, 404, "no such resource");
      });
}

}  // namespace mock_service
