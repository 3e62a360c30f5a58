// The service emulator: its signature check against an independent
// reference signer (Python's hmac, base64 and urllib.parse.quote), its
// refusals, fault modes, logging and clean stop.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "devhost/harness/rest_options.h"
#include "tests/devhost/json_restful_client_fixture.h"
#include "tests/support/mock_service.h"

namespace
{
using rest_client_test::fetch;
using rest_client_test::Reply;
using test_support::Mock_Service;
using test_support::Program_Result;
using test_support::run_program;

const char* const AK = "AK-7f3a";
const char* const SK = "SK-e1b9c0d2-secret-key-of-the-account";

// The reference signer: the rule as a service developer would write it in
// Python, sharing nothing with the emulator's C++.
const char* const REFERENCE_SIGNER = R"PY(
import base64, hashlib, hmac, sys, urllib.parse
now, ak, sk, path, query = sys.argv[1:6]
text = now + "_" + ak + "_" + path + "_" + query
mac = hmac.new(sk.encode(), text.encode(), hashlib.sha256).digest()
print(urllib.parse.quote(base64.b64encode(mac).decode(), safe=""))
)PY";

std::string reference_signature(const std::string& now, const std::string& ak, const std::string& sk,
                                const std::string& path, const std::string& query)
{
  Program_Result r = run_program({"python3", "-c", REFERENCE_SIGNER, now, ak, sk, path, query});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  while (!r.out.empty() && (r.out.back() == '\n' || r.out.back() == '\r'))
    r.out.pop_back();
  return r.out;
}

std::string now_ms(long offset_s = 0)
{
  return std::to_string((static_cast<long long>(std::time(nullptr)) + offset_s) * 1000);
}

/// A settings request signed by the reference signer with the given parts.
Reply signed_get(int port, const std::string& now, const std::string& ak, const std::string& sk,
                 const std::string& query = "", const std::string& signed_query = "(same)")
{
  std::string sig =
      reference_signature(now, ak, sk, "/fcc/v1/settings", signed_query == "(same)" ? query : signed_query);
  return fetch("127.0.0.1", port, false, "/fcc/v1/settings", query,
               {{"Client-Now", now}, {"X-Auth-Accesskey", ak}, {"X-Auth-Signature", sig}});
}

long long result_code(const Reply& r)
{
  if (r.body.type() != json_spirit::obj_type)
    return -1;
  auto it = r.body.get_obj().find("result_code");
  return it == r.body.get_obj().end() ? -1 : it->second.get_int64();
}

std::string version(const Reply& r)
{
  if (r.body.type() != json_spirit::obj_type || r.body.get_obj().count("data") == 0)
    return "(none)";
  const json_spirit::Object& data = r.body.get_obj().at("data").get_obj();
  auto it = data.find("aboutus_version");
  return it == data.end() ? "(none)" : it->second.get_str();
}

