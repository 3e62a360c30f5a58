#include "devhost/services/curl_exchange.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "devhost/http_access.h"

namespace devhost
{
namespace
{
struct Curl_Url_Free
{
  void operator()(CURLU* p) const { curl_url_cleanup(p); }
};
typedef std::unique_ptr<CURLU, Curl_Url_Free> Curl_Url_Ptr;
struct Curl_Text_Free
{
  void operator()(char* p) const { curl_free(p); }
};

std::string trim(const char* begin, const char* end)
{
  while (begin < end && std::isspace(static_cast<unsigned char>(*begin)))
    ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(end[-1])))
    --end;
  return std::string(begin, end);
}

size_t store_header(Exchange* ex, char* data, size_t length)
{
  std::string line = trim(data, data + length);
  if (line.compare(0, 5, "HTTP/") == 0)
  {
    // A new status line (after a 1xx reply or a proxy's CONNECT answer)
    // starts a new set of headers.
    clear_headers(ex->resp->headers());
    ex->resp->parse_status_line(line.c_str());
    return length;
  }
  std::string::size_type colon = line.find(':');
  if (colon == std::string::npos || colon == 0)
    return length;
  std::string name = trim(line.data(), line.data() + colon);
  std::string value = trim(line.data() + colon + 1, line.data() + line.size());
  // Repeated fields combine into one comma-separated list (RFC 9110 5.3).
  const char* old = header_value(ex->resp->headers(), name.c_str(), true);
  if (old != nullptr)
    value = std::string(old) + ", " + value;
  ex->resp->headers().put(name.c_str(), value.c_str(), true);
  return length;
}

size_t store_body(Exchange* ex, char* data, size_t length)
{
  if (ex->body.size() + length > ex->max_body)
  {
    // Returning less than given makes libcurl abort with CURLE_WRITE_ERROR;
    // a body without a Content-Length is stopped here at the cap.
    ex->oversized = true;
    return 0;
  }
  ex->body.append(data, length);
  return length;
}

// Percent-encodes what may not stand in a path (RFC 3986 3.3): everything
// but unreserved characters, sub-delimiters, ':', '@' and '/'.
std::string encode_path(const char* path)
{
  static const char HEX[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(path); *p != 0; ++p)
  {
    if (std::isalnum(*p) || std::strchr("-._~!$&'()*+,;=:@/", *p) != nullptr)
      out += static_cast<char>(*p);
    else
    {
      out += '%';
      out += HEX[*p >> 4];
      out += HEX[*p & 15];
    }
  }
  return out;
}

// Brackets an IPv6 literal (RFC 3986 3.2.2); anything else goes to libcurl
// as it is, and libcurl refuses what is not a host.
std::string url_host(const std::string& host)
{
  in6_addr addr;
  if (host.find('\0') == std::string::npos && inet_pton(AF_INET6, host.c_str(), &addr) == 1)
    return "[" + host + "]";
  return host;
}

// The slot of a TLS context that points to its handle's Tls_Check; -1 when
// OpenSSL has none to give.
int tls_check_index()
{
  static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

// Names as RFC 2253 writes them ("CN=leaf,O=Example"), but with control
// characters and non-ASCII bytes left as they are: `printable` escapes
// every such byte the same way when the name reaches a log line.
constexpr unsigned long TLS_NAME_FLAGS = XN_FLAG_RFC2253 & ~(ASN1_STRFLGS_ESC_CTRL | ASN1_STRFLGS_ESC_MSB);

std::size_t name_text(const X509_NAME* name, char* out)
{
  Bio_Ptr bio(name != nullptr ? BIO_new(BIO_s_mem()) : nullptr);
  if (!bio || X509_NAME_print_ex(bio.get(), name, 0, TLS_NAME_FLAGS) < 0)
    return 0;
  const int n = BIO_read(bio.get(), out, static_cast<int>(Tls_Refusal::NAME_MAX_BYTES + 1));
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

// Called by OpenSSL for each certificate of the chain, with its verdict in
// @a ok, which goes back unchanged: OpenSSL's own default does the same, so
// verification is exactly as strict as without this callback.  Only the
// first refusal is kept (with SSL_VERIFY_PEER the handshake ends there).
int on_verify(int ok, X509_STORE_CTX* store_ctx)
{
  if (ok != 0)
    return ok;
  const int index = tls_check_index();
  SSL* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store_ctx, SSL_get_ex_data_X509_STORE_CTX_idx()));
  Tls_Check* check = ssl != nullptr && index >= 0
                         ? static_cast<Tls_Check*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), index))
                         : nullptr;
  if (check == nullptr || check->refusal.recorded)
    return ok;
  // OpenSSL errors raised here (no memory for the names) are ours to drop;
  // those of the handshake stay queued for libcurl.
  ERR_set_mark();
  Tls_Refusal& r = check->refusal;
  r.recorded = true;
  r.depth = X509_STORE_CTX_get_error_depth(store_ctx);
  r.error = X509_STORE_CTX_get_error(store_ctx);
  X509* cert = X509_STORE_CTX_get_current_cert(store_ctx);
  r.subject_length = name_text(cert != nullptr ? X509_get_subject_name(cert) : nullptr, r.subject);
  r.issuer_length = name_text(cert != nullptr ? X509_get_issuer_name(cert) : nullptr, r.issuer);
  ERR_pop_to_mark();
  return ok;
}

