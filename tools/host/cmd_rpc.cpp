// quorvane-host rpc: JSON-RPC 2.0 texts on stdin, one per line, handed to
// the module's login handler; replies on stdout, one per line; log lines on
// stderr.

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "tools/host/commands.h"
#include "tools/host/login_module.h"
#include "tools/host/rpc_session.h"

namespace
{
const char USAGE[] =
    "usage: quorvane-host rpc [--module FILE] --key FILE [--ca-file F] [--timeout S]\n"
    "                         [--method NAME] [--threads N]\n";
}  // namespace

int cmd_rpc(int argc, char** argv)
{
  Options opts({"--module", "--key", "--ca-file", "--timeout", "--method", "--threads"}, {});
  if (!opts.parse(argc, argv))
  {
    std::fprintf(stderr, "quorvane-host rpc: %s\n%s", opts.error().c_str(), USAGE);
    return 2;
  }
  std::string error;
  if (!configure_login_services(opts, error))
  {
    std::fprintf(stderr, "quorvane-host rpc: %s\n", error.c_str());
    return 2;
  }
  int threads = std::atoi(opts.get("--threads", "4").c_str());
  if (threads < 1 || threads > 256)
  {
    std::fprintf(stderr, "quorvane-host rpc: --threads takes 1 to 256\n%s", USAGE);
    return 2;
  }

  Login_Module login;
  if (!login.open(opts.get("--module", default_module_path()), threads))
  {
    std::fprintf(stderr, "quorvane-host rpc: %s\n", login.error().c_str());
    return 1;
  }
  RPC_Session session(login.handler(), opts.get("--method", "login"), stdout);
  std::string line;
  while (std::getline(std::cin, line))
    session.feed(line);
  session.finish();
  return 0;
}
