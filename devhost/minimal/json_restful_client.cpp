// The contract-minimal host's REST client: one libcurl easy handle and one
// connection per exchange, nothing shared or kept.  Where the host
// declarations leave a choice it differs from the development host: the
// constructor's flag means nothing, the reply's headers are not kept, and a
// failed exchange leaves the body null even when the reply was JSON.
#include "host/json_restful_client.h"

#include <arpa/inet.h>
#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <string>

#include <ace/Log_Msg.h>

#include "devhost/harness/http_access.h"
#include "devhost/harness/json_reader.h"
#include "devhost/harness/rest_options.h"
#include "scrt/http_response.h"

namespace
{
std::mutex options_lock;
devhost::Rest_Client_Options current_options;

struct Curl_Free
{
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct Body
{
  std::string text;
  std::size_t max;
};

size_t on_body(char* data, size_t size, size_t count, void* user)
{
  Body* body = static_cast<Body*>(user);
  // A short count aborts the transfer: too large, or no memory.
  if (body->text.size() + size * count > body->max)
    return 0;
  try
  {
    body->text.append(data, size * count);
  }
  catch (...)
  {
    return 0;
  }
  return size * count;
}
struct Url_Free
{
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
  void operator()(char* text) const { curl_free(text); }
};

}  // namespace

/// The endpoint that `reset` recorded.
class JSON_RESTful_Client::Impl
{
public:
  bool request_url(const HTTP_Request& req, std::string& out) const;

  std::string host;
  unsigned short port = 0;
  bool ssl = false;
};

// The request's URL.  libcurl's URL API writes the origin: an IPv6
// literal is bracketed (RFC 3986 section 3.2.2), a host in brackets already,
// or any other, goes to libcurl as it is, and libcurl refuses what is not a
// host.  Path and query follow as the request holds them: the URL API would
// rewrite their percent-escapes, and the signature covers them byte for byte.
bool JSON_RESTful_Client::Impl::request_url(const HTTP_Request& req, std::string& out) const
{
  std::unique_ptr<CURLU, Url_Free> url(curl_url());
  in6_addr v6;
  std::string host_text = host;
  if (inet_pton(AF_INET6, host_text.c_str(), &v6) == 1)
    host_text = "[" + host_text + "]";
  std::string port_text = std::to_string(port);
  char* text = nullptr;
  bool ok = url && curl_url_set(url.get(), CURLUPART_SCHEME, ssl ? "https" : "http", 0) == CURLUE_OK &&
            curl_url_set(url.get(), CURLUPART_HOST, host_text.c_str(), 0) == CURLUE_OK &&
            curl_url_set(url.get(), CURLUPART_PORT, port_text.c_str(), 0) == CURLUE_OK &&
            curl_url_get(url.get(), CURLUPART_URL, &text, 0) == CURLUE_OK;
  std::unique_ptr<char, Url_Free> held(text);
  if (!ok)
    return false;
  out = text;
  out.pop_back();  // the "/" of an empty path
  out += req.path();
  if (*req.query_string() != '\0')
    out = out + "?" + req.query_string();
  return true;
}

devhost::Rest_Client_Options devhost::rest_client_options()
{
  std::lock_guard<std::mutex> guard(options_lock);
  return current_options;
}

void devhost::set_rest_client_options(const Rest_Client_Options& options)
{
  std::lock_guard<std::mutex> guard(options_lock);
  current_options = options;
}

JSON_RESTful_Client::JSON_RESTful_Client(bool) : impl_(nullptr)
{
  static std::once_flag global;
  std::call_once(global, []() { curl_global_init(CURL_GLOBAL_DEFAULT); });
  impl_ = new Impl;
}

JSON_RESTful_Client::~JSON_RESTful_Client()
{
  delete impl_;
}

int JSON_RESTful_Client::reset(const char* host, unsigned short port, bool ssl)
{
  impl_->host = host != nullptr ? host : "";
  impl_->port = port;
  impl_->ssl = ssl;
  return 0;
}

bool JSON_RESTful_Client::get(HTTP_Request& req, HTTP_Response& resp, json_spirit::Value* body)
{
  if (body != nullptr)
    *body = json_spirit::Value();
  devhost_set_status(resp, 0);
  const devhost::Rest_Client_Options opt = devhost::rest_client_options();

  std::string url;
  if (!impl_->request_url(req, url))
  {
    ACE_ERROR((LM_ERROR, ACE_TEXT("minimal JSON_RESTful_Client: GET %C failed: not a valid endpoint\n"),
               req.path()));
    return false;
  }

  std::unique_ptr<CURL, Curl_Free> easy(curl_easy_init());
  std::unique_ptr<curl_slist, Curl_Free> headers;
  for (const auto& h : devhost_header_list(req.headers()))
  {
    curl_slist* next = curl_slist_append(headers.get(), (h.first + ": " + h.second).c_str());
    if (next == nullptr)
      return false;
    static_cast<void>(headers.release());  // next heads the same list
    headers.reset(next);
  }
  Body received{std::string(), opt.max_body};
  CURLcode rc = easy ? CURLE_OK : CURLE_FAILED_INIT;
#define MINIMAL_SETOPT(o, v) (rc = rc != CURLE_OK ? rc : curl_easy_setopt(easy.get(), o, v))
  MINIMAL_SETOPT(CURLOPT_URL, url.c_str());
  MINIMAL_SETOPT(CURLOPT_PROTOCOLS_STR, "http,https");
  MINIMAL_SETOPT(CURLOPT_NOSIGNAL, 1L);
  MINIMAL_SETOPT(CURLOPT_NOPROXY, "*");
  MINIMAL_SETOPT(CURLOPT_CONNECTTIMEOUT_MS, opt.connect_timeout_ms);
  MINIMAL_SETOPT(CURLOPT_TIMEOUT_MS, opt.timeout_ms);
  MINIMAL_SETOPT(CURLOPT_SSL_VERIFYPEER, 1L);
  MINIMAL_SETOPT(CURLOPT_SSL_VERIFYHOST, 2L);
  if (!opt.ca_file.empty())
    MINIMAL_SETOPT(CURLOPT_CAINFO, opt.ca_file.c_str());
  MINIMAL_SETOPT(CURLOPT_HTTPHEADER, headers.get());
  MINIMAL_SETOPT(CURLOPT_WRITEFUNCTION, &on_body);
  MINIMAL_SETOPT(CURLOPT_WRITEDATA, &received);
#undef MINIMAL_SETOPT
  if (rc == CURLE_OK)
    rc = curl_easy_perform(easy.get());
  long status = 0;
  if (easy)
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
  devhost_set_status(resp, static_cast<int>(status));

  json_spirit::Value parsed;
  const char* failure = nullptr;
  if (rc != CURLE_OK)
    failure = curl_easy_strerror(rc);
  else if (status < 200 || status > 299)
    failure = "the reply's status is not 2xx";
  else if (!json_spirit::read(received.text, parsed))
    failure = "the reply's body is not JSON";
  if (failure != nullptr)
  {
    ACE_ERROR((LM_ERROR, ACE_TEXT("minimal JSON_RESTful_Client: GET %C failed: %C\n"), req.path(), failure));
    return false;
  }
  if (body != nullptr)
    *body = std::move(parsed);
  return true;
}
