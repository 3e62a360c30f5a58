#include "fuzz/fuzz_support.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <strings.h>

#include <cstdio>
#include <cstdlib>

#include "devhost/harness/json_reader.h"

namespace fuzz_support
{
namespace
{
// Records of the whole process, kept from capture_logs() on; the fuzzer
// runs one thread, and the tests' capture serves it as it is.
test_support::Log_Capture* capture = nullptr;
}  // namespace

void check_failed(const char* file, int line, const char* cond, const std::string& what)
{
  std::fprintf(stderr, "%s:%d: check failed: %s\n%s\n", file, line, cond, what.c_str());
  std::fflush(stderr);
  std::abort();
}

void capture_logs()
{
  if (capture == nullptr)
    capture = new test_support::Log_Capture;
}

std::vector<Log_Line> take_logs()
{
  std::vector<Log_Line> lines = capture->records();
  capture->clear();
  return lines;
}

std::string printable(const std::string& bytes)
{
  std::string out;
  for (unsigned char c : bytes)
  {
    if (c >= 0x20 && c < 0x7F && c != '\\')
    {
      out += static_cast<char>(c);
      continue;
    }
    char esc[8];
    std::snprintf(esc, sizeof esc, "\\x%02x", c);
    out += esc;
  }
  return out;
}

bool expected_version(int status, const std::string& body, std::string& version)
{
  if (status < 200 || status > 299)
    return false;
  json_spirit::Value doc;
  if (!json_spirit::read(body, doc) || doc.type() != json_spirit::obj_type)
    return false;
  const json_spirit::Object& top = doc.get_obj();
  json_spirit::Object::const_iterator code = top.find("result_code");
  if (code == top.end() || code->second.type() != json_spirit::int_type || code->second.get_int64() != 10000)
    return false;
  json_spirit::Object::const_iterator data = top.find("data");
  if (data == top.end() || data->second.type() != json_spirit::obj_type)
    return false;
  const json_spirit::Object& inner = data->second.get_obj();
  json_spirit::Object::const_iterator text = inner.find("aboutus_version");
  if (text == inner.end() || text->second.type() != json_spirit::str_type)
    return false;
  version = text->second.get_str();
  return true;
}

std::string expected_signature(const std::string& secret, const std::string& now,
                               const std::string& access_key, const std::string& uri,
                               const std::string& query)
{
  const std::string text = now + "_" + access_key + "_" + uri + "_" + query;
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int mac_len = 0;
  // HMAC() takes a null key pointer for an empty key as a failure; any
  // address will do for zero bytes.
  static const unsigned char NO_KEY = 0;
  const void* key = secret.empty() ? static_cast<const void*>(&NO_KEY) : secret.data();
  if (HMAC(EVP_sha256(), key, static_cast<int>(secret.size()),
           reinterpret_cast<const unsigned char*>(text.data()), text.size(), mac, &mac_len) == nullptr)
    check_failed(__FILE__, __LINE__, "HMAC", "OpenSSL cannot compute the reference HMAC");
  unsigned char b64[4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1];
  const int n = EVP_EncodeBlock(b64, mac, static_cast<int>(mac_len));
  static const char HEX[] = "0123456789ABCDEF";
  std::string encoded;
  for (int i = 0; i < n; ++i)
  {
    const unsigned char c = b64[i];
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
        c == '.' || c == '~')
    {
      encoded += static_cast<char>(c);
      continue;
    }
    encoded += '%';
    encoded += HEX[c >> 4];
    encoded += HEX[c & 15];
  }
  return encoded;
}

const std::string* find_header(const std::vector<std::pair<std::string, std::string>>& headers,
                               const std::string& name)
{
  for (const std::pair<std::string, std::string>& h : headers)
    if (::strcasecmp(h.first.c_str(), name.c_str()) == 0)
      return &h.second;
  return nullptr;
}

}  // namespace fuzz_support
