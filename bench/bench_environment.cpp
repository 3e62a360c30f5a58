// Part of every benchmark program (quorvane_add_bench adds it): before main
// runs, the proxy variables go from the environment, as the test programs'
// main does, so that a benchmark talking to an emulator on loopback (and
// the emulator it starts) measures that exchange and not the caller's
// proxy.  Static initialisation runs before main starts any thread.

#include "tests/support/proxy_variables.h"

namespace
{
struct Clear_Proxy_Variables
{
  Clear_Proxy_Variables() { test_support::clear_proxy_variables(); }
};
const Clear_Proxy_Variables clear_proxy_variables;
}  // namespace
