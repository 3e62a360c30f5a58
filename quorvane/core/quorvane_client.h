#ifndef QUORVANE_CORE_QUORVANE_CLIENT_H
#define QUORVANE_CORE_QUORVANE_CLIENT_H

#include <exception>
#include <iterator>
#include <map>
#include <string>

#include <ace/Log_Msg.h>

#include "host/http.h"
#include "host/json_restful_client.h"
#include "host/json_spirit_utils.h"
#include "quorvane/common/auth_info.h"
#include "quorvane/common/version.h"
#include "scrt/http_query_string_builder.h"
#include "scrt/http_response.h"

namespace quorvane
{
/// Query parameters of a request, sent in ascending byte order of their keys.
typedef std::map<std::string, std::string> Params;

/// The "result_code" of the service's replies.
enum Quorvane_Response_Type
{
  QUORVANE_REQUEST_SUCCESSED = 10000
};

/**
 * Client of the cloud service's REST interface for one account.
 *
 * Every request is a complete, independent, signed exchange; the client
 * keeps no connection state of its own.  One thread uses a client at a
 * time.  Every failure is logged once, where it happens, and reported as
 * false.
 */
class Quorvane_Client
{
public:
  /// Takes the account (its secret key already decrypted) and points the
  /// REST client at its host, port and TLS flag.  Opens nothing.  The host
  /// goes to the REST client as the record holds it: an IPv6 literal without
  /// brackets, as `Auth_Info::load` leaves it.
  explicit Quorvane_Client(Auth_Info auth_info);
  ~Quorvane_Client();
  Quorvane_Client(const Quorvane_Client&) = delete;
  Quorvane_Client& operator=(const Quorvane_Client&) = delete;

  /// Probes the service with the signed settings request; true when it
  /// answered with success and a version.
  bool connect()
  {
    Version version;
    return get_version(version);
  }

  /// Asks the service for its version; on true `version.aboutus_version`
  /// holds it, on false @a version is as it was.
  bool get_version(Version& version) { return get("/fcc/v1/settings", version); }

  /**
   * Logs a failed request: the request line (scheme, host and port from the
   * account, an IPv6 literal in brackets), the response status, and the
   * bodies that are not null.
   */
  void log_failed_request(const HTTP_Request& req, const HTTP_Response& res, const json_spirit::Value* req_body,
                          const json_spirit::Value* res_body);

protected:
  /**
   * Puts "Client-Now", "X-Auth-Accesskey" and "X-Auth-Signature" on @a req:
   * the HMAC-SHA256 of "millisec_accesskey_uri_query" under the secret key.
   * @a params (may be null) must be the request's query parameters.  False,
   * with one log line and none of the headers put, when no signature could
   * be computed.
   */
  bool sign(const std::string& uri, const Params* params, HTTP_Request& req);

  /**
   * Sends a signed GET of @a uri with the query @a params (may be null),
   * checks that the reply's "result_code" is QUORVANE_REQUEST_SUCCESSED and
   * loads the body into @a data through `T::load(const Value&)`.
   */
  template <typename T>
  bool get(const std::string& uri, const Params* params, T& data);

  /// `get` without query parameters.
  template <typename T>
  bool get(const std::string& uri, T& data)
  {
    return get(uri, nullptr, data);
  }

  Auth_Info auth_info_;
  JSON_RESTful_Client restful_client_;
};

template <typename T>
bool Quorvane_Client::get(const std::string& uri, const Params* params, T& data)
{
  HTTP_Request req(HTTP_METHOD_GET, uri.c_str(), false);
  if (params != nullptr)
  {
    std::string& query = req.query_string_buffer();
    HTTP_Query_String_Builder_T<std::back_insert_iterator<std::string>> builder(std::back_inserter(query),
                                                                               !query.empty());
    builder(*params, true, true, nullptr);
  }
  if (!sign(uri, params, req))
    return false;

  HTTP_Response resp;
  json_spirit::Value resp_body;
  if (!restful_client_.get(req, resp, &resp_body))
  {
    log_failed_request(req, resp, nullptr, &resp_body);
    return false;
  }

  try
  {
    const json_spirit::Object& obj = resp_body.get_obj();
    if (json_spirit::object_get_int64_or_throw(obj, "result_code") != QUORVANE_REQUEST_SUCCESSED)
    {
      log_failed_request(req, resp, nullptr, &resp_body);
      return false;
    }
  }
  catch (const std::exception& e)
  {
    ACE_DEBUG((LM_ERROR, ACE_TEXT("Unexpected exception occurred while get result code, error: %s\n"), e.what()));
    return false;
  }

  if (!data.load(resp_body))
  {
    ACE_DEBUG((LM_ERROR, ACE_TEXT("The json returned by GET request is: %s.\n"),
               json_spirit::JSON_Dump(resp_body, false).c_str()));
    return false;
  }
  return true;
}

}  // namespace quorvane

#endif /* QUORVANE_CORE_QUORVANE_CLIENT_H */
