// JSON_RESTful_Client against the service emulator on loopback: plain and
// TLS exchanges, every failure cause and its log line, limits, connection
// reuse and concurrency.

#include "host/json_restful_client.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ace/Log_Msg.h>
#include <gtest/gtest.h>

#include "scrt/http_response.h"
#include "tests/support/log_capture.h"
#include "tests/support/mock_service.h"

namespace
{
typedef std::vector<std::pair<std::string, std::string>> Header_List;

const std::vector<std::string> ACCOUNT = {"--access-key", "AK", "--secret-key", "SK-not-used-here"};

std::vector<std::string> with_account(std::vector<std::string> args)
{
  args.insert(args.end(), ACCOUNT.begin(), ACCOUNT.end());
  return args;
}

/// One exchange's outcome.
struct Reply
{
  bool ok = false;
  int status = 0;
  json_spirit::Value body;
  std::string content_type;
  std::string log;
  double seconds = 0;
};

Reply fetch(JSON_RESTful_Client& client, const std::string& path, const std::string& query = "",
            const Header_List& headers = {})
{
  HTTP_Request req(HTTP_METHOD_GET, path.c_str(), false);
  req.query_string_buffer() = query;
  for (const auto& h : headers)
    req.headers().put(h.first.c_str(), h.second.c_str(), true);
  HTTP_Response resp;
  Reply r;
  r.body = json_spirit::Value(std::string("untouched"));
  test_support::Log_Capture log;
  auto start = std::chrono::steady_clock::now();
  r.ok = client.get(req, resp, &r.body);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.status = resp.status();
  const char* type = resp.headers().get("Content-Type", true);
  r.content_type = type != nullptr ? type : "";
  r.log = log.text();
  return r;
}

Reply fetch(const std::string& host, int port, bool ssl, const std::string& path,
            const std::string& query = "", const Header_List& headers = {})
{
  JSON_RESTful_Client client(true);
  client.reset(host.c_str(), static_cast<unsigned short>(port), ssl);
  return fetch(client, path, query, headers);
}

const json_spirit::Value& member(const json_spirit::Value& v, const std::string& key)
{
  static const json_spirit::Value none;
  if (v.type() != json_spirit::obj_type)
    return none;
  auto it = v.get_obj().find(key);
  return it == v.get_obj().end() ? none : it->second;
}

std::string header_seen(const Reply& r, const std::string& name)
{
  const json_spirit::Value& v = member(member(r.body, "headers"), name);
  return v.type() == json_spirit::str_type ? v.get_str() : "(absent)";
}

long remote_port(const Reply& r)
{
  const json_spirit::Value& v = member(r.body, "remote_port");
  return v.type() == json_spirit::int_type ? static_cast<long>(v.get_int64()) : -1;
}

/// Restores the process-wide options when a test ends.
class Options_Guard
{
public:
  Options_Guard() : saved_(JSON_RESTful_Client::options()) {}
  ~Options_Guard() { JSON_RESTful_Client::set_options(saved_); }

private:
  JSON_RESTful_Client::Options saved_;
};

class Client_Test : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    dir_ = new test_support::Temp_Dir;
    std::string error;
    ASSERT_TRUE(test_support::make_certificate(dir_->file("good.crt"), dir_->file("good.key"), "127.0.0.1",
                                               "IP:127.0.0.1,IP:::1,DNS:localhost", error))
        << error;
    ASSERT_TRUE(test_support::make_certificate(dir_->file("other.crt"), dir_->file("other.key"),
                                               "example.invalid", "DNS:example.invalid", error))
        << error;
  }
  static void TearDownTestSuite() { delete dir_; }

  static std::vector<std::string> tls(const std::string& name)
  {
    return with_account({"--tls-cert", dir_->file(name + ".crt"), "--tls-key", dir_->file(name + ".key")});
  }

  static void trust(const std::string& name)
  {
    JSON_RESTful_Client::Options o = JSON_RESTful_Client::options();
    o.ca_file = name.empty() ? std::string() : dir_->file(name + ".crt");
    JSON_RESTful_Client::set_options(o);
  }

  Options_Guard options_;
  static test_support::Temp_Dir* dir_;
};

test_support::Temp_Dir* Client_Test::dir_ = nullptr;

