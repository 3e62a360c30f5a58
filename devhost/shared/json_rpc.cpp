// The JSON-RPC messages, channel and handler base of the host
// (host/json_rpc.h), and the development host's own messages
// (devhost/harness/json_rpc_messages.h).
#include "host/json_rpc.h"

#include <cerrno>
#include <memory>
#include <new>

#include "devhost/harness/json_rpc_messages.h"

JSON_RPC_Object::~JSON_RPC_Object() {}

JSON_RPC_Request_Base::~JSON_RPC_Request_Base() {}

JSON_RPC_Request::~JSON_RPC_Request() {}

JSON_RPC_Response::JSON_RPC_Response(const JSON_RPC_Request_Base* req)
    : JSON_RPC_Object(TYPE_RESPONSE), id(req == nullptr ? json_spirit::Value() : req->id)
{
}

JSON_RPC_Response::~JSON_RPC_Response() {}

namespace devhost
{
JSON_RPC_Notification::~JSON_RPC_Notification() {}

JSON_RPC_Error_Response::JSON_RPC_Error_Response(int code_arg, const json_spirit::Value& id_arg,
                                                 const char* message_arg, const json_spirit::Value& data_arg)
    : JSON_RPC_Object(TYPE_RESPONSE_ERROR),
      id(id_arg),
      code(code_arg),
      message(message_arg == nullptr ? "" : message_arg),
      data(data_arg)
{
}

JSON_RPC_Error_Response::~JSON_RPC_Error_Response() {}

namespace
{
json_spirit::Value request_json(const JSON_RPC_Request_Base& req)
{
  json_spirit::Object obj;
  obj["jsonrpc"] = "2.0";
  obj["method"] = req.method;
  if (!req.params.is_null())
    obj["params"] = req.params;
  if (req.type() == JSON_RPC_Object::TYPE_REQUEST)
    obj["id"] = req.id;
  return json_spirit::Value(std::move(obj));
}

json_spirit::Value response_json(const JSON_RPC_Response& resp)
{
  json_spirit::Object obj;
  obj["jsonrpc"] = "2.0";
  obj["result"] = resp.result;
  obj["id"] = resp.id;
  return json_spirit::Value(std::move(obj));
}

json_spirit::Value error_json(const JSON_RPC_Error_Response& err)
{
  json_spirit::Object error;
  error["code"] = err.code;
  error["message"] = err.message;
  if (!err.data.is_null())
    error["data"] = err.data;
  json_spirit::Object obj;
  obj["jsonrpc"] = "2.0";
  obj["error"] = std::move(error);
  obj["id"] = err.id;
  return json_spirit::Value(std::move(obj));
}
}  // namespace

json_spirit::Value to_json(const JSON_RPC_Object& msg)
{
  // Every message of this host is one of these classes: the type says which.
  switch (msg.type())
  {
    case JSON_RPC_Object::TYPE_NOTIFY:
    case JSON_RPC_Object::TYPE_REQUEST:
      return request_json(static_cast<const JSON_RPC_Request_Base&>(msg));
    case JSON_RPC_Object::TYPE_RESPONSE:
      return response_json(static_cast<const JSON_RPC_Response&>(msg));
    case JSON_RPC_Object::TYPE_RESPONSE_ERROR:
      return error_json(static_cast<const JSON_RPC_Error_Response&>(msg));
    case JSON_RPC_Object::TYPE_NONE:
      break;
  }
  return json_spirit::Value();
}
}  // namespace devhost

JSON_RPC_Channel::~JSON_RPC_Channel() {}

int JSON_RPC_Channel::send_error(int code, const json_spirit::Value& id, const char* message,
                                 const json_spirit::Value& data)
{
  devhost::JSON_RPC_Error_Response* reply =
      new (std::nothrow) devhost::JSON_RPC_Error_Response(code, id, message, data);
  if (reply == nullptr)
  {
    errno = ENOMEM;
    return -1;
  }
  // ACE's pointer allocates its counter and throws std::bad_alloc without
  // taking the object when that fails: it stays ours until the pointer holds it.
  std::unique_ptr<devhost::JSON_RPC_Error_Response> pending(reply);
  JSON_RPC_Object_var var(reply);
  static_cast<void>(pending.release());  // var owns it now
  return send(var);
}

JSON_RPC_Handler::JSON_RPC_Handler() {}

JSON_RPC_Handler::~JSON_RPC_Handler() {}

int JSON_RPC_Handler::init(int, char**)
{
  return 0;
}

int JSON_RPC_Handler::fini()
{
  return 0;
}

// NOLINTNEXTLINE(performance-unnecessary-value-param): the host contract's signature
int JSON_RPC_Handler::handle(JSON_RPC_Channel_wvar channel, JSON_RPC_Object_var obj)
{
  return handle_object(channel, obj);
}

// NOLINTNEXTLINE(performance-unnecessary-value-param): the host contract's signature
int JSON_RPC_Handler::handle_object(JSON_RPC_Channel_wvar, JSON_RPC_Object_var)
{
  return -1;
}

// NOLINTNEXTLINE(performance-unnecessary-value-param): the host contract's signature
void JSON_RPC_Handler::handle_object_post(const Context&, JSON_RPC_Channel_var, JSON_RPC_Object_var) {}

void* JSON_RPC_Handler::create_params_handler()
{
  return nullptr;
}
