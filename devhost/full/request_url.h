#ifndef DEVHOST_SERVICES_REQUEST_URL_H
#define DEVHOST_SERVICES_REQUEST_URL_H

#include <string>

namespace devhost
{
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
 * and "@", "/", "?", "#", ":" or a line break in it is refused.  When
 * @a encode_path, every byte of the path but the unreserved characters, the
 * sub-delimiters, ":", "@" and "/" is percent-encoded first ("%XX", upper
 * case); otherwise the path goes as given.  False, with @a error saying why
 * (the host shown through `printable`), when a part is refused.
 */
bool make_request_url(bool ssl, const std::string& host, unsigned short port, const char* path,
                      bool encode_path, const char* query, Request_Url& out, std::string& error);

}  // namespace devhost

#endif /* DEVHOST_SERVICES_REQUEST_URL_H */
