#include "host/json_restful_client.h"

#include <ctime>
#include <exception>
#include <string>

#include <curl/curl.h>

#include <ace/Log_Msg.h>

#include "devhost/harness/http_access.h"
#include "devhost/harness/json_reader.h"
#include "devhost/harness/rest_options.h"
#include "devhost/full/curl_pool.h"
#include "devhost/full/curl_transfer.h"
#include "devhost/full/handle_lease.h"
#include "devhost/full/printable.h"
#include "devhost/full/request_url.h"
#include "devhost/full/transfer_cause.h"
#include "scrt/http_response.h"

namespace
{
/// Where a client sends its requests, as `reset` recorded it.
struct JSON_Endpoint
{
  std::string host;
  unsigned short port = 0;
  bool ssl = false;
};
}  // namespace

class JSON_RESTful_Client::Impl
{
public:
  explicit Impl(bool share) : share_(share) {}

  bool share_;
  JSON_Endpoint endpoint_;
  /// The client's own handle when it does not take part in the pool.
  devhost::Curl_Handle_Ptr private_;
};

namespace
{
/// Skew between the service's clock and ours that earns a warning, seconds.
constexpr long JRC_CLOCK_SKEW_WARNING = 5 * 60;

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

/**
 * Judges a reply that came: true for a 2xx status with a JSON body, else
 * false with the cause logged.  A JSON body goes to @a body (when not null)
 * whatever the status.
 */
bool take_reply(const char* method, const std::string& target, long status, const HTTP_Response& resp,
                const std::string& text, json_spirit::Value* body)
{
  json_spirit::Value parsed;
  bool is_json = json_spirit::read(text, parsed);
  bool ok = false;
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
               method, target.c_str(), static_cast<int>(text.size()), type != nullptr ? type : "none"));
  }
  else
    ok = true;
  if (is_json && body != nullptr)
    *body = std::move(parsed);
  return ok;
}

/**
 * The URL of @a req at the client's endpoint.  False, with the cause
 * logged, when no endpoint was set or a part of the URL is refused.
 */
bool request_url(const JSON_Endpoint& endpoint, const HTTP_Request& req, const char* method,
                 devhost::Request_Url& url)
{
  if (endpoint.host.empty() || endpoint.port == 0)
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
  std::string url_error;
  if (!devhost::make_request_url(endpoint.ssl, endpoint.host, endpoint.port,
                                 req.path() != nullptr ? req.path() : "", devhost_encode_path(req),
                                 req.query_string(), url, url_error))
  {
    ACE_ERROR((LM_ERROR, ACE_TEXT("JSON_RESTful_Client: %C failed: %C\n"), method, url_error.c_str()));
    return false;
  }
  return true;
}

/// The CA store of @a handle's generation into @a store; false, with the
/// cause logged, when it cannot be loaded.
bool ca_store(devhost::Curl_Handle& handle, const char* method, const std::string& target, X509_STORE*& store)
{
  std::string error;
  store = handle.generation->ca_store(error);
  if (store != nullptr)
    return true;
  ACE_ERROR(
      (LM_ERROR, ACE_TEXT("JSON_RESTful_Client: %C %C failed: %C\n"), method, target.c_str(), error.c_str()));
  return false;
}

/// The reply's status, 0 when none came, put on @a resp when there is one;
/// a service clock far from ours is warned of.
long read_status(CURL* easy, HTTP_Response& resp, const std::string& origin)
{
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  if (status > 0)
    devhost_set_status(resp, static_cast<int>(status));
  warn_clock_skew(resp, origin);
  return status;
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
  impl_->endpoint_.host = host != nullptr ? host : "";
  impl_->endpoint_.port = port;
  impl_->endpoint_.ssl = ssl;
  return 0;
}

bool JSON_RESTful_Client::get(HTTP_Request& req, HTTP_Response& resp, json_spirit::Value* body)
{
  if (body != nullptr)
    *body = json_spirit::Value();
  devhost_set_status(resp, 0);
  devhost::clear_headers(resp.headers());
  const char* method = http_method_string(req.method());
  const JSON_Endpoint& endpoint = impl_->endpoint_;
  devhost::Request_Url url;
  if (!request_url(endpoint, req, method, url))
    return false;

  devhost::Handle_Lease handle(devhost::Curl_Pool::instance(), impl_->share_, impl_->private_, url.origin);
  if (handle.get() == nullptr)
  {
    ACE_ERROR((LM_ERROR, ACE_TEXT("JSON_RESTful_Client: %C %C failed: libcurl cannot create a handle\n"),
               method, url.target.c_str()));
    return false;
  }
  X509_STORE* store = nullptr;
  if (endpoint.ssl && !ca_store(*handle.get(), method, url.target, store))
    return false;
  devhost::Curl_Transfer t(resp, handle->generation->options().max_body);
  std::string bad_header;
  if (!devhost::make_header_lines(req, t.headers, bad_header))
  {
    ACE_ERROR((LM_ERROR,
               ACE_TEXT("JSON_RESTful_Client: %C %C failed: the request header '%C' is not valid\n"), method,
               url.target.c_str(), bad_header.c_str()));
    return false;
  }

  CURLcode rc = devhost::perform_transfer(*handle.get(), req.method(), method, url, store, t);
  if (t.ex.error)
  {
    // A callback failed (no memory).  The transfer was aborted, so libcurl
    // is out of its callbacks and the handle is closed with its connection
    // rather than pooled.
    handle.close();
    std::rethrow_exception(t.ex.error);
  }
  long status = read_status(handle->easy.get(), resp, url.origin);
  if (rc != CURLE_OK)
  {
    std::string cause = devhost::transfer_cause(handle->easy.get(), rc, t.detail, t.ex, handle->tls.refusal,
                                                *handle->generation, endpoint.host, endpoint.port);
    ACE_ERROR((LM_ERROR, ACE_TEXT("JSON_RESTful_Client: %C %C failed: %C\n"), method, url.target.c_str(),
               cause.c_str()));
    return false;
  }
  return take_reply(method, url.target, status, resp, t.ex.body, body);
}
