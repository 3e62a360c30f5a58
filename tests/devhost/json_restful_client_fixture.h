#ifndef TESTS_DEVHOST_JSON_RESTFUL_CLIENT_FIXTURE_H
#define TESTS_DEVHOST_JSON_RESTFUL_CLIENT_FIXTURE_H

// What the tests of JSON_RESTful_Client share: one exchange and its
// outcome (which the emulator's tests use too), readers of the emulator's
// echo, and the fixture that makes the certificates and restores the
// client's options.

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "devhost/harness/http_access.h"
#include "devhost/harness/rest_options.h"
#include "host/json_restful_client.h"
#include "scrt/http_response.h"
#include "tests/support/log_capture.h"
#include "tests/support/mock_service.h"

namespace rest_client_test
{
typedef std::vector<std::pair<std::string, std::string>> Header_List;

const std::vector<std::string> ACCOUNT = {"--access-key", "AK", "--secret-key", "SK-not-used-here"};

inline std::vector<std::string> with_account(std::vector<std::string> args)
{
  args.insert(args.end(), ACCOUNT.begin(), ACCOUNT.end());
  return args;
}

/// One exchange's outcome.
struct Reply
{
  bool ok = false;
  int status = 0;
  json_spirit::Value body;
  std::string content_type;
  std::string log;
  double seconds = 0;
};

inline Reply fetch(JSON_RESTful_Client& client, const std::string& path, const std::string& query = "",
                   const Header_List& headers = {})
{
  HTTP_Request req(HTTP_METHOD_GET, path.c_str(), false);
  req.query_string_buffer() = query;
  for (const auto& h : headers)
    req.headers().put(h.first.c_str(), h.second.c_str(), true);
  HTTP_Response resp;
  Reply r;
  r.body = json_spirit::Value(std::string("untouched"));
  test_support::Log_Capture log;
  auto start = std::chrono::steady_clock::now();
  r.ok = client.get(req, resp, &r.body);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.status = resp.status();
  const char* type = devhost::header_value(resp.headers(), "Content-Type", true);
  r.content_type = type != nullptr ? type : "";
  r.log = log.text();
  return r;
}

inline Reply fetch(const std::string& host, int port, bool ssl, const std::string& path,
                   const std::string& query = "", const Header_List& headers = {})
{
  JSON_RESTful_Client client(true);
  client.reset(host.c_str(), static_cast<unsigned short>(port), ssl);
  return fetch(client, path, query, headers);
}

inline const json_spirit::Value& member(const json_spirit::Value& v, const std::string& key)
{
  static const json_spirit::Value none;
  if (v.type() != json_spirit::obj_type)
    return none;
  auto it = v.get_obj().find(key);
  return it == v.get_obj().end() ? none : it->second;
}

inline std::string header_seen(const Reply& r, const std::string& name)
{
  const json_spirit::Value& v = member(member(r.body, "headers"), name);
  return v.type() == json_spirit::str_type ? v.get_str() : "(absent)";
}

inline long remote_port(const Reply& r)
{
  const json_spirit::Value& v = member(r.body, "remote_port");
  return v.type() == json_spirit::int_type ? static_cast<long>(v.get_int64()) : -1;
}

/// Restores the process-wide options when a test ends.
class Options_Guard
{
public:
  Options_Guard() : saved_(devhost::rest_client_options()) {}
  ~Options_Guard() { devhost::set_rest_client_options(saved_); }

private:
  devhost::Rest_Client_Options saved_;
};

class Client_Test : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    dir_ = new test_support::Temp_Dir;
    std::string error;
    ASSERT_TRUE(test_support::make_certificate(dir_->file("good.crt"), dir_->file("good.key"), "127.0.0.1",
                                               "IP:127.0.0.1,IP:::1,DNS:localhost", error))
        << error;
    ASSERT_TRUE(test_support::make_certificate(dir_->file("other.crt"), dir_->file("other.key"),
                                               "example.invalid", "DNS:example.invalid", error))
        << error;
  }
  static void TearDownTestSuite() { delete dir_; }

  static std::vector<std::string> tls(const std::string& name)
  {
    return with_account({"--tls-cert", dir_->file(name + ".crt"), "--tls-key", dir_->file(name + ".key")});
  }

  static void trust(const std::string& name)
  {
    devhost::Rest_Client_Options o = devhost::rest_client_options();
    o.ca_file = name.empty() ? std::string() : dir_->file(name + ".crt");
    devhost::set_rest_client_options(o);
  }

  Options_Guard options_;
  static inline test_support::Temp_Dir* dir_ = nullptr;
};

}  // namespace rest_client_test

#endif /* TESTS_DEVHOST_JSON_RESTFUL_CLIENT_FIXTURE_H */
