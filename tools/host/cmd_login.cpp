// quorvane-host login: one login through the loaded module, as the host's
// web service agent would send it.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/json_spirit_utils.h"
#include "tools/host/commands.h"
#include "tools/host/login_module.h"
#include "tools/host/secret_input.h"

namespace
{
const char USAGE[] =
    "usage: quorvane-host login [--module FILE] --key FILE --host H [--port N] [--ssl]\n"
    "                           --access-key AK [--ca-file F] [--timeout S]\n"
    "  the secret key comes from QUORVANE_SECRET_KEY, or else from stdin\n";

int usage(const std::string& why)
{
  std::fprintf(stderr, "quorvane-host login: %s\n%s", why.c_str(), USAGE);
  return 2;
}

/// Captures the one reply of the login.
class Reply_Channel : public JSON_RPC_Channel
{
public:
  int send(JSON_RPC_Object_var obj) override
  {
    reply = obj->to_json();
    return 0;
  }
  json_spirit::Value reply;
};
}  // namespace

int cmd_login(int argc, char** argv)
{
  Options opts({"--module", "--key", "--host", "--port", "--access-key", "--ca-file", "--timeout"}, {"--ssl"});
  if (!opts.parse(argc, argv))
    return usage(opts.error());
  for (const char* required : {"--key", "--host", "--access-key"})
    if (!opts.has(required))
      return usage(std::string(required) + " is required");
  long port = 30188;
  if (opts.has("--port"))
  {
    const std::string text = opts.get("--port");
    char* end = nullptr;
    port = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0' || port < 1 || port > 65535)
      return usage("--port takes 1 to 65535: " + text);
  }
  std::string error;
  if (!configure_login_services(opts, error))
    return usage(error);

  secure_string secret;
  if (const char* env = std::getenv("QUORVANE_SECRET_KEY"))
    secret = env;
  else if (!read_secret_from_stdin(secret))
    return usage("cannot read the secret key from stdin (at most " + std::to_string(SECRET_MAX_INPUT) + " bytes)");
  if (secret.empty())
    return usage("the secret key is empty");
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
  login.handler().wait_idle();

  if (channel->reply.is_null())
  {
    std::fprintf(stderr, "quorvane-host login: the module sent no reply\n");
    return 1;
  }
  std::printf("%s\n", json_spirit::JSON_Dump(channel->reply, true).c_str());
  const json_spirit::Object& reply = channel->reply.get_obj();
  return reply.count("result") != 0 ? 0 : 1;
}
