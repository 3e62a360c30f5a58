#ifndef DEVHOST_SERVICES_CURL_EXCHANGE_H
#define DEVHOST_SERVICES_CURL_EXCHANGE_H

#include <cstddef>
#include <exception>
#include <memory>
#include <string>

#include <curl/curl.h>

#include "devhost/services/curl_pool.h"
#include "scrt/http_response.h"

namespace devhost
{
/// What the libcurl callbacks of one exchange write to.
struct Exchange
{
  HTTP_Response* resp;
  std::string body;
  std::size_t max_body;
  bool oversized;
  /// What a callback threw, to be thrown again once libcurl has returned.
  std::exception_ptr error;
};

/// CURLOPT_HEADERFUNCTION with an `Exchange` as its data: the status line
/// and the header fields go into the response.  Never throws.
size_t on_header(char* data, size_t size, size_t count, void* user);

/// CURLOPT_WRITEFUNCTION with an `Exchange` as its data: the body, up to
/// its cap.  Never throws.
size_t on_body(char* data, size_t size, size_t count, void* user);

/// The cause of a failed transfer in words a person can act on.
std::string transfer_cause(CURL* easy, CURLcode rc, const char* detail, const Exchange& ex,
                           const Curl_Generation& gen, const std::string& host, unsigned short port);

/// The URL of one request, and its forms for the pool and the log.
struct Request_Url
{
  /// The whole URL as libcurl's URL API wrote it, for CURLOPT_URL.
  std::string url;
  /// "scheme://host:port", the pool's key for the endpoint.
  std::string origin;
  /// The URL without its query string, for log lines.
  std::string target;
};

/**
 * Builds the URL of a request part by part with libcurl's URL API, so that
 * no part can spill into another: the host must be a host name, an IPv4
 * address or an IPv6 literal (bare ones are bracketed; nothing else is),
 * and "@", "/", "?", "#", ":" or a line break in it is refused.  The path is
 * percent-encoded first when @a encode_path.  False, with @a error saying
 * why (the host shown through `printable`), when a part is refused.
 */
bool make_request_url(bool ssl, const std::string& host, unsigned short port, const char* path,
                      bool encode_path, const char* query, Request_Url& out, std::string& error);

/// @a text for a log line: control characters and bytes above 0x7E as
/// "\xNN", at most 64 bytes, then "...".
std::string printable(const std::string& text);

}  // namespace devhost

#endif /* DEVHOST_SERVICES_CURL_EXCHANGE_H */
