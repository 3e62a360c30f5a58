#ifndef FUZZ_FUZZ_SUPPORT_H
#define FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <string>
#include <vector>

#include "host/json_spirit_value.h"
#include "tests/support/log_capture.h"

/// Aborts the fuzz run (libFuzzer saves the input) when @a COND is false,
/// printing the condition and @a WHAT (a std::string).  Active in every build
/// type, unlike assert.
#define FUZZ_CHECK(COND, WHAT)                                         \
  do                                                                   \
  {                                                                    \
    if (!(COND))                                                       \
      ::fuzz_support::check_failed(__FILE__, __LINE__, #COND, (WHAT)); \
  } while (0)

/**
 * What the login and signed-GET fuzz targets share: the failure report,
 * the capture of ACE log records, and evaluations of the service's reply and
 * of the request signature written here, from the rules, without the
 * module's code.  One fuzzing thread; not thread-safe.
 */
namespace fuzz_support
{
[[noreturn]] void check_failed(const char* file, int line, const char* cond, const std::string& what);

/// One captured log record.
typedef test_support::Log_Record Log_Line;

/// Sends every ACE log record of the process to the capture instead of
/// stderr, from now on.
void capture_logs();
/// The records captured since the last call, which forgets them.
std::vector<Log_Line> take_logs();

/// The printable form of @a bytes for failure messages: C escapes.
std::string printable(const std::string& bytes);

/**
 * What the service's reply @a body (the bytes as received) and @a status
 * mean for the signed GET of the version: true when the exchange succeeds
 * (2xx, the body parses), the body is an object whose "result_code" is the
 * integer 10000, and "/data/aboutus_version" is a string, which then goes to
 * @a version.
 */
bool expected_version(int status, const std::string& body, std::string& version);

/**
 * The "X-Auth-Signature" header for a request of @a uri with the query text
 * @a query signed at @a now (the "Client-Now" text) under @a secret for
 * @a access_key: Base64 of HMAC-SHA256, every byte but A-Z a-z 0-9 - _ . ~
 * escaped as "%" and two upper-case digits.
 */
std::string expected_signature(const std::string& secret, const std::string& now,
                               const std::string& access_key, const std::string& uri,
                               const std::string& query);

/// The value of the header @a name (case-insensitive) in @a headers, or
/// null.
const std::string* find_header(const std::vector<std::pair<std::string, std::string>>& headers,
                               const std::string& name);

}  // namespace fuzz_support

#endif /* FUZZ_FUZZ_SUPPORT_H */
