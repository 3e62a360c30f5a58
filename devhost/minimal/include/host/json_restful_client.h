#ifndef HOST_JSON_RESTFUL_CLIENT_H
#define HOST_JSON_RESTFUL_CLIENT_H

#include "host/host_export.h"
#include "host/http.h"
#include "host/json_spirit_value.h"

class HTTP_Response;

/**
 * A client of one JSON REST endpoint, over HTTP/1.1 or HTTPS (the
 * contract-minimal host): `reset` records the endpoint; each `get` opens a
 * connection of its own and closes it (the constructor's flag is ignored).
 * TLS peer and host-name verification are always on.  One client is used by
 * one thread at a time.
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
   * Sends @a req (method, path, query string when not empty, headers) to
   * the endpoint and fills @a resp's status (0 when no reply came; no
   * headers).  True, and @a body (when not null) the parsed reply, when the
   * reply came with a 2xx status and a JSON body; false otherwise, @a body
   * then null, with one error line.
   */
  bool get(HTTP_Request& req, HTTP_Response& resp, json_spirit::Value* body);

private:
  class Impl;
  Impl* impl_;
};

#endif /* HOST_JSON_RESTFUL_CLIENT_H */
