#ifndef DEVHOST_HTTP_ACCESS_H
#define DEVHOST_HTTP_ACCESS_H

#include <string>
#include <utility>
#include <vector>

#include "host/http.h"

/**
 * The development host's own access to its HTTP messages: what its REST
 * client, tools and tests need beyond the host's interface.  The module
 * never calls any of it.  Both hosts of this project implement all of it.
 *
 * The three functions outside the namespace reach a class's private state
 * through the access structs that host/http.h names as friends, the only
 * code that does.
 */

struct HTTP_Headers_Access
{
  static const std::vector<std::pair<std::string, std::string>>& list(const HTTP_Headers& headers)
  {
    return headers.list_;
  }
};

struct CGI_Response_Access
{
  static void set_status(CGI_Response& response, int status) { response.status_ = status; }
};

struct HTTP_Request_Access
{
  static bool encode_path(const HTTP_Request& request) { return request.encode_path_; }
};

/// The headers of @a headers, in the order they were first put.
inline const std::vector<std::pair<std::string, std::string>>& devhost_header_list(const HTTP_Headers& headers)
{
  return HTTP_Headers_Access::list(headers);
}
/// Sets the HTTP status of @a response (0: no reply).
inline void devhost_set_status(CGI_Response& response, int status)
{
  CGI_Response_Access::set_status(response, status);
}
/// Whether @a request's path is percent-encoded when sent (its constructor's
/// third argument; the contract-minimal host keeps but ignores it).
inline bool devhost_encode_path(const HTTP_Request& request)
{
  return HTTP_Request_Access::encode_path(request);
}

namespace devhost
{
/// One past the last well-known header identifier.
const int HTTP_HEAD_COUNT = HTTP_HEAD_AUTHORIZATION + 1;

/// The name of well-known header @a id, or null for an unknown id.
const char* http_header_name(int id);

/// The value of header @a name, or null when absent (or @a name is null);
/// names compare as `HTTP_Headers::get` compares them with @a ignore_case.
const char* header_value(const HTTP_Headers& headers, const char* name, bool ignore_case);

/// Removes every header of @a headers.
void clear_headers(HTTP_Headers& headers);
}  // namespace devhost

#endif /* DEVHOST_HTTP_ACCESS_H */
