// The contract-minimal host's HTTP messages and helpers.  Where the host
// declarations leave a choice it takes another one than the development
// host: header names compare byte for byte, list items in
// http_header_value_match too, unknown statuses read "Unknown", and a
// message describes no iovecs (nothing in the module writes one).
#include "host/http.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "devhost/harness/http_access.h"
#include "scrt/http_helpers.h"
#include "scrt/http_response.h"

namespace
{
// The reason phrases of RFC 9110 section 15 the services of this module use.
struct Status_Phrase
{
  int status;
  const char* phrase;
};
const Status_Phrase STATUS_PHRASES[] = {
    {200, "OK"},
    {201, "Created"},
    {204, "No Content"},
    {301, "Moved Permanently"},
    {302, "Found"},
    {304, "Not Modified"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {408, "Request Timeout"},
    {429, "Too Many Requests"},
    {500, "Internal Server Error"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
};

std::string trimmed(const char* begin, const char* end)
{
  while (begin < end && (*begin == ' ' || *begin == '\t'))
    ++begin;
  while (end > begin && (end[-1] == ' ' || end[-1] == '\t'))
    --end;
  return std::string(begin, end);
}
}  // namespace

const char* http_method_string(int method)
{
  static const char* const NAMES[] = {"-",   "OPTIONS", "HEAD",  "GET",     "POST",
                                      "PUT", "DELETE",  "TRACE", "CONNECT", "PATCH"};
  return method > HTTP_METHOD_NONE && method <= HTTP_METHOD_PATCH ? NAMES[method] : "-";
}

const char* http_status_string(int status)
{
  for (const Status_Phrase& entry : STATUS_PHRASES)
    if (entry.status == status)
      return entry.phrase;
  return "Unknown";
}

bool http_header_value_match(const char* value, const char* token, char sep)
{
  if (value == nullptr || token == nullptr)
    return false;
  for (const char* item = value;;)
  {
    const char* end = std::strchr(item, sep);
    if (trimmed(item, end != nullptr ? end : item + std::strlen(item)) == token)
      return true;
    if (end == nullptr)
      return false;
    item = end + 1;
  }
}

const char* devhost::header_value(const HTTP_Headers& headers, const char* name, bool)
{
  for (const auto& header : devhost_header_list(headers))
    if (name != nullptr && header.first == name)
      return header.second.c_str();
  return nullptr;
}

void HTTP_Headers::put(const char* name, const char* value, bool)
{
  if (name == nullptr)
    return;
  for (auto it = list_.begin(); it != list_.end(); ++it)
    if (it->first == name)
    {
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
  return 0;
}

int CGI_Base::to_iovec(iovec*, int) const
{
  return 0;
}

bool HTTP_Response::parse_status_line(const char* line)
{
  int minor = 0;
  int code = 0;
  // One and three digits at most: nothing to overflow, and the count says
  // whether both were there.
  // NOLINTNEXTLINE(cert-err34-c): as above
  if (line == nullptr || std::sscanf(line, "HTTP/1.%1d %3d", &minor, &code) != 2 || code < 100 || code > 999)
    return false;
  devhost_set_status(*this, code);
  minor_version(minor);
  return true;
}
