// The login handler end to end, as the host drives it: the built module
// loaded with dlopen, a recording channel, a real appliance key, and a
// service on loopback.

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <memory>
#include <string>
#include <vector>

#include <ace/Log_Msg.h>
#include <gtest/gtest.h>

#include "devhost/harness/json_rpc_messages.h"
#include "host/json_spirit_utils.h"
#include "tests/support/canned_server.h"
#include "tests/support/failed_get_log.h"
#include "tests/support/log_capture.h"
#include "tests/support/login_fixture.h"

namespace
{
using json_spirit::Value;
using test_support::Canned_Server;
using test_support::Log_Capture;
using test_support::Log_Record;
using test_support::Login_Module_Fixture;
using test_support::Recording_Channel;
typedef std::vector<Log_Record> Records;

// What the channel's send returns: the handler must hand it back unchanged,
// on success and on every error reply.
const int SEND_RESULT = 42;

class Result_Channel : public Recording_Channel
{
public:
  int send(JSON_RPC_Object_var obj) override
  {
    Recording_Channel::send(obj);
    return SEND_RESULT;
  }
};

// The failure line of Auth_Info::load (LM_ERROR, status 0).
Log_Record load_failure(const std::string& what)
{
  return Log_Record{LM_ERROR, "Failed to load  from JSON: " + what + "\n", 0};
}

const char SECRET[] = "plain-secret-key-of-the-account-0123456789";
const char SUCCESS[] = R"({"result_code": 10000, "data": {"aboutus_version": "4.2.0"}})";

class Login : public ::testing::Test
{
protected:
  static void SetUpTestSuite() { module_ = new Login_Module_Fixture; }
  static void TearDownTestSuite()
  {
    delete module_;
    module_ = nullptr;
  }

  void SetUp() override { channel_.reset(new Result_Channel); }

  Recording_Channel& channel() { return *static_cast<Recording_Channel*>(channel_.get()); }

  // Params of a login to host:port with the encrypted secret, plus @a extra members.
  std::string params(int port, const std::string& extra = "", const std::string& host = "127.0.0.1") const
  {
    return R"({"host": ")" + host + R"(", "port": )" + std::to_string(port) +
           R"(, "access_key": "AK", "secret_key": ")" + ciphertext() + "\"" + extra + "}";
  }
  std::string ciphertext() const
  {
    if (ciphertext_.empty())
      ciphertext_ = module_->key().encrypt(SECRET);
    return ciphertext_;
  }

  int call(JSON_RPC_Object_var obj) { return module_->handler().handle_object_i(channel_, obj); }

  // Sends one request and returns its only reply.
  std::string reply_to(const std::string& params_json, int id = 1)
  {
    JSON_RPC_Object_var obj = Login_Module_Fixture::request(Value(id), params_json);
    last_request_ = obj;
    EXPECT_EQ(SEND_RESULT, call(obj));
    std::vector<std::string> replies = channel().replies();
    EXPECT_EQ(1u, replies.size());
    return replies.empty() ? std::string() : replies.back();
  }

  static std::string error(int id, int code, const std::string& message)
  {
    return R"({"error":{"code":)" + std::to_string(code) + R"(,"message":")" + message + R"("},"id":)" +
           std::to_string(id) + R"(,"jsonrpc":"2.0"})";
  }

  // The request's "secret_key" member after the handler ran.
  const Value& secret_member() const
  {
    const JSON_RPC_Request* req = static_cast<const JSON_RPC_Request*>(last_request_.get());
    return req->params.get_obj().at("secret_key");
  }

  static Login_Module_Fixture* module_;
  JSON_RPC_Channel_var channel_;
  JSON_RPC_Object_var last_request_;
  mutable std::string ciphertext_;
};

Login_Module_Fixture* Login::module_ = nullptr;

TEST_F(Login, SuccessAnswersTheVersionAndKeepsTheDecryptedKeyInTheRequest)
{
  Canned_Server server(200, SUCCESS);
  Log_Capture log;
  EXPECT_EQ(R"({"id":1,"jsonrpc":"2.0","result":{"code":0,"message":"Success to login","version":"4.2.0"}})",
            reply_to(params(server.port())));
  EXPECT_TRUE(log.records().empty()) << log.text();
  ASSERT_EQ(json_spirit::secure_str_type, secret_member().type());
  EXPECT_EQ(SECRET, std::string(secret_member().get_secure_str().c_str()));
}

