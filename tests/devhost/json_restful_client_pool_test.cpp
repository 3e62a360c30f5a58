// JSON_RESTful_Client's connections: reuse through the shared pool and on
// a private handle, concurrent clients, proxies from the environment, and
// requests that must not be sent at all.

#include "host/json_restful_client.h"

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "devhost/harness/rest_options.h"
#include "tests/devhost/json_restful_client_fixture.h"

namespace rest_client_test
{
TEST_F(Client_Test, SecondClientReusesTheConnection)
{
  test_support::Mock_Service svc(ACCOUNT);
  ASSERT_TRUE(svc.running()) << svc.error();
  Reply first = fetch("127.0.0.1", svc.port(), false, "/echo");
  Reply second = fetch("127.0.0.1", svc.port(), false, "/echo");
  ASSERT_TRUE(first.ok && second.ok) << first.log << second.log;
  EXPECT_EQ(remote_port(first), remote_port(second)) << "the second login reuses the first one's connection";

  // New options may name another CA bundle: nothing made before is reused.
  devhost::set_rest_client_options(devhost::rest_client_options());
  Reply third = fetch("127.0.0.1", svc.port(), false, "/echo");
  ASSERT_TRUE(third.ok) << third.log;
  EXPECT_NE(remote_port(third), remote_port(first));
}

TEST_F(Client_Test, TlsConnectionIsReusedToo)
{
  test_support::Mock_Service svc(tls("good"));
  ASSERT_TRUE(svc.running()) << svc.error();
  trust("good");
  Reply first = fetch("127.0.0.1", svc.port(), true, "/echo");
  Reply second = fetch("127.0.0.1", svc.port(), true, "/echo");
  ASSERT_TRUE(first.ok && second.ok) << first.log << second.log;
  EXPECT_EQ(remote_port(first), remote_port(second));
}

TEST_F(Client_Test, PrivateClientKeepsItsOwnConnection)
{
  test_support::Mock_Service svc(ACCOUNT);
  ASSERT_TRUE(svc.running()) << svc.error();
  JSON_RESTful_Client a(false), b(false);
  a.reset("127.0.0.1", static_cast<unsigned short>(svc.port()), false);
  b.reset("127.0.0.1", static_cast<unsigned short>(svc.port()), false);
  Reply a1 = fetch(a, "/echo");
  Reply a2 = fetch(a, "/echo");
  Reply b1 = fetch(b, "/echo");
  ASSERT_TRUE(a1.ok && a2.ok && b1.ok);
  EXPECT_EQ(remote_port(a1), remote_port(a2));
  EXPECT_NE(remote_port(a1), remote_port(b1));
}

// A failure after the handle was taken (an error status, a header that
// cannot be sent) gives the handle back as a reply does: the next exchange
// still goes over the first one's connection.
TEST_F(Client_Test, AFailedExchangeGivesItsConnectionBack)
{
  test_support::Mock_Service svc(ACCOUNT);
  ASSERT_TRUE(svc.running()) << svc.error();
  for (bool share : {true, false})
  {
    SCOPED_TRACE(share ? "pooled handle" : "private handle");
    JSON_RESTful_Client client(share);
    client.reset("127.0.0.1", static_cast<unsigned short>(svc.port()), false);
    Reply first = fetch(client, "/echo");
    Reply refused = fetch(client, "/fcc/v1/settings");
    Reply bad = fetch(client, "/echo", "", {{"X-Evil", "a\r\nX-Injected: 1"}});
    Reply last = fetch(client, "/echo");
    ASSERT_TRUE(first.ok && last.ok) << first.log << last.log;
    EXPECT_EQ(refused.status, 401) << refused.log;
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(remote_port(first), remote_port(last));
  }
}

TEST_F(Client_Test, ConcurrentClientsOnManyThreads)
{
  test_support::Mock_Service svc(ACCOUNT);
  ASSERT_TRUE(svc.running()) << svc.error();
  std::vector<int> failures(6, 0);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < failures.size(); ++t)
    threads.emplace_back(
        [&failures, &svc, t]
        {
          for (int i = 0; i < 15; ++i)
          {
            JSON_RESTful_Client client(t % 3 != 0);  // pooled and private clients mixed
            client.reset("127.0.0.1", static_cast<unsigned short>(svc.port()), false);
            HTTP_Request req(HTTP_METHOD_GET, "/echo", false);
            req.query_string_buffer() = "thread=" + std::to_string(t);
            HTTP_Response resp;
            json_spirit::Value body;
            if (!client.get(req, resp, &body) || member(body, "query").get_str() != req.query_string_buffer())
              ++failures[t];
          }
        });
  for (std::thread& t : threads)
    t.join();
  for (std::size_t t = 0; t < failures.size(); ++t)
    EXPECT_EQ(failures[t], 0) << "thread " << t;
}

TEST_F(Client_Test, ProxyEnvironmentIsHonoured)
{
  // The emulator stands in for a proxy: it receives the absolute-form
  // request for a host that does not resolve, and answers 404.
  test_support::Mock_Service proxy(ACCOUNT);
  ASSERT_TRUE(proxy.running()) << proxy.error();
  ::setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy.port())).c_str(), 1);
  Reply r = fetch("service.invalid", 8080, false, "/echo");
  ::unsetenv("http_proxy");
  EXPECT_EQ(r.status, 404) << r.log;
  EXPECT_EQ(r.log.find("resolve"), std::string::npos) << r.log;
  EXPECT_NE(proxy.stderr_text().find("http://service.invalid:8080/echo"), std::string::npos)
      << proxy.stderr_text();
}

TEST_F(Client_Test, NoEndpointOrBadHeaderSendsNothing)
{
  JSON_RESTful_Client unset(true);
  Reply r = fetch(unset, "/echo");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.log.find("no endpoint was set"), std::string::npos) << r.log;

  test_support::Mock_Service svc(ACCOUNT);
  ASSERT_TRUE(svc.running()) << svc.error();
  Reply bad = fetch("127.0.0.1", svc.port(), false, "/echo", "", {{"X-Evil", "a\r\nX-Injected: 1"}});
  EXPECT_FALSE(bad.ok);
  EXPECT_NE(bad.log.find("the request header 'X-Evil' is not valid"), std::string::npos) << bad.log;
  EXPECT_EQ(svc.stderr_text().find("/echo"), std::string::npos) << "nothing reached the service";
}

}  // namespace rest_client_test