TEST_F(Client_Test, PlainHttpSuccess)
{
  test_support::Mock_Service svc(ACCOUNT);
  ASSERT_TRUE(svc.running()) << svc.error();
  Reply r = fetch("127.0.0.1", svc.port(), false, "/echo");
  EXPECT_TRUE(r.ok) << r.log;
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.content_type, "application/json");
  EXPECT_EQ(member(r.body, "path").get_str(), "/echo");
  EXPECT_EQ(member(r.body, "method").get_str(), "GET");
  EXPECT_EQ(r.log, "");
}

TEST_F(Client_Test, HeadersAndQueryArriveAsSent)
{
  test_support::Mock_Service svc(ACCOUNT);
  ASSERT_TRUE(svc.running()) << svc.error();
  Header_List sent = {{"Client-Now", "1700000000000"},
                      {"X-Auth-Accesskey", "AK/with+chars="},
                      {"X-List", "a, b,c"},
                      {"X-Long", std::string(2000, 'v')}};
  Reply r = fetch("127.0.0.1", svc.port(), false, "/echo", "b=2&a=x+y&c=%2F%20", sent);
  ASSERT_TRUE(r.ok) << r.log;
  for (const auto& h : sent)
    EXPECT_EQ(header_seen(r, h.first), h.second) << h.first;
  EXPECT_EQ(member(r.body, "query").get_str(), "b=2&a=x+y&c=%2F%20") << "the query is sent byte for byte";
  EXPECT_EQ(member(r.body, "target").get_str(), "/echo?b=2&a=x+y&c=%2F%20");
  EXPECT_EQ(header_seen(r, "Accept"), "application/json");
  EXPECT_EQ(header_seen(r, "User-Agent").compare(0, 9, "quorvane/"), 0) << header_seen(r, "User-Agent");
}

TEST_F(Client_Test, EmptyQueryAddsNoQuestionMark)
{
  test_support::Mock_Service svc(ACCOUNT);
  ASSERT_TRUE(svc.running()) << svc.error();
  Reply r = fetch("127.0.0.1", svc.port(), false, "/echo");
  ASSERT_TRUE(r.ok) << r.log;
  EXPECT_EQ(member(r.body, "target").get_str(), "/echo");
}

TEST_F(Client_Test, TlsSuccessWithTheCaFile)
{
  test_support::Mock_Service svc(tls("good"));
  ASSERT_TRUE(svc.running()) << svc.error();
  trust("good");
  Reply r = fetch("127.0.0.1", svc.port(), true, "/echo");
  EXPECT_TRUE(r.ok) << r.log;
  EXPECT_EQ(member(r.body, "path").get_str(), "/echo");
}

TEST_F(Client_Test, TlsWithoutTheCaFileFailsVerification)
{
  test_support::Mock_Service svc(tls("good"));
  ASSERT_TRUE(svc.running()) << svc.error();
  trust("");
  Reply r = fetch("127.0.0.1", svc.port(), true, "/echo");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.body.is_null());
  EXPECT_NE(r.log.find("certificate was not accepted (CA bundle: the system CA store)"), std::string::npos)
      << r.log;
}

TEST_F(Client_Test, HostNameMismatchFails)
{
  // Trusted, but issued to example.invalid, not to 127.0.0.1.
  test_support::Mock_Service svc(tls("other"));
  ASSERT_TRUE(svc.running()) << svc.error();
  trust("other");
  Reply r = fetch("127.0.0.1", svc.port(), true, "/echo");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.log.find("certificate was not accepted"), std::string::npos) << r.log;
  EXPECT_NE(r.log.find("other.crt"), std::string::npos) << "the CA bundle in use is named";
  EXPECT_NE(r.log.find("127.0.0.1"), std::string::npos) << r.log;
}

TEST_F(Client_Test, MissingCaFileIsReported)
{
  test_support::Mock_Service svc(tls("good"));
  ASSERT_TRUE(svc.running()) << svc.error();
  trust("absent");
  Reply r = fetch("127.0.0.1", svc.port(), true, "/echo");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.log.find("cannot load the CA bundle '" + dir_->file("absent.crt") + "'"), std::string::npos)
      << r.log;
}

