// quorvane-host serve, the web service agent, as a browser or a JSON-RPC
// client over HTTP meets it: the page's files, the public key, the /rpc
// edges, Origin, the bound of requests in hand, silent clients, a login end
// to end, the access log and a stop with a request in hand.

#include <cerrno>
#include <chrono>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include "tests/support/canned_server.h"
#include "tests/support/host_serve.h"
#include "tests/support/mock_service.h"
#include "tests/support/test_key.h"

namespace
{
using test_support::Canned_Server;
using test_support::Child_Process;
using test_support::Mock_Service;
using test_support::Temp_Dir;

const char AK[] = "AK-serve";
const char SK[] = "serve test secret key, longer than a small string";
const char CSP[] =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
    "base-uri 'none'; form-action 'self'; frame-ancestors 'none'";
const char JSON[] = "application/json";

void write_file(const std::string& path, const std::string& text)
{
  std::ofstream(path, std::ios::binary) << text;
}

class Host_Serve : public ::testing::Test
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
    write_file(web_.file("index.html"), "<!doctype html><title>login</title>");
    write_file(web_.file("login.js"), "'use strict';");
    write_file(web_.file(".hidden.js"), "hidden");
    write_file(web_.file("tool.exe"), "binary");
    ASSERT_EQ(0, ::mkdir(web_.file("sub.js").c_str(), 0700));
    ASSERT_EQ(0, ::mkfifo(web_.file("pipe.js").c_str(), 0600));
  }

  /// Starts serve with the test key and page, plus @a extra.
  void start(std::vector<std::string> extra = {})
  {
    std::vector<std::string> args = {"--key", key_->file(), "--assets", web_.path()};
    args.insert(args.end(), extra.begin(), extra.end());
    serve_.reset(new test_support::Host_Serve_Process(QUORVANE_HOST_PATH, args));
    ASSERT_GT(serve_->port(), 0) << serve_->error();
    client_.reset(new httplib::Client("127.0.0.1", serve_->port()));
    client_->set_read_timeout(60, 0);
  }

  httplib::Result post(const std::string& body, const std::string& type = JSON, httplib::Headers headers = {})
  {
    return client_->Post("/rpc", headers, body, type.c_str());
  }

  /// A good login to the service on @a port, posted on a thread of its own.
  std::future<httplib::Result> login_in_background(int port)
  {
    const int serve_port = serve_->port();
    return std::async(std::launch::async,
                      [serve_port, port]
                      {
                        httplib::Client c("127.0.0.1", serve_port);
                        c.set_read_timeout(60, 0);
                        return c.Post("/rpc", login(1, port, SK), JSON);
                      });
  }

  static std::string login(int id, int port, const std::string& secret)
  {
    return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
           R"(,"method":"login","params":{"host":"127.0.0.1","port":)" + std::to_string(port) +
           R"(,"access_key":")" + AK + R"(","secret_key":")" + key_->encrypt(secret) + R"("}})";
  }

  static test_support::Test_Key* key_;
  Temp_Dir web_;
  std::unique_ptr<test_support::Host_Serve_Process> serve_;
  std::unique_ptr<httplib::Client> client_;
};

test_support::Test_Key* Host_Serve::key_ = nullptr;

void expect_security_headers(const httplib::Response& res)
{
  EXPECT_EQ(CSP, res.get_header_value("Content-Security-Policy")) << res.status;
  EXPECT_EQ("nosniff", res.get_header_value("X-Content-Type-Options")) << res.status;
  EXPECT_EQ("no-store", res.get_header_value("Cache-Control")) << res.status;
}

