#include "fuzz/login_model.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <regex>

#include "fuzz/fuzz_support.h"

namespace login_fuzz
{
namespace
{
// A host the credentials take, written from the rules rather than from the
// module's code: a DNS name (RFC 1123 labels, the last one starting with a
// letter, 253 characters at most), or an address the C library reads.
bool host_name_or_address(const std::string& host)
{
  static const std::regex DNS_NAME(
      "([A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?\\.)*[A-Za-z]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?");
  if (host.find('\0') != std::string::npos)
    return false;
  if (host.size() <= 253 && std::regex_match(host, DNS_NAME))
    return true;
  unsigned char addr[16];
  const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
  return inet_pton(AF_INET, host.c_str(), addr) == 1 || inet_pton(AF_INET6, host.c_str(), addr) == 1 ||
         (bracketed && inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), addr) == 1);
}

// An access key that cannot shift what is signed: printable ASCII without
// a space, and no "_/"; 256 bytes at most.
bool safe_access_key(const std::string& key)
{
  if (key.size() > 256)
    return false;
  for (unsigned char c : key)
    if (c <= 0x20 || c >= 0x7f)
      return false;
  return key.find("_/") == std::string::npos;
}
}  // namespace

const json_spirit::Value* member(const json_spirit::Object& obj, const char* key)
{
  json_spirit::Object::const_iterator it = obj.find(key);
  return it == obj.end() || it->second.is_null() ? nullptr : &it->second;
}

bool loadable(const json_spirit::Object& params)
{
  // A login without a host names no service.
  const json_spirit::Value* v = member(params, "host");
  if (v == nullptr || v->type() != json_spirit::str_type || !host_name_or_address(v->get_str()))
    return false;
  v = member(params, "access_key");
  if (v != nullptr && (v->type() != json_spirit::str_type || !safe_access_key(v->get_str())))
    return false;
  v = member(params, "port");
  if (v != nullptr && (v->type() != json_spirit::int_type || v->get_int64() < 1 || v->get_int64() > 65535))
    return false;
  v = member(params, "ssl");
  return v == nullptr || v->type() == json_spirit::bool_type;
}

std::string endpoint_host(const std::string& host)
{
  const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
  return bracketed ? host.substr(1, host.size() - 2) : host;
}

std::string c_text(const json_spirit::Object& params, const char* key, const std::string& fallback)
{
  const json_spirit::Value* v = member(params, key);
  return v == nullptr ? fallback : std::string(v->get_str().c_str());
}

Expectation expect(const JSON_RPC_Request_Base& msg, bool requester_gone, const std::string* cipher,
                   int status, const std::string& body)
{
  Expectation e;
  if (msg.type() != JSON_RPC_Object::TYPE_REQUEST || requester_gone)
    return e;
  e.reply = true;
  if (msg.params.type() != json_spirit::obj_type)
  {
    e.code = -32602;
    e.message = "Invalid params: params type must be object.";
    return e;
  }
  const json_spirit::Object& params = msg.params.get_obj();
  json_spirit::Object::const_iterator sk = params.find("secret_key");
  // Only the injected ciphertext decrypts: the fuzzer cannot forge one.
  e.decrypts = cipher != nullptr && sk != params.end() && sk->second.type() == json_spirit::str_type &&
               sk->second.get_str() == *cipher;
  if (!e.decrypts || !loadable(params))
  {
    e.code = -32602;
    e.message = "Invalid params";
    return e;
  }
  e.exchange = true;
  const std::string host = c_text(params, "host", "");
  const std::string access_key = c_text(params, "access_key", "");
  const bool sendable = !host.empty() && access_key.find_first_of("\r\n") == std::string::npos;
  if (sendable && fuzz_support::expected_version(status, body, e.version))
    return e;
  e.code = -32603;
  e.message = "Failed to login Quorvane.";
  return e;
}

}  // namespace login_fuzz
