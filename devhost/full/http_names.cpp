// The development host's names of HTTP methods and statuses (host/http.h).
#include "host/http.h"

namespace
{
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
