// The host's HTTP messages, helpers and REST client as the signed GET and
// its failure log rely on them.  The REST checks run against a server of
// their own on 127.0.0.1.

#include <string>

#include <gtest/gtest.h>

#include "host/http.h"
#include "host/json_restful_client.h"
#include "host/json_spirit_utils.h"
#include "host/json_spirit_value.h"
#include "scrt/http_response.h"
#include "tests/support/canned_server.h"

namespace
{
using json_spirit::Value;
using test_support::Canned_Server;

// The signed GET builds its request this way, appends the query string to
// the buffer, and the failure line reads method, path and query back; the
// line needs the path alone and "" (never null) for no query.
TEST(Http, ARequestKeepsItsMethodPathAndQuery)
{
  EXPECT_EQ(3, HTTP_METHOD_GET);
  HTTP_Request req(HTTP_METHOD_GET, "/fcc/v1/settings", false);
  EXPECT_EQ(HTTP_METHOD_GET, req.method());
  EXPECT_STREQ("/fcc/v1/settings", req.path());
  ASSERT_NE(nullptr, req.query_string());
  EXPECT_STREQ("", req.query_string());
  req.query_string_buffer() += "a=1";
  req.query_string_buffer() += "&b=x%2By";
  EXPECT_STREQ("a=1&b=x%2By", req.query_string());
  EXPECT_STREQ("/fcc/v1/settings", req.path());
}

// The HTTP response the module creates (its accessors are the module's,
// over the host's header collection by id): a put value is read back and
// a null value removes the header.
TEST(Http, HeadersByIdPutGetAndRemove)
{
  EXPECT_EQ(8, HTTP_HEAD_CONNECTION);
  EXPECT_EQ(12, HTTP_HEAD_CONTENT_LENGTH);
  EXPECT_EQ(16, HTTP_HEAD_CONTENT_TYPE);
  EXPECT_EQ(41, HTTP_HEAD_TRANSFER_ENCODING);
  HTTP_Response resp;
  EXPECT_EQ(nullptr, resp.headers().get(HTTP_HEAD_CONTENT_TYPE, true));
  resp.headers().put(HTTP_HEAD_CONTENT_TYPE, "application/json", true);
  ASSERT_NE(nullptr, resp.headers().get(HTTP_HEAD_CONTENT_TYPE, true));
  EXPECT_STREQ("application/json", resp.headers().get(HTTP_HEAD_CONTENT_TYPE, true));
  resp.headers().put(HTTP_HEAD_CONTENT_TYPE, "text/plain", true);
  EXPECT_STREQ("text/plain", resp.headers().get(HTTP_HEAD_CONTENT_TYPE, true));
  resp.headers().put(HTTP_HEAD_CONTENT_TYPE, nullptr, true);
  EXPECT_EQ(nullptr, resp.headers().get(HTTP_HEAD_CONTENT_TYPE, true));
  // The module's own accessors on top of it.
  resp.content_length(42);
  EXPECT_EQ(42u, resp.content_length());
}

// The failure line prints both names with %s: a null would crash the log
// call.  The module's tests expect the usual names (RFC 9110).
TEST(Http, MethodAndStatusNamesForTheFailureLine)
{
  EXPECT_STREQ("GET", http_method_string(HTTP_METHOD_GET));
  EXPECT_STREQ("OK", http_status_string(200));
  EXPECT_STREQ("Forbidden", http_status_string(403));
  EXPECT_STREQ("Internal Server Error", http_status_string(500));
  for (int unknown : {0, -1, 599, 1000})
    EXPECT_NE(nullptr, http_status_string(unknown)) << unknown;
  EXPECT_NE(nullptr, http_method_string(-1));
}

// The HTTP message accessors decide keep-alive with it: "close" is found in
// a list, and a token that is not there is not.
TEST(Http, HeaderValueMatchFindsATokenInACommaList)
{
  EXPECT_TRUE(http_header_value_match("close", "close", ','));
  EXPECT_TRUE(http_header_value_match("Keep-Alive,close", "close", ','));
  EXPECT_TRUE(http_header_value_match("close,Keep-Alive", "Keep-Alive", ','));
  EXPECT_FALSE(http_header_value_match("Keep-Alive", "close", ','));
  EXPECT_FALSE(http_header_value_match("closed", "close", ','));
}

// The signature goes into its header percent-encoded with flags 5 (slash
// escaped, upper-case digits): every byte but letters, digits and "-_.~"
// escaped, a space as %20.  Expected text: RFC 3986 section 2.3's
// unreserved set, written out by hand.
TEST(Http, EncodeStringWithTheSignaturesFlags)
{
  std::string out = "X-Auth-Signature: ";
  EXPECT_TRUE(http_encode_string("ab/+=Z9 -_.~", 5, out));
  EXPECT_EQ("X-Auth-Signature: ab%2F%2B%3DZ9%20-_.~", out);
}

// The signed GET: a 2xx JSON reply is a successful exchange with its body;
// the request carries the signature headers and the query as put on it.
TEST(RestClient, A2xxJsonReplyGivesTheBodyAndTheRequestArrivesUnchanged)
{
  Canned_Server server(200, R"({"result_code": 10000, "data": {"aboutus_version": "4.2.0"}})");
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

// The module hands reset the login's "host" as given: a name, an IPv4
// address or an IPv6 literal, bare or in brackets ("::1" and "[::1]" both
// log in).
TEST(RestClient, ResetTakesAnIpv6LiteralBareOrInBrackets)
{
  Canned_Server server(200, R"({"result_code": 10000})", "::1");
  for (const char* host : {"::1", "[::1]"})
  {
    JSON_RESTful_Client client(true);
    client.reset(host, static_cast<unsigned short>(server.port()), false);
    HTTP_Request req(HTTP_METHOD_GET, "/fcc/v1/settings", false);
    HTTP_Response resp;
    Value body;
    EXPECT_TRUE(client.get(req, resp, &body)) << host;
    EXPECT_EQ(200, resp.status()) << host;
  }
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
    JSON_RESTful_Client client(true);
    client.reset("127.0.0.1", static_cast<unsigned short>(server.port()), false);
    HTTP_Request req(HTTP_METHOD_GET, "/fcc/v1/settings", false);
    HTTP_Response resp;
    Value body;
    EXPECT_FALSE(client.get(req, resp, &body)) << row.status << " " << row.body;
    EXPECT_EQ(row.status, resp.status()) << row.body;
  }
}

}  // namespace
