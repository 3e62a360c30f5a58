// The REST client of the fuzz build: the members declared in
// host/json_restful_client.h, answering from the fuzz input, and the
// development host's client settings (devhost/harness/rest_options.h).
#include "fuzz/fake_restful_client.h"

#include <string>
#include <vector>

#include "devhost/harness/http_access.h"
#include "devhost/harness/json_reader.h"
#include "devhost/harness/rest_options.h"
#include "host/json_restful_client.h"
#include "scrt/http_response.h"

class JSON_RESTful_Client::Impl
{
public:
  std::string host_;
  unsigned short port_ = 0;
  bool ssl_ = false;
};

namespace
{
struct Fake_State
{
  devhost::Rest_Client_Options options;
  int status = 0;
  std::string body;
  std::vector<fuzz_support::Seen_Request> seen;
};

Fake_State& state()
{
  static Fake_State s;
  return s;
}

bool has_line_break(const std::string& text)
{
  return text.find_first_of("\r\n") != std::string::npos;
}
}  // namespace

namespace fuzz_support
{
void set_canned_reply(int status, const std::string& body)
{
  Fake_State& s = state();
  s.status = status;
  s.body = body;
  s.seen.clear();
}

const std::vector<Seen_Request>& seen_requests()
{
  return state().seen;
}
}  // namespace fuzz_support

devhost::Rest_Client_Options devhost::rest_client_options()
{
  return state().options;
}

void devhost::set_rest_client_options(const Rest_Client_Options& options)
{
  state().options = options;
}

JSON_RESTful_Client::JSON_RESTful_Client(bool) : impl_(new Impl) {}

JSON_RESTful_Client::~JSON_RESTful_Client()
{
  delete impl_;
}

int JSON_RESTful_Client::reset(const char* host, unsigned short port, bool ssl)
{
  impl_->host_ = host != nullptr ? host : "";
  impl_->port_ = port;
  impl_->ssl_ = ssl;
  return 0;
}

bool JSON_RESTful_Client::get(HTTP_Request& req, HTTP_Response& resp, json_spirit::Value* body)
{
  Fake_State& s = state();
  if (body != nullptr)
    *body = json_spirit::Value();
  devhost_set_status(resp, 0);
  devhost::clear_headers(resp.headers());

  fuzz_support::Seen_Request seen;
  seen.host = impl_->host_;
  seen.port = impl_->port_;
  seen.ssl = impl_->ssl_;
  seen.method = req.method();
  seen.path = req.path() != nullptr ? req.path() : "";
  seen.query = req.query_string() != nullptr ? req.query_string() : "";
  seen.headers = devhost_header_list(req.headers());
  s.seen.push_back(seen);

  // The real client's refusals before anything is sent.
  if (impl_->host_.empty() || impl_->port_ == 0)
    return false;
  for (const std::pair<std::string, std::string>& h : seen.headers)
    if (h.first.empty() || has_line_break(h.first) || has_line_break(h.second))
      return false;
  // Transfer failures: no reply at all, or a body over the limit, leave the
  // body null.
  if (s.status <= 0 || s.body.size() > s.options.max_body)
    return false;

  devhost_set_status(resp, s.status);
  resp.headers().put(HTTP_HEAD_CONTENT_TYPE, "application/json", true);
  json_spirit::Value parsed;
  const bool is_json = json_spirit::read(s.body, parsed);
  if (is_json && body != nullptr)
    *body = std::move(parsed);
  return s.status >= 200 && s.status <= 299 && is_json;
}
