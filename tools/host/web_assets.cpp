#include "tools/host/web_assets.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/host/module_path.h"

namespace
{
const struct
{
  const char* extension;
  const char* type;
} CONTENT_TYPES[] = {
    {".html", "text/html; charset=utf-8"},
    {".js", "text/javascript; charset=utf-8"},
    {".css", "text/css; charset=utf-8"},
    {".png", "image/png"},
    {".svg", "image/svg+xml"},
    {".ico", "image/x-icon"},
    {".json", "application/json"},
    {".map", "application/json"},
    {".txt", "text/plain; charset=utf-8"},
};

bool name_char(char c)
{
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
         c == '-';
}
}  // namespace

const char* Web_Assets::content_type(const std::string& name)
{
  for (const auto& t : CONTENT_TYPES)
  {
    const std::size_t n = std::strlen(t.extension);
    if (name.size() > n && name.compare(name.size() - n, n, t.extension) == 0)
      return t.type;
  }
  return nullptr;
}

bool Web_Assets::servable(const std::string& name)
{
  if (name.empty() || name[0] == '.')
    return false;
  for (char c : name)
    if (!name_char(c))
      return false;
  return content_type(name) != nullptr;
}

bool Web_Assets::read(const std::string& name, std::string& body) const
{
  if (!servable(name))
    return false;
  // The name is one path component, so the file is in the folder (or is
  // what a link placed there by the folder's owner points to).
  int fd = ::open((dir_ + "/" + name).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0)
    return false;
  struct stat st;
  bool ok =
      ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<std::size_t>(st.st_size) <= WEB_ASSET_MAX;
  body.clear();
  char block[16384];
  while (ok)
  {
    ssize_t n = ::read(fd, block, sizeof block);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
    {
      ok = n == 0;
      break;
    }
    body.append(block, static_cast<std::size_t>(n));
    ok = body.size() <= WEB_ASSET_MAX;
  }
  ::close(fd);
  return ok;
}

std::string default_assets_dir()
{
  const std::string dir = program_dir();
  return (dir.empty() ? std::string(".") : dir) + "/../share/quorvane-devhost/web";
}
