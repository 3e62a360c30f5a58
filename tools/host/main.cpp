// quorvane-host: the development host program.  It loads the module with
// dlopen exactly as the appliance's host does and drives its handlers.

#include <cstdio>
#include <cstring>

#include "tools/host/commands.h"
#include "tools/host/usage.h"

namespace
{
struct Command
{
  const char* name;
  int (*run)(int, char**);
};

const Command COMMANDS[] = {
    {"probe", cmd_probe}, {"keygen", cmd_keygen}, {"encrypt", cmd_encrypt},
    {"login", cmd_login}, {"rpc", cmd_rpc},       {"serve", cmd_serve},
};
}  // namespace

int main(int argc, char** argv)
{
  if (argc < 2)
  {
    print_usage(nullptr, stderr);
    return 2;
  }
  for (const Command& c : COMMANDS)
    if (std::strcmp(argv[1], c.name) == 0)
      return c.run(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)
  {
    print_usage(nullptr, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  std::fprintf(stderr, "quorvane-host: unknown command '%s'\n", argv[1]);
  print_usage(nullptr, stderr);
  return 2;
}
