#ifndef QUORVANE_CORE_UTILS_H
#define QUORVANE_CORE_UTILS_H

#include "host/json_spirit_value.h"

namespace quorvane
{
/**
 * Decrypts the account's secret key in place: the string member
 * "secret_key" of @a host_info (RSA-encrypted for the appliance, Base64) is
 * replaced by the plain key as a secure string value.  False, with one log
 * line and the object unchanged, when the member is missing or not a
 * string, or does not decrypt with the appliance's private key.  Changes
 * @a host_info without a lock: the caller owns it for the call.
 */
bool check_host_info(json_spirit::Object& host_info);

}  // namespace quorvane

#endif /* QUORVANE_CORE_UTILS_H */
