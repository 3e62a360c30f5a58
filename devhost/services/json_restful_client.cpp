#include "host/json_restful_client.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <string>

#include <ace/Log_Msg.h>

#include "devhost/http_access.h"
#include "devhost/json_reader.h"
#include "devhost/rest_options.h"
#include "devhost/services/curl_exchange.h"
#include "devhost/services/curl_pool.h"
#include "devhost/services/printable.h"
#include "devhost/services/request_url.h"
#include "devhost/services/transfer_cause.h"
#include "scrt/http_response.h"

#ifndef QUORVANE_VERSION
#define QUORVANE_VERSION "0"
#endif

class JSON_RESTful_Client::Impl
{
public:
  explicit Impl(bool share) : share_(share), port_(0), ssl_(false) {}

  bool share_;
  std::string host_;
  unsigned short port_;
  bool ssl_;
  /// The client's own handle when it does not take part in the pool.
  devhost::Curl_Handle_Ptr private_;
};

namespace
{
/// Skew between the service's clock and ours that earns a warning, seconds.
constexpr long JRC_CLOCK_SKEW_WARNING = 5 * 60;

const std::string& user_agent()
{
  static const std::string agent = std::string("quorvane/" QUORVANE_VERSION " (development host) libcurl/") +
                                   curl_version_info(CURLVERSION_NOW)->version;
  return agent;
}

bool has_line_break(const std::string& text)
{
  return text.find_first_of("\r\n") != std::string::npos;
}

void warn_clock_skew(const HTTP_Response& resp, const std::string& origin)
{
  const char* date = devhost::header_value(resp.headers(), "Date", true);
  if (date == nullptr)
    return;
  time_t theirs = curl_getdate(date, nullptr);
  if (theirs == -1)
    return;
  long skew = static_cast<long>(theirs - std::time(nullptr));
  if (skew > JRC_CLOCK_SKEW_WARNING || skew < -JRC_CLOCK_SKEW_WARNING)
    ACE_DEBUG(
        (LM_WARNING,
         ACE_TEXT("JSON_RESTful_Client: the appliance's clock looks wrong: it is %d s %C the clock of %C "
                  "(Date: %C); signed requests fail until the clock is corrected\n"),
         static_cast<int>(skew > 0 ? skew : -skew), skew > 0 ? "behind" : "ahead of", origin.c_str(), date));
}

}  // namespace

devhost::Rest_Client_Options devhost::rest_client_options()
{
  return Curl_Pool::instance().options();
}

void devhost::set_rest_client_options(const Rest_Client_Options& options)
{
  Curl_Pool::instance().set_options(options);
}

