// Fuzzes the header accessors of HTTP_Base<CGI_Response> and HTTP_Response
// over arbitrary header values and status lines, against the rules written
// out here: keep-alive ("close" first, then "Keep-Alive", else HTTP/1.1 and
// later persist), chunked (the whole value "chunked"), content length (the
// leading decimal number, as strtoull reads it), content type (as stored).
//
// Input: a control byte (bits 0-3: Connection, Content-Length, Content-Type
// and Transfer-Encoding are present; bit 4: header names in lower case;
// bits 5-7: exercise the keep-alive, chunked and content-type setters); a
// byte, the minor version (signed); eight bytes, a length for the
// Content-Length setter; then, separated by line feeds, the four header
// values and a status line.  Values are cut at a NUL byte.
#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "devhost/harness/http_access.h"
#include "scrt/http_base.h"
#include "scrt/http_response.h"

namespace
{
[[noreturn]] void fail(const char* what, const std::string& detail)
{
  std::fprintf(stderr, "http_base_fuzz: %s\n%s\n", what, detail.c_str());
  std::fflush(stderr);
  std::abort();
}

std::string printable(const char* text)
{
  if (text == nullptr)
    return "<null>";
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p)
  {
    char esc[8];
    if (*p >= 0x20 && *p < 0x7F && *p != '\\')
      out += static_cast<char>(*p);
    else
    {
      std::snprintf(esc, sizeof esc, "\\x%02x", *p);
      out += esc;
    }
  }
  return out;
}

enum Header
{
  H_CONNECTION,
  H_CONTENT_LENGTH,
  H_CONTENT_TYPE,
  H_TRANSFER_ENCODING,
  H_COUNT
};
const char* const NAMES[H_COUNT] = {"Connection", "Content-Length", "Content-Type", "Transfer-Encoding"};
const char* const LOWER_NAMES[H_COUNT] = {"connection", "content-length", "content-type",
                                          "transfer-encoding"};

struct Input
{
  unsigned control = 0;
  int minor = 1;
  std::uint64_t length = 0;
  std::string values[H_COUNT];
  std::string status_line;

  bool present(int h) const { return (control >> h & 1) != 0; }
  /// The value as stored: cut at its first NUL; null when absent.
  const char* value(int h) const { return present(h) ? values[h].c_str() : nullptr; }
};

Input split(const std::uint8_t* data, std::size_t size)
{
  Input in;
  std::size_t i = 0;
  if (i < size)
    in.control = data[i++];
  if (i < size)
    in.minor = static_cast<std::int8_t>(data[i++]);
  for (int b = 0; b < 8 && i < size; ++b)
    in.length |= static_cast<std::uint64_t>(data[i++]) << (8 * b);
  std::vector<std::string> parts(1);
  for (; i < size; ++i)
  {
    if (data[i] == '\n')
      parts.emplace_back();
    else
      parts.back() += static_cast<char>(data[i]);
  }
  for (int h = 0; h < H_COUNT && h < static_cast<int>(parts.size()); ++h)
    in.values[h] = parts[h];
  if (parts.size() > H_COUNT)
    in.status_line = parts[H_COUNT];
  return in;
}

bool is_digit(char c)
{
  return c >= '0' && c <= '9';
}

// strtoull in base 10: white space skipped, an optional sign ("-" negates
// modulo 2^64), the longest run of digits; 0 without digits, the largest
// value on overflow.
std::uint64_t reference_strtoull(const char* text)
{
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
    ++p;
  bool negative = false;
  if (*p == '+' || *p == '-')
    negative = *p++ == '-';
  if (!is_digit(*p))
    return 0;
  std::uint64_t value = 0;
  bool overflow = false;
  for (; is_digit(*p); ++p)
  {
    const unsigned digit = static_cast<unsigned>(*p - '0');
    if (value > (UINT64_MAX - digit) / 10)
      overflow = true;
    else
      value = value * 10 + digit;
  }
  if (overflow)
    return UINT64_MAX;
  return negative ? 0 - value : value;
}

