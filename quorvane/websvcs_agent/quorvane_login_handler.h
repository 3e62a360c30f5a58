#ifndef QUORVANE_WEBSVCS_AGENT_QUORVANE_LOGIN_HANDLER_H
#define QUORVANE_WEBSVCS_AGENT_QUORVANE_LOGIN_HANDLER_H

#include "host/json_rpc.h"

/// JSON-RPC 2.0 error codes.
enum
{
  JSON_RPC_E_PARSE_ERROR = -32700,
  JSON_RPC_E_INVALID_REQUEST = -32600,
  JSON_RPC_E_METHOD_NOT_FOUND = -32601,
  JSON_RPC_E_INVALID_PARAMS = -32602,
  JSON_RPC_E_INTERNAL_ERROR = -32603,
  JSON_RPC_E_MIN_SERVER_ERROR = -32099,
  JSON_RPC_E_MAX_SERVER_ERROR = -32000
};

/**
 * Answers the login request of a cloud account: decrypts the account's
 * secret key in the request's params (which keep the decrypted key as a
 * secure string from then on), loads the credentials, asks the service for
 * its version with one signed request, and replies with
 * {"code": 0, "message": "Success to login", "version": ...} or with the
 * JSON-RPC error of the step that failed.
 *
 * Stateless: requests may be handled on several threads at once, each on
 * its own objects.  Created by `_make_JSON_RPC_Quorvane_Login_Handler`.
 */
class JSON_RPC_Quorvane_Login_Handler : public JSON_RPC_Thread_Handler
{
public:
  JSON_RPC_Quorvane_Login_Handler();
  ~JSON_RPC_Quorvane_Login_Handler() override;

  /**
   * Handles one message.  Objects that are not requests, and requests whose
   * requester has gone (@a channel null), get no reply and -1.  Otherwise the
   * result is that of the reply call.  An exception from below (memory
   * exhaustion) leaves without a reply, after every local is released.
   */
  int handle_object_i(JSON_RPC_Channel_var channel, JSON_RPC_Object_var obj) override;
};

#endif /* QUORVANE_WEBSVCS_AGENT_QUORVANE_LOGIN_HANDLER_H */
