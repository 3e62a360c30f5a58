// The host's HTTP messages and helpers as the signed GET and its failure
// log rely on them (the REST client: rest_client_contract_test.cpp).

#include <string>

#include <gtest/gtest.h>

#include "host/http.h"
#include "scrt/http_response.h"

namespace
{

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

// The message accessors read a message's headers by id, and a message's
// headers come by name (as a reply carries them): each id the accessors use
// must stand for its standard name (RFC 9110), or keep-alive, length and
// type are read from another header.
TEST(Http, HeaderIdsStandForTheirStandardNames)
{
  struct Row
  {
    int id;
    const char* name;
  } rows[] = {{HTTP_HEAD_CONNECTION, "Connection"},
              {HTTP_HEAD_CONTENT_LENGTH, "Content-Length"},
              {HTTP_HEAD_CONTENT_TYPE, "Content-Type"},
              {HTTP_HEAD_TRANSFER_ENCODING, "Transfer-Encoding"}};
  for (const Row& row : rows)
  {
    HTTP_Response resp;
    resp.headers().put(row.name, "by name", true);
    const char* got = resp.headers().get(row.id, true);
    EXPECT_STREQ("by name", got != nullptr ? got : "(none)") << row.name << " (id " << row.id << ")";
  }
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

}  // namespace