// The page's files by name and type, the public half of --key, and 404 for
// every name outside the rule (hidden, unknown type, a folder or a FIFO,
// another folder), with the security headers on every response.
TEST_F(Host_Serve, ServesThePageAndTheKeyOnly)
{
  start();
  struct
  {
    const char* path;
    int status;
    const char* type;  ///< from the agreed table of types
  } cases[] = {
      {"/", 200, "text/html; charset=utf-8"},
      {"/login.js", 200, "text/javascript; charset=utf-8"},
      {"/appliance.pub", 200, "application/x-pem-file"},
      {"/.hidden.js", 404, nullptr},
      {"/tool.exe", 404, nullptr},
      {"/sub.js", 404, nullptr},
      {"/pipe.js", 404, nullptr},
      {"/missing.css", 404, nullptr},
      {"/%2e%2e/etc/passwd", 404, nullptr},
      {"/..%2f"
       "index.html",
       404, nullptr},
      {"/sub.js/../login.js", 404, nullptr},
  };
  for (const auto& c : cases)
  {
    SCOPED_TRACE(c.path);
    httplib::Result r = client_->Get(c.path);
    ASSERT_TRUE(r) << httplib::to_string(r.error());
    EXPECT_EQ(c.status, r->status);
    expect_security_headers(*r);
    if (c.type != nullptr)
    {
      EXPECT_EQ(c.type, r->get_header_value("Content-Type"));
    }
  }
  EXPECT_EQ(key_->public_pem(), client_->Get("/appliance.pub")->body);
  EXPECT_EQ("'use strict';", client_->Get("/login.js")->body);
}

// The HTTP edges of /rpc: the media type (415), a body past --max-line
// (413, and one of exactly the limit taken), other methods (405 with
// Allow), a notification alone or a batch of them (204), a batch.  The
// replies come from the session itself (another method): no service.
TEST_F(Host_Serve, RpcAnswersAsJsonRpcOverHttp)
{
  start({"--max-line", "200"});
  const std::string other = R"({"jsonrpc":"2.0","id":7,"method":"other"})";
  const std::string not_found =
      R"({"error":{"code":-32601,"message":"Method not found"},"id":7,"jsonrpc":"2.0"})";
  for (const char* type : {"text/plain", "application/json; charset=latin1", "application/jsonx", ""})
  {
    httplib::Result r = post(other, type);
    ASSERT_TRUE(r);
    EXPECT_EQ(415, r->status) << type;
    expect_security_headers(*r);
  }
  for (const char* type : {"application/json", "Application/JSON; charset=UTF-8"})
  {
    httplib::Result r = post(other, type);
    ASSERT_TRUE(r);
    EXPECT_EQ(200, r->status) << type;
    EXPECT_EQ(JSON, r->get_header_value("Content-Type"));
    EXPECT_EQ(not_found, r->body);
  }
  httplib::Result at_limit = post(other + std::string(200 - other.size(), ' '));
  ASSERT_TRUE(at_limit);
  EXPECT_EQ(200, at_limit->status);
  httplib::Result too_long = post(other + std::string(201 - other.size(), ' '));
  ASSERT_TRUE(too_long);
  EXPECT_EQ(413, too_long->status);
  expect_security_headers(*too_long);

  httplib::Result get = client_->Get("/rpc");
  httplib::Result put = client_->Put("/rpc", other, JSON);
  for (httplib::Result* r : {&get, &put})
  {
    ASSERT_TRUE(*r);
    EXPECT_EQ(405, (*r)->status);
    EXPECT_EQ("POST", (*r)->get_header_value("Allow"));
  }

  for (const char* quiet : {R"({"jsonrpc":"2.0","method":"other"})",
                            R"([{"jsonrpc":"2.0","method":"other"},{"jsonrpc":"2.0","method":"x"}])"})
  {
    httplib::Result r = post(quiet);
    ASSERT_TRUE(r);
    EXPECT_EQ(204, r->status) << quiet;
    EXPECT_EQ("", r->body);
  }
  httplib::Result batch = post("[" + other + R"(,{"jsonrpc":"2.0","method":"other"},5])");
  ASSERT_TRUE(batch);
  EXPECT_EQ(200, batch->status);
  EXPECT_EQ("[" + std::string(not_found) +
                R"(,{"error":{"code":-32600,"message":"Invalid Request"},"id":null,"jsonrpc":"2.0"}])",
            batch->body)
      << "the session's own replies in the batch's order";
  httplib::Result garbage = post("{");
  ASSERT_TRUE(garbage);
  EXPECT_EQ(R"({"error":{"code":-32700,"message":"Parse error"},"id":null,"jsonrpc":"2.0"})", garbage->body);
}

