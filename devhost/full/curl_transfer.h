#ifndef DEVHOST_SERVICES_CURL_TRANSFER_H
#define DEVHOST_SERVICES_CURL_TRANSFER_H

#include <cstddef>
#include <string>

#include <curl/curl.h>

#include "devhost/full/curl_exchange.h"
#include "devhost/full/curl_pool.h"
#include "devhost/full/request_url.h"
#include "host/http.h"

namespace devhost
{
/// What libcurl is pointed to for one transfer: the callbacks' exchange,
/// the error text and the request's header lines.  It must outlive the
/// transfer; `perform_transfer` detaches it before returning.
struct Curl_Transfer
{
  /// An exchange that writes into @a resp, a body of at most @a max_body bytes.
  Curl_Transfer(HTTP_Response& resp, std::size_t max_body)
      : ex{&resp, std::string(), max_body, false, nullptr}
  {
    detail[0] = '\0';
  }

  Exchange ex;
  /// libcurl's words for a failure (CURLOPT_ERRORBUFFER); "" when it gave none.
  char detail[CURL_ERROR_SIZE];
  Curl_Slist_Ptr headers;
};

/**
 * @a req's headers as libcurl's header lines into @a lines, with "Accept:
 * application/json" added when @a req names no Accept.  False, with
 * @a bad_header naming it, for a header that cannot be sent (an empty name,
 * a line break in its name or value) or that libcurl has no memory for.
 */
bool make_header_lines(const HTTP_Request& req, Curl_Slist_Ptr& lines, std::string& bad_header);

/**
 * Runs one transfer of @a method_code (@a method its name) to @a url on
 * @a handle, TLS verified against @a store (null for plain HTTP), with
 * @a t's header lines, into @a t's exchange.  The options fixed for the
 * handle's life are set on its first transfer.  Every pointer into @a t is
 * detached from the handle before the return, so that neither a handle
 * back in the pool nor one closed later dangles.  CURLE_OK when a reply came.
 */
CURLcode perform_transfer(Curl_Handle& handle, int method_code, const char* method, const Request_Url& url,
                          X509_STORE* store, Curl_Transfer& t);

}  // namespace devhost

#endif /* DEVHOST_SERVICES_CURL_TRANSFER_H */
