// The two ways signing can fail, forced from outside: the HMAC generator
// gives no result, and the formatter cannot grow its buffer for a long text
// to sign.  This program replaces the host's HMAC_Generator constructor and
// the C library's realloc, so it holds only these tests.

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "devhost/harness/http_access.h"
#include "host/crypto.h"
#include "quorvane/core/quorvane_client.h"
#include "tests/support/canned_server.h"
#include "tests/support/log_capture.h"

namespace
{
std::atomic<bool> fail_realloc{false};
std::atomic<bool> hmac_gives_nothing{false};
std::atomic<int> hmac_calls{0};
std::atomic<long> hmac_data_length{-1};
}  // namespace

// Stands in front of the C library's realloc (and a sanitizer's): the next
// one in the lookup order does the real work.
extern "C" void* realloc(void* p, std::size_t n)
{
  typedef void* (*Realloc)(void*, std::size_t);
  static const Realloc next = reinterpret_cast<Realloc>(dlsym(RTLD_NEXT, "realloc"));
  if (fail_realloc)
    return nullptr;
  return next(p, n);
}

// A generator that records what it was given and holds a fixed result, or
// none when the test asks for a failure.
HMAC_Generator::HMAC_Generator(const void*, unsigned long, const void*, unsigned long data_length,
                               const char*, bool)
{
  ++hmac_calls;
  hmac_data_length = static_cast<long>(data_length);
  if (hmac_gives_nothing)
    return;
  static const char SIG[] = "c2lnbmF0dXJl/+=";
  std::unique_ptr<unsigned char[]> result(new unsigned char[sizeof SIG]);
  std::memcpy(result.get(), SIG, sizeof SIG);
  result_ = std::move(result);
  length_ = sizeof SIG - 1;
}

HMAC_Generator::~HMAC_Generator() {}

namespace
{
class Test_Client : public quorvane::Quorvane_Client
{
public:
  explicit Test_Client(const quorvane::Auth_Info& info) : Quorvane_Client(info) {}
  using Quorvane_Client::get;
  using Quorvane_Client::sign;
};

// Signing's one failure line: LM_ERROR, status 0.
const test_support::Log_Record SIGN_FAILED{LM_ERROR, "Failed to calculate signature, result is empty.\n", 0};

quorvane::Auth_Info account(const std::string& access_key)
{
  quorvane::Auth_Info info;
  info.host = "127.0.0.1";
  info.access_key = access_key;
  info.secret_key = "secret";
  return info;
}

void expect_unsigned(const HTTP_Request& req)
{
  EXPECT_EQ(nullptr, devhost::header_value(req.headers(), "Client-Now", true));
  EXPECT_EQ(nullptr, devhost::header_value(req.headers(), "X-Auth-Accesskey", true));
  EXPECT_EQ(nullptr, devhost::header_value(req.headers(), "X-Auth-Signature", true));
}

TEST(SignFailure, NoHmacResultPutsNoHeaderAndLogsOnce)
{
  Test_Client client(account("AK"));
  HTTP_Request req(HTTP_METHOD_GET, "/fcc/v1/settings", false);
  test_support::Log_Capture log;
  hmac_gives_nothing = true;
  bool signed_ok = client.sign("/fcc/v1/settings", nullptr, req);
  hmac_gives_nothing = false;
  EXPECT_FALSE(signed_ok);
  expect_unsigned(req);
  EXPECT_EQ(std::vector<test_support::Log_Record>{SIGN_FAILED}, log.records());
}

// A request whose signing failed is never sent.
TEST(SignFailure, TheSignedGetSendsNothing)
{
  test_support::Canned_Server server(200, R"({"result_code": 10000, "data": {"aboutus_version": "1"}})");
  quorvane::Auth_Info info = account("AK");
  info.port = static_cast<std::uint16_t>(server.port());
  Test_Client client(info);
  quorvane::Params params;
  params["k"] = "v";
  quorvane::Version version;
  test_support::Log_Capture log;
  hmac_gives_nothing = true;
  bool got = client.get("/fcc/v1/settings", &params, version);
  hmac_gives_nothing = false;
  EXPECT_FALSE(got);
  EXPECT_EQ(0, server.requests());
  EXPECT_EQ(std::vector<test_support::Log_Record>{SIGN_FAILED}, log.records());
  EXPECT_EQ("", version.aboutus_version);
}

TEST(SignFailure, AFailedFormatNeverReachesTheGenerator)
{
  // An access key long enough that the text to sign needs the heap.
  Test_Client client(account(std::string(300, 'k')));
  HTTP_Request req(HTTP_METHOD_GET, "/fcc/v1/settings", false);
  test_support::Log_Capture log;
  hmac_calls = 0;
  fail_realloc = true;
  bool signed_ok = client.sign("/fcc/v1/settings", nullptr, req);
  fail_realloc = false;
  EXPECT_FALSE(signed_ok);
  EXPECT_EQ(0, hmac_calls.load()) << "a length of 0 or less must not be signed";
  expect_unsigned(req);
  EXPECT_EQ(std::vector<test_support::Log_Record>{SIGN_FAILED}, log.records());
}

TEST(SignFailure, ALongTextToSignIsSignedWhole)
{
  Test_Client client(account(std::string(300, 'k')));
  HTTP_Request req(HTTP_METHOD_GET, "/fcc/v1/settings", false);
  ASSERT_TRUE(client.sign("/fcc/v1/settings", nullptr, req));
  const std::string now = devhost::header_value(req.headers(), "Client-Now", true);
  EXPECT_EQ(static_cast<long>(now.size() + 1 + 300 + 1 + 16 + 1), hmac_data_length.load());
  EXPECT_STREQ("c2lnbmF0dXJl%2F%2B%3D", devhost::header_value(req.headers(), "X-Auth-Signature", true));
}

}  // namespace
