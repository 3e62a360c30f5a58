// Logins through the loaded module against the service emulator, whose
// signature check is its own implementation of the signing rule: what the
// emulator accepts, a real service accepts.

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "devhost/harness/rest_options.h"
#include "host/json_restful_client.h"
#include "host/json_spirit_utils.h"
#include "tests/support/log_capture.h"
#include "tests/support/login_fixture.h"
#include "tests/support/mock_service.h"

namespace
{
using json_spirit::Value;
using test_support::Log_Capture;
using test_support::Login_Module_Fixture;
using test_support::Mock_Service;
using test_support::Recording_Channel;

const char AK[] = "AK-e2e-0001";
const char SK[] = "the account's secret key / with + and = signs";

class End_To_End : public ::testing::Test
{
protected:
  static void SetUpTestSuite() { module_ = new Login_Module_Fixture; }
  static void TearDownTestSuite()
  {
    delete module_;
    module_ = nullptr;
  }

  static std::string params(int port, const std::string& secret, const std::string& extra = "",
                            const std::string& host = "127.0.0.1")
  {
    return R"({"host": ")" + host + R"(", "port": )" + std::to_string(port) + R"(, "access_key": ")" + AK +
           R"(", "secret_key": ")" + module_->key().encrypt(secret) + "\"" + extra + "}";
  }

  static std::string success(int id, const std::string& version)
  {
    return R"({"id":)" + std::to_string(id) +
           R"(,"jsonrpc":"2.0","result":{"code":0,"message":"Success to login","version":")" + version +
           R"("}})";
  }

  static std::string failure(int id)
  {
    return R"({"error":{"code":-32603,"message":"Failed to login Quorvane."},"id":)" + std::to_string(id) +
           R"(,"jsonrpc":"2.0"})";
  }

  std::string login(const std::string& p)
  {
    JSON_RPC_Channel_var chn(new Recording_Channel);
    module_->handler().handle_object_i(chn, Login_Module_Fixture::request(Value(1), p));
    std::vector<std::string> replies = static_cast<Recording_Channel*>(chn.get())->replies();
    EXPECT_EQ(1u, replies.size());
    return replies.empty() ? std::string() : replies[0];
  }

  static Login_Module_Fixture* module_;
};

Login_Module_Fixture* End_To_End::module_ = nullptr;

// Every form of a loopback host that the credentials accept logs in: a
// name, an IPv4 address, an IPv6 literal bare or in brackets, and an
// IPv4-mapped IPv6 address.
TEST_F(End_To_End, TheEmulatorAcceptsTheModulesSignature)
{
  Mock_Service v4({"--access-key", AK, "--secret-key", SK, "--version", "7.1.0"});
  ASSERT_TRUE(v4.running()) << v4.error();
  Mock_Service v6({"--access-key", AK, "--secret-key", SK, "--version", "7.1.0", "--listen", "[::1]:0"});
  ASSERT_TRUE(v6.running()) << v6.error();
  const struct
  {
    const char* host;
    int port;
  } rows[] = {{"127.0.0.1", v4.port()},
              {"localhost", v4.port()},
              {"::1", v6.port()},
              {"[::1]", v6.port()},
              {"::ffff:127.0.0.1", v4.port()}};
  for (const auto& row : rows)
  {
    Log_Capture log;
    EXPECT_EQ(success(1, "7.1.0"), login(params(row.port, SK, "", row.host))) << row.host;
    EXPECT_TRUE(log.records().empty()) << row.host << "\n" << log.text();
  }
}

