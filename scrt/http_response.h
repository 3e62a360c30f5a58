#ifndef SCRT_HTTP_RESPONSE_H
#define SCRT_HTTP_RESPONSE_H

#include "host/host_export.h"
#include "scrt/http_base.h"

/**
 * The host's HTTP response message, filled by the host's REST client.
 * Its constructor and destructor are inline; its virtual table is the
 * host's, whose `parse_status_line` (the key function) lives in the host.
 */
class HOST_EXPORT HTTP_Response : public HTTP_Base<CGI_Response>
{
public:
  HTTP_Response() {}
  ~HTTP_Response() override {}

  /**
   * Takes the status line of a reply ("HTTP/1.1 200 OK"): sets the status
   * and the minor version.  False, nothing changed, when @a line is not a
   * status line.
   */
  virtual bool parse_status_line(const char* line);
};

#endif /* SCRT_HTTP_RESPONSE_H */
