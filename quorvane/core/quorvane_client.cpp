#include "quorvane/core/quorvane_client.h"

#include <cstdint>
#include <ctime>
#include <utility>

#include "host/crypto.h"
#include "scrt/http_helpers.h"
#include "scrt/snprintf_t.h"
#include "scrt/time_constants.h"

namespace quorvane
{
Quorvane_Client::Quorvane_Client(Auth_Info auth_info)
    : auth_info_(std::move(auth_info)), restful_client_(true)
{
  restful_client_.reset(auth_info_.host.c_str(), auth_info_.port, auth_info_.ssl);
}

Quorvane_Client::~Quorvane_Client() {}

bool Quorvane_Client::sign(const std::string& uri, const Params* params, HTTP_Request& req)
{
  // The signed query must be byte for byte the one the request carries, so
  // it is built by the same builder call as the request's own.
  std::string url_query;
  if (params != nullptr)
  {
    HTTP_Query_String_Builder_T<std::back_insert_iterator<std::string>> builder(std::back_inserter(url_query),
                                                                                false);
    builder(*params, true, true, nullptr);
  }

  const std::time_t now = std::time(nullptr);
  const std::string millisec = std::to_string(static_cast<std::int64_t>(now) * MSEC_PER_SEC);
  snprintf_t<128> str("%s_%s_%s_%s", millisec.c_str(), auth_info_.access_key.c_str(), uri.c_str(),
                      url_query.c_str());
  // A failed format (no memory for a long text, or an encoding error)
  // reports a length of 0 or less: the HMAC must not see it as a data length.
  if (str.length() <= 0)
  {
    ACE_DEBUG((LM_ERROR, ACE_TEXT("Failed to calculate signature, result is empty.\n")));
    return false;
  }

  HMAC_Generator gen(auth_info_.secret_key.c_str(), auth_info_.secret_key.length(), str.c_str(),
                     static_cast<unsigned long>(str.length()), "sha256", true);
  if (!gen)
  {
    ACE_DEBUG((LM_ERROR, ACE_TEXT("Failed to calculate signature, result is empty.\n")));
    return false;
  }

  // At most three characters per byte: one allocation for the whole text.
  std::string encoded;
  encoded.reserve(3 * gen.length());
  http_encode_string(reinterpret_cast<const char*>(gen.get()), HUT_FLAG_SLASH | HUT_FLAG_UPPERCASE, encoded);

  HTTP_Headers& headers = req.headers();
  headers.put("Client-Now", millisec.c_str(), true);
  headers.put("X-Auth-Accesskey", auth_info_.access_key.c_str(), true);
  headers.put("X-Auth-Signature", encoded.c_str(), true);
  return true;
}

void Quorvane_Client::log_failed_request(const HTTP_Request& req, const HTTP_Response& res,
                                         const json_spirit::Value* req_body,
                                         const json_spirit::Value* res_body)
{
  // The host's request gives "" for no query, never null.
  const char* query = req.query_string();
  const bool has_query = *query != '\0';
  const int status = res.status();
  // In a URL an IPv6 literal stands in brackets, or its last group would
  // read as the port ("http://::1:8443/"); the record keeps it bare, and it
  // is the only host with a ':' that loads.  A literal fits the formatter's
  // inline buffer, so this allocates nothing.
  const std::string& host = auth_info_.host;
  const bool bracket = host.find(':') != std::string::npos && host.front() != '[';
  snprintf_t<64> bracketed;
  if (bracket)
    bracketed.set("[%s]", host.c_str());
  ACE_ERROR(
      (LM_ERROR,
       ACE_TEXT(
           "Unexpected exception occurred while sending HTTP %s request:'%s://%s:%u%s%s%s': the response ")
           ACE_TEXT("HTTP status is %d %s\n"),
       http_method_string(req.method()), auth_info_.ssl ? "https" : "http",
       bracket ? bracketed.c_str() : host.c_str(), static_cast<unsigned>(auth_info_.port), req.path(),
       has_query ? "?" : "", has_query ? query : "", status, http_status_string(status)));
  if (req_body != nullptr)
    ACE_ERROR((LM_ERROR, ACE_TEXT("request body:\n%s\n"), json_spirit::JSON_Dump(*req_body, false).c_str()));
  if (res_body != nullptr)
    ACE_ERROR((LM_ERROR, ACE_TEXT("response body:\n%s\n"), json_spirit::JSON_Dump(*res_body, false).c_str()));
}

}  // namespace quorvane
