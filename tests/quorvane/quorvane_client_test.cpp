#include "quorvane/core/quorvane_client.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "devhost/harness/http_access.h"
#include "tests/support/canned_server.h"
#include "tests/support/failed_get_log.h"
#include "tests/support/log_capture.h"

namespace
{
using quorvane::Auth_Info;
using quorvane::Params;
using test_support::Canned_Server;
using test_support::Log_Capture;
using test_support::Log_Record;
typedef std::vector<Log_Record> Records;

// Whether @a log holds the LM_ERROR record @a text (a body line compared as
// its JSON value).
bool logged(const Log_Capture& log, const std::string& text)
{
  const Records records = log.records();
  return std::find(records.begin(), records.end(), Log_Record{LM_ERROR, text, -1}) != records.end();
}

class Test_Client : public quorvane::Quorvane_Client
{
public:
  explicit Test_Client(const Auth_Info& info) : Quorvane_Client(info) {}
  using Quorvane_Client::get;
  using Quorvane_Client::sign;
};

Auth_Info account(int port, const std::string& secret = "the account's secret key, not short")
{
  Auth_Info info;
  info.host = "127.0.0.1";
  info.port = static_cast<std::uint16_t>(port);
  info.access_key = "AK-12345";
  info.secret_key.assign(secret.data(), secret.size());
  return info;
}

// The signature computed independently of the module: OpenSSL's one-shot
// HMAC, Base64 by EVP_EncodeBlock, and percent-encoding written out here
// (every byte but A-Z a-z 0-9 - _ . ~ as "%" and two upper-case digits).
std::string expected_base64(const std::string& secret, const std::string& text)
{
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int mac_len = 0;
  HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
       reinterpret_cast<const unsigned char*>(text.data()), text.size(), mac, &mac_len);
  unsigned char b64[128];
  int n = EVP_EncodeBlock(b64, mac, static_cast<int>(mac_len));
  return std::string(reinterpret_cast<const char*>(b64), static_cast<std::size_t>(n));
}

std::string expected_signature(const std::string& secret, const std::string& text)
{
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int mac_len = 0;
  HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
       reinterpret_cast<const unsigned char*>(text.data()), text.size(), mac, &mac_len);
  unsigned char b64[128];
  int n = EVP_EncodeBlock(b64, mac, static_cast<int>(mac_len));
  std::string encoded;
  for (int i = 0; i < n; ++i)
  {
    unsigned char c = b64[i];
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~')
    {
      encoded += static_cast<char>(c);
    }
    else
    {
      char esc[4];
      std::snprintf(esc, sizeof esc, "%%%02X", c);
      encoded += esc;
    }
  }
  return encoded;
}

std::string header(const HTTP_Request& req, const char* name)
{
  const char* v = devhost::header_value(req.headers(), name, true);
  return v == nullptr ? std::string("<absent>") : std::string(v);
}

TEST(Sign, HeadersMatchAnIndependentComputation)
{
  // The whole key is the HMAC's key, a zero byte and what follows included.
  const std::string secrets[] = {"the account's secret key, not short", std::string("k\0tail", 6)};
  for (const std::string& secret : secrets)
  {
    Test_Client client(account(1, secret));
    HTTP_Request req(HTTP_METHOD_GET, "/fcc/v1/settings", false);
    const long long before = static_cast<long long>(std::time(nullptr)) * 1000;
    ASSERT_TRUE(client.sign("/fcc/v1/settings", nullptr, req));
    const long long after = static_cast<long long>(std::time(nullptr)) * 1000;

    const std::string now = header(req, "Client-Now");
    EXPECT_GE(std::stoll(now), before);
    EXPECT_LE(std::stoll(now), after);
    EXPECT_EQ("000", now.substr(now.size() - 3)) << "a whole-second clock in milliseconds";
    EXPECT_EQ("AK-12345", header(req, "X-Auth-Accesskey"));
    // No query: the text to sign ends in the path and one underscore.
    EXPECT_EQ(expected_signature(secret, now + "_AK-12345_/fcc/v1/settings_"),
              header(req, "X-Auth-Signature"));
  }
}

