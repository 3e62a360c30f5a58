#include "tests/support/spawn.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
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
namespace process
{
namespace
{
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
}  // namespace

Clock::time_point deadline_in(int ms)
{
  return Clock::now() + std::chrono::milliseconds(ms);
}

int remaining_ms(Clock::time_point deadline)
{
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

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

}  // namespace process
}  // namespace test_support
