#include "devhost/full/request_url.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <memory>

#include <curl/curl.h>

#include "devhost/full/printable.h"
#include "host/http.h"
#include "scrt/http_helpers.h"

namespace devhost
{
namespace
{
/// The flag word of the path's percent-encoding: what RFC 3986 3.3 lets
/// stand in a path is kept (the unreserved characters, always; the
/// sub-delimiters, ":" and "@" by their flags; "/" with HUT_FLAG_SLASH
/// clear), every other byte becomes "%XX" with upper-case digits (RFC 3986
/// 2.1).  That is encodeURI's set less "?" and "#", which would end the path.
constexpr unsigned long REQUEST_URL_PATH_FLAGS =
    HUT_FLAG_UPPERCASE | HUT_FLAG_KEEP_EXCLAMATION | HUT_FLAG_KEEP_DOLLAR | HUT_FLAG_KEEP_AMPERSAND |
    HUT_FLAG_KEEP_SINGLE_QUOTE | HUT_FLAG_KEEP_LEFT_PAREN | HUT_FLAG_KEEP_RIGHT_PAREN |
    HUT_FLAG_KEEP_ASTERISK | HUT_FLAG_KEEP_PLUS | HUT_FLAG_KEEP_COMMA | HUT_FLAG_KEEP_SEMICOLON |
    HUT_FLAG_KEEP_EQUAL | HUT_FLAG_KEEP_COLON | HUT_FLAG_KEEP_AT;
static_assert(REQUEST_URL_PATH_FLAGS ==
                  (HUT_FLAG_JS_ENCODE_URI & ~(HUT_FLAG_KEEP_QUESTION | HUT_FLAG_KEEP_POUND)),
              "a path keeps encodeURI's characters but those that end it");

struct Curl_Url_Free
{
  void operator()(CURLU* p) const { curl_url_cleanup(p); }
};
typedef std::unique_ptr<CURLU, Curl_Url_Free> Curl_Url_Ptr;
struct Curl_Text_Free
{
  void operator()(char* p) const { curl_free(p); }
};

// Brackets an IPv6 literal (RFC 3986 3.2.2); anything else goes to libcurl
// as it is, and libcurl refuses what is not a host.
std::string url_host(const std::string& host)
{
  in6_addr addr;
  if (host.find('\0') == std::string::npos && inet_pton(AF_INET6, host.c_str(), &addr) == 1)
    return "[" + host + "]";
  return host;
}

std::string url_text(CURLU* url, CURLUPart part, CURLUcode& rc)
{
  char* text = nullptr;
  rc = curl_url_get(url, part, &text, 0);
  // Held before the copy, which may throw (no memory).
  std::unique_ptr<char, Curl_Text_Free> held(text);
  return rc == CURLUE_OK ? std::string(text) : std::string();
}

// Sets scheme, host and port, and reads back the origin: the URL before a
// path is set, "scheme://host:port/", without its "/".
bool set_origin(CURLU* url, bool ssl, const std::string& host, unsigned short port, std::string& origin,
                std::string& error)
{
  const std::string port_text = std::to_string(port);
  CURLUcode rc = curl_url_set(url, CURLUPART_SCHEME, ssl ? "https" : "http", 0);
  if (rc == CURLUE_OK)
    rc = curl_url_set(url, CURLUPART_HOST, url_host(host).c_str(), 0);
  if (rc == CURLUE_OK)
    rc = curl_url_set(url, CURLUPART_PORT, port_text.c_str(), 0);
  if (rc != CURLUE_OK)
  {
    error =
        "the endpoint " + printable(host) + " port " + port_text + " is not valid: " + curl_url_strerror(rc);
    return false;
  }
  origin = url_text(url, CURLUPART_URL, rc);
  if (rc != CURLUE_OK)
  {
    error = std::string("libcurl cannot write the URL: ") + curl_url_strerror(rc);
    return false;
  }
  origin.pop_back();
  return true;
}

// The origin and the path, which always starts with "/".  An empty path
// appends nothing (the encoder writes nothing for one).
std::string make_target(const std::string& origin, const char* path, bool encode)
{
  std::string target = origin;
  if (encode)
    http_encode_string(path, REQUEST_URL_PATH_FLAGS, target);
  else
    target += path;
  if (target.size() == origin.size() || target[origin.size()] != '/')
    target.insert(origin.size(), "/");
  return target;
}
}  // namespace

bool make_request_url(bool ssl, const std::string& host, unsigned short port, const char* path, bool encode,
                      const char* query, Request_Url& out, std::string& error)
{
  Curl_Url_Ptr url(curl_url());
  if (!url)
  {
    error = "libcurl cannot create a URL";
    return false;
  }
  std::string origin;
  if (!set_origin(url.get(), ssl, host, port, origin, error))
    return false;
  std::string target = make_target(origin, path, encode);
  // The path and the query go in as one text that libcurl parses: setting
  // them as parts would rewrite their escapes in lower case (libcurl 7.88),
  // and the query must arrive byte for byte as it was signed.  A query that
  // libcurl reads differently (a "#" in it) is refused, not cut.
  const bool has_query = query != nullptr && *query != '\0';
  CURLUcode rc =
      curl_url_set(url.get(), CURLUPART_URL, has_query ? (target + "?" + query).c_str() : target.c_str(), 0);
  std::string parsed_query;
  if (rc == CURLUE_OK && has_query)
    parsed_query = url_text(url.get(), CURLUPART_QUERY, rc);
  std::string whole;
  if (rc == CURLUE_OK)
    whole = url_text(url.get(), CURLUPART_URL, rc);
  if (rc != CURLUE_OK || (has_query && parsed_query != query))
  {
    error = "the path or the query cannot stand in a URL as it is" +
            (rc != CURLUE_OK ? std::string(": ") + curl_url_strerror(rc) : std::string());
    return false;
  }
  out.url = std::move(whole);
  out.origin = std::move(origin);
  out.target = std::move(target);
  return true;
}

}  // namespace devhost
