#include "tests/support/program.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef QUORVANE_BIN_DIR
#error "QUORVANE_BIN_DIR must name the build's bin directory"
#endif

extern char** environ;

namespace test_support
{
namespace
{
typedef std::chrono::steady_clock Clock;

Clock::time_point deadline_in(int ms)
{
  return Clock::now() + std::chrono::milliseconds(ms);
}

int remaining_ms(Clock::time_point deadline)
{
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

std::vector<char*> c_strings(std::vector<std::string>& strings)
{
  std::vector<char*> out;
  for (std::string& s : strings)
    out.push_back(&s[0]);
  out.push_back(nullptr);
  return out;
}

/// This process's environment with @a extra ("NAME=value") replacing or
/// adding variables: a child's getenv finds the first of two entries, so
/// an added one must not follow an inherited one of the same name.
std::vector<std::string> child_environment(const std::vector<std::string>& extra)
{
  std::vector<std::string> vars;
  for (char** e = environ; *e != nullptr; ++e)
  {
    std::string var = *e;
    bool replaced = false;
    for (const std::string& x : extra)
    {
      std::string::size_type name_end = x.find('=');
      replaced = replaced ||
                 (name_end != std::string::npos && var.compare(0, name_end + 1, x, 0, name_end + 1) == 0);
    }
    if (!replaced)
      vars.push_back(var);
  }
  vars.insert(vars.end(), extra.begin(), extra.end());
  return vars;
}

/// Waits up to @a timeout_ms for @a pid to exit; its raw status, or -1 on
/// timeout (the child is then still there).
int wait_exit(pid_t pid, int timeout_ms)
{
  // A pidfd turns "wait with a timeout" into a poll, with no sleeping loop.
  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0)
  {
    pollfd p = {pidfd, POLLIN, 0};
    int ready;
    do
      ready = ::poll(&p, 1, timeout_ms);
    while (ready < 0 && errno == EINTR);
    ::close(pidfd);
    if (ready == 0)
      return -1;
  }
  int status = 0;
  pid_t got;
  do
    got = ::waitpid(pid, &status, 0);
  while (got < 0 && errno == EINTR);
  return got == pid ? status : -1;
}

int exit_code(int status)
{
  return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/// Stops @a pid: SIGTERM, then SIGKILL after @a grace_ms; the raw status.
int terminate(pid_t pid, int grace_ms)
{
  ::kill(pid, SIGTERM);
  int status = wait_exit(pid, grace_ms);
  if (status == -1)
  {
    ::kill(pid, SIGKILL);
    wait_exit(pid, 10000);
  }
  return status;
}

std::string read_file(const std::string& path)
{
  std::string text;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return text;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0)
      text.append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  return text;
}

int remove_entry(const char* path, const struct stat*, int, struct FTW*)
{
  return ::remove(path);
}

/// @a argv, behind the words of QUORVANE_TEST_EXEC_WRAPPER when it is set
/// and argv[0] is one of the build's own programs.  A cross build's tests
/// run under qemu-user, which cannot start another arm64 program by itself
/// (no binfmt_misc registration is assumed), so ctest sets the wrapper to the
/// emulator's command line.  Programs of the build machine (python3,
/// openssl) keep running natively.
std::vector<std::string> wrapped(const std::vector<std::string>& argv)
{
  const char* wrapper = std::getenv("QUORVANE_TEST_EXEC_WRAPPER");
  const std::string own = QUORVANE_BIN_DIR "/";
  if (wrapper == nullptr || argv.empty() || argv[0].compare(0, own.size(), own) != 0)
    return argv;
  std::vector<std::string> out;
  const char* blanks = " \t";
  std::string words(wrapper);
  for (std::string::size_type b = words.find_first_not_of(blanks); b != std::string::npos;)
  {
    std::string::size_type e = words.find_first_of(blanks, b);
    out.push_back(words.substr(b, e == std::string::npos ? e : e - b));
    b = e == std::string::npos ? e : words.find_first_not_of(blanks, e);
  }
  out.insert(out.end(), argv.begin(), argv.end());
  return out;
}

/// Starts wrapped(@a argv) with the three descriptors as its stdin, stdout
/// and stderr; 0 or an errno value.
int spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int in, int out, int err,
          pid_t& pid)
{
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  std::vector<std::string> args = wrapped(argv);
  std::vector<char*> c_args = c_strings(args);
  std::vector<std::string> vars = child_environment(env);
  std::vector<char*> c_env = c_strings(vars);
  // posix_spawnp: a name without a slash (a wrapper's first word, python3)
  // is looked up in PATH.
  int rc = posix_spawnp(&pid, c_args[0], &actions, nullptr, c_args.data(), c_env.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc;
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
