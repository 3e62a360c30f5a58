#ifndef TOOLS_COMMON_HTTP_LISTENER_H
#define TOOLS_COMMON_HTTP_LISTENER_H

#include <functional>
#include <string>

#include <signal.h>

namespace httplib
{
class Server;
}

/// What the emulator and the development host's web service agent share:
/// where they listen, how they say so and how they stop.
namespace tools
{
/// Where a server listens: a numeric host and a port, 0 for an ephemeral one.
struct Listen_Address
{
  std::string host = "127.0.0.1";
  int port = 0;
};

/// Parses "HOST:PORT" ("[V6]:PORT" for IPv6), the port 0 to 65535; false,
/// with @a where untouched, on anything else.
bool parse_listen(const std::string& text, Listen_Address& where);

/// "HOST:PORT", an IPv6 host in brackets.
std::string printable(const std::string& host, int port);

/// The signals that stop a server (SIGTERM, SIGINT).
sigset_t stop_signals();

/// Blocks the stop signals in the calling thread, and so in every thread it
/// starts afterwards, so that only `serve_until_signal`'s sigwait takes
/// them; a broken connection (SIGPIPE) no longer kills the process.  Call
/// it before any thread starts.
void block_stop_signals();

/**
 * Shuts down every TCP socket of the process with @a how (SHUT_RD or
 * SHUT_RDWR), without closing the descriptors, which stay their owners'.
 * httplib's stop() closes the listening socket, but a worker holding an
 * idle keep-alive connection waits out the keep-alive timeout before it
 * notices, and stop() joins the workers; a shut-down socket ends that wait
 * at once.  Call it only once every reply has been written: the library
 * checks before each write that the peer has not gone, and a socket shut
 * down for reading looks gone, so a reply still being written is dropped.
 */
void shutdown_connections(int how);

/**
 * Binds @a svr to @a where, calls @a bound with the port it got, runs it,
 * and writes "listening on HOST:PORT" on stdout (flushed) once the server
 * loop runs, so that a stop request is honoured from then on.  Then waits
 * for a stop signal (blocked beforehand with `block_stop_signals`), calls
 * @a stop, which must make @a svr stop (its stop() and whatever the caller
 * needs around it), and waits for the server loop to end.  0 after a stop;
 * 1, with "PROGRAM: cannot listen on HOST:PORT" on stderr, when it cannot
 * bind.
 */
int serve_until_signal(httplib::Server& svr, const Listen_Address& where, const char* program,
                       const std::function<void(int port)>& bound, const std::function<void()>& stop);

}  // namespace tools

#endif /* TOOLS_COMMON_HTTP_LISTENER_H */
