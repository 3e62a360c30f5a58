#include "devhost/full/transfer_cause.h"

#include <cerrno>
#include <cstring>

#include "devhost/full/tls_verification.h"

namespace devhost
{
namespace
{
std::string connect_cause(CURL* easy, const std::string& d, unsigned short port)
{
  long os_errno = 0;
  curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &os_errno);
  if (os_errno == ECONNREFUSED)
    return "connection refused (is the service listening on port " + std::to_string(port) + "?)";
  return "cannot connect: " + (os_errno != 0 ? std::string(std::strerror(static_cast<int>(os_errno))) : d);
}

std::string timeout_cause(CURL* easy, const Rest_Client_Options& opt)
{
  curl_off_t connected = 0;
  curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connected);
  if (connected == 0)
    return "timed out connecting (connect timeout " + std::to_string(opt.connect_timeout_ms) + " ms)";
  return "timed out waiting for the reply (total timeout " + std::to_string(opt.timeout_ms) + " ms)";
}

std::string broken_connection_cause(CURL* easy, const std::string& d)
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

std::string body_limit_cause(const Rest_Client_Options& opt)
{
  return "the response body exceeds the limit of " + std::to_string(opt.max_body) + " bytes";
}
}  // namespace

std::string transfer_cause(CURL* easy, CURLcode rc, const char* detail, const Exchange& ex,
                           const Tls_Refusal& refusal, const Curl_Generation& gen, const std::string& host,
                           unsigned short port)
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
      return connect_cause(easy, d, port);
    case CURLE_OPERATION_TIMEDOUT:
      return timeout_cause(easy, opt);
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
      return body_limit_cause(opt);
    case CURLE_WRITE_ERROR:
      return ex.oversized ? body_limit_cause(opt) : d;
    case CURLE_GOT_NOTHING:
      return "the service closed the connection without replying";
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
      return broken_connection_cause(easy, d);
    case CURLE_PARTIAL_FILE:
      return "the connection broke while receiving the reply: " + d;
    case CURLE_URL_MALFORMAT:
      return "the request URL is malformed: " + d;
    default:
      return d;
  }
}

}  // namespace devhost