TEST_F(Client_Test, PlainClientToTlsServerFails)
{
  test_support::Mock_Service svc(tls("good"));
  ASSERT_TRUE(svc.running()) << svc.error();
  Reply r = fetch("127.0.0.1", svc.port(), false, "/echo");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(std::count(r.log.begin(), r.log.end(), '\n'), 1) << "one line per failure: " << r.log;
}

TEST_F(Client_Test, ClosedPortFailsFast)
{
  // A bound socket that does not listen refuses connections.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), len), 0);
  ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  Reply r = fetch("127.0.0.1", ntohs(addr.sin_port), false, "/echo");
  ::close(fd);
  EXPECT_FALSE(r.ok);
  EXPECT_LT(r.seconds, 2.0) << "refused, not timed out";
  EXPECT_NE(r.log.find("connection refused (is the service listening on port"), std::string::npos) << r.log;
}

TEST_F(Client_Test, UnresolvableHostIsReported)
{
  // A label of 64 octets (RFC 1035 2.3.4 allows 63): the resolver library
  // refuses the name itself, without asking any server, so the test needs
  // neither a network nor a resolver that answers for .invalid.
  const std::string host = std::string(64, 'q') + ".invalid";
  Reply r = fetch(host, 443, true, "/echo");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.log.find("cannot resolve the host name '" + host + "'"), std::string::npos) << r.log;
}

TEST_F(Client_Test, ReplyThatNeverComesTimesOut)
{
  test_support::Mock_Service svc(with_account({"--fault", "no-reply"}));
  ASSERT_TRUE(svc.running()) << svc.error();
  JSON_RESTful_Client::Options o = JSON_RESTful_Client::options();
  o.timeout_ms = 400;
  JSON_RESTful_Client::set_options(o);
  Reply r = fetch("127.0.0.1", svc.port(), false, "/echo");
  EXPECT_FALSE(r.ok);
  EXPECT_GE(r.seconds, 0.35);
  EXPECT_LT(r.seconds, 5.0);
  EXPECT_NE(r.log.find("timed out waiting for the reply (total timeout 400 ms)"), std::string::npos) << r.log;
}

TEST_F(Client_Test, SlowReplyWithinTheTimeoutSucceeds)
{
  test_support::Mock_Service svc(with_account({"--fault", "slow", "--delay-ms", "300"}));
  ASSERT_TRUE(svc.running()) << svc.error();
  Reply r = fetch("127.0.0.1", svc.port(), false, "/echo");
  EXPECT_TRUE(r.ok) << r.log;
  EXPECT_GE(r.seconds, 0.29);
}

TEST_F(Client_Test, OversizedBodyFails)
{
  for (const char* fault : {"oversized", "oversized-chunked"})
  {
    test_support::Mock_Service svc(with_account({"--fault", fault}));
    ASSERT_TRUE(svc.running()) << svc.error();
    Reply r = fetch("127.0.0.1", svc.port(), false, "/echo");
    EXPECT_FALSE(r.ok) << fault;
    EXPECT_TRUE(r.body.is_null()) << fault;
    EXPECT_NE(r.log.find("the response body exceeds the limit of 1048576 bytes"), std::string::npos)
        << fault << ": " << r.log;
  }
}

TEST_F(Client_Test, BodyLimitIsInclusive)
{
  // The unsigned settings request is answered 401 with a fixed body:
  // {"message":"the header Client-Now is missing","result_code":10001},
  // 66 bytes.
  test_support::Mock_Service svc(ACCOUNT);
  ASSERT_TRUE(svc.running()) << svc.error();
  JSON_RESTful_Client::Options o = JSON_RESTful_Client::options();
  o.max_body = 66;
  JSON_RESTful_Client::set_options(o);
  Reply at = fetch("127.0.0.1", svc.port(), false, "/fcc/v1/settings");
  EXPECT_EQ(at.status, 401);
  EXPECT_EQ(member(at.body, "result_code").get_int64(), 10001) << at.log;
  o.max_body = 65;
  JSON_RESTful_Client::set_options(o);
  Reply over = fetch("127.0.0.1", svc.port(), false, "/fcc/v1/settings");
  EXPECT_TRUE(over.body.is_null());
  EXPECT_NE(over.log.find("exceeds the limit of 65 bytes"), std::string::npos) << over.log;
}

