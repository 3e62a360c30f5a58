#ifndef DEVHOST_JSON_RPC_MESSAGES_H
#define DEVHOST_JSON_RPC_MESSAGES_H

#include <string>

#include "host/json_rpc.h"
#include "host/json_spirit_value.h"

/**
 * The development host's own JSON-RPC messages, and the JSON text of any
 * message, for its channels, tools and tests.  Not part of the host's
 * interface: the module never sees them.  Both hosts of this project
 * implement them (devhost/shared/json_rpc.cpp); another host that offers the
 * harness (docs/host-contract.md: "Building it against another host") implements them for
 * its own messages.
 */
namespace devhost
{
/// The JSON-RPC 2.0 error codes that the hosts and their tools answer with,
/// spelled as the module spells its own (which cannot include this header).
enum
{
  JSON_RPC_E_PARSE_ERROR = -32700,
  JSON_RPC_E_INVALID_REQUEST = -32600,
  JSON_RPC_E_METHOD_NOT_FOUND = -32601,
  JSON_RPC_E_INVALID_PARAMS = -32602,
  JSON_RPC_E_INTERNAL_ERROR = -32603
};

/// A notification (`TYPE_NOTIFY`): a request that expects no reply.
class JSON_RPC_Notification : public JSON_RPC_Request_Base
{
public:
  JSON_RPC_Notification() : JSON_RPC_Request_Base(TYPE_NOTIFY) {}
  ~JSON_RPC_Notification() override;
};

/// An error reply (`TYPE_RESPONSE_ERROR`), as `JSON_RPC_Channel::send_error`
/// builds it.
class JSON_RPC_Error_Response : public JSON_RPC_Object
{
public:
  JSON_RPC_Error_Response(int code, const json_spirit::Value& id, const char* message,
                          const json_spirit::Value& data);
  ~JSON_RPC_Error_Response() override;

  json_spirit::Value id;
  int code;
  std::string message;
  /// Left out of the reply when null.
  json_spirit::Value data;
};

/**
 * @a msg as a JSON-RPC 2.0 object ("jsonrpc": "2.0" included), by its type:
 * a request or notification (method, params when not null, and the id of a
 * request), a success reply, or an error reply made by this host's
 * `send_error` (or as a `JSON_RPC_Error_Response`).  Null for `TYPE_NONE`.
 */
json_spirit::Value to_json(const JSON_RPC_Object& msg);
}  // namespace devhost

#endif /* DEVHOST_JSON_RPC_MESSAGES_H */
