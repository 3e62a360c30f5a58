#ifndef TOOLS_MOCK_SERVICE_OPTIONS_H
#define TOOLS_MOCK_SERVICE_OPTIONS_H

#include <cstddef>
#include <cstdio>
#include <string>

#include "tools/mock_service/signature.h"

namespace mock_service
{
/// How the emulator misbehaves (--fault).
enum Fault
{
  FAULT_NONE,
  FAULT_NO_VERSION,         ///< 10000 without data.aboutus_version
  FAULT_ARRAY,              ///< a JSON array
  FAULT_NOT_JSON,           ///< an HTML page
  FAULT_OVERSIZED,          ///< 2 MiB of JSON with a Content-Length
  FAULT_OVERSIZED_CHUNKED,  ///< 2 MiB of JSON, chunked
  FAULT_NO_REPLY,           ///< the request is read, the reply never comes
  FAULT_CLOSE,              ///< every connection is closed at once
  FAULT_SLOW                ///< the reply comes after --delay-ms
};

/// The environment variable that may hold the account's secret key.
constexpr const char* SECRET_KEY_ENV = "QUORVANE_SECRET_KEY";
/// Largest secret key file accepted, bytes.
constexpr std::size_t SECRET_KEY_FILE_MAX = 4096;

/// What the command line and the environment asked for.
struct Config
{
  std::string host = "127.0.0.1";
  int port = 0;
  Account account;
  std::string version = "1.0.0";
  std::string tls_cert;
  std::string tls_key;
  long long max_skew_s = 300;
  Fault fault = FAULT_NONE;
  long delay_ms = 2000;
  bool stop_on_stdin_eof = false;
  long long date_offset_s = 0;
};

/// What `parse_options` found.
enum Parse_Result
{
  PARSE_RUN,          ///< @a cfg is complete: serve
  PARSE_HELP,         ///< --help: print the usage on stdout, exit 0
  PARSE_USAGE_ERROR,  ///< a wrong or missing option, already reported: usage on stderr, exit 2
  PARSE_FAILED        ///< a right option that cannot be used (the key file), already reported: exit 1
};

/**
 * Fills @a cfg from @a argv and the environment.  The secret key comes from
 * --secret-key-file, else from QUORVANE_SECRET_KEY, else from the old
 * --secret-key (with a warning: every local user can read a command line).
 * QUORVANE_SECRET_KEY is taken out of the environment whether used or not.
 * Problems are reported on stderr, one line each.
 */
Parse_Result parse_options(int argc, char** argv, Config& cfg);

/// Writes the usage text to @a out.
void print_usage(std::FILE* out);

}  // namespace mock_service

#endif /* TOOLS_MOCK_SERVICE_OPTIONS_H */
