// JSON_RESTful_Client when memory runs out inside libcurl's callbacks.  This
// program replaces operator new so that, while armed, every allocation of at
// least LARGE bytes on the arming thread fails: the first such allocation in
// a GET of a large body is the body's growth in the write callback, inside
// curl_easy_perform.  The exception must reach the caller, and libcurl must
// be left with nothing of the exchange: an exception that unwinds through
// libcurl's frames leaves it believing it is still in a callback, so that
// curl_easy_cleanup cannot free the multi handle of curl_easy_perform, and
// its connection stays open (and leaked) for the life of the process.

#include "host/json_restful_client.h"

#include <cstdlib>
#include <fstream>
#include <new>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "scrt/http_response.h"
#include "tests/support/canned_server.h"
#include "tests/support/log_capture.h"

namespace
{
/// Allocations this large fail while armed; the client makes none this
/// large before it reads a body (its strings hold a URL and header lines).
const std::size_t LARGE = 64 * 1024;

thread_local bool armed = false;
}  // namespace

void* operator new(std::size_t n)
{
  void* p = armed && n >= LARGE ? nullptr : std::malloc(n == 0 ? 1 : n);
  if (p == nullptr)
    throw std::bad_alloc();
  return p;
}

void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
  return armed && n >= LARGE ? nullptr : std::malloc(n == 0 ? 1 : n);
}

void operator delete(void* p) noexcept
{
  std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
  std::free(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept
{
  std::free(p);
}

namespace
{
/// Open client sockets to @a port: IPv4 TCP sockets whose remote port it
/// is and that a descriptor still holds (the kernel shows a closed socket
/// that lingers in TIME_WAIT or FIN_WAIT with inode 0; see proc(5),
/// /proc/net/tcp).  The server's own sockets have @a port as the local port.
int client_sockets(int port)
{
  std::ifstream table("/proc/self/net/tcp");
  std::string line;
  std::getline(table, line);  // the column titles
  int count = 0;
  while (std::getline(table, line))
  {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
    std::string::size_type colon = remote.find(':');
    if (colon != std::string::npos && std::stoi(remote.substr(colon + 1), nullptr, 16) == port &&
        inode != "0")
      ++count;
  }
  return count;
}

bool fetch(JSON_RESTful_Client& client, json_spirit::Value& body)
{
  HTTP_Request req(HTTP_METHOD_GET, "/big", false);
  HTTP_Response resp;
  return client.get(req, resp, &body);
}

TEST(JsonRestfulClientAlloc, ExceptionInTheWriteCallbackReachesTheCallerAndClosesTheConnection)
{
  // A JSON string of 256 KiB: read in pieces of at most 16 KiB
  // (CURL_MAX_WRITE_SIZE), so the body string grows past LARGE mid-transfer.
  const std::string big = "\"" + std::string(256 * 1024, 'x') + "\"";
  for (bool share : {true, false})
  {
    SCOPED_TRACE(share ? "pooled handle" : "private handle");
    // A server of its own for each case, so that no earlier connection is
    // counted.
    test_support::Canned_Server server(200, big);
    JSON_RESTful_Client client(share);
    client.reset("127.0.0.1", static_cast<unsigned short>(server.port()), false);
    json_spirit::Value body;
    test_support::Log_Capture log;
    armed = true;
    EXPECT_THROW(fetch(client, body), std::bad_alloc);
    armed = false;
    EXPECT_EQ(1, server.requests());
    EXPECT_EQ("", log.text()) << "the caller reports the exception; get() logs nothing of its own";
    // Closed by the time the exception reaches the caller.
    EXPECT_EQ(0, client_sockets(server.port())) << "the aborted connection is still open";

    // The client is whole afterwards: a fresh handle, a full reply.
    ASSERT_TRUE(fetch(client, body)) << log.text();
    ASSERT_EQ(json_spirit::str_type, body.type());
    EXPECT_EQ(big.size() - 2, body.get_str().size());
  }
}

}  // namespace
