// The development host's HTTP types, which the support library's messages
// run on.
#include "host/http.h"

#include <sys/uio.h>

#include <string>

#include <gtest/gtest.h>

#include "devhost/harness/http_access.h"

namespace
{
#define EXPECT_MATCH(value, token, expected)                      \
  EXPECT_EQ(http_header_value_match(value, token, ','), expected) \
      << "value \"" << value << "\" token \"" << token << '"'

// Expected values: RFC 7230 section 7 (comma lists, optional white space,
// empty items ignored) and section 3.2.6 (tokens compare case-insensitively).
TEST(Http_Types, HeaderValueMatchesListItems)
{
  EXPECT_MATCH("close", "close", true);
  EXPECT_MATCH("Close", "close", true);
  EXPECT_MATCH("keep-alive, Upgrade", "upgrade", true);
  EXPECT_MATCH(" keep-alive\t,\tclose ", "close", true);
  EXPECT_MATCH("close", " close ", true);
  EXPECT_MATCH("closed", "close", false);
  EXPECT_MATCH("close-ish, x", "close", false);
  EXPECT_MATCH("a,,b", "", false);
  EXPECT_MATCH("", "close", false);
  EXPECT_MATCH("a;close", "close", false);
  EXPECT_TRUE(http_header_value_match("a;close", "close", ';'));
  EXPECT_FALSE(http_header_value_match(nullptr, "close", ','));
  EXPECT_FALSE(http_header_value_match("close", nullptr, ','));
}

TEST(Http_Types, HeadersAreOnePerCaseInsensitiveName)
{
  HTTP_Headers h;
  const auto& list = devhost_header_list(h);
  h.put("Content-Type", "a", true);
  h.put("content-TYPE", "b", true);
  ASSERT_EQ(list.size(), 1U);
  EXPECT_EQ(list[0].first, "Content-Type");
  EXPECT_STREQ(h.get(HTTP_HEAD_CONTENT_TYPE, true), "b");
  EXPECT_EQ(devhost::header_value(h, "content-type", false), nullptr);

  h.put(HTTP_HEAD_CONNECTION, "close", true);
  EXPECT_STREQ(devhost::header_value(h, "CONNECTION", true), "close");
  h.put("connection", nullptr, true);
  EXPECT_EQ(h.get(HTTP_HEAD_CONNECTION, true), nullptr);
  h.put("Absent", nullptr, true);
  EXPECT_EQ(list.size(), 1U);

  // Unknown ids and names are neither stored nor found.
  h.put(devhost::HTTP_HEAD_COUNT, "x", true);
  h.put(-1, "x", true);
  h.put(static_cast<const char*>(nullptr), "x", true);
  EXPECT_EQ(list.size(), 1U);
  EXPECT_EQ(h.get(devhost::HTTP_HEAD_COUNT, true), nullptr);
  EXPECT_EQ(devhost::header_value(h, nullptr, true), nullptr);
  h.put(HTTP_HEAD_DATE, "today", true);
  devhost::clear_headers(h);
  EXPECT_TRUE(list.empty());
}

TEST(Http_Types, NamesOfIdsMethodsAndStatuses)
{
  // Header names of RFC 9110 / RFC 9112; ids from the host's enumeration.
  EXPECT_STREQ(devhost::http_header_name(HTTP_HEAD_ACCEPT), "Accept");
  EXPECT_STREQ(devhost::http_header_name(8), "Connection");
  EXPECT_STREQ(devhost::http_header_name(12), "Content-Length");
  EXPECT_STREQ(devhost::http_header_name(16), "Content-Type");
  EXPECT_STREQ(devhost::http_header_name(41), "Transfer-Encoding");
  EXPECT_STREQ(devhost::http_header_name(HTTP_HEAD_AUTHORIZATION), "Authorization");
  EXPECT_EQ(devhost::http_header_name(devhost::HTTP_HEAD_COUNT), nullptr);
  EXPECT_EQ(devhost::http_header_name(-1), nullptr);

  EXPECT_STREQ(http_method_string(HTTP_METHOD_GET), "GET");
  EXPECT_STREQ(http_method_string(HTTP_METHOD_PATCH), "PATCH");
  EXPECT_STREQ(http_method_string(HTTP_METHOD_NONE), "UNKNOWN");
  EXPECT_STREQ(http_method_string(10), "UNKNOWN");

  EXPECT_STREQ(http_status_string(200), "OK");
  EXPECT_STREQ(http_status_string(404), "Not Found");
  EXPECT_STREQ(http_status_string(503), "Service Unavailable");
  EXPECT_STREQ(http_status_string(599), "");
  EXPECT_STREQ(http_status_string(0), "");
}

TEST(Http_Types, EncodeStringAppends)
{
  std::string out = "sig=";
  EXPECT_TRUE(http_encode_string("a+b/c d", 5, out));
  EXPECT_EQ(out, "sig=a%2Bb%2Fc%20d");
  EXPECT_FALSE(http_encode_string("", 5, out));
  EXPECT_FALSE(http_encode_string(nullptr, 5, out));
  EXPECT_EQ(out, "sig=a%2Bb%2Fc%20d");
}

std::string joined(const iovec* iov, int n)
{
  std::string s;
  for (int i = 0; i < n; ++i)
    s.append(static_cast<const char*>(iov[i].iov_base), iov[i].iov_len);
  return s;
}

TEST(Http_Types, HeaderBlockAsWholeLines)
{
  CGI_Response m(1);
  EXPECT_EQ(m.iovec_count(), 0);
  m.content_type("text/plain");
  m.content_length(12);
  ASSERT_EQ(m.iovec_count(), 8);
  iovec iov[8];
  EXPECT_EQ(m.to_iovec(iov, 8), 8);
  EXPECT_EQ(joined(iov, 8), "Content-Type: text/plain\r\nContent-Length: 12\r\n");
  EXPECT_EQ(m.to_iovec(iov, 7), 4);
  EXPECT_EQ(joined(iov, 4), "Content-Type: text/plain\r\n");
  EXPECT_EQ(m.to_iovec(iov, 3), 0);
  EXPECT_EQ(m.to_iovec(nullptr, 8), 0);
  EXPECT_EQ(m.content_length(), 12U);
}

TEST(Http_Types, RequestKeepsItsParts)
{
  HTTP_Request req(HTTP_METHOD_GET, "/fcc/v1/settings", false);
  EXPECT_EQ(req.method(), HTTP_METHOD_GET);
  EXPECT_STREQ(req.path(), "/fcc/v1/settings");
  EXPECT_STREQ(req.query_string(), "");
  req.query_string_buffer() += "a=1";
  EXPECT_STREQ(req.query_string(), "a=1");
  EXPECT_STREQ(HTTP_Request(HTTP_METHOD_GET, nullptr, false).path(), "");
}
}  // namespace
