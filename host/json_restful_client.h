#ifndef HOST_JSON_RESTFUL_CLIENT_H
#define HOST_JSON_RESTFUL_CLIENT_H

#include "host/host_export.h"
#include "host/http.h"
#include "host/json_spirit_value.h"

class HTTP_Response;

/**
 * A client of one JSON REST endpoint, over HTTP/1.1 or HTTPS.
 *
 * `reset` records the endpoint; each `get` is one complete exchange, and a
 * client may be reused for the next.  How connections are kept between
 * exchanges (the constructor's @a share) is the host's choice.  TLS peer
 * and host-name verification are on for every HTTPS exchange.  Every
 * exchange ends, with a reply or with a failure, within a bounded time.
 *
 * One client is used by one thread at a time; clients on different threads
 * may run at once.
 */
class HOST_EXPORT JSON_RESTful_Client
{
public:
  explicit JSON_RESTful_Client(bool share);
  ~JSON_RESTful_Client();
  JSON_RESTful_Client(const JSON_RESTful_Client&) = delete;
  JSON_RESTful_Client& operator=(const JSON_RESTful_Client&) = delete;

  /// Records the endpoint; @a host may be a name, an IPv4 or an IPv6
  /// literal (without brackets).  Opens nothing; returns 0.
  int reset(const char* host, unsigned short port, bool ssl);

  /**
   * Sends @a req (method, path, the query string when not empty, headers)
   * to the endpoint.  Fills @a resp's status (0 when no reply came).  True
   * when a reply came with a 2xx status and a JSON body, which @a body
   * (when not null) then holds whole; false otherwise, with the cause
   * logged.  A redirect is not followed: its status is the reply's.  What
   * @a body holds after a failure, and which of the reply's headers reach
   * @a resp, are the host's choice.
   */
  bool get(HTTP_Request& req, HTTP_Response& resp, json_spirit::Value* body);

private:
  class Impl;
  Impl* impl_;
};

#endif /* HOST_JSON_RESTFUL_CLIENT_H */
