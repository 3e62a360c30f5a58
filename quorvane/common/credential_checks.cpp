#include "quorvane/common/credential_checks.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <stdexcept>

namespace quorvane
{
namespace
{
constexpr std::size_t DNS_LABEL_MAX = 63;
constexpr std::size_t DNS_NAME_MAX = 253;

bool is_letter(unsigned char c)
{
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_digit(unsigned char c)
{
  return c >= '0' && c <= '9';
}

// A label of 1 to 63 characters, not starting or ending with a hyphen.
bool is_dns_label(const std::string& host, std::size_t begin, std::size_t end)
{
  return end > begin && end - begin <= DNS_LABEL_MAX && host[begin] != '-' && host[end - 1] != '-';
}

// RFC 1123 host names, with the last label starting with a letter (RFC 3696
// section 2: a top-level label is never all-numeric).  libcurl, like the C
// library's inet_aton, reads all-numeric names such as "127.1" or
// "0x7f000001" as IPv4 addresses in shorthand; those are refused here, and
// an IPv4 address must be written in full.
bool is_dns_name(const std::string& host)
{
  if (host.empty() || host.size() > DNS_NAME_MAX)
    return false;
  std::size_t label = 0;  // where the current label starts
  for (std::size_t i = 0; i < host.size(); ++i)
  {
    const unsigned char c = static_cast<unsigned char>(host[i]);
    if (c == '.')
    {
      if (!is_dns_label(host, label, i))
        return false;
      label = i + 1;
    }
    else if (!is_letter(c) && !is_digit(c) && c != '-')
      return false;
  }
  return is_dns_label(host, label, host.size()) && is_letter(static_cast<unsigned char>(host[label]));
}

bool is_ipv4(const std::string& host)
{
  in_addr addr;
  return inet_pton(AF_INET, host.c_str(), &addr) == 1;
}

// An IPv6 literal, bare or in brackets; @a bare is then the literal alone.
bool is_ipv6(const std::string& host, std::string& bare)
{
  bare = host;
  if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']')
    bare = bare.substr(1, bare.size() - 2);
  in6_addr addr;
  return inet_pton(AF_INET6, bare.c_str(), &addr) == 1;
}

bool is_access_key_byte(unsigned char c)
{
  return c > 0x20 && c < 0x7f;
}
}  // namespace

std::string check_host(const std::string& host)
{
  // inet_pton reads up to a zero byte: one inside the text would hide what
  // follows it.
  std::string bare;
  if (host.find('\0') == std::string::npos)
  {
    if (is_dns_name(host) || is_ipv4(host))
      return host;
    if (is_ipv6(host, bare))
      return bare;
  }
  throw std::invalid_argument("JSON member 'host' is not a host name or an IP address: " + printable(host));
}

void check_access_key(const std::string& access_key)
{
  if (access_key.size() > ACCESS_KEY_MAX)
    throw std::invalid_argument("JSON member 'access_key' is longer than " + std::to_string(ACCESS_KEY_MAX) +
                                " bytes: " + printable(access_key));
  bool valid = access_key.find("_/") == std::string::npos;
  for (std::size_t i = 0; valid && i < access_key.size(); ++i)
    valid = is_access_key_byte(static_cast<unsigned char>(access_key[i]));
  if (!valid)
    throw std::invalid_argument(
        "JSON member 'access_key' may not contain \"_/\", a space, a control character or a byte above "
        "0x7E: " +
        printable(access_key));
}

std::string printable(const std::string& text)
{
  static const char HEX[] = "0123456789ABCDEF";
  std::string out = "\"";
  const std::size_t shown = text.size() < CHECK_ECHO_MAX ? text.size() : CHECK_ECHO_MAX;
  for (std::size_t i = 0; i < shown; ++i)
  {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\\' || c == '"')
    {
      out += '\\';
      out += static_cast<char>(c);
    }
    else if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\t')
      out += "\\t";
    else if (c < 0x20 || c > 0x7e)
    {
      out += "\\x";
      out += HEX[c >> 4];
      out += HEX[c & 15];
    }
    else
      out += static_cast<char>(c);
  }
  out += '"';
  if (shown < text.size())
    out += "...";
  return out;
}

}  // namespace quorvane