// "certificate 'SUBJECT' issued by 'ISSUER' (chain depth N): REASON".
std::string refusal_text(const Tls_Refusal& r)
{
  const std::size_t max = Tls_Refusal::NAME_MAX_BYTES;
  return "certificate " + printable(std::string(r.subject, r.subject_length), max) + " issued by " +
         printable(std::string(r.issuer, r.issuer_length), max) + " (chain depth " + std::to_string(r.depth) +
         "): " + X509_verify_cert_error_string(r.error);
}

std::string url_text(CURLU* url, CURLUPart part, CURLUcode& rc)
{
  char* text = nullptr;
  rc = curl_url_get(url, part, &text, 0);
  // Held before the copy, which may throw (no memory).
  std::unique_ptr<char, Curl_Text_Free> held(text);
  return rc == CURLUE_OK ? std::string(text) : std::string();
}

// libcurl calls the data callbacks from inside curl_easy_perform, and an
// exception (no memory) must not unwind through its frames: that skips the
// bookkeeping which marks the end of the callback, so libcurl goes on
// believing it is inside one, curl_easy_cleanup's removal of the handle from
// the multi handle of curl_easy_perform fails with CURLM_RECURSIVE_API_CALL,
// and that multi handle, its connection cache and the open socket are never
// freed.  The exception is kept and the transfer aborted (a short count gives
// CURLE_WRITE_ERROR); get() throws it again once libcurl has returned.
size_t store_without_unwinding(size_t (*store)(Exchange*, char*, size_t), char* data, size_t length,
                               void* user)
{
  Exchange* ex = static_cast<Exchange*>(user);
  try
  {
    return store(ex, data, length);
  }
  catch (...)
  {
    ex->error = std::current_exception();
    return 0;
  }
}
}  // namespace

size_t on_header(char* data, size_t size, size_t count, void* user)
{
  return store_without_unwinding(&store_header, data, size * count, user);
}

size_t on_body(char* data, size_t size, size_t count, void* user)
{
  return store_without_unwinding(&store_body, data, size * count, user);
}

CURLcode on_ssl_context(CURL*, void* ssl_ctx, void* user)
{
  Tls_Check* check = static_cast<Tls_Check*>(user);
  if (check == nullptr || check->store == nullptr)
    return CURLE_SSL_CACERT_BADFILE;
  SSL_CTX* ctx = static_cast<SSL_CTX*>(ssl_ctx);
  // Replace the (empty) store libcurl gave the new context with the shared
  // one; set1 takes a reference, so the store outlives the context.
  SSL_CTX_set1_cert_store(ctx, check->store);
  // Naming a refused certificate is an extra: without a slot for the check,
  // or should libcurl ever install a verify callback of its own, the
  // context is left as libcurl made it.  The mode keeps what libcurl set
  // (peer verification, with CURLOPT_SSL_VERIFYPEER on) and can only gain.
  const int index = tls_check_index();
  if (index >= 0 && SSL_CTX_get_verify_callback(ctx) == nullptr &&
      SSL_CTX_set_ex_data(ctx, index, check) == 1)
    SSL_CTX_set_verify(ctx, SSL_CTX_get_verify_mode(ctx) | SSL_VERIFY_PEER, &on_verify);
  return CURLE_OK;
}