JSON_RESTful_Client::JSON_RESTful_Client(bool share) : impl_(nullptr)
{
  // libcurl's global set-up, before any use.  It comes first: should it
  // throw (no memory), no Impl is left behind, since a constructor that
  // throws runs no destructor.
  devhost::Curl_Pool::instance();
  impl_ = new Impl(share);
}

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
  if (body != nullptr)
    *body = json_spirit::Value();
  devhost_set_status(resp, 0);
  devhost::clear_headers(resp.headers());

  const char* method = http_method_string(req.method());
  if (impl_->host_.empty() || impl_->port_ == 0)
  {
    ACE_ERROR((LM_ERROR, ACE_TEXT("JSON_RESTful_Client: %C %C failed: no endpoint was set\n"), method,
               req.path() != nullptr ? devhost::printable(req.path()).c_str() : "''"));
    return false;
  }
  // The URL is put together by libcurl's URL API, part by part: a host
  // holding "@", "/", "?" or "#" can neither move the request elsewhere nor
  // change what it asks for, and one holding a line break cannot reach a log
  // line.  The log names the resource without its query string, which may
  // carry credentials in other services' schemes.
  devhost::Request_Url url;
  std::string url_error;
  if (!devhost::make_request_url(impl_->ssl_, impl_->host_, impl_->port_,
                                 req.path() != nullptr ? req.path() : "", devhost_encode_path(req),
                                 req.query_string(), url, url_error))
  {
    ACE_ERROR((LM_ERROR, ACE_TEXT("JSON_RESTful_Client: %C failed: %C\n"), method, url_error.c_str()));
    return false;
  }
  const std::string& origin = url.origin;
  const std::string& target = url.target;

  devhost::Curl_Pool& pool = devhost::Curl_Pool::instance();
  devhost::Curl_Handle_Ptr handle;
  if (impl_->share_)
    handle = pool.acquire(origin);
  else
  {
    // A private handle made under other options may hold connections that
    // were verified against another CA bundle; it is replaced.
    if (impl_->private_ && impl_->private_->generation != pool.current())
      impl_->private_.reset();
    if (!impl_->private_)
      impl_->private_ = pool.create_private();
    handle = std::move(impl_->private_);
  }
  if (!handle)
  {
    ACE_ERROR((LM_ERROR, ACE_TEXT("JSON_RESTful_Client: %C %C failed: libcurl cannot create a handle\n"),
               method, target.c_str()));
    return false;
  }
  const devhost::Curl_Generation& gen = *handle->generation;
  const devhost::Rest_Client_Options& opt = gen.options();

  X509_STORE* store = nullptr;
  if (impl_->ssl_)
  {
    std::string error;
    store = handle->generation->ca_store(error);
    if (store == nullptr)
    {
      ACE_ERROR((LM_ERROR, ACE_TEXT("JSON_RESTful_Client: %C %C failed: %C\n"), method, target.c_str(),
                 error.c_str()));
      if (impl_->share_)
        pool.release(std::move(handle));
      else
        impl_->private_ = std::move(handle);
      return false;
    }
  }

  devhost::Curl_Slist_Ptr headers;
  bool has_accept = false;
  std::string bad_header;
  for (const std::pair<std::string, std::string>& h : devhost_header_list(req.headers()))
  {
    if (has_line_break(h.first) || has_line_break(h.second) || h.first.empty())
    {
      bad_header = h.first;
      break;
    }
    if (strcasecmp(h.first.c_str(), "Accept") == 0)
      has_accept = true;
    // "Name;" is libcurl's way of sending a header with an empty value.
    std::string line = h.second.empty() ? h.first + ";" : h.first + ": " + h.second;
    curl_slist* next = curl_slist_append(headers.get(), line.c_str());
    if (next == nullptr)
    {
      bad_header = h.first;
      break;
    }
    static_cast<void>(headers.release());  // next heads the same list
    headers.reset(next);
  }
  if (bad_header.empty() && !has_accept)
  {
    curl_slist* next = curl_slist_append(headers.get(), "Accept: application/json");
    if (next != nullptr)
    {
      static_cast<void>(headers.release());  // next heads the same list
      headers.reset(next);
    }
  }
  if (!bad_header.empty())
  {
    ACE_ERROR((LM_ERROR,
               ACE_TEXT("JSON_RESTful_Client: %C %C failed: the request header '%C' is not valid\n"), method,
               target.c_str(), bad_header.c_str()));
    if (impl_->share_)
      pool.release(std::move(handle));
    else
      impl_->private_ = std::move(handle);
    return false;
  }

  devhost::Exchange ex;
  ex.resp = &resp;
  ex.max_body = opt.max_body;
  ex.oversized = false;
  char detail[CURL_ERROR_SIZE];
  detail[0] = '\0';

  CURL* easy = handle->easy.get();
  CURLcode rc = CURLE_OK;
  // Each step is checked; the first failure ends the chain.
