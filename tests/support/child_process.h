#ifndef TESTS_SUPPORT_CHILD_PROCESS_H
#define TESTS_SUPPORT_CHILD_PROCESS_H

#include <string>
#include <vector>

#include <sys/types.h>

namespace test_support
{
/**
 * A program running beside the test, talked to while it runs: its stdin and
 * stdout are pipes to this object, its stderr goes to a file (so that it
 * never blocks on a full pipe nobody reads).  Started by the constructor
 * (through QUORVANE_TEST_EXEC_WRAPPER, as `run_program` does; `pid()` is
 * then the wrapper's, which is the emulated program's); stopped by the
 * destructor when still running (SIGTERM, then SIGKILL 10 s later).  Every
 * wait has a deadline.  One object is used by one thread.
 */
class Child_Process
{
public:
  /// Starts @a argv with @a env ("NAME=value") added to the environment.
  explicit Child_Process(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
  ~Child_Process();
  Child_Process(const Child_Process&) = delete;
  Child_Process& operator=(const Child_Process&) = delete;

  /// False when it could not be started; `error()` says why.
  bool started() const { return pid_ > 0; }
  const std::string& error() const { return error_; }
  pid_t pid() const { return pid_; }

  /// Writes @a text to its stdin; false when the pipe is closed or there
  /// was no room for it within @a timeout_ms.
  bool write(const std::string& text, int timeout_ms = 60000);
  /// Closes its stdin (end of input).
  void close_stdin();
  /// The next line it writes to stdout, without the line feed; false when
  /// none came within @a timeout_ms or stdout ended (what is left of an
  /// unfinished line stays for the next call).
  bool read_line(std::string& line, int timeout_ms = 60000);
  /// True once its stdout has ended (or was never there).
  bool stdout_ended() const { return stdout_fd_ < 0; }
  /// Closes its stdin, reads stdout to its end into @a rest (when not
  /// null) and waits for its exit, at most @a timeout_ms in all, then kills
  /// it.  Its exit status, or -1 when it was killed or did not run.
  int finish(std::string* rest = nullptr, int timeout_ms = 60000);
  /// Stops it now: SIGTERM, then SIGKILL after @a grace_ms.  Its exit
  /// status, 0 for a clean stop, or -1 when it was killed or did not run.
  int stop(int grace_ms = 10000);

  /// What it has written to stderr so far.
  std::string stderr_text() const;

private:
  void close_pipes();

  pid_t pid_;
  int stdin_fd_;
  int stdout_fd_;
  std::string pending_;  ///< stdout read but not yet handed out
  std::string stderr_path_;
  std::string error_;
};

}  // namespace test_support

#endif /* TESTS_SUPPORT_CHILD_PROCESS_H */
