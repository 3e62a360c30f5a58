// quorvane-host rpc and login, run as a user runs them.

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/mock_service.h"
#include "tests/support/test_key.h"

namespace
{
using test_support::Mock_Service;
using test_support::Program_Result;
using test_support::run_program;

const char AK[] = "AK-tool";
const char SK[] = "tool test secret key";

std::vector<std::string> lines(const std::string& text)
{
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    out.push_back(line);
  return out;
}

class Host_Program : public ::testing::Test
{
protected:
  static void SetUpTestSuite() { key_ = new test_support::Test_Key; }
  static void TearDownTestSuite()
  {
    delete key_;
    key_ = nullptr;
  }

  void SetUp() override
  {
    svc_.reset(new Mock_Service({"--access-key", AK, "--secret-key", SK, "--version", "7.1.0"}));
    ASSERT_TRUE(svc_->running()) << svc_->error();
  }

  std::string login_params(const std::string& secret) const
  {
    return R"({"host":"127.0.0.1","port":)" + std::to_string(svc_->port()) + R"(,"access_key":")" + AK +
           R"(","secret_key":")" + key_->encrypt(secret) + R"("})";
  }

  Program_Result rpc(const std::string& input, std::vector<std::string> extra = {})
  {
    std::vector<std::string> argv = {QUORVANE_HOST_PATH, "rpc", "--key", key_->file()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return run_program(argv, input);
  }

  static test_support::Test_Key* key_;
  std::unique_ptr<Mock_Service> svc_;
};

test_support::Test_Key* Host_Program::key_ = nullptr;

const char OK_RESULT[] = R"("result":{"code":0,"message":"Success to login","version":"7.1.0"})";

TEST_F(Host_Program, RpcAnswersEachLine)
{
  const std::string input =
      R"({"jsonrpc":"2.0","id":1,"method":"login","params":)" + login_params(SK) + "}\n" +
      R"({"jsonrpc":"2.0","id":2,"method":"logout","params":{}})" "\n"
      "this is not json\n"
      R"({"jsonrpc":"1.0","id":4,"method":"login"})" "\n"
      R"({"jsonrpc":"2.0","id":5,"method":"login","params":[1]})" "\n"
      R"({"jsonrpc":"2.0","id":6,"method":"login"})" "\n"
      R"({"jsonrpc":"2.0","method":"login","params":{}})" "\n"
      "\n";
  Program_Result r = rpc(input);
  ASSERT_EQ(0, r.exit_code) << r.err;
  std::vector<std::string> got = lines(r.out);
  std::sort(got.begin(), got.end());
  std::vector<std::string> want = {
      R"({"error":{"code":-32600,"message":"Invalid Request"},"id":4,"jsonrpc":"2.0"})",
      R"({"error":{"code":-32601,"message":"Method not found"},"id":2,"jsonrpc":"2.0"})",
      R"({"error":{"code":-32602,"message":"Invalid params: params type must be object."},"id":5,"jsonrpc":"2.0"})",
      R"({"error":{"code":-32602,"message":"Invalid params: params type must be object."},"id":6,"jsonrpc":"2.0"})",
      R"({"error":{"code":-32700,"message":"Parse error"},"id":null,"jsonrpc":"2.0"})",
      std::string(R"({"id":1,"jsonrpc":"2.0",)") + OK_RESULT + "}",
  };
  std::sort(want.begin(), want.end());
  EXPECT_EQ(want, got) << r.err;
  // The notification went to the handler too; it answered nothing.
  EXPECT_NE(std::string::npos, r.err.find("obj is not JSON-RPC request!")) << r.err;
}