// A request from another origin is refused unless --allow-origin names it;
// the server's own origin and requests without Origin are taken.
TEST_F(Host_Serve, RefusesOtherOrigins)
{
  start({"--allow-origin", "https://console.example:8443"});
  const std::string other = R"({"jsonrpc":"2.0","id":1,"method":"other"})";
  struct
  {
    std::string origin;
    int status;
  } cases[] = {
      {serve_->origin(), 200},
      {"https://console.example:8443", 200},
      {"http://evil.example", 403},
      {"http://127.0.0.1:1", 403},
      {"https://127.0.0.1:" + std::to_string(serve_->port()), 403},
      {"null", 403},
  };
  for (const auto& c : cases)
  {
    httplib::Result r = post(other, JSON, {{"Origin", c.origin}});
    ASSERT_TRUE(r);
    EXPECT_EQ(c.status, r->status) << c.origin;
    expect_security_headers(*r);
    httplib::Result page = client_->Get("/", {{"Origin", c.origin}});
    ASSERT_TRUE(page);
    EXPECT_EQ(c.status, page->status) << c.origin;
  }
  EXPECT_EQ(200, post(other)->status);
}

// A login through /rpc reaches the emulator and succeeds, a wrong secret
// fails, and neither the secret nor its ciphertext shows in any log: the
// agent's access log (one line per request), the module's, the emulator's.
TEST_F(Host_Serve, LogsInWithoutLoggingTheSecret)
{
  Mock_Service svc({"--access-key", AK, "--secret-key", SK, "--version", "7.1.0"});
  ASSERT_TRUE(svc.running()) << svc.error();
  start();
  const std::string good = login(1, svc.port(), SK);
  const std::string wrong = login(2, svc.port(), "not the secret");
  httplib::Result ok = post(good, JSON, {{"Origin", serve_->origin()}});
  ASSERT_TRUE(ok);
  EXPECT_EQ(200, ok->status);
  EXPECT_EQ(R"({"id":1,"jsonrpc":"2.0","result":{"code":0,"message":"Success to login","version":"7.1.0"}})",
            ok->body);
  httplib::Result bad = post(wrong);
  ASSERT_TRUE(bad);
  EXPECT_EQ(R"({"error":{"code":-32603,"message":"Failed to login Quorvane."},"id":2,"jsonrpc":"2.0"})",
            bad->body);

  const std::string log = serve_->child().stderr_text();
  EXPECT_NE(std::string::npos, log.find("\"POST /rpc\" 200")) << log;
  const std::string ciphertext = good.substr(good.find(R"("secret_key":")") + 14, 40);
  for (const std::string& text : {log, svc.stderr_text()})
  {
    EXPECT_EQ(std::string::npos, text.find(SK)) << text;
    EXPECT_EQ(std::string::npos, text.find("not the secret")) << text;
    EXPECT_EQ(std::string::npos, text.find(ciphertext)) << text;
  }
}

// With --max-in-flight 1 and a login held by the service, the next request
// is answered 503 with Retry-After; the held one is answered once the
// service lets it go.
TEST_F(Host_Serve, RefusesRequestsBeyondTheBound)
{
  Canned_Server service(200, R"({"result_code": 10000, "data": {"aboutus_version": "held-1"}})");
  service.hold();
  start({"--max-in-flight", "1"});
  std::future<httplib::Result> held = login_in_background(service.port());
  ASSERT_TRUE(service.wait_requests(1)) << serve_->child().stderr_text();
  httplib::Result refused = client_->Get("/");
  ASSERT_TRUE(refused);
  EXPECT_EQ(503, refused->status);
  EXPECT_FALSE(refused->get_header_value("Retry-After").empty());
  expect_security_headers(*refused);
  service.release();
  httplib::Result answered = held.get();
  ASSERT_TRUE(answered);
  EXPECT_NE(std::string::npos, answered->body.find("held-1")) << answered->body;
  EXPECT_EQ(200, client_->Get("/")->status) << "the slot is free again";
}

// A client that stops sending in the middle of its request is dropped after
// --read-timeout: its connection ends (waited for with a deadline).
TEST_F(Host_Serve, DropsASilentClient)
{
  start({"--read-timeout", "1"});
  int fd = test_support::connect_loopback(serve_->port());
  ASSERT_GE(fd, 0);
  const std::string head = "POST /rpc HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100\r\n\r\n{";
  ASSERT_EQ(static_cast<ssize_t>(head.size()), ::send(fd, head.data(), head.size(), MSG_NOSIGNAL));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  bool ended = false;
  char buf[4096];
  while (!ended && std::chrono::steady_clock::now() < deadline)
  {
    pollfd p = {fd, POLLIN, 0};
    if (::poll(&p, 1, 1000) == 1)
    {
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      ended = n == 0 || (n < 0 && errno != EINTR);
    }
  }
  ::close(fd);
  EXPECT_TRUE(ended) << "the connection was still open after 60 s";
}

// SIGTERM with a login in hand: the server stops taking connections, the
// login is answered once the service lets it go, and the exit status is 0.
TEST_F(Host_Serve, StopsAfterTheRequestsInHand)
{
  Canned_Server service(200, R"({"result_code": 10000, "data": {"aboutus_version": "last-1"}})");
  service.hold();
  start();
  std::future<httplib::Result> held = login_in_background(service.port());
  ASSERT_TRUE(service.wait_requests(1)) << serve_->child().stderr_text();
  ASSERT_EQ(0, ::kill(serve_->child().pid(), SIGTERM));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int fd = 0;
  while ((fd = test_support::connect_loopback(serve_->port())) >= 0 &&
         std::chrono::steady_clock::now() < deadline)
    ::close(fd);
  ASSERT_LT(fd, 0) << "still accepting connections 60 s after SIGTERM";
  service.release();
  httplib::Result answered = held.get();
  ASSERT_TRUE(answered) << httplib::to_string(answered.error());
  EXPECT_NE(std::string::npos, answered->body.find("last-1")) << answered->body;
  EXPECT_EQ(0, serve_->child().finish()) << serve_->child().stderr_text();
}

// HTTPS with --tls-cert and --tls-key: the page, the key and the own
// origin, now https://.
TEST_F(Host_Serve, ServesHttps)
{
  Temp_Dir tls;
  std::string error;
  ASSERT_TRUE(test_support::make_certificate(tls.file("cert.pem"), tls.file("key.pem"), "127.0.0.1",
                                             "IP:127.0.0.1", error))
      << error;
  start({"--tls-cert", tls.file("cert.pem"), "--tls-key", tls.file("key.pem")});
  httplib::SSLClient c("127.0.0.1", serve_->port());
  c.set_ca_cert_path(tls.file("cert.pem").c_str());
  c.enable_server_certificate_verification(true);
  httplib::Result pub = c.Get("/appliance.pub");
  ASSERT_TRUE(pub) << httplib::to_string(pub.error());
  EXPECT_EQ(key_->public_pem(), pub->body);
  const std::string origin = "https://127.0.0.1:" + std::to_string(serve_->port());
  httplib::Result r = c.Post("/rpc", {{"Origin", origin}}, R"({"jsonrpc":"2.0","id":1,"method":"x"})", JSON);
  ASSERT_TRUE(r);
  EXPECT_EQ(200, r->status);
  r = c.Post("/rpc", {{"Origin", serve_->origin()}}, R"({"jsonrpc":"2.0","id":1,"method":"x"})", JSON);
  ASSERT_TRUE(r);
  EXPECT_EQ(403, r->status) << "http:// is another origin";
}

// What cannot be served is refused before anything starts: status 2 and
// the usage for a wrong command line, 1 without a usable appliance key.
TEST_F(Host_Serve, RefusesBadArguments)
{
  const std::vector<std::vector<std::string>> bad = {
      {"--tls-cert", "cert.pem"},
      {"--allow-origin", "http://a.example/"},
      {"--allow-origin", "a.example"},
      {"--max-in-flight", "0"},
      {"--read-timeout", "0"},
      {"--listen", "127.0.0.1"},
      {"--max-line", "0"},
      {"--threads", "999"},
  };
  for (const std::vector<std::string>& args : bad)
  {
    std::vector<std::string> argv = {QUORVANE_HOST_PATH, "serve", "--key", key_->file()};
    argv.insert(argv.end(), args.begin(), args.end());
    test_support::Program_Result r = test_support::run_program(argv);
    EXPECT_EQ(2, r.exit_code) << args[0] << " " << args[1];
    EXPECT_NE(std::string::npos, r.err.find("usage: quorvane-host serve")) << r.err;
  }
  write_file(web_.file("not-a-key.pem"), "-----BEGIN PUBLIC KEY-----\n");
  test_support::Program_Result r =
      test_support::run_program({QUORVANE_HOST_PATH, "serve", "--key", web_.file("not-a-key.pem")});
  EXPECT_NE(0, r.exit_code);
  EXPECT_EQ("", r.out) << "it never listened";
}

}  // namespace
