#ifndef TESTS_SUPPORT_FAILED_GET_LOG_H
#define TESTS_SUPPORT_FAILED_GET_LOG_H

#include <string>
#include <vector>

#include <ace/Log_Priority.h>

#include "tests/support/log_capture.h"

namespace test_support
{
/**
 * The records the module's client writes for a GET of @a url (scheme, host,
 * port, path and query as it sent them) that failed with the status line
 * @a status ("200 OK") and a response body that is the JSON value of
 * @a body (a record compares a body line by its value, whatever the host's
 * dump layout): the request line, then the body, each LM_ERROR with status
 * -1.  The texts are the module's fixed failure messages, written
 * out here rather than taken from its code.
 */
inline std::vector<Log_Record> failed_get_log(const std::string& url, const std::string& status,
                                              const std::string& body)
{
  return {Log_Record{LM_ERROR,
                     "Unexpected exception occurred while sending HTTP GET request:'" + url +
                         "': the response HTTP status is " + status + "\n",
                     -1},
          Log_Record{LM_ERROR, "response body:\n" + body + "\n", -1}};
}

}  // namespace test_support

#endif /* TESTS_SUPPORT_FAILED_GET_LOG_H */
