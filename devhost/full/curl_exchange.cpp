#include "devhost/full/curl_exchange.h"

#include <cctype>

#include "devhost/harness/http_access.h"

namespace devhost
{
namespace
{
std::string trim(const char* begin, const char* end)
{
  while (begin < end && std::isspace(static_cast<unsigned char>(*begin)))
    ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(end[-1])))
    --end;
  return std::string(begin, end);
}

size_t store_header(Exchange* ex, char* data, size_t length)
{
  std::string line = trim(data, data + length);
  if (line.compare(0, 5, "HTTP/") == 0)
  {
    // A new status line (after a 1xx reply or a proxy's CONNECT answer)
    // starts a new set of headers.
    clear_headers(ex->resp->headers());
    ex->resp->parse_status_line(line.c_str());
    return length;
  }
  std::string::size_type colon = line.find(':');
  if (colon == std::string::npos || colon == 0)
    return length;
  std::string name = trim(line.data(), line.data() + colon);
  std::string value = trim(line.data() + colon + 1, line.data() + line.size());
  // Repeated fields combine into one comma-separated list (RFC 9110 5.3).
  const char* old = header_value(ex->resp->headers(), name.c_str(), true);
  if (old != nullptr)
    value = std::string(old) + ", " + value;
  ex->resp->headers().put(name.c_str(), value.c_str(), true);
  return length;
}

size_t store_body(Exchange* ex, char* data, size_t length)
{
  if (ex->body.size() + length > ex->max_body)
  {
    // Returning less than given makes libcurl abort with CURLE_WRITE_ERROR;
    // a body without a Content-Length is stopped here at the cap.
    ex->oversized = true;
    return 0;
  }
  ex->body.append(data, length);
  return length;
}

// libcurl calls the data callbacks from inside curl_easy_perform, and an
// exception (no memory) must not unwind through its frames: that skips the
// bookkeeping which marks the end of the callback, so libcurl goes on
// believing it is inside one, curl_easy_cleanup's removal of the handle from
// the multi handle of curl_easy_perform fails with CURLM_RECURSIVE_API_CALL,
// and that multi handle, its connection cache and the open socket are never
// freed.  The exception is kept and the transfer aborted (a short count gives
// CURLE_WRITE_ERROR); get() throws it again once libcurl has returned.
size_t store_without_unwinding(size_t (*store)(Exchange*, char*, size_t), char* data, size_t length,
                               void* user)
{
  Exchange* ex = static_cast<Exchange*>(user);
  try
  {
    return store(ex, data, length);
  }
  catch (...)
  {
    ex->error = std::current_exception();
    return 0;
  }
}
}  // namespace

size_t on_header(char* data, size_t size, size_t count, void* user)
{
  return store_without_unwinding(&store_header, data, size * count, user);
}

size_t on_body(char* data, size_t size, size_t count, void* user)
{
  return store_without_unwinding(&store_body, data, size * count, user);
}

}  // namespace devhost
