#include "host/json_rpc.h"

#include <cerrno>
#include <memory>
#include <new>

JSON_RPC_Object::~JSON_RPC_Object() {}

JSON_RPC_Request_Base::~JSON_RPC_Request_Base() {}

json_spirit::Value JSON_RPC_Request_Base::to_json() const
{
  json_spirit::Object obj;
  obj["jsonrpc"] = "2.0";
  obj["method"] = method;
  if (!params.is_null())
    obj["params"] = params;
  if (type() == TYPE_REQUEST)
    obj["id"] = id;
  return json_spirit::Value(std::move(obj));
}

JSON_RPC_Request::~JSON_RPC_Request() {}

JSON_RPC_Notification::~JSON_RPC_Notification() {}

JSON_RPC_Response::JSON_RPC_Response(const JSON_RPC_Request_Base* req)
    : JSON_RPC_Object(TYPE_RESPONSE), id(req == nullptr ? json_spirit::Value() : req->id)
{
}

JSON_RPC_Response::~JSON_RPC_Response() {}

json_spirit::Value JSON_RPC_Response::to_json() const
{
  json_spirit::Object obj;
  obj["jsonrpc"] = "2.0";
  obj["result"] = result;
  obj["id"] = id;
  return json_spirit::Value(std::move(obj));
}

JSON_RPC_Error_Response::JSON_RPC_Error_Response(int code_arg, const json_spirit::Value& id_arg,
                                                 const char* message_arg,
                                                 const json_spirit::Value& data_arg)
    : JSON_RPC_Object(TYPE_RESPONSE_ERROR),
      id(id_arg),
      code(code_arg),
      message(message_arg == nullptr ? "" : message_arg),
      data(data_arg)
{
}

JSON_RPC_Error_Response::~JSON_RPC_Error_Response() {}

json_spirit::Value JSON_RPC_Error_Response::to_json() const
{
  json_spirit::Object error;
  error["code"] = code;
  error["message"] = message;
  if (!data.is_null())
    error["data"] = data;
  json_spirit::Object obj;
  obj["jsonrpc"] = "2.0";
  obj["error"] = std::move(error);
  obj["id"] = id;
  return json_spirit::Value(std::move(obj));
}

JSON_RPC_Channel::~JSON_RPC_Channel() {}

int JSON_RPC_Channel::send_error(int code, const json_spirit::Value& id, const char* message,
                                 const json_spirit::Value& data)
{
  JSON_RPC_Error_Response* reply = new (std::nothrow) JSON_RPC_Error_Response(code, id, message, data);
  if (reply == nullptr)
  {
    errno = ENOMEM;
    return -1;
  }
  // ACE's pointer allocates its counter and throws std::bad_alloc without
  // taking the object when that fails: it stays ours until the pointer holds it.
  std::unique_ptr<JSON_RPC_Error_Response> pending(reply);
  JSON_RPC_Object_var var(reply);
  pending.release();
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

int JSON_RPC_Handler::handle(JSON_RPC_Channel_wvar channel, JSON_RPC_Object_var obj)
{
  return handle_object(channel, obj);
}

int JSON_RPC_Handler::handle_object(JSON_RPC_Channel_wvar, JSON_RPC_Object_var)
{
  return -1;
}

void JSON_RPC_Handler::handle_object_post(const Context&, JSON_RPC_Channel_var, JSON_RPC_Object_var) {}

void* JSON_RPC_Handler::create_params_handler()
{
  return nullptr;
}
