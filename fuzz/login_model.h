#ifndef FUZZ_LOGIN_MODEL_H
#define FUZZ_LOGIN_MODEL_H

#include <string>

#include "host/json_rpc.h"
#include "host/json_spirit_value.h"

/**
 * The login fuzz target's reference: what the login handler must make of one
 * message, written from the rules for the params and the service's reply
 * rather than from the module's code.  Pure functions.
 */
namespace login_fuzz
{
/// The member @a key of @a obj when present and not null, else null.
const json_spirit::Value* member(const json_spirit::Object& obj, const char* key);

/// Whether the credentials load from @a params: a host name or address for
/// "host", which is required, a string of at most 256 bytes that cannot
/// shift what is signed for "access_key", an integer from 1 to 65535 for
/// "port", a boolean for "ssl"; the other members keep their defaults when
/// absent or null.
bool loadable(const json_spirit::Object& params);

/// The host of a loadable login as the REST client's `reset` takes it: an
/// IPv6 literal without its brackets.
std::string endpoint_host(const std::string& host);

/// The text of the string member @a key of @a params up to its first NUL, as
/// the module hands it on through c_str(); @a fallback when absent or null.
/// The member must be a string when present (`loadable` params).
std::string c_text(const json_spirit::Object& params, const char* key, const std::string& fallback);

/// What one message must come to.
struct Expectation
{
  bool reply = false;        ///< one reply, else none
  int code = 0;              ///< 0 for the success result
  const char* message = "";  ///< the error message, or the success version below
  std::string version;
  bool exchange = false;  ///< the service is asked once
  bool decrypts = false;  ///< "secret_key" ends as the plain secret
};

/**
 * What @a msg must come to when the requester has gone (@a requester_gone:
 * the handler gets a null channel) or not, @a cipher is the only
 * "secret_key" that decrypts (null when none does: the fuzzer cannot forge
 * one), and the service answers with @a status (0: no reply) and @a body.
 */
Expectation expect(const JSON_RPC_Request_Base& msg, bool requester_gone, const std::string* cipher,
                   int status, const std::string& body);

}  // namespace login_fuzz

#endif /* FUZZ_LOGIN_MODEL_H */