#define JRC_SETOPT(opt_, val_) (rc = rc != CURLE_OK ? rc : curl_easy_setopt(easy, opt_, val_))
  if (!handle->configured)
  {
    // What stays the same for the handle's life (its generation's options)
    // is set once: a curl_easy_reset and a full set of options per request
    // cost as much again as libcurl's own work on a warm connection.
    JRC_SETOPT(CURLOPT_PROTOCOLS_STR, "http,https");
    JRC_SETOPT(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    // The host calls from many threads; a timeout must never raise SIGALRM.
    JRC_SETOPT(CURLOPT_NOSIGNAL, 1L);
    JRC_SETOPT(CURLOPT_CONNECTTIMEOUT_MS, opt.connect_timeout_ms);
    JRC_SETOPT(CURLOPT_TIMEOUT_MS, opt.timeout_ms);
    JRC_SETOPT(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(opt.max_body));
    JRC_SETOPT(CURLOPT_USERAGENT, user_agent().c_str());
    JRC_SETOPT(CURLOPT_HEADERFUNCTION, &devhost::on_header);
    JRC_SETOPT(CURLOPT_WRITEFUNCTION, &devhost::on_body);
    // Verification is not optional.  libcurl is told of no CA file of its
    // own, so it loads nothing per connection; the shared store is put on
    // each new TLS context instead.
    JRC_SETOPT(CURLOPT_SSL_VERIFYPEER, 1L);
    JRC_SETOPT(CURLOPT_SSL_VERIFYHOST, 2L);
    JRC_SETOPT(CURLOPT_CAINFO, static_cast<const char*>(nullptr));
    JRC_SETOPT(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    JRC_SETOPT(CURLOPT_SSL_CTX_FUNCTION, &devhost::on_ssl_context);
    JRC_SETOPT(CURLOPT_SSL_CTX_DATA, static_cast<void*>(&handle->tls));
    handle->configured = rc == CURLE_OK;
  }
  JRC_SETOPT(CURLOPT_URL, url.url.c_str());
  JRC_SETOPT(CURLOPT_ERRORBUFFER, detail);
  JRC_SETOPT(CURLOPT_HTTPHEADER, headers.get());
  JRC_SETOPT(CURLOPT_HEADERDATA, &ex);
  JRC_SETOPT(CURLOPT_WRITEDATA, &ex);
  // HTTPGET also clears NOBODY; the custom method is cleared unless used.
  JRC_SETOPT(CURLOPT_HTTPGET, 1L);
  if (req.method() == HTTP_METHOD_HEAD)
  {
    JRC_SETOPT(CURLOPT_NOBODY, 1L);
  }
  JRC_SETOPT(CURLOPT_CUSTOMREQUEST, req.method() == HTTP_METHOD_GET || req.method() == HTTP_METHOD_HEAD
                                        ? static_cast<const char*>(nullptr)
                                        : method);
#undef JRC_SETOPT
  // The TLS callbacks' state lives in the handle, as long as the contexts
  // that point to it; what an earlier transfer recorded is cleared so that
  // it cannot be blamed on this one.
  handle->tls.store = store;
  handle->tls.refusal.recorded = false;
  if (rc == CURLE_OK)
    rc = curl_easy_perform(easy);
  // Detach everything that points into this frame at once: an exception
  // from here on destroys the handle after `ex`, `detail` and `headers`, and
  // a handle that goes back to the pool must not dangle either.
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, static_cast<char*>(nullptr));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, static_cast<void*>(nullptr));
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, static_cast<void*>(nullptr));
  if (ex.error)
  {
    // A callback failed (no memory).  The transfer was aborted, so libcurl
    // is out of its callbacks and the handle is closed with its connection
    // rather than pooled.
    handle.reset();
    std::rethrow_exception(ex.error);
  }

  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  if (status > 0)
    devhost_set_status(resp, static_cast<int>(status));
  warn_clock_skew(resp, origin);

  bool ok = false;
  if (rc != CURLE_OK)
  {
    std::string cause =
        devhost::transfer_cause(easy, rc, detail, ex, handle->tls.refusal, gen, impl_->host_, impl_->port_);
    ACE_ERROR((LM_ERROR, ACE_TEXT("JSON_RESTful_Client: %C %C failed: %C\n"), method, target.c_str(),
               cause.c_str()));
  }
  else
  {
    json_spirit::Value parsed;
    bool is_json = json_spirit::read(ex.body, parsed);
    if (status < 200 || status > 299)
    {
      const char* reason = http_status_string(static_cast<int>(status));
      ACE_ERROR((LM_ERROR, ACE_TEXT("JSON_RESTful_Client: %C %C failed: the service answered HTTP %d %C\n"),
                 method, target.c_str(), static_cast<int>(status), reason != nullptr ? reason : ""));
    }
    else if (!is_json)
    {
      const char* type = devhost::header_value(resp.headers(), "Content-Type", true);
      ACE_ERROR((LM_ERROR,
                 ACE_TEXT("JSON_RESTful_Client: %C %C failed: the reply body (%d bytes, Content-Type %C) "
                          "is not JSON\n"),
                 method, target.c_str(), static_cast<int>(ex.body.size()), type != nullptr ? type : "none"));
    }
    else
      ok = true;
    if (is_json && body != nullptr)
      *body = std::move(parsed);
  }

  if (impl_->share_)
    pool.release(std::move(handle));
  else
    impl_->private_ = std::move(handle);
  return ok;
}
