#ifndef TESTS_SUPPORT_PROXY_VARIABLES_H
#define TESTS_SUPPORT_PROXY_VARIABLES_H

#include <cstdlib>

namespace test_support
{
/// The environment variables that send libcurl's requests to a proxy, or
/// around one.
inline constexpr const char* PROXY_VARIABLES[] = {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                                                  "ALL_PROXY",  "all_proxy",   "NO_PROXY",   "no_proxy"};

/**
 * Removes every proxy variable from this process's environment, and so from
 * the programs it starts: a request to a loopback server then goes there
 * directly, whatever the caller's settings (through the caller's proxy it
 * would fail, or pass for the wrong reason).  Call it before any other
 * thread runs; the environment is not safe to change under readers.
 */
inline void clear_proxy_variables()
{
  for (const char* name : PROXY_VARIABLES)
    ::unsetenv(name);
}

}  // namespace test_support

#endif /* TESTS_SUPPORT_PROXY_VARIABLES_H */
