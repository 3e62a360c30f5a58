// quorvane-host rpc and login, run as a user runs them; the usage texts of
// both programs and their manual pages.  serve has host_serve_test.cpp.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/canned_server.h"
#include "tests/support/mock_service.h"
#include "tests/support/test_key.h"

namespace
{
using test_support::Canned_Server;
using test_support::Child_Process;
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

  std::string login_params(const std::string& secret, int port = 0) const
  {
    return R"({"host":"127.0.0.1","port":)" + std::to_string(port != 0 ? port : svc_->port()) +
           R"(,"access_key":")" + AK + R"(","secret_key":")" + key_->encrypt(secret) + R"("})";
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
  const std::string input = R"({"jsonrpc":"2.0","id":1,"method":"login","params":)" + login_params(SK) +
                            "}\n" +
                            R"({"jsonrpc":"2.0","id":2,"method":"logout","params":{}})"
                            "\n"
                            "this is not json\n"
                            R"({"jsonrpc":"1.0","id":4,"method":"login"})"
                            "\n"
                            R"({"jsonrpc":"2.0","id":5,"method":"login","params":[1]})"
                            "\n"
                            R"({"jsonrpc":"2.0","id":6,"method":"login"})"
                            "\n"
                            R"({"jsonrpc":"2.0","method":"login","params":{}})"
                            "\n"
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
      "},"
      R"({"jsonrpc":"2.0","id":"b","method":"nope"},)"
      "5]\n"
      "[]\n"
      R"([{"jsonrpc":"2.0","method":"login","params":{}},{"jsonrpc":"2.0","method":"other"}])"
      "\n";
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
  EXPECT_NE(std::string::npos,
            batch.find(R"({"error":{"code":-32601,"message":"Method not found"},"id":"b")"))
      << batch;
  EXPECT_NE(std::string::npos,
            batch.find(R"({"error":{"code":-32600,"message":"Invalid Request"},"id":null)"))
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
    std::string want = id % 3 == 0
                           ? R"({"error":{"code":-32603,"message":"Failed to login Quorvane."},"id":)" +
                                 std::to_string(id) + R"(,"jsonrpc":"2.0"})"
                           : R"({"id":)" + std::to_string(id) + R"(,"jsonrpc":"2.0",)" + OK_RESULT + "}";
    EXPECT_EQ(1, std::count(got.begin(), got.end(), want)) << want;
  }
}

TEST_F(Host_Program, LoginExitsZeroOnSuccessAndOneOnAnError)
{
  const std::vector<std::string> base = {
      QUORVANE_HOST_PATH,           "login",        "--key", key_->file(), "--host", "127.0.0.1", "--port",
      std::to_string(svc_->port()), "--access-key", AK};
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
  r = run_program({QUORVANE_HOST_PATH, "probe", "--module", "/nonexistent/libquorvane.so"});
  EXPECT_EQ(1, r.exit_code);
  EXPECT_NE(std::string::npos, r.err.find("cannot load module")) << r.err;
  const std::vector<std::vector<std::string>> bad = {
      {"--threads=4"}, {"--threads", "0"}, {"--max-line", "0"}, {"--max-queue", "many"}, {"--max-line"}};
  for (const std::vector<std::string>& args : bad)
  {
    std::vector<std::string> argv = {QUORVANE_HOST_PATH, "rpc"};
    argv.insert(argv.end(), args.begin(), args.end());
    r = run_program(argv);
    EXPECT_EQ(2, r.exit_code) << args[0];
    EXPECT_NE(std::string::npos, r.err.find("usage: quorvane-host rpc")) << r.err;
  }
}

// The usage of the program and of each command: on stdout with status 0
// when asked for, on stderr with status 2 after a wrong command line.
TEST_F(Host_Program, HelpGoesToStdoutAndErrorsToStderr)
{
  for (const char* command : {"", "probe", "keygen", "encrypt", "login", "rpc", "serve"})
  {
    SCOPED_TRACE(command);
    std::vector<std::string> argv = {QUORVANE_HOST_PATH};
    if (*command != '\0')
      argv.push_back(command);
    for (const char* help : {"--help", "-h"})
    {
      argv.push_back(help);
      Program_Result r = run_program(argv);
      argv.pop_back();
      EXPECT_EQ(0, r.exit_code) << r.err;
      EXPECT_EQ(0u, r.out.find(std::string("usage: quorvane-host ") + (*command ? command : "COMMAND")))
          << r.out;
      EXPECT_EQ("", r.err);
    }
    argv.push_back("--no-such-option");
    Program_Result r = run_program(argv);
    EXPECT_EQ(2, r.exit_code);
    EXPECT_EQ("", r.out);
    EXPECT_NE(std::string::npos, r.err.find("usage: quorvane-host")) << r.err;
  }
  Program_Result none = run_program({QUORVANE_HOST_PATH});
  EXPECT_EQ(2, none.exit_code);
  EXPECT_NE(std::string::npos, none.err.find("usage: quorvane-host COMMAND")) << none.err;
}

