// quorvane-host: the development host program.  It loads the module with
// dlopen exactly as the appliance's host does and drives its handlers.

#include <cstdio>
#include <cstring>

#include "tools/host/commands.h"

namespace
{
struct Command
{
  const char* name;
  int (*run)(int, char**);
  const char* usage;
};

const Command COMMANDS[] = {
  {"probe", cmd_probe, "probe [--module FILE]"},
  {"keygen", cmd_keygen, "keygen --out DIR"},
  {"encrypt", cmd_encrypt, "encrypt --pubkey FILE   (the secret on stdin)"},
  {"login", cmd_login,
   "login [--module FILE] --key FILE --host H [--port N] [--ssl] --access-key AK\n"
   "        [--ca-file F] [--timeout S]   (the secret in QUORVANE_SECRET_KEY or on stdin)"},
  {"rpc", cmd_rpc,
   "rpc [--module FILE] --key FILE [--ca-file F] [--timeout S] [--method NAME] [--threads N]\n"
   "        (JSON-RPC 2.0 messages on stdin, one per line; replies on stdout)"},
};

void usage()
{
  std::fprintf(stderr, "usage: quorvane-host COMMAND [OPTIONS]\n\ncommands:\n");
  for (const Command& c : COMMANDS)
    std::fprintf(stderr, "  %s\n", c.usage);
}
}  // namespace

int main(int argc, char** argv)
{
  if (argc < 2)
  {
    usage();
    return 2;
  }
  for (const Command& c : COMMANDS)
    if (std::strcmp(argv[1], c.name) == 0)
      return c.run(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "--help") != 0 && std::strcmp(argv[1], "-h") != 0)
    std::fprintf(stderr, "quorvane-host: unknown command '%s'\n", argv[1]);
  usage();
  return 2;
}
