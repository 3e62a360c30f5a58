// The host's REST client as the signed GET relies on it, against servers of
// the checks' own on 127.0.0.1 (and ::1), each on an ephemeral port.

#include <chrono>
#include <cstdlib>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "host/http.h"
#include "host/json_restful_client.h"
#include "host/json_spirit_utils.h"
#include "host/json_spirit_value.h"
#include "scrt/http_response.h"
#include "tests/support/canned_server.h"
#include "tests/support/mock_service.h"
#include "tests/support/program.h"

namespace
{
using json_spirit::Value;
using test_support::Canned_Server;

const char SUCCESS[] = R"({"result_code": 10000, "data": {"aboutus_version": "4.2.0"}})";

// The outcome of one GET of /fcc/v1/settings.
struct Exchange
{
  bool ok = false;
  int status = -1;
  Value body;
};

Exchange get_settings(const char* host, int port, bool ssl)
{
  JSON_RESTful_Client client(true);
  client.reset(host, static_cast<unsigned short>(port), ssl);
  HTTP_Request req(HTTP_METHOD_GET, "/fcc/v1/settings", false);
  HTTP_Response resp;
  Exchange e;
  e.ok = client.get(req, resp, &e.body);
  e.status = resp.status();
  return e;
}

// The signed GET: a 2xx JSON reply is a successful exchange with its body;
// the request carries the signature headers and the query as put on it.
TEST(RestClient, A2xxJsonReplyGivesTheBodyAndTheRequestArrivesUnchanged)
{
  Canned_Server server(200, SUCCESS);
  JSON_RESTful_Client client(true);
  client.reset("127.0.0.1", static_cast<unsigned short>(server.port()), false);
  HTTP_Request req(HTTP_METHOD_GET, "/fcc/v1/settings", false);
  req.query_string_buffer() += "a=1&b=x%2By";
  req.headers().put("Client-Now", "1700000000000", true);
  req.headers().put("X-Auth-Accesskey", "AK", true);
  req.headers().put("X-Auth-Signature", "ab%2F%3D", true);
  HTTP_Response resp;
  Value body;
  ASSERT_TRUE(client.get(req, resp, &body));
  EXPECT_EQ(200, resp.status());
  ASSERT_EQ(json_spirit::obj_type, body.type());
  EXPECT_EQ(10000, json_spirit::object_get_int64_or_throw(body.get_obj(), "result_code"));

  test_support::Received_Request got = server.last();
  EXPECT_EQ("GET", got.method);
  EXPECT_EQ("/fcc/v1/settings", got.path);
  EXPECT_EQ("a=1&b=x%2By", got.query);
  EXPECT_EQ("1700000000000", got.headers["Client-Now"]);
  EXPECT_EQ("AK", got.headers["X-Auth-Accesskey"]);
  // The server library percent-decodes header values.
  EXPECT_EQ("ab/=", got.headers["X-Auth-Signature"]);
}

// The version loader reads the parsed body: a reply larger than one read
// of the connection must arrive whole.
TEST(RestClient, AReplyOfManyReadsArrivesWhole)
{
  const std::string pad(100000, 'p');
  Canned_Server server(200, R"({"result_code": 10000, "pad": ")" + pad + R"("})");
  Exchange e = get_settings("127.0.0.1", server.port(), false);
  ASSERT_TRUE(e.ok);
  ASSERT_EQ(json_spirit::obj_type, e.body.type());
  EXPECT_EQ(pad, json_spirit::object_get_str_or_throw(e.body.get_obj(), "pad"));
}

// The module hands reset the login's "host" as a name, an IPv4 address or
// an IPv6 literal without brackets (it takes brackets off itself).
TEST(RestClient, ResetTakesABareIpv6Literal)
{
  Canned_Server server(200, SUCCESS, "::1");
  Exchange e = get_settings("::1", server.port(), false);
  EXPECT_TRUE(e.ok);
  EXPECT_EQ(200, e.status);
}

// A refused signature (403 with a JSON body) and a body that is not JSON
// must fail the exchange, with the status readable for the failure line.
// What the body then holds is the host's choice and not checked.
TEST(RestClient, ANon2xxReplyOrABodyThatIsNotJsonFails)
{
  struct Row
  {
    int status;
    const char* body;
  } rows[] = {
      {403, R"({"result_code": 40300})"}, {500, R"({"result_code": 10000})"}, {200, "<html>not JSON</html>"}};
  Canned_Server server(200, "");
  for (const Row& row : rows)
  {
    server.answer(row.status, row.body);
    Exchange e = get_settings("127.0.0.1", server.port(), false);
    EXPECT_FALSE(e.ok) << row.status << " " << row.body;
    EXPECT_EQ(row.status, e.status) << row.body;
  }
}

// The signed headers are for the login's service only: a client that
// followed a redirect would hand them to whatever server the reply names,
// and read that server's answer as the service's.
TEST(RestClient, ARedirectIsNotFollowed)
{
  Canned_Server elsewhere(200, SUCCESS);
  Canned_Server service(200, "");
  const std::string target = "http://127.0.0.1:" + std::to_string(elsewhere.port()) + "/fcc/v1/settings";
  for (int status : {301, 302, 307, 308})
  {
    service.answer(status, SUCCESS, {{"Location", target}});
    Exchange e = get_settings("127.0.0.1", service.port(), false);
    EXPECT_FALSE(e.ok) << status;
    EXPECT_EQ(status, e.status);
  }
  EXPECT_EQ(0, elsewhere.requests()) << "the signed request went to the server a redirect named";
}

// The appliance's login must not accept any certificate: against a server
// whose certificate no CA vouches for, no exchange may happen (status 0).
TEST(RestClient, AnUntrustedCertificateIsRefused)
{
  test_support::Temp_Dir dir;
  std::string error;
  ASSERT_TRUE(test_support::make_certificate(dir.file("cert.pem"), dir.file("key.pem"), "127.0.0.1",
                                             "IP:127.0.0.1", error))
      << error;
  test_support::Mock_Service tls({"--access-key", "AK", "--secret-key", "SK", "--tls-cert",
                                  dir.file("cert.pem"), "--tls-key", dir.file("key.pem")});
  ASSERT_TRUE(tls.running()) << tls.error();
  JSON_RESTful_Client client(true);
  client.reset("127.0.0.1", static_cast<unsigned short>(tls.port()), true);
  HTTP_Request req(HTTP_METHOD_GET, "/echo", false);
  HTTP_Response resp;
  Value body;
  EXPECT_FALSE(client.get(req, resp, &body));
  EXPECT_EQ(0, resp.status()) << "a reply came over TLS from a server with a self-signed certificate";
}

// How long the silent-service check waits for get to come back: far more
// than any host's total timeout (ours: 30 s); QUORVANE_TEST_SILENT_DEADLINE_S
// changes it for a host whose timeout is known to be shorter.
std::chrono::seconds silent_deadline()
{
  const char* given = std::getenv("QUORVANE_TEST_SILENT_DEADLINE_S");
  long s = given != nullptr ? std::strtol(given, nullptr, 10) : 0;
  return std::chrono::seconds(s > 0 ? s : 150);
}

// A service that takes the request and never answers must fail the
// exchange after the host's timeout, or the login (and the host's worker
// thread) waits forever.  The GET runs on a thread of its own; should it
// not come back by the deadline, the check fails and the server then
// answers, so that the thread ends.
TEST(RestClient, ASilentServiceFailsTheExchange)
{
  Canned_Server server(200, SUCCESS);
  server.hold();
  std::packaged_task<Exchange()> task([&server]()
                                      { return get_settings("127.0.0.1", server.port(), false); });
  std::future<Exchange> done = task.get_future();
  std::thread getter(std::move(task));
  const std::chrono::seconds deadline = silent_deadline();
  const bool returned = done.wait_for(deadline) == std::future_status::ready;
  server.release();
  getter.join();
  ASSERT_TRUE(returned) << "get did not return within " << deadline.count()
                        << " s of a request the server never answered: the REST client has no timeout";
  Exchange e = done.get();
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(0, e.status);
}

}  // namespace
