#include "tests/support/program.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include "tests/support/spawn.h"

namespace test_support
{
using namespace process;

namespace
{
int remove_entry(const char* path, const struct stat*, int, struct FTW*)
{
  return ::remove(path);
}
}  // namespace

std::string temp_root()
{
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

Program_Result run_program(const std::vector<std::string>& argv, const std::string& input, int timeout_ms,
                           const std::vector<std::string>& env)
{
  Program_Result result;
  if (argv.empty())
  {
    result.err = "no program given";
    return result;
  }
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0)
    return result;
  if (::pipe2(out, O_CLOEXEC) != 0)
  {
    ::close(in[0]), ::close(in[1]);
    return result;
  }
  if (::pipe2(err, O_CLOEXEC) != 0)
  {
    ::close(in[0]), ::close(in[1]), ::close(out[0]), ::close(out[1]);
    return result;
  }
  pid_t pid = 0;
  int rc = spawn(argv, env, in[0], out[1], err[1], pid);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  if (rc != 0)
  {
    ::close(in[1]), ::close(out[0]), ::close(err[0]);
    result.err = "cannot run " + argv[0] + ": " + std::strerror(rc);
    return result;
  }

  // Feed stdin and drain both outputs together, so that neither side can
  // block the other on a full pipe.
  Clock::time_point deadline = deadline_in(timeout_ms);
  std::size_t written = 0;
  int in_fd = in[1];
  if (input.empty())
  {
    ::close(in_fd);
    in_fd = -1;
  }
  else
    ::fcntl(in_fd, F_SETFL, O_NONBLOCK);
  int out_fd = out[0];
  int err_fd = err[0];
  bool timed_out = false;
  while (in_fd >= 0 || out_fd >= 0 || err_fd >= 0)
  {
    pollfd fds[3] = {{in_fd, POLLOUT, 0}, {out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    int ready = ::poll(fds, 3, remaining_ms(deadline));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0)
    {
      timed_out = ready == 0;
      break;
    }
    if (in_fd >= 0 && fds[0].revents != 0)
    {
      ssize_t n = ::write(in_fd, input.data() + written, input.size() - written);
      if (n > 0)
        written += static_cast<std::size_t>(n);
      if ((n < 0 && errno != EAGAIN) || written == input.size())
      {
        ::close(in_fd);
        in_fd = -1;
      }
    }
    for (int i = 1; i < 3; ++i)
    {
      int& fd = i == 1 ? out_fd : err_fd;
      if (fd < 0 || fds[i].revents == 0)
        continue;
      char buf[4096];
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n > 0)
        (i == 1 ? result.out : result.err).append(buf, static_cast<std::size_t>(n));
      else if (n == 0 || errno != EINTR)
      {
        ::close(fd);
        fd = -1;
      }
    }
  }
  for (int fd : {in_fd, out_fd, err_fd})
    if (fd >= 0)
      ::close(fd);
  int status = timed_out ? -1 : wait_exit(pid, remaining_ms(deadline));
  if (status == -1)
  {
    ::kill(pid, SIGKILL);
    wait_exit(pid, 10000);
    result.err += "\n(killed after " + std::to_string(timeout_ms) + " ms)";
    return result;
  }
  result.exit_code = exit_code(status);
  return result;
}

Temp_Dir::Temp_Dir()
{
  std::string pattern = temp_root() + "/quorvane-test-XXXXXX";
  if (::mkdtemp(&pattern[0]) != nullptr)
    path_ = pattern;
}

Temp_Dir::~Temp_Dir()
{
  if (!path_.empty())
    ::nftw(path_.c_str(), &remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace test_support
