#ifndef QUORVANE_COMMON_AUTH_INFO_H
#define QUORVANE_COMMON_AUTH_INFO_H

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

#include <ace/Log_Msg.h>

#include "host/json_spirit_value.h"
#include "json_spirit/extract.h"
#include "quorvane/common/credential_checks.h"
#include "scrt/secure_string.h"

namespace quorvane
{
/**
 * The address and keys of one cloud account.  A value type: each holder
 * owns its copy.  Every copy of the secret key lives in secure storage, and
 * a record wipes its secret's characters, up to the string's capacity, when
 * it goes, when it is overwritten and when it is moved from: a key of up to
 * 15 characters lives inside the record itself, and so inside whatever block
 * holds the record, where the allocator's wiping never reaches it.
 */
struct Auth_Info
{
  /// The port of the service when the account names none.
  static const std::uint16_t DEFAULT_PORT = 30188;

  Auth_Info() : port(DEFAULT_PORT), ssl(false) {}
  Auth_Info(const Auth_Info&) = default;
  Auth_Info(Auth_Info&& other) noexcept
      : host(std::move(other.host)),
        access_key(std::move(other.access_key)),
        secret_key(std::move(other.secret_key)),
        port(other.port),
        ssl(other.ssl)
  {
    secure_wipe(other.secret_key);
  }
  Auth_Info& operator=(const Auth_Info& other)
  {
    if (this != &other)
    {
      host = other.host;
      access_key = other.access_key;
      secure_wipe(secret_key);
      secret_key = other.secret_key;
      port = other.port;
      ssl = other.ssl;
    }
    return *this;
  }
  Auth_Info& operator=(Auth_Info&& other) noexcept
  {
    if (this != &other)
    {
      host = std::move(other.host);
      access_key = std::move(other.access_key);
      secure_wipe(secret_key);
      secret_key = std::move(other.secret_key);
      secure_wipe(other.secret_key);
      port = other.port;
      ssl = other.ssl;
    }
    return *this;
  }
  ~Auth_Info() { secure_wipe(secret_key); }

  /**
   * Reads "host", "access_key", "secret_key", "port" and "ssl" from the JSON
   * object held by @a json.  Absent (or null) keys leave their members as
   * they are.  An IPv6 literal is stored without brackets ("[::1]" and "::1"
   * both give "::1").  False, with one log line naming the member, when
   * @a json is not an object, a member has the wrong JSON type, a present
   * "host" is not a host name or an IP address, the access key is too long
   * or holds a character that could change what its signature means
   * (`check_access_key`), "port" is outside 1 to 65535, or the record is
   * left without a host (an empty record loading params without "host"); the
   * members read before the failure keep their new values.
   */
  bool load(const json_spirit::Value& json);

  std::string host;
  std::string access_key;
  secure_string secret_key;
  std::uint16_t port;
  bool ssl;
};

inline bool Auth_Info::load(const json_spirit::Value& json)
{
  try
  {
    const json_spirit::Object& obj = json_spirit::object_of(json);
    json_spirit::extract_or_throw(obj)("host", host, json_spirit::FG_NOTHROW)(
        "access_key", access_key, json_spirit::FG_NOTHROW)("secret_key", secret_key, json_spirit::FG_NOTHROW)(
        "port", port, json_spirit::FG_NOTHROW)("ssl", ssl, json_spirit::FG_NOTHROW);
    // These members go into the request URL, the signed text and the log
    // lines: they are checked before anything is sent or logged.  An absent
    // host keeps the record's own.  The record keeps an IPv6 literal without
    // its brackets, the one form the REST client's `reset` takes, whichever
    // form the caller wrote: every holder of a copy sees the same host.
    if (json_spirit::member_of_kind(obj, "host", false, json_spirit::str_type) != nullptr)
      host = check_host(host);
    check_access_key(access_key);
    // Port 0 fits the type but names no service; 65536 and up, and negative
    // ports, were refused while reading.
    if (port == 0)
      throw std::out_of_range("JSON member 'port' is out of range 1 to 65535: 0");
    // Nor does a record without a host, when neither it nor the JSON had one.
    if (host.empty())
      throw std::invalid_argument("JSON member 'host' does not exist");
    return true;
  }
  catch (const std::exception& e)
  {
    ACE_DEBUG((LM_ERROR, ACE_TEXT("Failed to load  from JSON: %s\n"), e.what()));
    return false;
  }
}

}  // namespace quorvane

#endif /* QUORVANE_COMMON_AUTH_INFO_H */
