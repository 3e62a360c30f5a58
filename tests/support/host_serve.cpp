#include "tests/support/host_serve.h"

#include <cstdlib>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace test_support
{
namespace
{
std::vector<std::string> serve_command(const std::string& program, const std::vector<std::string>& args)
{
  std::vector<std::string> argv = {program, "serve"};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}
}  // namespace

Host_Serve_Process::Host_Serve_Process(const std::string& program, const std::vector<std::string>& args)
    : child_(serve_command(program, args))
{
  std::string line;
  const std::string prefix = "listening on 127.0.0.1:";
  if (child_.started() && child_.read_line(line, 30000) && line.compare(0, prefix.size(), prefix) == 0)
    port_ = std::atoi(line.c_str() + prefix.size());
  if (port_ <= 0 || port_ > 65535)
  {
    port_ = 0;
    error_ = "serve did not start: '" + line + "' " + child_.error() + "\n" + child_.stderr_text();
  }
}

int connect_loopback(int port)
{
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
    return fd;
  if (fd >= 0)
    ::close(fd);
  return -1;
}

}  // namespace test_support