TEST(Sign, AnEmptyMapSignsLikeNoMapAndParametersAreSorted)
{
  const std::string secret = "the account's secret key, not short";
  Test_Client client(account(1, secret));
  Params none;
  HTTP_Request a(HTTP_METHOD_GET, "/p", false);
  ASSERT_TRUE(client.sign("/p", &none, a));
  EXPECT_EQ(expected_signature(secret, header(a, "Client-Now") + "_AK-12345_/p_"),
            header(a, "X-Auth-Signature"));

  Params params;
  params["b"] = "2";
  params["a"] = "x y/+";
  params["k y&="] = "v";
  HTTP_Request b(HTTP_METHOD_GET, "/a path/é", false);
  ASSERT_TRUE(client.sign("/a path/é", &params, b));
  // The query of the text to sign uses the query encoding for keys and
  // values alike (lower-case digits, "+" for a space); the path enters
  // unescaped.
  EXPECT_EQ(
      expected_signature(secret, header(b, "Client-Now") + "_AK-12345_/a path/é_a=x+y%2f%2b&b=2&k+y%26%3d=v"),
      header(b, "X-Auth-Signature"));
}

TEST(Sign, SlashPlusAndEqualsInTheSignatureAreEscapedUpperCase)
{
  // Base64 of a 32-byte MAC always ends in "="; keep trying secrets until
  // one signature also holds "/" and "+".
  bool seen = false;
  for (int i = 0; i < 200 && !seen; ++i)
  {
    const std::string secret = "secret number " + std::to_string(i) + " of this test";
    Test_Client client(account(1, secret));
    HTTP_Request req(HTTP_METHOD_GET, "/fcc/v1/settings", false);
    ASSERT_TRUE(client.sign("/fcc/v1/settings", nullptr, req));
    const std::string sig = header(req, "X-Auth-Signature");
    ASSERT_EQ(expected_signature(secret, header(req, "Client-Now") + "_AK-12345_/fcc/v1/settings_"), sig);
    EXPECT_EQ(std::string::npos, sig.find_first_of("/+="));
    seen = sig.find("%2F") != std::string::npos && sig.find("%2B") != std::string::npos &&
           sig.find("%3D") != std::string::npos;
  }
  EXPECT_TRUE(seen);
}

const char SUCCESS[] = R"({"result_code": 10000, "data": {"aboutus_version": "4.2.0"}})";

TEST(Get, SuccessSendsOneSignedRequestAndLoadsTheVersion)
{
  Canned_Server server(200, SUCCESS);
  const std::string secret = "the account's secret key, not short";
  Test_Client client(account(server.port(), secret));
  quorvane::Version version;
  Log_Capture log;
  ASSERT_TRUE(client.get_version(version));
  EXPECT_EQ("4.2.0", version.aboutus_version);
  EXPECT_TRUE(log.records().empty()) << log.text();

  test_support::Received_Request got = server.last();
  EXPECT_EQ("GET", got.method);
  EXPECT_EQ("/fcc/v1/settings", got.path);
  EXPECT_EQ("", got.query);
  EXPECT_EQ("AK-12345", got.headers["X-Auth-Accesskey"]);
  // The server library hands header values over percent-decoded.
  EXPECT_EQ(expected_base64(secret, got.headers["Client-Now"] + "_AK-12345_/fcc/v1/settings_"),
            got.headers["X-Auth-Signature"]);
  EXPECT_TRUE(client.connect());
  EXPECT_EQ(2, server.requests());
}

