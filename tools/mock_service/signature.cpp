#include "tools/mock_service/signature.h"

#include <cerrno>
#include <cstdlib>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace mock_service
{
std::string percent_encode(const std::string& text)
{
  static const char HEX[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text)
  {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                 c == '_' || c == '.' || c == '~';
    if (plain)
      out += static_cast<char>(c);
    else
    {
      out += '%';
      out += HEX[c >> 4];
      out += HEX[c & 15];
    }
  }
  return out;
}

std::string sign(const std::string& secret, const std::string& text)
{
  // The one-shot HMAC() on purpose: the emulator shares no code with the
  // development host's HMAC_Generator, so each checks the other.
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int mac_length = 0;
  // An empty key is given as one zero byte, which HMAC pads to the same
  // block (OpenSSL refuses a zero-length key).
  static const unsigned char EMPTY = 0;
  const unsigned char* key = secret.empty() ? &EMPTY : reinterpret_cast<const unsigned char*>(secret.data());
  int key_length = secret.empty() ? 1 : static_cast<int>(secret.size());
  if (HMAC(EVP_sha256(), key, key_length, reinterpret_cast<const unsigned char*>(text.data()), text.size(),
           mac, &mac_length) == nullptr)
    return std::string();
  unsigned char b64[4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1];
  int n = EVP_EncodeBlock(b64, mac, static_cast<int>(mac_length));
  OPENSSL_cleanse(mac, sizeof mac);
  return n < 0 ? std::string() : std::string(reinterpret_cast<char*>(b64), static_cast<std::size_t>(n));
}

namespace
{
bool same(const std::string& given, const std::string& expected)
{
  return given.size() == expected.size() && CRYPTO_memcmp(given.data(), expected.data(), given.size()) == 0;
}
}  // namespace

Verdict verify(const Account& account, const Signed_Request& req, long long now_ms, long long max_skew_ms)
{
  if (req.client_now == nullptr)
    return Verdict{401, QMS_RESULT_MISSING_HEADER, "the header Client-Now is missing"};
  if (req.access_key == nullptr)
    return Verdict{401, QMS_RESULT_MISSING_HEADER, "the header X-Auth-Accesskey is missing"};
  if (req.signature == nullptr)
    return Verdict{401, QMS_RESULT_MISSING_HEADER, "the header X-Auth-Signature is missing"};

  const char* p = req.client_now;
  bool digits = *p != '\0';
  for (; *p != '\0'; ++p)
    digits = digits && *p >= '0' && *p <= '9';
  errno = 0;
  char* end = nullptr;
  long long client_ms = std::strtoll(req.client_now, &end, 10);
  if (!digits || errno != 0 || *end != '\0')
    return Verdict{401, QMS_RESULT_BAD_CLIENT_NOW, "Client-Now is not a decimal number of milliseconds"};
  long long skew = client_ms - now_ms;
  if (skew > max_skew_ms || skew < -max_skew_ms)
    return Verdict{401, QMS_RESULT_STALE_CLIENT_NOW,
                   "Client-Now is " + std::to_string((skew < 0 ? -skew : skew) / 1000) + " s " +
                       (skew < 0 ? "behind" : "ahead of") + " the service clock (allowed " +
                       std::to_string(max_skew_ms / 1000) + " s)"};

  if (account.access_key != req.access_key)
    return Verdict{403, QMS_RESULT_UNKNOWN_ACCESS_KEY, "unknown access key"};

  std::string to_sign = std::string(req.client_now) + "_" + req.access_key + "_" + req.path + "_" + req.query;
  std::string raw = sign(account.secret_key, to_sign);
  if (raw.empty())
    return Verdict{500, QMS_RESULT_BAD_SIGNATURE, "the service cannot compute signatures"};
  // The header is compared in its sent, percent-encoded form, and also in
  // its decoded form: cpp-httplib 0.11 percent-decodes header values before
  // a handler sees them, and decoding the encoded signature gives back the
  // Base64 text.
  if (!same(req.signature, percent_encode(raw)) && !same(req.signature, raw))
    return Verdict{403, QMS_RESULT_BAD_SIGNATURE, "the signature does not match"};
  return Verdict{200, QMS_RESULT_OK, "success"};
}

}  // namespace mock_service
