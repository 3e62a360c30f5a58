#ifndef TESTS_SUPPORT_MOCK_SERVICE_H
#define TESTS_SUPPORT_MOCK_SERVICE_H

#include <string>
#include <vector>

#include <sys/types.h>

#include "tests/support/child_process.h"
#include "tests/support/program.h"

namespace test_support
{
/**
 * Makes a self-signed certificate (EC P-256, valid two days) with the
 * subject CN @a common_name and the subjectAltName @a san (for example
 * "IP:127.0.0.1"), written as PEM to @a cert and its key to @a key, with
 * the openssl command-line tool.  False with @a error set on failure.
 */
bool make_certificate(const std::string& cert, const std::string& key, const std::string& common_name,
                      const std::string& san, std::string& error);

/**
 * The cloud service emulator, quorvane-mock-service from the build's bin
 * directory (never looked up in PATH), run as a child process.
 *
 * The constructor starts it with "--listen 127.0.0.1:0" (unless @a args
 * names another --listen) followed by @a args, and waits up to 10 s for its
 * "listening on HOST:PORT" line.  The account's secret key never goes on
 * the emulator's command line, where every local user could read it: a
 * "--secret-key" "VALUE" pair in @a args is handed to it in its environment
 * (QUORVANE_SECRET_KEY) instead.  When the start fails, `running()` is false
 * and `error()` says why, with what the emulator wrote to stderr.  The
 * destructor stops it by its PID: SIGTERM, then SIGKILL when it has not
 * exited 10 s later.  Should this process die first, the emulator stops by
 * itself (its stdin, a pipe from here, ends).  One object is used by one
 * thread.  It is started through QUORVANE_TEST_EXEC_WRAPPER when that is
 * set, as `run_program` does; `pid()` is then the wrapper's, which is the
 * emulated program's.
 */
class Mock_Service
{
public:
  explicit Mock_Service(const std::vector<std::string>& args);
  Mock_Service(const Mock_Service&) = delete;
  Mock_Service& operator=(const Mock_Service&) = delete;

  bool running() const { return child_.pid() > 0 && port_ > 0; }
  const std::string& error() const { return error_; }
  int port() const { return port_; }
  pid_t pid() const { return child_.pid(); }

  /// Stops the emulator now (SIGTERM, wait); its exit status, 0 for a clean
  /// stop, or -1 when it was killed, timed out or never ran.
  int stop() { return child_.stop(); }

  /// What the emulator has written to stderr so far.
  std::string stderr_text() const { return child_.stderr_text(); }

  /// The emulator's path.
  static std::string program();

private:
  /// The emulator's command line and environment for @a args.
  static std::vector<std::string> command(const std::vector<std::string>& args,
                                          std::vector<std::string>& env);

  std::vector<std::string> env_;  ///< filled by `command`, before `child_` starts with it
  Child_Process child_;
  int port_;
  std::string error_;
};

}  // namespace test_support

#endif /* TESTS_SUPPORT_MOCK_SERVICE_H */
