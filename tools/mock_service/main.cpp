// quorvane-mock-service: an emulator of the Quorvane cloud service for
// tests and for running the module off the appliance.  It serves the
// settings resource with the service's request signing, plus an echo
// resource for transport tests, and can misbehave on request (--fault).

#include <cerrno>
#include <cstdio>
#include <thread>

#include <signal.h>
#include <unistd.h>

#include "tools/common/http_listener.h"
#include "tools/mock_service/options.h"
#include "tools/mock_service/server.h"

int main(int argc, char** argv)
{
  mock_service::Config cfg;
  switch (mock_service::parse_options(argc, argv, cfg))
  {
    case mock_service::PARSE_RUN:
      break;
    case mock_service::PARSE_HELP:
      mock_service::print_usage(stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    case mock_service::PARSE_USAGE_ERROR:
      mock_service::print_usage(stderr);
      return 2;
    case mock_service::PARSE_FAILED:
      return 1;
  }
  // Blocked in every thread, so that only the server's sigwait takes a
  // stop request; broken connections must not kill us.
  tools::block_stop_signals();
  if (cfg.stop_on_stdin_eof)
  {
    // A launcher that dies without stopping us (a crashed test) closes the
    // pipe; reading its end is then the stop request it could not send.
    std::thread(
        []
        {
          char buf[64];
          ssize_t n;
          while ((n = ::read(STDIN_FILENO, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
          {
          }
          kill(getpid(), SIGTERM);
        })
        .detach();
  }
  return mock_service::serve(cfg);
}