bool make_request_url(bool ssl, const std::string& host, unsigned short port, const char* path, bool encode,
                      const char* query, Request_Url& out, std::string& error)
{
  Curl_Url_Ptr url(curl_url());
  if (!url)
  {
    error = "libcurl cannot create a URL";
    return false;
  }
  const std::string port_text = std::to_string(port);
  CURLUcode rc = curl_url_set(url.get(), CURLUPART_SCHEME, ssl ? "https" : "http", 0);
  if (rc == CURLUE_OK)
    rc = curl_url_set(url.get(), CURLUPART_HOST, url_host(host).c_str(), 0);
  if (rc == CURLUE_OK)
    rc = curl_url_set(url.get(), CURLUPART_PORT, port_text.c_str(), 0);
  if (rc != CURLUE_OK)
  {
    error =
        "the endpoint " + printable(host) + " port " + port_text + " is not valid: " + curl_url_strerror(rc);
    return false;
  }
  // The origin is the URL before a path is set: "scheme://host:port/".
  std::string origin = url_text(url.get(), CURLUPART_URL, rc);
  if (rc != CURLUE_OK)
  {
    error = std::string("libcurl cannot write the URL: ") + curl_url_strerror(rc);
    return false;
  }
  origin.pop_back();
  std::string target = origin + (encode ? encode_path(path) : std::string(path));
  if (target.size() == origin.size() || target[origin.size()] != '/')
    target.insert(origin.size(), "/");
  // The path and the query go in as one text that libcurl parses: setting
  // them as parts would rewrite their escapes in lower case (libcurl 7.88),
  // and the query must arrive byte for byte as it was signed.  A query that
  // libcurl reads differently (a "#" in it) is refused, not cut.
  const bool has_query = query != nullptr && *query != '\0';
  rc = curl_url_set(url.get(), CURLUPART_URL, has_query ? (target + "?" + query).c_str() : target.c_str(), 0);
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

std::string printable(const std::string& text, std::size_t max_bytes)
{
  static const char HEX[] = "0123456789ABCDEF";
  std::string out = "'";
  for (std::size_t i = 0; i < text.size() && i < max_bytes; ++i)
  {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c > 0x7e || c == '\\')
    {
      out += "\\x";
      out += HEX[c >> 4];
      out += HEX[c & 15];
    }
    else
      out += static_cast<char>(c);
  }
  out += text.size() > max_bytes ? "'..." : "'";
  return out;
}

// The cause of a failed transfer in words a person can act on.
std::string transfer_cause(CURL* easy, CURLcode rc, const char* detail, const Exchange& ex,
                           const Tls_Refusal& refusal, const devhost::Curl_Generation& gen,
                           const std::string& host, unsigned short port)
{
  const Rest_Client_Options& opt = gen.options();
  std::string d = *detail != '\0' ? detail : curl_easy_strerror(rc);
  switch (rc)
  {
    case CURLE_COULDNT_RESOLVE_HOST:
      return "cannot resolve the host name '" + host + "' (check the name and the DNS settings)";
    case CURLE_COULDNT_RESOLVE_PROXY:
      return "cannot resolve the proxy's host name (check the http_proxy/https_proxy environment): " + d;
    case CURLE_COULDNT_CONNECT:
    {
      long os_errno = 0;
      curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &os_errno);
      if (os_errno == ECONNREFUSED)
        return "connection refused (is the service listening on port " + std::to_string(port) + "?)";
      return "cannot connect: " +
             (os_errno != 0 ? std::string(std::strerror(static_cast<int>(os_errno))) : d);
    }
    case CURLE_OPERATION_TIMEDOUT:
    {
      curl_off_t connected = 0;
      curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connected);
      if (connected == 0)
        return "timed out connecting (connect timeout " + std::to_string(opt.connect_timeout_ms) + " ms)";
      return "timed out waiting for the reply (total timeout " + std::to_string(opt.timeout_ms) + " ms)";
    }
    case CURLE_SSL_CONNECT_ERROR:
      return "TLS handshake failed: " + d;
    case CURLE_PEER_FAILED_VERIFICATION:
      // libcurl's text says why but not which certificate; a host name
      // mismatch, which libcurl checks itself, records no refusal.
      return "the service's certificate was not accepted (CA bundle: " + gen.ca_name() +
             "): " + (refusal.recorded ? refusal_text(refusal) : d);
    case CURLE_SSL_CACERT_BADFILE:
      return "cannot use the CA bundle " + gen.ca_name() + ": " + d;
    case CURLE_FILESIZE_EXCEEDED:
      return "the response body exceeds the limit of " + std::to_string(opt.max_body) + " bytes";
    case CURLE_WRITE_ERROR:
      if (ex.oversized)
        return "the response body exceeds the limit of " + std::to_string(opt.max_body) + " bytes";
      return d;
    case CURLE_GOT_NOTHING:
      return "the service closed the connection without replying";
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    {
      // A peer that closes at once shows as a reset or as end of file,
      // depending on whether our request reached it first; both are the same
      // fault to the person reading this.
      long header_bytes = 0;
      curl_easy_getinfo(easy, CURLINFO_HEADER_SIZE, &header_bytes);
      if (header_bytes == 0)
        return "the service closed the connection without replying (" + d + ")";
      return "the connection broke while receiving the reply: " + d;
    }
    case CURLE_PARTIAL_FILE:
      return "the connection broke while receiving the reply: " + d;
    case CURLE_URL_MALFORMAT:
      return "the request URL is malformed: " + d;
    default:
      return d;
  }
}

}  // namespace devhost