std::vector<std::string> service_args(std::vector<std::string> extra = {})
{
  std::vector<std::string> args = {"--access-key", AK, "--secret-key", SK, "--version", "7.3.1-test"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

TEST(Mock_Service, AcceptsRequestSignedByTheReference)
{
  Mock_Service svc(service_args());
  ASSERT_TRUE(svc.running()) << svc.error();
  Reply r = signed_get(svc.port(), now_ms(), AK, SK);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(result_code(r), 10000);
  EXPECT_EQ(version(r), "7.3.1-test");
}

TEST(Mock_Service, SignatureCoversTheRawQuery)
{
  Mock_Service svc(service_args());
  ASSERT_TRUE(svc.running()) << svc.error();
  EXPECT_EQ(signed_get(svc.port(), now_ms(), AK, SK, "a=x+y&b=%2F").status, 200);
  Reply tampered = signed_get(svc.port(), now_ms(), AK, SK, "a=x+y&b=%2F", "a=x+y&b=%2Fz");
  EXPECT_EQ(tampered.status, 403);
  EXPECT_EQ(result_code(tampered), 10005);
}

TEST(Mock_Service, RefusesWrongSignatureAccessKeyAndClock)
{
  Mock_Service svc(service_args({"--max-skew", "300"}));
  ASSERT_TRUE(svc.running()) << svc.error();
  struct Case
  {
    const char* what;
    Reply reply;
    int status;
    int code;
  } cases[] = {
      {"signed with another secret", signed_get(svc.port(), now_ms(), AK, "another-secret"), 403, 10005},
      {"another access key", signed_get(svc.port(), now_ms(), "AK-other", SK), 403, 10004},
      {"Client-Now ten minutes old", signed_get(svc.port(), now_ms(-600), AK, SK), 401, 10003},
      {"Client-Now ten minutes ahead", signed_get(svc.port(), now_ms(600), AK, SK), 401, 10003},
      {"Client-Now that is not a number", signed_get(svc.port(), "17e11", AK, SK), 401, 10002},
      {"no headers at all", fetch("127.0.0.1", svc.port(), false, "/fcc/v1/settings"), 401, 10001},
  };
  for (const Case& c : cases)
  {
    EXPECT_FALSE(c.reply.ok) << c.what;
    EXPECT_EQ(c.reply.status, c.status) << c.what;
    EXPECT_EQ(result_code(c.reply), c.code) << c.what;
    ASSERT_EQ(c.reply.body.type(), json_spirit::obj_type) << c.what;
    EXPECT_EQ(c.reply.body.get_obj().count("message"), 1u) << c.what;
  }
  // Within the allowed skew is fine.
  EXPECT_EQ(signed_get(svc.port(), now_ms(-60), AK, SK).status, 200);
}

TEST(Mock_Service, BodyFaults)
{
  {
    Mock_Service svc(service_args({"--fault", "no-version"}));
    ASSERT_TRUE(svc.running()) << svc.error();
    Reply r = signed_get(svc.port(), now_ms(), AK, SK);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(result_code(r), 10000);
    EXPECT_EQ(version(r), "(none)");
  }
  {
    Mock_Service svc(service_args({"--fault", "array"}));
    ASSERT_TRUE(svc.running()) << svc.error();
    Reply r = signed_get(svc.port(), now_ms(), AK, SK);
    EXPECT_EQ(r.body.type(), json_spirit::array_type);
  }
  {
    Mock_Service svc(service_args({"--fault", "not-json"}));
    ASSERT_TRUE(svc.running()) << svc.error();
    Reply r = signed_get(svc.port(), now_ms(), AK, SK);
    EXPECT_EQ(r.status, 200);
    EXPECT_TRUE(r.body.is_null());
  }
}

TEST(Mock_Service, LogsOneLinePerRequestWithoutSecrets)
{
  Mock_Service svc(service_args());
  ASSERT_TRUE(svc.running()) << svc.error();
  std::string now = now_ms();
  std::string sig = reference_signature(now, AK, SK, "/fcc/v1/settings", "");
  signed_get(svc.port(), now, AK, SK);
  signed_get(svc.port(), now, AK, "wrong");
  std::string log = svc.stderr_text();
  EXPECT_NE(log.find("GET /fcc/v1/settings from 127.0.0.1:"), std::string::npos) << log;
  EXPECT_NE(log.find("-> 200 ok"), std::string::npos) << log;
  EXPECT_NE(log.find("-> 403 the signature does not match"), std::string::npos) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
  EXPECT_EQ(log.find(SK), std::string::npos) << "the secret key is never logged";
  EXPECT_EQ(log.find(sig), std::string::npos) << "nor a signature";
}

TEST(Mock_Service, StopsCleanlyOnSigtermAndSigint)
{
  Mock_Service term(service_args());
  ASSERT_TRUE(term.running()) << term.error();
  EXPECT_EQ(term.stop(), 0);

  Mock_Service interrupted(service_args());
  ASSERT_TRUE(interrupted.running()) << interrupted.error();
  ASSERT_EQ(::kill(interrupted.pid(), SIGINT), 0);
  EXPECT_EQ(interrupted.stop(), 0);
}

TEST(Mock_Service, StopsPromptlyWithARequestHeldAndAConnectionOpen)
{
  Mock_Service svc(service_args({"--fault", "no-reply"}));
  ASSERT_TRUE(svc.running()) << svc.error();
  devhost::Rest_Client_Options saved = devhost::rest_client_options();
  devhost::Rest_Client_Options o = saved;
  o.timeout_ms = 200;
  devhost::set_rest_client_options(o);
  fetch("127.0.0.1", svc.port(), false, "/echo");
  devhost::set_rest_client_options(saved);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(svc.stop(), 0);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 3.0);
}

TEST(Mock_Service, StopsWhenItsLauncherGoes)
{
  // run_program closes the emulator's stdin at once, as a launcher's death
  // would; the emulator must then exit by itself, cleanly.
  Program_Result r = run_program(
      {Mock_Service::program(), "--access-key", AK, "--listen", "127.0.0.1:0", "--stop-on-stdin-eof"}, "",
      10000, {std::string("QUORVANE_SECRET_KEY=") + SK});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.compare(0, 23, "listening on 127.0.0.1:"), 0) << r.out;
}

