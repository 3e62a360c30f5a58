// The development host's choices in the HTTP message types and helpers
// (host/http.h): header names compare as asked, list items in
// http_header_value_match case-insensitively, a message writes its headers
// as iovecs, and the status line is parsed by hand; and its own access to
// them (devhost/harness/http_access.h).  What both hosts share is
// devhost/shared/http_messages.cpp.
#include "host/http.h"

#include <sys/uio.h>

#include <cstring>
#include <strings.h>

#include "devhost/harness/http_access.h"
#include "scrt/http_helpers.h"
#include "scrt/http_response.h"

namespace
{
bool same_name(const std::string& a, const char* b, bool ignore_case)
{
  return (ignore_case ? ::strcasecmp(a.c_str(), b) : std::strcmp(a.c_str(), b)) == 0;
}

// Optional white space (RFC 7230 section 3.2.3) around list items.
bool is_ows(char c)
{
  return c == ' ' || c == '\t';
}

// The part of [begin, end) without surrounding white space.
void trim(const char*& begin, const char*& end)
{
  while (begin < end && is_ows(*begin))
    ++begin;
  while (end > begin && is_ows(end[-1]))
    --end;
}

// The bytes of the header block: "Name", ": ", "value", "\r\n" per header.
const int IOVECS_PER_HEADER = 4;
char NAME_VALUE_SEPARATOR[] = ": ";
char LINE_END[] = "\r\n";

void set_iovec(iovec& iov, const char* base, size_t len)
{
  // iovec is shared with readv, hence the non-const base; writev only reads.
  iov.iov_base = const_cast<char*>(base);
  iov.iov_len = len;
}

}  // namespace

bool http_header_value_match(const char* value, const char* token, char sep)
{
  if (value == nullptr || token == nullptr)
    return false;
  const char* token_begin = token;
  const char* token_end = token + std::strlen(token);
  trim(token_begin, token_end);
  const size_t token_len = static_cast<size_t>(token_end - token_begin);
  // Empty list items are ignored (RFC 7230 section 7), so an empty token
  // matches nothing, not the gap in "a,,b".
  if (token_len == 0)
    return false;

  for (const char* item = value;;)
  {
    const char* item_end = std::strchr(item, sep);
    const char* const next = item_end;
    if (item_end == nullptr)
      item_end = item + std::strlen(item);
    const char* item_begin = item;
    trim(item_begin, item_end);
    if (static_cast<size_t>(item_end - item_begin) == token_len &&
        ::strncasecmp(item_begin, token_begin, token_len) == 0)
      return true;
    if (next == nullptr)
      return false;
    item = next + 1;
  }
}

const char* devhost::header_value(const HTTP_Headers& headers, const char* name, bool ignore_case)
{
  if (name == nullptr)
    return nullptr;
  for (const auto& header : devhost_header_list(headers))
    if (same_name(header.first, name, ignore_case))
      return header.second.c_str();
  return nullptr;
}

void HTTP_Headers::put(const char* name, const char* value, bool ignore_case)
{
  if (name == nullptr || *name == '\0')
    return;
  for (auto it = list_.begin(); it != list_.end(); ++it)
  {
    if (!same_name(it->first, name, ignore_case))
      continue;
    if (value == nullptr)
      list_.erase(it);
    else
      it->second = value;
    return;
  }
  if (value != nullptr)
    list_.emplace_back(name, value);
}

int CGI_Base::iovec_count() const
{
  return static_cast<int>(devhost_header_list(headers_).size()) * IOVECS_PER_HEADER;
}

int CGI_Base::to_iovec(iovec* iov, int n) const
{
  // Whole lines only: a writer that sends what it got never emits half a
  // header.
  if (iov == nullptr || n < IOVECS_PER_HEADER)
    return 0;
  int filled = 0;
  for (const auto& header : devhost_header_list(headers_))
  {
    if (n - filled < IOVECS_PER_HEADER)
      break;
    set_iovec(iov[filled++], header.first.data(), header.first.size());
    set_iovec(iov[filled++], NAME_VALUE_SEPARATOR, sizeof NAME_VALUE_SEPARATOR - 1);
    set_iovec(iov[filled++], header.second.data(), header.second.size());
    set_iovec(iov[filled++], LINE_END, sizeof LINE_END - 1);
  }
  return filled;
}

bool HTTP_Response::parse_status_line(const char* line)
{
  // status-line = "HTTP/1." DIGIT SP 3DIGIT [ SP reason-phrase ] [CR] [LF]
  // (RFC 7230 section 3.1.2; some servers drop the space before an empty
  // reason).  Parse everything before changing anything.
  static const char PREFIX[] = "HTTP/1.";
  const size_t prefix_len = sizeof PREFIX - 1;
  if (line == nullptr || std::strncmp(line, PREFIX, prefix_len) != 0)
    return false;
  const char* p = line + prefix_len;
  auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
  if (!is_digit(p[0]) || p[1] != ' ')
    return false;
  const int minor = p[0] - '0';
  p += 2;
  if (!is_digit(p[0]) || !is_digit(p[1]) || !is_digit(p[2]))
    return false;
  const int code = (p[0] - '0') * 100 + (p[1] - '0') * 10 + (p[2] - '0');
  p += 3;
  if (code < 100 || (*p != '\0' && *p != ' ' && *p != '\r' && *p != '\n'))
    return false;

  devhost_set_status(*this, code);
  minor_version_ = minor;
  return true;
}
