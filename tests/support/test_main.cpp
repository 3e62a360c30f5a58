// The main function of every test program.  Before any test runs it takes
// out of the environment what would let the machine decide a result:
//
// - the proxy variables, which libcurl honours (a test talking to a
//   loopback server through the caller's proxy would fail, or pass for the
//   wrong reason); a test about proxies sets them itself;
// - the development host's own settings (QUORVANE_CA_FILE,
//   QUORVANE_TIMEOUT_MS, QUORVANE_SECRET_KEY, QUORVANE_HOST_KEY, ...), which
//   change the client's options and the programs' inputs; only the tests'
//   own QUORVANE_TEST_* variables stay.
//
// Programs the tests start inherit the cleaned environment.

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

namespace
{
const char* const PROXY_VARIABLES[] = {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                                       "ALL_PROXY",  "all_proxy",   "NO_PROXY",   "no_proxy"};

void clean_environment()
{
  std::vector<std::string> names(std::begin(PROXY_VARIABLES), std::end(PROXY_VARIABLES));
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "QUORVANE_", 9) == 0 && std::strncmp(*e, "QUORVANE_TEST_", 14) != 0)
      names.push_back(std::string(*e, std::strcspn(*e, "=")));
  for (const std::string& name : names)
    ::unsetenv(name.c_str());
}
}  // namespace

int main(int argc, char** argv)
{
  clean_environment();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