TEST(Get, QueryParametersArriveAsSigned)
{
  Canned_Server server(200, SUCCESS);
  const std::string secret = "the account's secret key, not short";
  Test_Client client(account(server.port(), secret));
  Params params;
  params["z"] = "1";
  params["a"] = "x y";
  params["a key/é"] = "v";
  quorvane::Version version;
  ASSERT_TRUE(client.get("/fcc/v1/settings", &params, version));
  test_support::Received_Request got = server.last();
  // Keys are encoded as values are (the builder's query encoding).
  EXPECT_EQ("a=x+y&a+key%2f%c3%a9=v&z=1", got.query);
  EXPECT_EQ(expected_base64(
                secret, got.headers["Client-Now"] + "_AK-12345_/fcc/v1/settings_a=x+y&a+key%2f%c3%a9=v&z=1"),
            got.headers["X-Auth-Signature"]);
}

TEST(Get, AnotherResultCodeLogsTheRequestLineAndTheBody)
{
  Canned_Server server(200, R"({"result_code": 10001, "message": "denied"})");
  Test_Client client(account(server.port()));
  quorvane::Version version;
  Log_Capture log;
  EXPECT_FALSE(client.get_version(version));
  EXPECT_EQ(
      test_support::failed_get_log("http://127.0.0.1:" + std::to_string(server.port()) + "/fcc/v1/settings",
                                   "200 OK", R"({"message":"denied","result_code":10001})"),
      log.records());
  EXPECT_EQ("", version.aboutus_version);
}

TEST(Get, TheFailureLineShowsTheQueryAfterAQuestionMark)
{
  Canned_Server server(200, R"({"result_code": 1})");
  Test_Client client(account(server.port()));
  Params params;
  params["k"] = "v";
  quorvane::Version version;
  Log_Capture log;
  EXPECT_FALSE(client.get("/x", &params, version));
  EXPECT_NE(std::string::npos,
            log.text().find("'http://127.0.0.1:" + std::to_string(server.port()) + "/x?k=v'"))
      << log.text();
}

TEST(Get, BodiesThatAreNotResultObjectsLogOneResultCodeMessage)
{
  const char* bodies[] = {"[1, 2]", R"({"data": {}})", R"({"result_code": "10000"})",
                          R"({"result_code": null})"};
  for (const char* body : bodies)
  {
    Canned_Server server(200, body);
    Test_Client client(account(server.port()));
    quorvane::Version version;
    Log_Capture log;
    EXPECT_FALSE(client.get_version(version)) << body;
    std::vector<test_support::Log_Record> recs = log.records();
    ASSERT_EQ(1u, recs.size()) << body << "\n" << log.text();
    EXPECT_EQ(0u, recs[0].text.find("Unexpected exception occurred while get result code, error: "))
        << recs[0].text;
    EXPECT_EQ(LM_ERROR, static_cast<int>(recs[0].priority));
    EXPECT_EQ(0, recs[0].status);
  }
}

TEST(Get, AMissingVersionLogsTheLoaderMessageThenTheWholeBody)
{
  Canned_Server server(200, R"({"result_code": 10000, "data": {}})");
  Test_Client client(account(server.port()));
  quorvane::Version version;
  version.aboutus_version = "kept";
  Log_Capture log;
  EXPECT_FALSE(client.get_version(version));
  std::vector<test_support::Log_Record> recs = log.records();
  ASSERT_EQ(2u, recs.size()) << log.text();
  EXPECT_EQ(0u, recs[0].text.find("Unexpected exception occurred while loading Quorvane version info"));
  EXPECT_EQ((Log_Record{LM_ERROR, recs[0].text, 0}), recs[0]);
  EXPECT_EQ((Log_Record{LM_ERROR,
                        "The json returned by GET request is: {\"data\":{},\"result_code\":10000}.\n", 0}),
            recs[1]);
  EXPECT_EQ("kept", version.aboutus_version);
}

