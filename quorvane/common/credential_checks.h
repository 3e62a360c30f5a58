#ifndef QUORVANE_COMMON_CREDENTIAL_CHECKS_H
#define QUORVANE_COMMON_CREDENTIAL_CHECKS_H

#include <cstddef>
#include <string>

namespace quorvane
{
/// How many bytes of a refused value a failure message shows at most.
constexpr std::size_t CHECK_ECHO_MAX = 64;

/// The longest access key taken, in bytes: the service's keys are a few
/// dozen characters, and every byte of the key is sent and signed.
constexpr std::size_t ACCESS_KEY_MAX = 256;

/**
 * @a host as the REST client's `reset` takes it: an IPv6 literal without
 * brackets, any other host as it is.  Throws `std::invalid_argument`,
 * naming the member "host" and showing the value through `printable`,
 * unless @a host is one of:
 * - a DNS host name: labels of 1 to 63 letters, digits and hyphens, not
 *   starting or ending with a hyphen, joined by single dots, 253 characters
 *   at most, the last label starting with a letter (so that no name can be
 *   read as a number, as "127.1" or "0x7f000001" would be);
 * - an IPv4 address in dotted-decimal form ("127.0.0.1");
 * - an IPv6 literal, bare ("::1") or in brackets ("[::1]").
 * The host goes into the request URL and the log lines: anything else could
 * change where the signed request goes (a "@", "/", "?", "#" or ":") or forge
 * log lines (a line break).
 */
std::string check_host(const std::string& host);

/**
 * Throws `std::invalid_argument`, naming the member "access_key", when
 * @a access_key is longer than ACCESS_KEY_MAX bytes, or contains "_/", a
 * control character (0x00 to 0x1F, 0x7F), a space or a byte above 0x7E.
 * The text that is signed joins the clock, the access key, the path and the
 * query with "_", and every path starts with "/": an access key holding "_/"
 * would let the same signature stand for another path and query.
 */
void check_access_key(const std::string& access_key);

/**
 * @a text made safe for one log line, in double quotes: printable ASCII as
 * it is, but a backslash or a double quote preceded by a backslash; CR, LF
 * and TAB as \r, \n and \t; every other byte as \xNN (upper-case digits).
 * At most CHECK_ECHO_MAX bytes of @a text are shown, with "..." after the
 * closing quote when there are more.
 */
std::string printable(const std::string& text);

}  // namespace quorvane

#endif /* QUORVANE_COMMON_CREDENTIAL_CHECKS_H */
