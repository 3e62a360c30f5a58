#include "tools/host/module_path.h"

#include <limits.h>
#include <unistd.h>

std::string program_dir()
{
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0)
    return std::string();
  std::string dir(self, static_cast<std::size_t>(n));
  dir.erase(dir.rfind('/'));
  return dir;
}

std::string default_module_path()
{
  const std::string dir = program_dir();
  if (dir.empty())
    return "libquorvane.so";
  // Built tree: build/bin/quorvane-host beside build/lib/libquorvane.so.
  std::string built = dir + "/../lib/libquorvane.so";
  if (access(built.c_str(), R_OK) == 0)
    return built;
#ifdef QUORVANE_RELATIVE_MODULE
  // Installed: bin/ beside lib/<triplet>/quorvane/, wherever the tree is (a
  // package unpacked with dpkg -x into any directory, or another prefix).
  std::string installed = dir + "/" QUORVANE_RELATIVE_MODULE;
  if (access(installed.c_str(), R_OK) == 0)
    return installed;
#endif
#ifdef QUORVANE_INSTALLED_MODULE
  return QUORVANE_INSTALLED_MODULE;
#else
  return built;
#endif
}
