#ifndef HOST_JSON_RESTFUL_CLIENT_H
#define HOST_JSON_RESTFUL_CLIENT_H

#include <cstddef>
#include <string>

#include "host/host_export.h"
#include "host/http.h"
#include "host/json_spirit_value.h"

class HTTP_Response;

/**
 * A client of one JSON REST endpoint.
 *
 * `reset` records the endpoint and opens nothing; each `get` is one complete
 * exchange.  With @a share (the constructor's argument) the client takes its
 * connections, TLS sessions and CA store from the process-wide pool, so a
 * later request to the same endpoint reuses a warm connection.
 *
 * One client is used by one thread at a time; clients on different threads
 * may run at once.
 */
class HOST_EXPORT JSON_RESTful_Client
{
public:
  /// Process-wide settings of every client; changed before clients are used.
  struct Options
  {
    /// Connection set-up limit, milliseconds.
    long connect_timeout_ms = 10000;
    /// Whole exchange limit, milliseconds.
    long timeout_ms = 30000;
    /// CA bundle for TLS peer verification; empty for the system's.
    std::string ca_file;
    /// Largest response body accepted, bytes.
    std::size_t max_body = 1024 * 1024;
  };

  /// The settings in force: built-in defaults, then QUORVANE_CA_FILE, then
  /// whatever `set_options` last set.
  static Options options();
  static void set_options(const Options& options);

  explicit JSON_RESTful_Client(bool share);
  ~JSON_RESTful_Client();
  JSON_RESTful_Client(const JSON_RESTful_Client&) = delete;
  JSON_RESTful_Client& operator=(const JSON_RESTful_Client&) = delete;

  /// Records the endpoint; @a host may be a name, an IPv4 or an IPv6 literal.
  /// Returns 0.
  int reset(const char* host, unsigned short port, bool ssl);

  /**
   * Sends @a req to the endpoint and fills @a resp's status and headers, and
   * @a body (when not null) with the parsed JSON body (null when nothing
   * parsed).  True when the exchange completed with a 2xx status and the
   * body parsed as JSON; false otherwise, with one log line saying why.
   */
  bool get(HTTP_Request& req, HTTP_Response& resp, json_spirit::Value* body);

  class Impl;

private:
  Impl* impl_;
};

#endif /* HOST_JSON_RESTFUL_CLIENT_H */
