#ifndef HOST_JSON_RESTFUL_CLIENT_H
#define HOST_JSON_RESTFUL_CLIENT_H

#include "host/host_export.h"
#include "host/http.h"
#include "host/json_spirit_value.h"

class HTTP_Response;

/**
 * A client of one JSON REST endpoint, over HTTP/1.1 or HTTPS.
 *
 * `reset` records the endpoint and opens nothing; each `get` is one complete
 * exchange.  With @a share (the constructor's argument) the client takes its
 * connection from the process-wide pool and gives it back after the
 * exchange, so a later request to the same endpoint, from any client,
 * reuses a warm connection; without, the client keeps one connection of its
 * own.  DNS entries, TLS sessions and the loaded CA store are shared either
 * way.
 *
 * TLS peer and host-name verification are always on.  Proxies come from
 * the standard environment variables (http_proxy, https_proxy, no_proxy).
 * Timeouts never use signals.
 *
 * One client is used by one thread at a time; clients on different threads
 * may run at once.
 */
class HOST_EXPORT JSON_RESTful_Client
{
public:
  /// Also performs libcurl's process-wide initialisation on first use.
  explicit JSON_RESTful_Client(bool share);
  ~JSON_RESTful_Client();
  JSON_RESTful_Client(const JSON_RESTful_Client&) = delete;
  JSON_RESTful_Client& operator=(const JSON_RESTful_Client&) = delete;

  /// Records the endpoint; @a host may be a name, an IPv4 or an IPv6
  /// literal (without brackets).  Opens nothing; returns 0.
  int reset(const char* host, unsigned short port, bool ssl);

  /**
   * Sends @a req (method, path, query string when not empty, headers) to
   * the endpoint.  Fills @a resp's status (0 when no reply came) and
   * headers, and @a body (when not null) with the parsed JSON body, or null
   * when nothing parsed.  True when the exchange completed with a 2xx
   * status and the body parsed as JSON; false otherwise, with one error
   * line naming the cause (resolution, refused connection, timeout, TLS
   * handshake, certificate, body size, HTTP status, body not JSON).  A
   * reply whose Date is more than five minutes from the local clock adds a
   * warning about the local clock.
   */
  bool get(HTTP_Request& req, HTTP_Response& resp, json_spirit::Value* body);

private:
  class Impl;
  Impl* impl_;
};

#endif /* HOST_JSON_RESTFUL_CLIENT_H */
