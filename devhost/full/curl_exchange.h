#ifndef DEVHOST_SERVICES_CURL_EXCHANGE_H
#define DEVHOST_SERVICES_CURL_EXCHANGE_H

#include <cstddef>
#include <exception>
#include <string>

#include "scrt/http_response.h"

namespace devhost
{
/// What the libcurl data callbacks of one exchange write to.
struct Exchange
{
  HTTP_Response* resp;
  std::string body;
  std::size_t max_body;
  bool oversized;
  /// What a callback threw, to be thrown again once libcurl has returned.
  std::exception_ptr error;
};

/// CURLOPT_HEADERFUNCTION with an `Exchange` as its data: the status line
/// and the header fields go into the response.  Never throws.
size_t on_header(char* data, size_t size, size_t count, void* user);

/// CURLOPT_WRITEFUNCTION with an `Exchange` as its data: the body, up to
/// its cap.  Never throws.
size_t on_body(char* data, size_t size, size_t count, void* user);

}  // namespace devhost

#endif /* DEVHOST_SERVICES_CURL_EXCHANGE_H */