TEST_F(End_To_End, AWrongSecretOrAccessKeyIsRefusedByTheService)
{
  Mock_Service svc({"--access-key", AK, "--secret-key", SK});
  ASSERT_TRUE(svc.running()) << svc.error();
  {
    Log_Capture log;
    EXPECT_EQ(failure(1), login(params(svc.port(), "not the secret")));
    EXPECT_NE(std::string::npos,
              log.text().find("request:'http://127.0.0.1:" + std::to_string(svc.port()) +
                              "/fcc/v1/settings': the response HTTP status is 403 Forbidden\n"))
        << log.text();
  }
  std::string p = params(svc.port(), SK);
  p.replace(p.find(AK), sizeof AK - 1, "AK-someone-else");
  Log_Capture log;
  EXPECT_EQ(failure(1), login(p));
  // What a failed GET leaves in the body is the host's choice: the line is
  // there, whatever follows it.
  EXPECT_NE(std::string::npos, log.text().find("response body:\n")) << log.text();
}

TEST_F(End_To_End, HttpsWithTheServicesCertificate)
{
  test_support::Temp_Dir dir;
  std::string error;
  ASSERT_TRUE(test_support::make_certificate(dir.file("cert.pem"), dir.file("key.pem"), "127.0.0.1",
                                             "IP:127.0.0.1", error))
      << error;
  Mock_Service svc({"--access-key", AK, "--secret-key", SK, "--version", "tls-1", "--tls-cert",
                    dir.file("cert.pem"), "--tls-key", dir.file("key.pem")});
  ASSERT_TRUE(svc.running()) << svc.error();

  devhost::Rest_Client_Options saved = devhost::rest_client_options();
  devhost::Rest_Client_Options with_ca = saved;
  with_ca.ca_file = dir.file("cert.pem");
  devhost::set_rest_client_options(with_ca);
  EXPECT_EQ(success(1, "tls-1"), login(params(svc.port(), SK, R"(, "ssl": true)")));
  {
    // The same service over plain HTTP is not the same service.
    Log_Capture log;
    EXPECT_EQ(failure(1), login(params(svc.port(), SK)));
  }
  devhost::set_rest_client_options(saved);
  Log_Capture log;
  EXPECT_EQ(failure(1), login(params(svc.port(), SK, R"(, "ssl": true)")))
      << "a self-signed certificate must not pass without its CA file";
  EXPECT_NE(std::string::npos, log.text().find("request:'https://127.0.0.1:")) << log.text();
}

// 32 logins at once through the threaded handler base, half with a wrong
// secret: every reply is the right one for its own id.
TEST_F(End_To_End, ConcurrentLoginsAreAnsweredEachForItsOwnId)
{
  Mock_Service svc({"--access-key", AK, "--secret-key", SK, "--version", "7.1.0"});
  ASSERT_TRUE(svc.running()) << svc.error();
  std::string good = params(svc.port(), SK);
  std::string bad = params(svc.port(), "wrong secret");
  // Before the pool: its workers are joined before the capture ends.
  Log_Capture log;

  struct Local_Handler
  {
    // A second handler from the same module, with its own pool of 8.
    Local_Handler()
    {
      char threads[] = "8";
      char* argv[] = {threads};
      EXPECT_EQ(0, End_To_End::module_->handler().init(1, argv));
    }
    ~Local_Handler() { End_To_End::module_->handler().fini(); }
  } pool;

  JSON_RPC_Channel_var chn(new Recording_Channel);
  JSON_RPC_Channel_wvar weak(chn);
  const int N = 32;
  for (int id = 0; id < N; ++id)
    module_->handler().handle(weak, Login_Module_Fixture::request(Value(id), id % 2 == 0 ? good : bad));
  Recording_Channel& recorded = *static_cast<Recording_Channel*>(chn.get());
  ASSERT_TRUE(recorded.wait_for(N, 120)) << recorded.replies().size() << " of " << N << " replies";

  std::vector<std::string> replies = recorded.replies();
  ASSERT_EQ(static_cast<std::size_t>(N), replies.size());
  std::vector<std::string> want;
  for (int id = 0; id < N; ++id)
    want.push_back(id % 2 == 0 ? success(id, "7.1.0") : failure(id));
  std::sort(want.begin(), want.end());
  std::sort(replies.begin(), replies.end());
  EXPECT_EQ(want, replies);
}

}  // namespace
