#include "tests/support/child_process.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include "tests/support/program.h"
#include "tests/support/spawn.h"

namespace test_support
{
using namespace process;

Child_Process::Child_Process(const std::vector<std::string>& argv, const std::vector<std::string>& env)
    : pid_(-1), stdin_fd_(-1), stdout_fd_(-1)
{
  std::string log = temp_root() + "/quorvane-child-XXXXXX";
  int log_fd = ::mkostemp(&log[0], O_CLOEXEC);
  if (log_fd < 0)
  {
    error_ = std::string("cannot make a file for stderr: ") + std::strerror(errno);
    return;
  }
  stderr_path_ = log;
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0)
  {
    ::close(log_fd);
    error_ = std::string("cannot make a pipe: ") + std::strerror(errno);
    return;
  }
  if (::pipe2(out, O_CLOEXEC) != 0)
  {
    ::close(log_fd), ::close(in[0]), ::close(in[1]);
    error_ = std::string("cannot make a pipe: ") + std::strerror(errno);
    return;
  }
  pid_t pid = 0;
  int rc = argv.empty() ? EINVAL : spawn(argv, env, in[0], out[1], log_fd, pid);
  ::close(in[0]);
  ::close(out[1]);
  ::close(log_fd);
  stdin_fd_ = in[1];
  stdout_fd_ = out[0];
  ::fcntl(stdin_fd_, F_SETFL, O_NONBLOCK);
  if (rc != 0)
  {
    close_pipes();
    error_ = "cannot start " + (argv.empty() ? std::string("(nothing)") : argv[0]) + ": " + std::strerror(rc);
    return;
  }
  pid_ = pid;
}

Child_Process::~Child_Process()
{
  stop();
  if (!stderr_path_.empty())
    ::unlink(stderr_path_.c_str());
}

void Child_Process::close_pipes()
{
  close_stdin();
  if (stdout_fd_ >= 0)
    ::close(stdout_fd_);
  stdout_fd_ = -1;
}

bool Child_Process::write(const std::string& text, int timeout_ms)
{
  Clock::time_point deadline = deadline_in(timeout_ms);
  std::size_t written = 0;
  while (stdin_fd_ >= 0 && written < text.size())
  {
    pollfd p = {stdin_fd_, POLLOUT, 0};
    int ready = ::poll(&p, 1, remaining_ms(deadline));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0)
      return false;
    ssize_t n = ::write(stdin_fd_, text.data() + written, text.size() - written);
    if (n < 0 && errno != EAGAIN && errno != EINTR)
      return false;
    written += n > 0 ? static_cast<std::size_t>(n) : 0;
  }
  return written == text.size();
}

void Child_Process::close_stdin()
{
  if (stdin_fd_ >= 0)
    ::close(stdin_fd_);
  stdin_fd_ = -1;
}

bool Child_Process::read_line(std::string& line, int timeout_ms)
{
  Clock::time_point deadline = deadline_in(timeout_ms);
  std::string::size_type end;
  while ((end = pending_.find('\n')) == std::string::npos)
  {
    if (stdout_fd_ < 0)
      return false;
    pollfd p = {stdout_fd_, POLLIN, 0};
    int ready = ::poll(&p, 1, remaining_ms(deadline));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0)
      return false;
    char buf[4096];
    ssize_t n = ::read(stdout_fd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
    {
      ::close(stdout_fd_);
      stdout_fd_ = -1;
      return false;
    }
    pending_.append(buf, static_cast<std::size_t>(n));
  }
  line = pending_.substr(0, end);
  pending_.erase(0, end + 1);
  return true;
}

int Child_Process::finish(std::string* rest, int timeout_ms)
{
  Clock::time_point deadline = deadline_in(timeout_ms);
  close_stdin();
  while (stdout_fd_ >= 0)
  {
    pollfd p = {stdout_fd_, POLLIN, 0};
    int ready = ::poll(&p, 1, remaining_ms(deadline));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0)
      break;
    char buf[4096];
    ssize_t n = ::read(stdout_fd_, buf, sizeof buf);
    if (n > 0)
      pending_.append(buf, static_cast<std::size_t>(n));
    else if (n == 0 || errno != EINTR)
      close_pipes();
  }
  if (rest != nullptr)
    *rest = pending_;
  pending_.clear();
  if (pid_ <= 0)
    return -1;
  int status = stdout_fd_ >= 0 ? -1 : wait_exit(pid_, remaining_ms(deadline));
  if (status == -1)
  {
    ::kill(pid_, SIGKILL);
    wait_exit(pid_, 10000);
  }
  pid_ = -1;
  close_pipes();
  return exit_code(status);
}

int Child_Process::stop(int grace_ms)
{
  int code = -1;
  if (pid_ > 0)
    code = exit_code(terminate(pid_, grace_ms));
  pid_ = -1;
  close_pipes();
  return code;
}

std::string Child_Process::stderr_text() const
{
  return stderr_path_.empty() ? std::string() : read_file(stderr_path_);
}

}  // namespace test_support