// What a failed exchange leaves in the body is the host's choice (the
// parsed reply, or null): the module logs it as the REST client left it,
// which the same exchange through a REST client of the test's own shows.
TEST(Get, ATransportFailureLogsTheStatusAndTheBodyAsTheClientLeftIt)
{
  Canned_Server server(500, R"({"result_code": 50000})");
  JSON_RESTful_Client rest(true);
  rest.reset("127.0.0.1", static_cast<unsigned short>(server.port()), false);
  HTTP_Request plain(HTTP_METHOD_GET, "/fcc/v1/settings", false);
  HTTP_Response plain_resp;
  json_spirit::Value left;
  {
    Log_Capture quiet;
    ASSERT_FALSE(rest.get(plain, plain_resp, &left));
  }
  ASSERT_TRUE(left.is_null() || left.type() == json_spirit::obj_type) << json_spirit::JSON_Dump(left, false);

  Test_Client client(account(server.port()));
  quorvane::Version version;
  Log_Capture log;
  EXPECT_FALSE(client.get_version(version));
  const std::string text = log.text();
  EXPECT_NE(std::string::npos,
            text.find("/fcc/v1/settings': the response HTTP status is 500 Internal Server Error\n"))
      << text;
  EXPECT_TRUE(logged(log, "response body:\n" + json_spirit::JSON_Dump(left, false) + "\n")) << text;
  EXPECT_EQ(std::string::npos, text.find("request body:"));
}

TEST(Get, TheSchemeComesFromTheAccount)
{
  // A TLS client against a plain server: the exchange fails, and the line
  // names https with the account's host and port.
  Canned_Server server(200, SUCCESS);
  Auth_Info info = account(server.port());
  info.ssl = true;
  Test_Client client(info);
  quorvane::Version version;
  Log_Capture log;
  EXPECT_FALSE(client.get_version(version));
  EXPECT_NE(std::string::npos, log.text().find("request:'https://127.0.0.1:" + std::to_string(server.port()) +
                                               "/fcc/v1/settings': the response HTTP status is 0 "))
      << log.text();
  EXPECT_TRUE(logged(log, "response body:\nnull\n")) << log.text();
}

// The failure log's three lines, the request body's included (the signed
// GET never has one to give), each LM_ERROR with status -1.
TEST(LogFailedRequest, WritesTheRequestLineAndBothBodies)
{
  Auth_Info info = account(8443);
  info.ssl = true;
  Test_Client client(info);
  HTTP_Request req(HTTP_METHOD_GET, "/p", false);
  req.query_string_buffer() = "a=1";
  HTTP_Response resp;
  ASSERT_TRUE(resp.parse_status_line("HTTP/1.1 404 Not Found"));
  const json_spirit::Value req_body(std::string("asked"));
  const json_spirit::Value res_body(7);
  Log_Capture log;
  client.log_failed_request(req, resp, &req_body, &res_body);
  EXPECT_EQ(
      (Records{Log_Record{LM_ERROR,
                          "Unexpected exception occurred while sending HTTP GET request:'https://127.0.0.1:"
                          "8443/p?a=1': the response HTTP status is 404 Not Found\n",
                          -1},
               Log_Record{LM_ERROR, "request body:\n\"asked\"\n", -1},
               Log_Record{LM_ERROR, "response body:\n7\n", -1}}),
      log.records());
}

// The record keeps an IPv6 literal bare, as the REST client takes it; in
// the URL of the failure line it stands in brackets, or its last group
// would read as the port.
TEST(LogFailedRequest, AnIpv6HostIsWrittenInBrackets)
{
  const char* rows[][2] = {{"::1", "[::1]"},
                           {"::ffff:127.0.0.1", "[::ffff:127.0.0.1]"},
                           {"[::1]", "[::1]"},
                           {"h.example", "h.example"}};
  for (const auto& row : rows)
  {
    Auth_Info info = account(8443);
    info.host = row[0];
    Test_Client client(info);
    HTTP_Request req(HTTP_METHOD_GET, "/p", false);
    HTTP_Response resp;
    ASSERT_TRUE(resp.parse_status_line("HTTP/1.1 404 Not Found"));
    Log_Capture log;
    client.log_failed_request(req, resp, nullptr, nullptr);
    EXPECT_EQ((Records{Log_Record{
                  LM_ERROR,
                  std::string("Unexpected exception occurred while sending HTTP GET request:'http://") +
                      row[1] + ":8443/p': the response HTTP status is 404 Not Found\n",
                  -1}}),
              log.records());
  }
}

}  // namespace