TEST_F(Login, ObjectsThatAreNotRequestsGetNoReply)
{
  devhost::JSON_RPC_Notification* note = new devhost::JSON_RPC_Notification;
  JSON_RPC_Object_var notification(note);
  JSON_RPC_Request req;
  JSON_RPC_Object_var response(new JSON_RPC_Response(&req));
  for (JSON_RPC_Object_var obj : {notification, response})
  {
    Log_Capture log;
    EXPECT_EQ(-1, call(obj));
    ASSERT_EQ(1u, log.records().size());
    EXPECT_EQ(static_cast<unsigned long>(LM_EMERGENCY), log.records()[0].priority);
    EXPECT_EQ(-1, log.records()[0].status);
    const std::string text = log.records()[0].text;
    EXPECT_EQ(0u, text.find("Unexpected error in ")) << text;
    EXPECT_NE(std::string::npos, text.find("quorvane_login_handler.cpp:")) << text;
    EXPECT_NE(std::string::npos, text.find(", obj is not JSON-RPC request!\n")) << text;
  }
  EXPECT_TRUE(channel().replies().empty());
}

TEST_F(Login, AGoneRequesterGetsNoReplyAndItsParamsAreNotRead)
{
  JSON_RPC_Object_var obj = Login_Module_Fixture::request(Value(1), params(1));
  Log_Capture log;
  EXPECT_EQ(-1, module_->handler().handle_object_i(JSON_RPC_Channel_var(), obj));
  EXPECT_EQ((Records{Log_Record{LM_ERROR, "Abort handling JSON-RPC request, requester has gone.\n", -1}}),
            log.records());
  const JSON_RPC_Request* req = static_cast<const JSON_RPC_Request*>(obj.get());
  EXPECT_EQ(json_spirit::str_type, req->params.get_obj().at("secret_key").type());
}

TEST_F(Login, ParamsThatAreNotAnObject)
{
  const char* rows[] = {"[1, 2]", R"("text")", "null", "5"};
  int id = 10;
  for (const char* p : rows)
  {
    SetUp();
    Log_Capture log;
    EXPECT_EQ(error(id, -32602, "Invalid params: params type must be object."), reply_to(p, id)) << p;
    EXPECT_TRUE(log.records().empty()) << p;
    ++id;
  }
}

TEST_F(Login, AMissingSecretKey)
{
  // A "secret_key" that is not a string is answered like a missing one on
  // any host, whatever the host's getter would make of it.
  int id = 1;
  for (const char* p : {"{}", R"({"secret_key": null})", R"({"secret_key": 5})", R"({"secret_key": ["x"]})",
                        R"({"secret_key": {"a": "b"}})", R"({"secret_key": true})"})
  {
    SetUp();
    Log_Capture log;
    EXPECT_EQ(error(id, -32602, "Invalid params"), reply_to(p, id)) << p;
    EXPECT_EQ(
        (Records{Log_Record{
            LM_ERROR,
            "Failed to check Quorvane host secret_key, the attribute 'secret_key' does not exist in json.\n",
            0}}),
        log.records())
        << p;
    ++id;
  }
}

TEST_F(Login, ASecretKeyThatDoesNotDecryptStaysAsItWas)
{
  const char* rows[] = {"bm90IGEgY2lwaGVydGV4dA==", "not base64 at all!", ""};
  for (const char* bad : rows)
  {
    SetUp();
    Log_Capture log;
    EXPECT_EQ(error(1, -32602, "Invalid params"),
              reply_to(std::string(R"({"host": "127.0.0.1", "secret_key": ")") + bad + "\"}"))
        << bad;
    EXPECT_EQ((Records{Log_Record{LM_ERROR, "Failed to decrypt secret_key.\n", 0}}), log.records());
    ASSERT_EQ(json_spirit::str_type, secret_member().type());
    EXPECT_EQ(bad, secret_member().get_str());
  }
}

