#ifndef TESTS_SUPPORT_SPAWN_H
#define TESTS_SUPPORT_SPAWN_H

#include <chrono>
#include <string>
#include <vector>

#include <sys/types.h>

namespace test_support
{
/// What `run_program` and `Child_Process` share: starting a program and
/// waiting for it, every wait with a deadline.
namespace process
{
typedef std::chrono::steady_clock Clock;

/// The moment @a ms from now.
Clock::time_point deadline_in(int ms);
/// Milliseconds left until @a deadline, 0 when it has passed.
int remaining_ms(Clock::time_point deadline);

/**
 * Starts @a argv, behind the words of QUORVANE_TEST_EXEC_WRAPPER when that
 * is set and argv[0] is one of the build's own programs, with this
 * process's environment plus @a env ("NAME=value", replacing a variable of
 * that name), and @a in, @a out and @a err as its stdin, stdout and
 * stderr.  0 with @a pid set, or an errno value.
 */
int spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int in, int out, int err,
          pid_t& pid);

/// Waits up to @a timeout_ms for @a pid to exit; its raw status, or -1 on
/// timeout (the child is then still there).
int wait_exit(pid_t pid, int timeout_ms);
/// The exit status in the raw @a status, or -1 when it did not exit.
int exit_code(int status);
/// Stops @a pid: SIGTERM, then SIGKILL after @a grace_ms; the raw status,
/// -1 when it had to be killed.
int terminate(pid_t pid, int grace_ms);

/// The whole content of @a path, empty when it cannot be read.
std::string read_file(const std::string& path);

}  // namespace process
}  // namespace test_support

#endif /* TESTS_SUPPORT_SPAWN_H */