std::string file_text(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// The words of @a text that match @a pattern.
std::set<std::string> names_in(const std::string& text, const char* pattern)
{
  std::set<std::string> out;
  const std::regex name(pattern);
  for (std::sregex_iterator it(text.begin(), text.end(), name), end; it != end; ++it)
    out.insert(it->str());
  return out;
}

const char OPTION[] = "--[a-z][a-z-]*[a-z]";
const char VARIABLE[] = "QUORVANE_[A-Z_]*[A-Z]";

/// A roff source as words: the escapes for a minus and for fonts undone.
std::string roff_words(const std::string& roff)
{
  return std::regex_replace(std::regex_replace(roff, std::regex(R"(\\-)"), "-"), std::regex(R"(\\f[BIRP])"),
                            "");
}

// The manual pages (man/*.1) name exactly the options the programs' usage
// texts name, and every variable they name; groff renders them without a
// warning.
TEST_F(Host_Program, ManPagesMatchTheUsageTexts)
{
  std::string host_help;
  for (const char* command : {"probe", "keygen", "encrypt", "login", "rpc", "serve"})
    host_help += run_program({QUORVANE_HOST_PATH, command, "--help"}).out;
  const std::string mock_help = run_program({Mock_Service::program(), "--help"}).out;
  struct Page
  {
    std::string file;
    std::string help;
  } pages[] = {{"quorvane-host.1", host_help}, {"quorvane-mock-service.1", mock_help}};
  for (const Page& page : pages)
  {
    SCOPED_TRACE(page.file);
    const std::string path = std::string(QUORVANE_SOURCE_DIR) + "/man/" + page.file;
    const std::string roff = file_text(path);
    ASSERT_FALSE(roff.empty()) << path;
    const std::string words = roff_words(roff);
    std::set<std::string> options = names_in(page.help, OPTION);
    ASSERT_GT(options.size(), 5u) << page.help;
    options.insert("--help");
    EXPECT_EQ(options, names_in(words, OPTION)) << "the same options, none stale";
    // The page names more variables than the usage texts do.
    for (const std::string& variable : names_in(page.help, VARIABLE))
      EXPECT_NE(std::string::npos, words.find(variable)) << variable;
    if (page.file == "quorvane-host.1")
    {
      for (const char* command : {"probe", "keygen", "encrypt", "login", "rpc", "serve"})
        EXPECT_NE(std::string::npos, roff.find(std::string(".SS ") + command)) << command;
    }

    // groff -ww reports every warning; -z writes nothing but them.
    Program_Result groff = run_program({"groff", "-man", "-Tutf8", "-ww", "-z", path});
    if (groff.exit_code == -1 && groff.err.find("cannot run") != std::string::npos)
    {
      std::printf("groff (Debian's groff-base) is not installed: %s was not rendered\n", page.file.c_str());
      continue;
    }
    EXPECT_EQ(0, groff.exit_code) << groff.err;
    EXPECT_EQ("", groff.err);
  }
}

// The secret key given in QUORVANE_SECRET_KEY is wiped from the login's
// environment once read: /proc/PID/environ, which shows the memory the
// environment was first given in, no longer holds it while the login waits
// for the service.  (Under an exec wrapper the PID is qemu's, whose own
// copy of the environment stays, so that part is left out.)
TEST_F(Host_Program, LoginTakesTheSecretOutOfItsEnvironment)
{
  Canned_Server server(200, R"({"result_code": 10000, "data": {"aboutus_version": "env-1"}})");
  server.hold();
  Child_Process login({QUORVANE_HOST_PATH, "login", "--key", key_->file(), "--host", "127.0.0.1", "--port",
                       std::to_string(server.port()), "--access-key", AK},
                      {std::string("QUORVANE_SECRET_KEY=") + SK});
  ASSERT_TRUE(login.started()) << login.error();
  ASSERT_TRUE(server.wait_requests(1)) << login.stderr_text();
  if (std::getenv("QUORVANE_TEST_EXEC_WRAPPER") == nullptr)
  {
    std::string environ_text = file_text("/proc/" + std::to_string(login.pid()) + "/environ");
    EXPECT_NE(std::string::npos, environ_text.find("PATH=")) << "read the wrong file?";
    EXPECT_EQ(std::string::npos, environ_text.find(SK));
  }
  server.release();
  std::string out;
  EXPECT_EQ(0, login.finish(&out)) << login.stderr_text();
  EXPECT_NE(std::string::npos, out.find("env-1")) << out;
}

// A line longer than --max-line is answered as soon as it passes the limit,
// before it ends (so it is never held whole), and the rest of it is skipped;
// a line of exactly the limit is read.  The replies here come from the
// session itself (another method), so no service is involved.
TEST_F(Host_Program, RpcAnswersAnOverlongLineBeforeItEnds)
{
  const std::string other = R"({"jsonrpc":"2.0","id":7,"method":"other"})";
  const std::string at_limit = other + std::string(1000 - other.size(), ' ');
  Child_Process rpc({QUORVANE_HOST_PATH, "rpc", "--key", key_->file(), "--max-line", "1000"});
  ASSERT_TRUE(rpc.started()) << rpc.error();
  ASSERT_TRUE(rpc.write(at_limit + "\n" + std::string(1001, '[')));
  std::string line;
  ASSERT_TRUE(rpc.read_line(line)) << rpc.stderr_text();
  EXPECT_EQ(R"({"error":{"code":-32601,"message":"Method not found"},"id":7,"jsonrpc":"2.0"})", line);
  ASSERT_TRUE(rpc.read_line(line)) << rpc.stderr_text();
  EXPECT_EQ(
      R"({"error":{"code":-32600,"data":"the line is longer than 1000 bytes","message":"Invalid Request"},)"
      R"("id":null,"jsonrpc":"2.0"})",
      line);
  ASSERT_TRUE(rpc.write(std::string(100000, '[') + "\n" + other + "\n"));
  std::string rest;
  EXPECT_EQ(0, rpc.finish(&rest));
  EXPECT_EQ(R"({"error":{"code":-32601,"message":"Method not found"},"id":7,"jsonrpc":"2.0"})"
            "\n",
            rest);
  EXPECT_NE(std::string::npos, rpc.stderr_text().find("line 2 is longer than 1000 bytes; skipped"))
      << rpc.stderr_text();
}

// Replies that cannot be written are requests lost: the rpc says so and
// fails instead of ending as if all were answered.
TEST_F(Host_Program, RpcFailsWhenItsRepliesCannotBeWritten)
{
  // The shell redirects; a cross build's emulator (the words of
  // QUORVANE_TEST_EXEC_WRAPPER, when set) must then start the program.
  Child_Process rpc({"/bin/sh", "-c", "exec $QUORVANE_TEST_EXEC_WRAPPER \"$0\" rpc --key \"$1\" >/dev/full",
                     QUORVANE_HOST_PATH, key_->file()});
  ASSERT_TRUE(rpc.started()) << rpc.error();
  ASSERT_TRUE(rpc.write(R"({"jsonrpc":"2.0","id":7,"method":"other"})" "\n"));
  rpc.close_stdin();
  EXPECT_EQ(1, rpc.finish());
  EXPECT_NE(std::string::npos, rpc.stderr_text().find("cannot write the replies to stdout: No space left on device"))
      << rpc.stderr_text();
}

// With one worker and --max-queue 1, two requests fill the handler's hands
// (one held by the service, one waiting), and the rpc stops reading: the
// line after the third request is not answered until the service lets the
// first one go.  The lines between the requests are answered by the
// session itself and show how far it has read.
TEST_F(Host_Program, RpcStopsReadingWhileTheQueueIsFull)
{
  Canned_Server server(200, R"({"result_code": 10000, "data": {"aboutus_version": "q-1"}})");
  server.hold();
  auto request = [this, &server](int id)
  {
    return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":"login","params":)" +
           login_params(SK, server.port()) + "}\n";
  };
  auto probe = [](const char* id)
  {
    return std::string(R"({"jsonrpc":"2.0","id":")") + id +
           R"(","method":"x"})"
           "\n";
  };
  Child_Process rpc({QUORVANE_HOST_PATH, "rpc", "--key", key_->file(), "--threads", "1", "--max-queue", "1"});
  ASSERT_TRUE(rpc.started()) << rpc.error();
  ASSERT_TRUE(rpc.write(request(1) + probe("p1") + request(2) + probe("p2") + request(3) + probe("p3")));
  ASSERT_TRUE(server.wait_requests(1)) << rpc.stderr_text();
  std::vector<std::string> got(2);
  ASSERT_TRUE(rpc.read_line(got[0]) && rpc.read_line(got[1])) << rpc.stderr_text();
  EXPECT_NE(std::string::npos, got[0].find(R"("id":"p1")")) << got[0];
  EXPECT_NE(std::string::npos, got[1].find(R"("id":"p2")")) << got[1];
  server.release();
  std::string rest;
  EXPECT_EQ(0, rpc.finish(&rest)) << rpc.stderr_text();
  std::vector<std::string> after = lines(rest);
  ASSERT_EQ(4u, after.size()) << rest;
  auto position = [&after](const std::string& text)
  {
    return std::find_if(after.begin(), after.end(),
                        [&text](const std::string& l) { return l.find(text) != std::string::npos; }) -
           after.begin();
  };
  EXPECT_LT(position(R"("id":1,)"), position(R"("id":"p3")")) << rest;
  EXPECT_EQ(3, std::count_if(after.begin(), after.end(),
                             [](const std::string& l) { return l.find("q-1") != std::string::npos; }))
      << rest;
}

}  // namespace