// Credentials that do not load are answered -32602 with Auth_Info's one
// line, and nothing is sent: the server, whose port a refused value names
// where it can, sees no request.  A login without a host names no service
// (it used to go on and fail with -32603 after logging 'http://:PORT/').
TEST_F(Login, CredentialsThatDoNotLoad)
{
  Canned_Server server(200, SUCCESS);
  const std::string port = std::to_string(server.port());
  const std::string bad_host = "JSON member 'host' is not a host name or an IP address: ";
  const std::string bad_key =
      "JSON member 'access_key' may not contain \"_/\", a space, a control character or a byte above 0x7E: ";
  const std::string long_key(257, 'A');
  const std::string rows[][2] = {
      {R"("port": )" + port, "JSON member 'host' does not exist"},
      {R"("host": null, "port": )" + port, "JSON member 'host' does not exist"},
      {R"("host": "", "port": )" + port, bad_host + "\"\""},
      {R"("host": "127.0.0.1", "access_key": ")" + long_key + R"(", "port": )" + port,
       "JSON member 'access_key' is longer than 256 bytes: \"" + long_key.substr(0, 64) + "\"..."},
      {R"("port": 70000)", "JSON member 'port' is out of range 0 to 65535: 70000"},
      {R"("port": -1)", "JSON member 'port' is out of range 0 to 65535: -1"},
      {R"("ssl": "true", "port": )" + port, "JSON member 'ssl' is a string, not a boolean"},
      {R"("port": ")" + port + "\"", "JSON member 'port' is a string, not an integer"},
      {R"("host": 1)", "JSON member 'host' is an integer, not a string"},
      {R"("host": "127.0.0.1@evil", "port": )" + port, bad_host + "\"127.0.0.1@evil\""},
      {R"("host": "evil.example/x#", "port": )" + port, bad_host + "\"evil.example/x#\""},
      {R"("host": "127.0.0.1:)" + port + R"(/other?", "port": )" + port,
       bad_host + "\"127.0.0.1:" + port + "/other?\""},
      {R"("host": "user:pw@127.0.0.1", "port": )" + port, bad_host + "\"user:pw@127.0.0.1\""},
      {R"("host": "127.0.0.1\r\nForged: line", "port": )" + port,
       bad_host + "\"127.0.0.1\\r\\nForged: line\""},
      {R"("host": "127.0.0.1", "access_key": "AK_/any/path_x=1", "port": )" + port,
       bad_key + "\"AK_/any/path_x=1\""},
      {R"("host": "127.0.0.1", "access_key": "AK \u0001", "port": )" + port, bad_key + "\"AK \\x01\""},
  };
  for (const auto& row : rows)
  {
    SetUp();
    Log_Capture log;
    const std::string p = R"({"secret_key": ")" + ciphertext() + R"(", )" + row[0] + "}";
    EXPECT_EQ(error(1, -32602, "Invalid params"), reply_to(p)) << p;
    EXPECT_EQ(Records{load_failure(row[1])}, log.records()) << p;
    // The secret was decrypted before the credentials failed to load.
    EXPECT_EQ(json_spirit::secure_str_type, secret_member().type());
  }
  EXPECT_EQ(0, server.requests());
}

std::string hmac_sha256(const std::string& key, const std::string& text)
{
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(text.data()), text.size(), mac, &length);
  return std::string(reinterpret_cast<const char*>(mac), length);
}

// The forgery an access key holding "_/" allowed.  The signed text is
// "<now>_<access key>_<path>_<query>".  A caller holding a captured
// ciphertext of an account's secret (access key AK) logs in with the access
// key "AK_/any/path_x=1" and a host of its own; the module signs
//   <now>_AK_/any/path_x=1_/fcc/v1/settings_
// for GET /fcc/v1/settings.  A service checking GET /any/path?x=1_/fcc/v1/settings_
// with access key AK signs
//   <now>_AK_/any/path_x=1_/fcc/v1/settings_
// as well: the same text, so the same HMAC (computed here with OpenSSL, not
// the module), and the caller gets read access to another resource of the
// account without ever knowing the secret.  The login is refused instead.
TEST_F(Login, AnAccessKeyThatForgesAnotherRequestIsRefused)
{
  const std::string now = "1700000000000";
  const std::string module_signs = now + "_" + "AK_/any/path_x=1" + "_" + "/fcc/v1/settings" + "_" + "";
  const std::string service_checks = now + "_" + "AK" + "_" + "/any/path" + "_" + "x=1_/fcc/v1/settings_";
  EXPECT_EQ(hmac_sha256(SECRET, module_signs), hmac_sha256(SECRET, service_checks));

  Canned_Server server(200, SUCCESS);
  Log_Capture log;
  EXPECT_EQ(error(1, -32602, "Invalid params"),
            reply_to(R"({"host": "127.0.0.1", "port": )" + std::to_string(server.port()) +
                     R"(, "access_key": "AK_/any/path_x=1", "secret_key": ")" + ciphertext() + "\"}"));
  EXPECT_EQ(Records{load_failure("JSON member 'access_key' may not contain \"_/\", a space, a control "
                                 "character or a byte above 0x7E: \"AK_/any/path_x=1\"")},
            log.records());
  EXPECT_EQ(0, server.requests());
}

