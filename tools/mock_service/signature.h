#ifndef TOOLS_MOCK_SERVICE_SIGNATURE_H
#define TOOLS_MOCK_SERVICE_SIGNATURE_H

#include <string>

/**
 * The cloud service's side of request signing, written independently of
 * the module: the emulator checks the module's requests against it.
 *
 * string to sign = Client-Now + "_" + access key + "_" + path + "_" + query
 * (path unescaped, query raw without "?"); signature = Base64 of its
 * HMAC-SHA256 under the secret key; header X-Auth-Signature = that text
 * percent-encoded (every byte outside A-Z a-z 0-9 - _ . ~ as upper-case %XX).
 */
namespace mock_service
{
/// Result codes of the emulated service.
enum
{
  QMS_RESULT_OK = 10000,
  QMS_RESULT_MISSING_HEADER = 10001,
  QMS_RESULT_BAD_CLIENT_NOW = 10002,
  QMS_RESULT_STALE_CLIENT_NOW = 10003,
  QMS_RESULT_UNKNOWN_ACCESS_KEY = 10004,
  QMS_RESULT_BAD_SIGNATURE = 10005,
  QMS_RESULT_NOT_FOUND = 10404
};

/// Percent-encodes every byte outside A-Z a-z 0-9 - _ . ~ as "%XX".
std::string percent_encode(const std::string& text);

/// Base64(HMAC-SHA256(@a secret, @a text)); empty when OpenSSL fails.
std::string sign(const std::string& secret, const std::string& text);

/// The account the emulator serves.
struct Account
{
  std::string access_key;
  std::string secret_key;
};

/// The authentication parts of one request; a null header is absent.
struct Signed_Request
{
  const char* client_now;
  const char* access_key;
  const char* signature;
  std::string path;
  std::string query;
};

/// The service's answer to a request's authentication.
struct Verdict
{
  int status;       ///< 200, 401, 403, or 500 when OpenSSL fails
  int result_code;  ///< QMS_RESULT_...
  std::string message;
};

/**
 * Checks @a req against @a account at the service's time @a now_ms
 * (milliseconds since the epoch), allowing @a max_skew_ms of clock
 * difference either way.  The signature header is accepted percent-encoded
 * or, since the HTTP library may have decoded it already, as the Base64
 * text; it is compared in constant time.
 */
Verdict verify(const Account& account, const Signed_Request& req, long long now_ms, long long max_skew_ms);

}  // namespace mock_service

#endif /* TOOLS_MOCK_SERVICE_SIGNATURE_H */
