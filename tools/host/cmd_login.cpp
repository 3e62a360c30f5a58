// quorvane-host login: one login through the loaded module, as the host's
// web service agent would send it.

#include <cstdio>
#include <string>

#include "devhost/harness/json_rpc_messages.h"
#include "host/json_spirit_utils.h"
#include "tools/common/take_env.h"
#include "tools/host/commands.h"
#include "tools/host/login_module.h"
#include "tools/host/secret_input.h"
#include "tools/host/usage.h"

namespace
{
/// Captures the one reply of the login.
class Reply_Channel : public JSON_RPC_Channel
{
public:
  int send(JSON_RPC_Object_var obj) override
  {
    reply = devhost::to_json(*obj);
    return 0;
  }
  json_spirit::Value reply;
};
}  // namespace

int cmd_login(int argc, char** argv)
{
  // Taken out of the environment first, whatever follows: a secret left
  // there is readable by the owner's other processes through /proc and
  // goes to every program this one might start.
  secure_string secret;
  const bool secret_from_env = tools::take_env("QUORVANE_SECRET_KEY", secret);

  tools::Options opts({"--module", "--key", "--host", "--port", "--access-key", "--ca-file", "--timeout"},
                      {"--ssl"});
  int rc = parse_command_line("login", opts, argc, argv);
  if (rc >= 0)
    return rc;
  for (const char* required : {"--key", "--host", "--access-key"})
    if (!opts.has(required))
      return usage_error("login", std::string(required) + " is required");
  long long port = 30188;
  if (!opts.number("--port", 1, 65535, port))
    return usage_error("login", "--port takes 1 to 65535: " + opts.get("--port"));
  std::string error;
  if (!configure_login_services(opts, error))
    return usage_error("login", error);

  if (!secret_from_env && !read_secret_from_stdin(secret))
    return usage_error("login", "cannot read the secret key from stdin (at most " +
                                    std::to_string(SECRET_MAX_INPUT) + " bytes)");
  if (secret.empty())
    return usage_error("login", "the secret key is empty");
  std::string ciphertext;
  if (!encrypt_for_appliance(opts.get("--key"), secret, ciphertext, error))
  {
    std::fprintf(stderr, "quorvane-host login: %s\n", error.c_str());
    return 1;
  }

  Login_Module login;
  if (!login.open(opts.get("--module", default_module_path()), 1))
  {
    std::fprintf(stderr, "quorvane-host login: %s\n", login.error().c_str());
    return 1;
  }

  JSON_RPC_Request* req = new JSON_RPC_Request;
  JSON_RPC_Object_var obj(req);
  req->method = "login";
  req->id = 1;
  json_spirit::Object params;
  params["host"] = opts.get("--host");
  params["port"] = static_cast<int>(port);
  params["ssl"] = opts.has("--ssl");
  params["access_key"] = opts.get("--access-key");
  params["secret_key"] = ciphertext;
  req->params = json_spirit::Value(std::move(params));

  Reply_Channel* channel = new Reply_Channel;
  JSON_RPC_Channel_var strong(channel);
  login.handler().handle(JSON_RPC_Channel_wvar(strong), obj);
  // The one login is all this handler does: fini lets it finish.
  login.handler().fini();

  if (channel->reply.is_null())
  {
    std::fprintf(stderr, "quorvane-host login: the module sent no reply\n");
    return 1;
  }
  std::printf("%s\n", json_spirit::JSON_Dump(channel->reply, true).c_str());
  const json_spirit::Object& reply = channel->reply.get_obj();
  return reply.count("result") != 0 ? 0 : 1;
}