TEST(Mock_Service, TakesTheSecretKeyFromAFileOrTheEnvironment)
{
  test_support::Temp_Dir dir;
  const std::string file = dir.file("secret");
  std::ofstream(file) << SK << "\n";
  ::chmod(file.c_str(), 0600);
  {
    Mock_Service svc({"--access-key", AK, "--secret-key-file", file});
    ASSERT_TRUE(svc.running()) << svc.error();
    EXPECT_EQ(signed_get(svc.port(), now_ms(), AK, SK).status, 200) << "one trailing line break is dropped";
    EXPECT_EQ(svc.stderr_text().find("warning"), std::string::npos) << svc.stderr_text();
  }
  {
    // The launcher hands "--secret-key" over in QUORVANE_SECRET_KEY; once
    // read, its value is gone from what /proc shows of the emulator's
    // environment (the text, not only the pointer to it).  Under an exec
    // wrapper the PID is the emulator's (qemu's), whose own copy stays.
    Mock_Service svc(service_args());
    ASSERT_TRUE(svc.running()) << svc.error();
    EXPECT_EQ(signed_get(svc.port(), now_ms(), AK, SK).status, 200);
    if (std::getenv("QUORVANE_TEST_EXEC_WRAPPER") == nullptr)
    {
      std::ifstream in("/proc/" + std::to_string(svc.pid()) + "/environ", std::ios::binary);
      std::string environ_text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      ASSERT_NE(environ_text.find("PATH="), std::string::npos) << "read the wrong file?";
      EXPECT_EQ(environ_text.find(SK), std::string::npos);
    }
  }
  // On the command line it still works, with a warning about ps.
  Program_Result r = run_program(
      {Mock_Service::program(), "--access-key", AK, "--secret-key", SK, "--stop-on-stdin-eof"}, "", 10000);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("warning: --secret-key puts the secret key where every local user can read it"),
            std::string::npos)
      << r.err;
}

TEST(Mock_Service, HelpGoesToStdout)
{
  Program_Result r = run_program({Mock_Service::program(), "--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.compare(0, 28, "usage: quorvane-mock-service"), 0) << r.out;
  EXPECT_EQ(r.err, "");
}

TEST(Mock_Service, UsageOnBadArguments)
{
  test_support::Temp_Dir dir;
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  std::ofstream(dir.file("empty"));
  const std::string env = std::string("QUORVANE_SECRET_KEY=") + SK;
  struct Case
  {
    std::vector<std::string> args;
    std::string env;
    int status;
    std::string says;
  } cases[] = {
      {{"--access-key", AK}, "", 2, "the account's secret key is required"},
      {{"--secret-key-file", dir.file("empty")}, env, 2, "--access-key is required"},
      {{"--access-key", AK, "--fault", "explode"}, env, 2, "bad value for --fault: 'explode'"},
      {{"--access-key", AK, "--listen", "127.0.0.1"}, env, 2, "bad value for --listen"},
      {{"--access-key", AK, "--tls-cert", "x.pem"}, env, 2, "go together"},
      {{"--access-key", AK, "--max-skew", "-1"}, env, 2, "bad value for --max-skew: '-1'"},
      {{"--access-key", AK, "--bogus"}, env, 2, "unknown option --bogus"},
      {{"--access-key", AK, "--secret-key-file"}, "", 2, "--secret-key-file needs a value"},
      {{"--access-key", AK, "--secret-key-file", "f", "--secret-key", SK}, "", 2, "give the secret key once"},
      // A FIFO is refused at once, not waited on (nothing writes to it).
      {{"--access-key", AK, "--secret-key-file", dir.file("fifo")}, "", 1, "must be a regular file"},
      {{"--access-key", AK, "--secret-key-file", dir.file("empty")},
       "",
       1,
       "must be a regular file of 1 to 4096"},
      {{"--access-key", AK, "--secret-key-file", dir.file("absent")},
       "",
       1,
       "cannot open the secret key file"},
  };
  for (const Case& c : cases)
  {
    std::vector<std::string> argv{Mock_Service::program()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Program_Result r = run_program(
        argv, "", 10000, c.env.empty() ? std::vector<std::string>() : std::vector<std::string>{c.env});
    EXPECT_EQ(r.exit_code, c.status) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("usage: quorvane-mock-service") != std::string::npos, c.status == 2) << r.err;
  }
}

TEST(Mock_Service, LauncherReportsAFailedStart)
{
  Mock_Service bad({"--access-key", AK});
  EXPECT_FALSE(bad.running());
  EXPECT_NE(bad.error().find("ended before it listened"), std::string::npos) << bad.error();
  EXPECT_NE(bad.error().find("the account's secret key is required"), std::string::npos)
      << "its stderr is quoted";
}

}  // namespace
