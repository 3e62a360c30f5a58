#ifndef TESTS_SUPPORT_HOST_SERVE_H
#define TESTS_SUPPORT_HOST_SERVE_H

#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace test_support
{
/**
 * The development host's web service agent, `quorvane-host serve` from the
 * build's bin directory (@a program), run as a child process on 127.0.0.1
 * and an ephemeral port with @a args.  The constructor waits up to 30 s for
 * its "listening on 127.0.0.1:PORT" line; `port()` is 0 and `error()` says
 * why when it did not come.  The child is stopped by its PID when the
 * object goes (Child_Process).  One object is used by one thread.
 */
class Host_Serve_Process
{
public:
  Host_Serve_Process(const std::string& program, const std::vector<std::string>& args);

  int port() const { return port_; }
  const std::string& error() const { return error_; }
  Child_Process& child() { return child_; }
  /// The server's own origin, "http://127.0.0.1:PORT".
  std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
  Child_Process child_;
  int port_ = 0;
  std::string error_;
};

/// A TCP connection to 127.0.0.1:@a port, its descriptor (the caller closes
/// it); -1 when it cannot be made.
int connect_loopback(int port);

}  // namespace test_support

#endif /* TESTS_SUPPORT_HOST_SERVE_H */
