// The development host's HTTP message types and helpers (host/http.h).
#include "host/http.h"

#include <sys/uio.h>

#include <cstring>
#include <iterator>
#include <strings.h>

#include <ace/OS_NS_stdlib.h>

#include "scrt/http_helpers.h"
#include "scrt/http_response.h"

namespace
{
// Indexed by the HTTP_HEAD_ identifiers; the count check below keeps the two
// lists from drifting apart.
const char* const HEADER_NAMES[] = {
    "Accept",
    "Accept-Charset",
    "Accept-Encoding",
    "Accept-Language",
    "Accept-Ranges",
    "Age",
    "Allow",
    "Cache-Control",
    "Connection",
    "Content-Disposition",
    "Content-Encoding",
    "Content-Language",
    "Content-Length",
    "Content-Location",
    "Content-MD5",
    "Content-Range",
    "Content-Type",
    "Cookie",
    "Date",
    "ETag",
    "Expect",
    "Expires",
    "From",
    "Host",
    "If-Match",
    "If-Modified-Since",
    "If-None-Match",
    "If-Range",
    "If-Unmodified-Since",
    "Last-Modified",
    "Location",
    "Max-Forwards",
    "Pragma",
    "Proxy-Authenticate",
    "Proxy-Authorization",
    "Range",
    "Referer",
    "Retry-After",
    "Server",
    "Set-Cookie",
    "TE",
    "Transfer-Encoding",
    "Upgrade",
    "User-Agent",
    "Vary",
    "Via",
    "Warning",
    "WWW-Authenticate",
    "Authorization",
};
static_assert(sizeof HEADER_NAMES / sizeof HEADER_NAMES[0] == HTTP_HEAD_COUNT, "one name per header id");

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

struct Status_Phrase
{
  int status;
  const char* phrase;
};

// The phrases of RFC 9110 section 15, with 103 (RFC 8297), 428, 429, 431,
// 511 (RFC 6585) and 451 (RFC 7725).
const Status_Phrase STATUS_PHRASES[] = {
    {100, "Continue"},
    {101, "Switching Protocols"},
    {103, "Early Hints"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "Non-Authoritative Information"},
    {204, "No Content"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {300, "Multiple Choices"},
    {301, "Moved Permanently"},
    {302, "Found"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {307, "Temporary Redirect"},
    {308, "Permanent Redirect"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Content Too Large"},
    {414, "URI Too Long"},
    {415, "Unsupported Media Type"},
    {416, "Range Not Satisfiable"},
    {417, "Expectation Failed"},
    {421, "Misdirected Request"},
    {422, "Unprocessable Content"},
    {426, "Upgrade Required"},
    {428, "Precondition Required"},
    {429, "Too Many Requests"},
    {431, "Request Header Fields Too Large"},
    {451, "Unavailable For Legal Reasons"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
    {505, "HTTP Version Not Supported"},
    {511, "Network Authentication Required"},
};
}  // namespace

const char* http_header_name(int id)
{
  return id >= 0 && id < HTTP_HEAD_COUNT ? HEADER_NAMES[id] : nullptr;
}

const char* http_method_string(int method)
{
  switch (method)
  {
    case HTTP_METHOD_OPTIONS:
      return "OPTIONS";
    case HTTP_METHOD_HEAD:
      return "HEAD";
    case HTTP_METHOD_GET:
      return "GET";
    case HTTP_METHOD_POST:
      return "POST";
    case HTTP_METHOD_PUT:
      return "PUT";
    case HTTP_METHOD_DELETE:
      return "DELETE";
    case HTTP_METHOD_TRACE:
      return "TRACE";
    case HTTP_METHOD_CONNECT:
      return "CONNECT";
    case HTTP_METHOD_PATCH:
      return "PATCH";
    default:
      return "UNKNOWN";
  }
}

const char* http_status_string(int status)
{
  for (const Status_Phrase& entry : STATUS_PHRASES)
    if (entry.status == status)
      return entry.phrase;
  return "";
}

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

bool http_encode_string(const char* text, unsigned long flags, std::string& out)
{
  return http_encode_string_i(text, flags, std::back_inserter(out));
}

HTTP_Headers::HTTP_Headers() {}

HTTP_Headers::~HTTP_Headers() {}

const char* HTTP_Headers::get(const char* name, bool ignore_case) const
{
  if (name == nullptr)
    return nullptr;
  for (const auto& header : list_)
    if (same_name(header.first, name, ignore_case))
      return header.second.c_str();
  return nullptr;
}

const char* HTTP_Headers::get(int id, bool ignore_case) const
{
  return get(http_header_name(id), ignore_case);
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

void HTTP_Headers::put(int id, const char* value, bool ignore_case)
{
  put(http_header_name(id), value, ignore_case);
}

void HTTP_Headers::clear()
{
  list_.clear();
}

CGI_Base::CGI_Base() {}

CGI_Base::~CGI_Base() {}

ACE_UINT64 CGI_Base::content_length() const
{
  const char* val = headers_.get(HTTP_HEAD_CONTENT_LENGTH, true);
  return val == nullptr ? 0 : ACE_OS::strtoull(val, nullptr, 10);
}

void CGI_Base::content_length(ACE_UINT64 val)
{
  headers_.put(HTTP_HEAD_CONTENT_LENGTH, std::to_string(val).c_str(), true);
}

const char* CGI_Base::content_type() const
{
  return headers_.get(HTTP_HEAD_CONTENT_TYPE, true);
}

void CGI_Base::content_type(const char* val)
{
  headers_.put(HTTP_HEAD_CONTENT_TYPE, val, true);
}

int CGI_Base::iovec_count() const
{
  return static_cast<int>(headers_.list().size()) * IOVECS_PER_HEADER;
}

int CGI_Base::to_iovec(iovec* iov, int n) const
{
  // Whole lines only: a writer that sends what it got never emits half a
  // header.
  if (iov == nullptr || n < IOVECS_PER_HEADER)
    return 0;
  int filled = 0;
  for (const auto& header : headers_.list())
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

CGI_Response::CGI_Response(unsigned status_class) : status_class_(status_class), status_(0) {}

CGI_Response::~CGI_Response() {}

HTTP_Request::HTTP_Request(int method, const char* path, bool encode_path)
    : method_(method), path_(path != nullptr ? path : ""), encode_path_(encode_path)
{
}

HTTP_Request::~HTTP_Request() {}

int HTTP_Request::method() const
{
  return method_;
}

const char* HTTP_Request::path() const
{
  return path_.c_str();
}

const char* HTTP_Request::query_string() const
{
  return query_.c_str();
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

  status(code);
  minor_version_ = minor;
  return true;
}
