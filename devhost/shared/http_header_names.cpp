// The standard names of the well-known header ids (devhost/harness/http_access.h).
// Both hosts of this project compile this file: the names are fixed by the
// identifiers, not a choice either host makes.
#include "host/http.h"

#include "devhost/harness/http_access.h"

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
static_assert(sizeof HEADER_NAMES / sizeof HEADER_NAMES[0] == devhost::HTTP_HEAD_COUNT,
              "one name per header id");
}  // namespace

const char* devhost::http_header_name(int id)
{
  return id >= 0 && id < HTTP_HEAD_COUNT ? HEADER_NAMES[id] : nullptr;
}
