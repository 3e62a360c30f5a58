#ifndef QUORVANE_COMMON_AUTH_INFO_H
#define QUORVANE_COMMON_AUTH_INFO_H

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

#include <ace/Log_Msg.h>

#include "host/json_spirit_value.h"
#include "json_spirit/extract.h"
#include "scrt/secure_string.h"

namespace quorvane
{
/**
 * The address and keys of one cloud account.  A value type: each holder
 * owns its copy, and every copy of the secret key lives in secure storage
 * that is wiped when released.
 */
struct Auth_Info
{
  /// The port of the service when the account names none.
  static const std::uint16_t DEFAULT_PORT = 30188;

  Auth_Info() : port(DEFAULT_PORT), ssl(false) {}
  Auth_Info(const Auth_Info&) = default;
  Auth_Info(Auth_Info&&) = default;
  Auth_Info& operator=(const Auth_Info&) = default;
  Auth_Info& operator=(Auth_Info&&) = default;
  ~Auth_Info() = default;

  /**
   * Reads "host", "access_key", "secret_key", "port" and "ssl" from the JSON
   * object held by @a json.  Absent (or null) keys leave their members as
   * they are.  False, with one log line, when @a json is not an object, a
   * member has the wrong JSON type, or "port" is outside 1 to 65535; the
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
    const json_spirit::Object& obj = json.get_obj();
    json_spirit::extract_or_throw(obj)("host", host, json_spirit::FG_NOTHROW)(
        "access_key", access_key, json_spirit::FG_NOTHROW)("secret_key", secret_key, json_spirit::FG_NOTHROW)(
        "port", port, json_spirit::FG_NOTHROW)("ssl", ssl, json_spirit::FG_NOTHROW);
    // Port 0 fits the type but names no service; 65536 and up, and negative
    // ports, were refused while reading.
    if (port == 0)
      throw std::out_of_range("JSON member 'port' is out of range 1 to 65535: 0");
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
