#include "quorvane/websvcs_agent/quorvane_login_handler.h"

#include <cerrno>
#include <memory>
#include <new>
#include <utility>

#include <ace/Log_Msg.h>

#include "quorvane/common/auth_info.h"
#include "quorvane/common/version.h"
#include "quorvane/core/quorvane_client.h"
#include "quorvane/core/utils.h"
#include "scrt/smart_ptr_macros.h"

// Branches the macro brings that no test can take: delete's own null test
// after the macro's, and the cleanup of a constructor that throws (this one
// does not).
JSON_RPC_HANDLER_FACTORY_DEFINE(JSON_RPC_Quorvane_Login_Handler)  // GCOVR_EXCL_BR_LINE: as above

JSON_RPC_Quorvane_Login_Handler::JSON_RPC_Quorvane_Login_Handler() {}

JSON_RPC_Quorvane_Login_Handler::~JSON_RPC_Quorvane_Login_Handler() {}

int JSON_RPC_Quorvane_Login_Handler::handle_object_i(JSON_RPC_Channel_var channel, JSON_RPC_Object_var obj)
{
  if (obj->type() != JSON_RPC_Object::TYPE_REQUEST)
  {
    ACE_ERROR((LM_EMERGENCY, ACE_TEXT("Unexpected error in %N:%l, obj is not JSON-RPC request!\n")));
    return -1;
  }
  JSON_RPC_Request& req = static_cast<JSON_RPC_Request&>(*obj);

  // Held until the reply is sent, so the channel cannot go away under it.
  JSON_RPC_Channel_var chn(channel);  // NOLINT(performance-unnecessary-copy-initialization): the hold
  if (chn.get() == nullptr)
  {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Abort handling JSON-RPC request, requester has gone.\n")));
    return -1;
  }

  if (req.params.type() != json_spirit::obj_type)
    return chn->send_error(JSON_RPC_E_INVALID_PARAMS, req.id, "Invalid params: params type must be object.",
                           json_spirit::Value::null);

  // The request's own params: from here on they hold the decrypted secret
  // key (a secure string), whatever happens later.
  json_spirit::Object& host_info = req.params.get_obj();
  quorvane::Auth_Info auth_info;
  bool loaded = quorvane::check_host_info(host_info);
  if (loaded)
  {
    json_spirit::Value params(host_info);
    loaded = auth_info.load(params);
  }
  if (!loaded)
    return chn->send_error(JSON_RPC_E_INVALID_PARAMS, req.id, "Invalid params", json_spirit::Value::null);

  std::shared_ptr<quorvane::Quorvane_Client> client = make_shared_nothrow<quorvane::Quorvane_Client>(auth_info);
  if (!client)
    return chn->send_error(JSON_RPC_E_INVALID_REQUEST, req.id, "Failed to init Quorvane client.",
                           json_spirit::Value::null);

  quorvane::Version version;
  if (!client->get_version(version))
    return chn->send_error(JSON_RPC_E_INTERNAL_ERROR, req.id, "Failed to login Quorvane.", json_spirit::Value::null);

  // The expression's other branches free the block should the constructor
  // throw, which it does only when copying a text id runs out of memory.
  JSON_RPC_Response* resp = new (std::nothrow) JSON_RPC_Response(&req);  // GCOVR_EXCL_BR_LINE
  if (resp == nullptr)
  {
    errno = ENOMEM;
    return chn->send_error(JSON_RPC_E_INTERNAL_ERROR, req.id, "Internal error, out of memory.",
                           json_spirit::Value::null);
  }
  // The pointer's own bookkeeping is allocated too, and when that fails it
  // throws without taking the response: hold it until the pointer owns it.
  std::unique_ptr<JSON_RPC_Response> pending(resp);
  JSON_RPC_Object_var reply(resp);
  static_cast<void>(pending.release());  // reply owns it now
  json_spirit::Object result;
  result["code"] = 0;
  result["message"] = "Success to login";
  result["version"] = version.aboutus_version;
  resp->result = json_spirit::Value(std::move(result));
  return chn->send(reply);
}
