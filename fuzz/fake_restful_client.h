#ifndef FUZZ_FAKE_RESTFUL_CLIENT_H
#define FUZZ_FAKE_RESTFUL_CLIENT_H

#include <string>
#include <utility>
#include <vector>

#include "host/http.h"

/**
 * Control of the fuzz build's `JSON_RESTful_Client` (fake_restful_client.cpp),
 * which replaces the development host's libcurl client: every `get` answers
 * with the canned reply set here instead of going to the network, and leaves
 * a copy of the request it was given.
 *
 * The fake keeps the real client's contract: it fills the response status
 * (when above 0), clears the response headers, sets the body to the parsed
 * JSON or null, and returns true only for a 2xx status with a body that
 * parses; an endpoint without host or port, a request header holding a line
 * break, and a body larger than `max_body` fail as in the real client.  It
 * logs nothing, so the log records of a run are the module's own.
 *
 * Process-wide state for one fuzzing thread; not thread-safe.
 */
namespace fuzz_support
{
/// One request as the fake received it.
struct Seen_Request
{
  std::string host;
  unsigned short port;
  bool ssl;
  int method;
  std::string path;
  std::string query;
  std::vector<std::pair<std::string, std::string>> headers;
};

/// What every following `get` answers: the HTTP status (0 for "no reply")
/// and the body bytes.  Forgets the requests seen so far.
void set_canned_reply(int status, const std::string& body);

/// The requests `get` received since the last `set_canned_reply`.
const std::vector<Seen_Request>& seen_requests();

}  // namespace fuzz_support

#endif /* FUZZ_FAKE_RESTFUL_CLIENT_H */
