#include "devhost/full/curl_transfer.h"

#include <strings.h>

#include <utility>

#include "devhost/harness/http_access.h"
#include "devhost/full/tls_verification.h"

#ifndef QUORVANE_VERSION
#define QUORVANE_VERSION "0"
#endif

namespace devhost
{
namespace
{
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

/// Appends @a line to @a list; false when libcurl has no memory for it.
bool append_line(Curl_Slist_Ptr& list, const char* line)
{
  curl_slist* next = curl_slist_append(list.get(), line);
  if (next == nullptr)
    return false;
  static_cast<void>(list.release());  // next heads the same list
  list.reset(next);
  return true;
}

// Each step is checked; the first failure ends the chain.
#define JRC_SETOPT(opt_, val_) (rc = rc != CURLE_OK ? rc : curl_easy_setopt(easy, opt_, val_))

/**
 * Sets what stays the same for the handle's life (its generation's options)
 * once: a curl_easy_reset and a full set of options per request cost as
 * much again as libcurl's own work on a warm connection.
 */
CURLcode configure_once(Curl_Handle& handle)
{
  if (handle.configured)
    return CURLE_OK;
  const Rest_Client_Options& opt = handle.generation->options();
  CURL* easy = handle.easy.get();
  CURLcode rc = CURLE_OK;
  JRC_SETOPT(CURLOPT_PROTOCOLS_STR, "http,https");
  JRC_SETOPT(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  // The host calls from many threads; a timeout must never raise SIGALRM.
  JRC_SETOPT(CURLOPT_NOSIGNAL, 1L);
  JRC_SETOPT(CURLOPT_CONNECTTIMEOUT_MS, opt.connect_timeout_ms);
  JRC_SETOPT(CURLOPT_TIMEOUT_MS, opt.timeout_ms);
  JRC_SETOPT(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(opt.max_body));
  JRC_SETOPT(CURLOPT_USERAGENT, user_agent().c_str());
  JRC_SETOPT(CURLOPT_HEADERFUNCTION, &on_header);
  JRC_SETOPT(CURLOPT_WRITEFUNCTION, &on_body);
  // Verification is not optional.  libcurl is told of no CA file of its
  // own, so it loads nothing per connection; the shared store is put on
  // each new TLS context instead.
  JRC_SETOPT(CURLOPT_SSL_VERIFYPEER, 1L);
  JRC_SETOPT(CURLOPT_SSL_VERIFYHOST, 2L);
  JRC_SETOPT(CURLOPT_CAINFO, static_cast<const char*>(nullptr));
  JRC_SETOPT(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
  JRC_SETOPT(CURLOPT_SSL_CTX_FUNCTION, &on_ssl_context);
  JRC_SETOPT(CURLOPT_SSL_CTX_DATA, static_cast<void*>(&handle.tls));
  handle.configured = rc == CURLE_OK;
  return rc;
}

/// Sets what this transfer asks for and where it writes: the URL, the
/// method, the header lines and the callbacks' data.
CURLcode set_request(CURL* easy, int method_code, const char* method, const Request_Url& url,
                     Curl_Transfer& t)
{
  CURLcode rc = CURLE_OK;
  JRC_SETOPT(CURLOPT_URL, url.url.c_str());
  JRC_SETOPT(CURLOPT_ERRORBUFFER, t.detail);
  JRC_SETOPT(CURLOPT_HTTPHEADER, t.headers.get());
  JRC_SETOPT(CURLOPT_HEADERDATA, &t.ex);
  JRC_SETOPT(CURLOPT_WRITEDATA, &t.ex);
  // HTTPGET also clears NOBODY; the custom method is cleared unless used.
  JRC_SETOPT(CURLOPT_HTTPGET, 1L);
  if (method_code == HTTP_METHOD_HEAD)
  {
    JRC_SETOPT(CURLOPT_NOBODY, 1L);
  }
  JRC_SETOPT(CURLOPT_CUSTOMREQUEST, method_code == HTTP_METHOD_GET || method_code == HTTP_METHOD_HEAD
                                        ? static_cast<const char*>(nullptr)
                                        : method);
  return rc;
}
#undef JRC_SETOPT

}  // namespace

bool make_header_lines(const HTTP_Request& req, Curl_Slist_Ptr& lines, std::string& bad_header)
{
  bool has_accept = false;
  for (const std::pair<std::string, std::string>& h : devhost_header_list(req.headers()))
  {
    // "Name;" is libcurl's way of sending a header with an empty value.
    if (has_line_break(h.first) || has_line_break(h.second) || h.first.empty() ||
        !append_line(lines, (h.second.empty() ? h.first + ";" : h.first + ": " + h.second).c_str()))
    {
      bad_header = h.first;
      return false;
    }
    if (strcasecmp(h.first.c_str(), "Accept") == 0)
      has_accept = true;
  }
  if (!has_accept)
    static_cast<void>(append_line(lines, "Accept: application/json"));
  return true;
}

CURLcode perform_transfer(Curl_Handle& handle, int method_code, const char* method, const Request_Url& url,
                          X509_STORE* store, Curl_Transfer& t)
{
  CURL* easy = handle.easy.get();
  CURLcode rc = configure_once(handle);
  if (rc == CURLE_OK)
    rc = set_request(easy, method_code, method, url, t);
  // The TLS callbacks' state lives in the handle, as long as the contexts
  // that point to it; what an earlier transfer recorded is cleared so that
  // it cannot be blamed on this one.
  handle.tls.store = store;
  handle.tls.refusal.recorded = false;
  if (rc == CURLE_OK)
    rc = curl_easy_perform(easy);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, static_cast<char*>(nullptr));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, static_cast<void*>(nullptr));
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, static_cast<void*>(nullptr));
  return rc;
}

}  // namespace devhost