TEST_F(Host_Program, RpcBatches)
{
  const std::string input =
      "[" + std::string(R"({"jsonrpc":"2.0","id":"a","method":"login","params":)") + login_params(SK) +
      "}," R"({"jsonrpc":"2.0","id":"b","method":"nope"},)" "5]\n"
      "[]\n"
      R"([{"jsonrpc":"2.0","method":"login","params":{}},{"jsonrpc":"2.0","method":"other"}])" "\n";
  Program_Result r = rpc(input);
  ASSERT_EQ(0, r.exit_code) << r.err;
  std::vector<std::string> got = lines(r.out);
  ASSERT_EQ(2u, got.size()) << r.out;
  // One array for the batch (in any order), one error for the empty batch,
  // nothing for the batch of notifications.
  const std::string& batch = got[0][0] == '[' ? got[0] : got[1];
  const std::string& empty = got[0][0] == '[' ? got[1] : got[0];
  EXPECT_EQ(R"({"error":{"code":-32600,"message":"Invalid Request"},"id":null,"jsonrpc":"2.0"})", empty);
  EXPECT_NE(std::string::npos, batch.find(std::string(R"({"id":"a","jsonrpc":"2.0",)") + OK_RESULT)) << batch;
  EXPECT_NE(std::string::npos, batch.find(R"({"error":{"code":-32601,"message":"Method not found"},"id":"b")"))
      << batch;
  EXPECT_NE(std::string::npos, batch.find(R"({"error":{"code":-32600,"message":"Invalid Request"},"id":null)"))
      << batch;
}

TEST_F(Host_Program, RpcAnswersManyRequestsWithoutLosingOne)
{
  std::string input;
  const int N = 40;
  for (int id = 0; id < N; ++id)
    input += R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":"signin","params":)" +
             login_params(id % 3 == 0 ? "wrong" : SK) + "}\n";
  Program_Result r = rpc(input, {"--method", "signin", "--threads", "8"});
  ASSERT_EQ(0, r.exit_code) << r.err;
  std::vector<std::string> got = lines(r.out);
  ASSERT_EQ(static_cast<std::size_t>(N), got.size());
  for (int id = 0; id < N; ++id)
  {
    std::string want = id % 3 == 0 ? R"({"error":{"code":-32603,"message":"Failed to login Quorvane."},"id":)" +
                                         std::to_string(id) + R"(,"jsonrpc":"2.0"})"
                                   : R"({"id":)" + std::to_string(id) + R"(,"jsonrpc":"2.0",)" + OK_RESULT + "}";
    EXPECT_EQ(1, std::count(got.begin(), got.end(), want)) << want;
  }
}

TEST_F(Host_Program, LoginExitsZeroOnSuccessAndOneOnAnError)
{
  const std::vector<std::string> base = {QUORVANE_HOST_PATH, "login",         "--key", key_->file(), "--host",
                                         "127.0.0.1",        "--port",        std::to_string(svc_->port()),
                                         "--access-key",     AK};
  Program_Result ok = run_program(base, std::string(SK) + "\n");
  EXPECT_EQ(0, ok.exit_code) << ok.err;
  EXPECT_NE(std::string::npos, ok.out.find("\"version\": \"7.1.0\"")) << ok.out;

  Program_Result from_env = run_program(base, "", 60000, {std::string("QUORVANE_SECRET_KEY=") + SK});
  EXPECT_EQ(0, from_env.exit_code) << from_env.err;

  Program_Result wrong = run_program(base, "wrong secret\n");
  EXPECT_EQ(1, wrong.exit_code);
  EXPECT_NE(std::string::npos, wrong.out.find("Failed to login Quorvane.")) << wrong.out;
  EXPECT_EQ(std::string::npos, wrong.err.find("wrong secret")) << "the secret must not be logged";
}

TEST_F(Host_Program, BadArgumentsPrintUsage)
{
  Program_Result r = run_program({QUORVANE_HOST_PATH, "login", "--host", "127.0.0.1"}, "x\n");
  EXPECT_EQ(2, r.exit_code);
  EXPECT_NE(std::string::npos, r.err.find("usage: quorvane-host login")) << r.err;
  r = run_program({QUORVANE_HOST_PATH, "rpc", "--nonsense"});
  EXPECT_EQ(2, r.exit_code);
  r = run_program({QUORVANE_HOST_PATH, "probe", "--module", "/nonexistent/libquorvane.so"});
  EXPECT_EQ(1, r.exit_code);
  EXPECT_NE(std::string::npos, r.err.find("cannot load module")) << r.err;
}

}  // namespace