char lower(char c)
{
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// A comma-separated list holds @a token: items compared without regard to
// ASCII case, spaces and tabs around them ignored.
bool reference_list_has(const char* value, const std::string& token)
{
  std::string item;
  for (const char* p = value;; ++p)
  {
    if (*p != ',' && *p != '\0')
    {
      item += *p;
      continue;
    }
    const std::size_t b = item.find_first_not_of(" \t");
    const std::size_t e = item.find_last_not_of(" \t");
    const std::string trimmed = b == std::string::npos ? std::string() : item.substr(b, e - b + 1);
    bool same = trimmed.size() == token.size();
    for (std::size_t i = 0; same && i < token.size(); ++i)
      same = lower(trimmed[i]) == lower(token[i]);
    if (same)
      return true;
    if (*p == '\0')
      return false;
    item.clear();
  }
}

bool reference_keep_alive(const char* connection, int minor)
{
  if (connection != nullptr && reference_list_has(connection, "close"))
    return false;
  if (connection != nullptr && reference_list_has(connection, "Keep-Alive"))
    return true;
  return minor > 0;
}

// "HTTP/1." DIGIT SP 3DIGIT, a code of at least 100, then the end, a space,
// CR or LF.  True with the code and the minor version.
bool reference_status_line(const std::string& line, int& code, int& minor)
{
  const char* p = line.c_str();
  if (std::strncmp(p, "HTTP/1.", 7) != 0)
    return false;
  p += 7;
  if (!is_digit(p[0]) || p[1] != ' ' || !is_digit(p[2]) || !is_digit(p[3]) || !is_digit(p[4]))
    return false;
  const int c = std::atoi(std::string(p + 2, 3).c_str());
  const char after = p[5];
  if (c < 100 || (after != '\0' && after != ' ' && after != '\r' && after != '\n'))
    return false;
  code = c;
  minor = p[0] - '0';
  return true;
}

std::string state(const Input& in, int minor)
{
  std::string s = "minor " + std::to_string(minor);
  for (int h = 0; h < H_COUNT; ++h)
    s += std::string(", ") + NAMES[h] + " " + printable(in.value(h));
  return s + ", status line " + printable(in.status_line.c_str());
}

// The four getters against the rules, through the message and through its
// CGI base (the virtual table must lead to the same accessors).
template <typename T>
void check_getters(const HTTP_Base<T>& msg, const Input& in, int minor)
{
  const std::string detail = state(in, minor);
  const char* length = in.value(H_CONTENT_LENGTH);
  const std::uint64_t want_length = length == nullptr ? 0 : reference_strtoull(length);
  const CGI_Base& base = msg;
  if (msg.content_length() != want_length || base.content_length() != want_length)
    fail("content_length", detail + ": got " + std::to_string(msg.content_length()));

  const char* type = in.value(H_CONTENT_TYPE);
  const char* got_type = base.content_type();
  if ((type == nullptr) != (got_type == nullptr) || (type != nullptr && std::strcmp(type, got_type) != 0) ||
      got_type != msg.content_type())
    fail("content_type", detail + ": got " + printable(got_type));

  if (msg.keep_alive() != reference_keep_alive(in.value(H_CONNECTION), minor))
    fail("keep_alive", detail);

  const char* te = in.value(H_TRANSFER_ENCODING);
  if (msg.chunked_transfer_encoding() != (te != nullptr && std::strcmp(te, "chunked") == 0))
    fail("chunked_transfer_encoding", detail);

  // The header block: "Name: value" CR LF per header, in the order put.
  const int count = msg.iovec_count();
  std::vector<iovec> iov(static_cast<std::size_t>(count) + 1);
  const int filled = msg.to_iovec(iov.data(), count);
  std::string block;
  for (int i = 0; i < filled; ++i)
    block.append(static_cast<const char*>(iov[static_cast<std::size_t>(i)].iov_base),
                 iov[static_cast<std::size_t>(i)].iov_len);
  std::string want_block;
  for (int h = 0; h < H_COUNT; ++h)
    if (in.present(h))
      want_block +=
          std::string((in.control & 16) != 0 ? LOWER_NAMES[h] : NAMES[h]) + ": " + in.value(h) + "\r\n";
  if (filled != count || block != want_block)
    fail("the header block", detail + ": got " + printable(block.c_str()));
}

template <typename T>
void put_headers(HTTP_Base<T>& msg, const Input& in)
{
  msg.minor_version(in.minor);
  for (int h = 0; h < H_COUNT; ++h)
    if (in.present(h))
      msg.headers().put((in.control & 16) != 0 ? LOWER_NAMES[h] : NAMES[h], in.value(h), true);
}

template <typename T>
void check_setters(HTTP_Base<T>& msg, const Input& in)
{
  const std::string detail = state(in, msg.minor_version());
  msg.content_length(in.length);
  const std::string digits = std::to_string(in.length);
  const char* stored = devhost::header_value(msg.headers(), "Content-Length", true);
  if (msg.content_length() != in.length || stored == nullptr || digits != stored)
    fail("content_length(val)", detail + ": stored " + printable(stored) + " for " + digits);

  if ((in.control & 32) != 0)
  {
    const bool on = (in.length & 1) != 0;
    msg.keep_alive(on);
    const char* conn = devhost::header_value(msg.headers(), "Connection", true);
    if (msg.keep_alive() != on || conn == nullptr || std::strcmp(conn, on ? "Keep-Alive" : "close") != 0)
      fail("keep_alive(val)", detail + ": stored " + printable(conn));
  }
  if ((in.control & 64) != 0)
  {
    const bool on = (in.length & 2) != 0;
    msg.chunked_transfer_encoding(on);
    const char* te = devhost::header_value(msg.headers(), "Transfer-Encoding", true);
    if (msg.chunked_transfer_encoding() != on ||
        (on ? te == nullptr || std::strcmp(te, "chunked") != 0 : te != nullptr))
      fail("chunked_transfer_encoding(val)", detail + ": stored " + printable(te));
  }
  if ((in.control & 128) != 0)
  {
    const char* type = (in.length & 4) != 0 ? in.values[H_CONNECTION].c_str() : nullptr;
    msg.content_type(type);
    const char* got = msg.content_type();
    if ((type == nullptr) != (got == nullptr) || (type != nullptr && std::strcmp(type, got) != 0))
      fail("content_type(val)", detail + ": stored " + printable(got));
  }
}
// A CGI message class that records the revision its constructor is given,
// to check the one HTTP_Base gives its base.
class Revision_Recording_CGI : public CGI_Response
{
public:
  explicit Revision_Recording_CGI(unsigned given) : CGI_Response(given), revision(given) {}
  const unsigned revision;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  const Input in = split(data, size);

  HTTP_Base<CGI_Response> plain;
  const HTTP_Base<Revision_Recording_CGI> recorded;
  if (plain.minor_version() != 1 || recorded.revision != 1 || plain.keep_alive() != true ||
      plain.content_length() != 0 || plain.content_type() != nullptr || plain.chunked_transfer_encoding())
    fail("a fresh message is HTTP/1.1 without headers", "");
  put_headers(plain, in);
  check_getters(plain, in, in.minor);
  check_setters(plain, in);

  HTTP_Response resp;
  put_headers(resp, in);
  check_getters(resp, in, in.minor);
  int code = 0;
  int minor = in.minor;
  const bool parsed = reference_status_line(in.status_line, code, minor);
  if (resp.parse_status_line(in.status_line.c_str()) != parsed)
    fail("parse_status_line", state(in, in.minor));
  if (resp.status() != (parsed ? code : 0) || resp.minor_version() != minor)
    fail("the status line's code and version", state(in, in.minor) + ": status " +
                                                   std::to_string(resp.status()) + ", minor " +
                                                   std::to_string(resp.minor_version()));
  check_getters(resp, in, minor);
  check_setters(resp, in);
  return 0;
}
