// JSON_RESTful_Client against the service emulator on loopback: plain and
// TLS exchanges, every failure cause and its log line, limits.  Connection
// reuse and concurrency: json_restful_client_pool_test.cpp.

#include "host/json_restful_client.h"

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "devhost/harness/rest_options.h"
#include "tests/devhost/json_restful_client_fixture.h"
#include "tests/support/canned_server.h"

namespace rest_client_test
{
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

// A path the request asks to have encoded goes out with every byte but
// RFC 3986 3.3's path characters (unreserved, sub-delimiters, ":", "@" and
// "/") as "%XX", upper case (2.1); one that is not asked is sent as given.
// The targets are written out by hand from those sets; UTF-8 gives "é" as
// C3 A9 and "€" as E2 82 AC.
TEST_F(Client_Test, PathArrivesEncodedAsAsked)
{
  struct Row
  {
    const char* path;
    bool encode;
    const char* target;
  } rows[] = {
      {"/AZaz09-._~/!$&'()*+,;=:@", true, "/AZaz09-._~/!$&'()*+,;=:@"},
      {"/a b?c#d%e[f]\"<>\\^`{|}", true, "/a%20b%3Fc%23d%25e%5Bf%5D%22%3C%3E%5C%5E%60%7B%7C%7D"},
      {"/caf\xC3\xA9/\xE2\x82\xAC\x01\x7F", true, "/caf%C3%A9/%E2%82%AC%01%7F"},
      {"/as%20is", false, "/as%20is"},
  };
  test_support::Canned_Server server(200, "{}");
  JSON_RESTful_Client client(true);
  client.reset("127.0.0.1", static_cast<unsigned short>(server.port()), false);
  for (const Row& row : rows)
  {
    HTTP_Request req(HTTP_METHOD_GET, row.path, row.encode);
    HTTP_Response resp;
    test_support::Log_Capture log;
    EXPECT_TRUE(client.get(req, resp, nullptr)) << log.text();
    EXPECT_EQ(row.target, server.last().target) << row.target;
  }
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
  // good.crt is self-signed with the subject CN=127.0.0.1 (make_certificate);
  // neither the system store nor other.crt holds it.  OpenSSL's words for a
  // lone certificate that is its own, untrusted issuer:
  // X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT.
  test_support::Mock_Service svc(tls("good"));
  ASSERT_TRUE(svc.running()) << svc.error();
  for (const std::string& bundle : {std::string(), std::string("other")})
  {
    trust(bundle);
    Reply r = fetch("127.0.0.1", svc.port(), true, "/echo");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.body.is_null());
    const std::string ca = bundle.empty() ? "the system CA store" : "'" + dir_->file("other.crt") + "'";
    EXPECT_NE(r.log.find("certificate was not accepted (CA bundle: " + ca +
                         "): certificate 'CN=127.0.0.1' issued by 'CN=127.0.0.1' (chain depth 0): "
                         "self-signed certificate\n"),
              std::string::npos)
        << r.log;
  }

  // A name made to forge a log line, and longer than the 256 bytes kept.
  // RFC 2253 writes the last RDN first; the line break shows as \x0A.
  std::string subject = "first";
  for (char c : {'o', 'p', 'q', 'r'})
    subject += "/OU=" + std::string(60, c);
  subject += "/OU=forged\nJSON_RESTful_Client: line";
  std::string error;
  ASSERT_TRUE(test_support::make_certificate(dir_->file("forged.crt"), dir_->file("forged.key"), subject,
                                             "IP:127.0.0.1", error))
      << error;
  test_support::Mock_Service forged(tls("forged"));
  ASSERT_TRUE(forged.running()) << forged.error();
  trust("good");
  Reply r = fetch("127.0.0.1", forged.port(), true, "/echo");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(std::count(r.log.begin(), r.log.end(), '\n'), 1) << r.log;
  EXPECT_NE(r.log.find("certificate 'OU=forged\\x0AJSON_RESTful_Client: line,OU=" + std::string(60, 'r')),
            std::string::npos)
      << r.log;
  EXPECT_NE(r.log.find("'... issued by 'OU=forged\\x0A"), std::string::npos) << r.log;
  // 256 bytes: the forged OU (35), three ",OU=" + 60 letters (192), then
  // ",OU=" and 25 of the 60 o's.
  EXPECT_NE(r.log.find(",OU=" + std::string(25, 'o') + "'... (chain depth 0)"), std::string::npos) << r.log;
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
  devhost::Rest_Client_Options o = devhost::rest_client_options();
  o.timeout_ms = 400;
  devhost::set_rest_client_options(o);
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
  devhost::Rest_Client_Options o = devhost::rest_client_options();
  o.max_body = 66;
  devhost::set_rest_client_options(o);
  Reply at = fetch("127.0.0.1", svc.port(), false, "/fcc/v1/settings");
  EXPECT_EQ(at.status, 401);
  EXPECT_EQ(member(at.body, "result_code").get_int64(), 10001) << at.log;
  o.max_body = 65;
  devhost::set_rest_client_options(o);
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

}  // namespace rest_client_test
