#ifndef DEVHOST_SERVICES_TRANSFER_CAUSE_H
#define DEVHOST_SERVICES_TRANSFER_CAUSE_H

#include <string>

#include <curl/curl.h>

#include "devhost/full/curl_exchange.h"
#include "devhost/full/curl_pool.h"

namespace devhost
{
/**
 * The cause of a failed transfer in words a person can act on.  @a detail
 * is libcurl's error buffer of the transfer (libcurl's text for @a rc when
 * empty); a refused certificate is named from @a refusal when it holds one.
 */
std::string transfer_cause(CURL* easy, CURLcode rc, const char* detail, const Exchange& ex,
                           const Tls_Refusal& refusal, const Curl_Generation& gen, const std::string& host,
                           unsigned short port);

}  // namespace devhost

#endif /* DEVHOST_SERVICES_TRANSFER_CAUSE_H */
