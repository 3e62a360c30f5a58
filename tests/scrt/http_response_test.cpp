#include "scrt/http_response.h"

#include <gtest/gtest.h>

#include "devhost/harness/http_access.h"

namespace
{
/// Parses @a line into a response that already holds status 999 and
/// HTTP/1.5, and gives "status minor" afterwards (unchanged on failure).
std::string parse(const char* line, bool expected_result)
{
  HTTP_Response r;
  devhost_set_status(r, 999);
  r.minor_version(5);
  EXPECT_EQ(r.parse_status_line(line), expected_result) << '"' << (line ? line : "(null)") << '"';
  return std::to_string(r.status()) + " " + std::to_string(r.minor_version());
}

#define EXPECT_STATUS_LINE(line, status, minor) EXPECT_EQ(parse(line, true), #status " " #minor)
#define EXPECT_NOT_STATUS_LINE(line) EXPECT_EQ(parse(line, false), "999 5")

// Expected values: the status-line grammar of RFC 7230 section 3.1.2,
// restricted to HTTP/1.x.
TEST(Http_Response, ParsesStatusLines)
{
  EXPECT_STATUS_LINE("HTTP/1.1 200 OK", 200, 1);
  EXPECT_STATUS_LINE("HTTP/1.0 404 Not Found", 404, 0);
  EXPECT_STATUS_LINE("HTTP/1.1 503 Service Unavailable\r\n", 503, 1);
  EXPECT_STATUS_LINE("HTTP/1.1 204 ", 204, 1);
  EXPECT_STATUS_LINE("HTTP/1.1 204", 204, 1);
  EXPECT_STATUS_LINE("HTTP/1.1 100\r\n", 100, 1);
}

TEST(Http_Response, RejectsOtherLinesUnchanged)
{
  EXPECT_NOT_STATUS_LINE(nullptr);
  EXPECT_NOT_STATUS_LINE("");
  EXPECT_NOT_STATUS_LINE("HTTP/1.1");
  EXPECT_NOT_STATUS_LINE("HTTP/1.1 ");
  EXPECT_NOT_STATUS_LINE("HTTP/2 200 OK");
  EXPECT_NOT_STATUS_LINE("HTTP/1.x 200 OK");
  EXPECT_NOT_STATUS_LINE("http/1.1 200 OK");
  EXPECT_NOT_STATUS_LINE("HTTP/1.1 20 OK");
  EXPECT_NOT_STATUS_LINE("HTTP/1.1 2000 OK");
  EXPECT_NOT_STATUS_LINE("HTTP/1.1  200 OK");
  EXPECT_NOT_STATUS_LINE("HTTP/1.1 2x0 OK");
  EXPECT_NOT_STATUS_LINE("HTTP/1.1 099 Low");
  EXPECT_NOT_STATUS_LINE("HTTP/1.10 200 OK");
}

TEST(Http_Response, StartsAsAnHttp11MessageWithoutStatus)
{
  HTTP_Response r;
  EXPECT_EQ(r.status(), 0);
  EXPECT_EQ(r.minor_version(), 1);
  EXPECT_TRUE(r.keep_alive());
  ASSERT_TRUE(r.parse_status_line("HTTP/1.0 200 OK"));
  EXPECT_FALSE(r.keep_alive());
}

TEST(Http_Response, WorksThroughTheHostBaseClass)
{
  CGI_Response* base = new HTTP_Response;
  base->headers().put(HTTP_HEAD_CONNECTION, "close", true);
  EXPECT_FALSE(static_cast<HTTP_Response*>(base)->keep_alive());
  delete base;  // through the virtual destructor
}
}  // namespace