// The decrypted key is taken by its length, not up to a zero byte.
TEST_F(Login, ASecretWithAZeroByteKeepsItsTail)
{
  const std::string secret("zero\0byte-and-its-tail", 22);
  ciphertext_ = module_->key().encrypt(secret);
  Canned_Server server(200, SUCCESS);
  EXPECT_EQ(R"({"id":1,"jsonrpc":"2.0","result":{"code":0,"message":"Success to login","version":"4.2.0"}})",
            reply_to(params(server.port())));
  ASSERT_EQ(json_spirit::secure_str_type, secret_member().type());
  const secure_string& got = secret_member().get_secure_str();
  EXPECT_EQ(secret, std::string(got.data(), got.size()));
}

// The longest access key taken, 256 bytes, is sent.
TEST_F(Login, AnAccessKeyOfTheLongestLengthIsSent)
{
  Canned_Server server(200, SUCCESS);
  std::string p = params(server.port());
  p.replace(p.find("\"AK\""), 4, "\"" + std::string(256, 'A') + "\"");
  Log_Capture log;
  EXPECT_EQ(R"({"id":1,"jsonrpc":"2.0","result":{"code":0,"message":"Success to login","version":"4.2.0"}})",
            reply_to(p));
  EXPECT_TRUE(log.records().empty()) << log.text();
  EXPECT_EQ(1, server.requests());
}

// An IPv6 literal, bare or in brackets, reaches the service, and the
// failure line writes it in brackets ("http://::1:PORT" would read as the
// host "::1:PORT" or a port of "1").
TEST_F(Login, AnIpv6HostReachesTheServiceAndIsLoggedInBrackets)
{
  const char refusal[] = R"({"result_code": 10003})";
  Canned_Server v6(200, refusal, "::1");
  Canned_Server v4(200, refusal);
  const struct
  {
    const char* host;
    int port;
    const char* shown;
  } rows[] = {{"::1", v6.port(), "[::1]"},
              {"[::1]", v6.port(), "[::1]"},
              {"::ffff:127.0.0.1", v4.port(), "[::ffff:127.0.0.1]"},
              {"[::ffff:127.0.0.1]", v4.port(), "[::ffff:127.0.0.1]"}};
  for (const auto& row : rows)
  {
    SetUp();
    Log_Capture log;
    EXPECT_EQ(error(1, -32603, "Failed to login Quorvane."), reply_to(params(row.port, "", row.host)))
        << row.host;
    EXPECT_EQ(test_support::failed_get_log(
                  std::string("http://") + row.shown + ":" + std::to_string(row.port) + "/fcc/v1/settings",
                  "200 OK", R"({"result_code":10003})"),
              log.records())
        << row.host;
  }
  EXPECT_EQ(2, v6.requests());
  EXPECT_EQ(2, v4.requests());
}

TEST_F(Login, AFailedVersionRequest)
{
  Canned_Server server(200, R"({"result_code": 10003, "message": "bad signature"})");
  Log_Capture log;
  EXPECT_EQ(error(7, -32603, "Failed to login Quorvane."), reply_to(params(server.port()), 7));
  EXPECT_EQ(
      test_support::failed_get_log("http://127.0.0.1:" + std::to_string(server.port()) + "/fcc/v1/settings",
                                   "200 OK", R"({"message":"bad signature","result_code":10003})"),
      log.records());
  EXPECT_EQ(json_spirit::secure_str_type, secret_member().type());
}

// Over every failure path, neither the plain secret nor its ciphertext
// reaches a log line or a reply.
TEST_F(Login, NoSecretInAnyLogOrReply)
{
  Canned_Server ok(200, SUCCESS);
  Canned_Server refused(403, R"({"result_code": 40300})");
  Canned_Server no_version(200, R"({"result_code": 10000})");
  Canned_Server array(200, "[]");
  const std::string cases[] = {
      params(ok.port()),
      params(refused.port()),
      params(no_version.port()),
      params(array.port()),
      params(ok.port(), R"(, "ssl": true)"),
      params(ok.port(), R"(, "ssl": "yes")"),
      params(1),
      R"({"secret_key": ")" + ciphertext() + "x\"}",
      R"({"secret_key": ")" + ciphertext() + R"(", "port": 99999})",
  };
  Log_Capture log;
  for (const std::string& p : cases)
  {
    SetUp();
    std::string reply = reply_to(p);
    EXPECT_EQ(std::string::npos, reply.find(SECRET)) << reply;
    EXPECT_EQ(std::string::npos, reply.find(ciphertext())) << reply;
  }
  const std::string text = log.text();
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(std::string::npos, text.find(SECRET)) << text;
  EXPECT_EQ(std::string::npos, text.find(ciphertext().substr(0, 40))) << text;
}

}  // namespace
