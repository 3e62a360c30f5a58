// Makes every host type the module compiles in reachable from an exported
// function, so that abidiff reports a change to any of them: the module
// itself exports only its two factories, and through them libabigail sees
// only the two handler bases.  Built only for the ABI check
// (tools/ci/abi.sh), into a library with the module's own code.

#include "host/crypto.h"
#include "host/host_manager.h"
#include "host/http.h"
#include "host/instance_handler.h"
#include "host/json_restful_client.h"
#include "host/json_rpc.h"
#include "host/json_spirit_utils.h"
#include "host/json_spirit_value.h"
#include "scrt/http_response.h"
#include "scrt/secure_string.h"

extern "C" HOST_EXPORT void quorvane_host_interface(
    Instance_Handler*, Instance*, instances_type*, JSON_RPC_Thread_Handler*, JSON_RPC_Request*,
    JSON_RPC_Response*, JSON_RPC_Channel*, JSON_RPC_Channel_var*, JSON_RPC_Object_var*, JSON_RPC_Object::Type,
    json_spirit::Value*, json_spirit::Object*, json_spirit::Value_type, json_spirit::JSON_Pointer*, secure_string*,
    HTTP_Request*, HTTP_Response*, CGI_Response*, HTTP_Headers*, decltype(HTTP_METHOD_GET), decltype(HTTP_HEAD_ACCEPT),
    JSON_RESTful_Client*, HMAC_Generator*, RSA_Decoder*, Host_Manager*, secure_ustring*)
{
}