TEST_F(Client_Test, ErrorStatusKeepsStatusAndBody)
{
  test_support::Mock_Service svc(ACCOUNT);
  ASSERT_TRUE(svc.running()) << svc.error();
  Reply r = fetch("127.0.0.1", svc.port(), false, "/fcc/v1/settings");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.status, 401);
  EXPECT_EQ(member(r.body, "result_code").get_int64(), 10001);
  EXPECT_NE(r.log.find("the service answered HTTP 401"), std::string::npos) << r.log;
  EXPECT_NE(r.log.find("http://127.0.0.1:" + std::to_string(svc.port()) + "/fcc/v1/settings"),
            std::string::npos)
      << r.log;
}

TEST_F(Client_Test, BodyThatIsNotJsonFails)
{
  test_support::Mock_Service svc(with_account({"--fault", "not-json"}));
  ASSERT_TRUE(svc.running()) << svc.error();
  Reply r = fetch("127.0.0.1", svc.port(), false, "/echo");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.status, 200);
  EXPECT_TRUE(r.body.is_null());
  EXPECT_NE(r.log.find("is not JSON"), std::string::npos) << r.log;
  EXPECT_NE(r.log.find("text/html"), std::string::npos) << r.log;
}

TEST_F(Client_Test, JsonArrayIsJson)
{
  test_support::Mock_Service svc(with_account({"--fault", "array"}));
  ASSERT_TRUE(svc.running()) << svc.error();
  Reply r = fetch("127.0.0.1", svc.port(), false, "/echo");
  EXPECT_TRUE(r.ok) << r.log;
  EXPECT_EQ(r.body.type(), json_spirit::array_type);
}

TEST_F(Client_Test, ConnectionClosedAtOnceFails)
{
  test_support::Mock_Service svc(with_account({"--fault", "close"}));
  ASSERT_TRUE(svc.running()) << svc.error();
  Reply r = fetch("127.0.0.1", svc.port(), false, "/echo");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.log.find("closed the connection without replying"), std::string::npos) << r.log;
  Reply t = fetch("127.0.0.1", svc.port(), true, "/echo");
  EXPECT_FALSE(t.ok);
  EXPECT_NE(t.log.find("TLS handshake failed"), std::string::npos) << t.log;
}

TEST_F(Client_Test, SkewedServiceClockWarnsOnce)
{
  test_support::Mock_Service svc(with_account({"--date-offset", "3600"}));
  ASSERT_TRUE(svc.running()) << svc.error();
  Reply r = fetch("127.0.0.1", svc.port(), false, "/echo");
  EXPECT_TRUE(r.ok) << "a warning, not a failure";
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.log, m, std::regex("clock looks wrong: it is (\\d+) s behind"))) << r.log;
  EXPECT_NEAR(std::stol(m[1]), 3600, 5);
  EXPECT_EQ(std::count(r.log.begin(), r.log.end(), '\n'), 1) << r.log;

  test_support::Mock_Service on_time(ACCOUNT);
  ASSERT_TRUE(on_time.running()) << on_time.error();
  EXPECT_EQ(fetch("127.0.0.1", on_time.port(), false, "/echo").log, "");
}

TEST_F(Client_Test, Ipv6Literal)
{
  test_support::Mock_Service svc(with_account({"--listen", "[::1]:0"}));
  if (!svc.running())
    GTEST_SKIP() << "no IPv6 loopback here: " << svc.error();
  Reply r = fetch("::1", svc.port(), false, "/echo");
  EXPECT_TRUE(r.ok) << r.log;
  EXPECT_EQ(header_seen(r, "Host"), "[::1]:" + std::to_string(svc.port()));
}

TEST_F(Client_Test, SecondClientReusesTheConnection)
{
  test_support::Mock_Service svc(ACCOUNT);
  ASSERT_TRUE(svc.running()) << svc.error();
  Reply first = fetch("127.0.0.1", svc.port(), false, "/echo");
  Reply second = fetch("127.0.0.1", svc.port(), false, "/echo");
  ASSERT_TRUE(first.ok && second.ok) << first.log << second.log;
  EXPECT_EQ(remote_port(first), remote_port(second)) << "the second login reuses the first one's connection";

  // New options may name another CA bundle: nothing made before is reused.
  JSON_RESTful_Client::set_options(JSON_RESTful_Client::options());
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

}  // namespace
