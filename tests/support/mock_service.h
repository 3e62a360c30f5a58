#ifndef TESTS_SUPPORT_MOCK_SERVICE_H
#define TESTS_SUPPORT_MOCK_SERVICE_H

#include <string>
#include <vector>

#include <sys/types.h>

namespace test_support
{
/// What a program run to its end left behind.
struct Program_Result
{
  int exit_code = -1;  ///< the exit status; -1 when it did not start, was killed or timed out
  std::string out;     ///< everything it wrote to stdout
  std::string err;     ///< everything it wrote to stderr, or why it did not run
};

/**
 * Runs @a argv (argv[0] a path, or a name looked up in PATH) with @a input
 * on its stdin and @a env ("NAME=value") added to this process's
 * environment, and waits for it.  A program still running after
 * @a timeout_ms is killed.  Thread-safe.
 *
 * When the environment variable QUORVANE_TEST_EXEC_WRAPPER is set (words
 * separated by blanks, for example "qemu-aarch64"),
 * a program from the build's bin directory is run as those words followed by
 * @a argv; any other program runs as it is.  A cross build's ctest sets it.
 */
Program_Result run_program(const std::vector<std::string>& argv, const std::string& input = std::string(),
                           int timeout_ms = 60000, const std::vector<std::string>& env = {});

/**
 * A temporary directory, made by the constructor (empty `path()` when that
 * failed) and removed with its contents by the destructor.
 */
class Temp_Dir
{
public:
  Temp_Dir();
  ~Temp_Dir();
  Temp_Dir(const Temp_Dir&) = delete;
  Temp_Dir& operator=(const Temp_Dir&) = delete;

  const std::string& path() const { return path_; }
  /// `path()` + "/" + @a name.
  std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

/**
 * Makes a self-signed certificate (EC P-256, valid two days) with the
 * subject CN @a common_name and the subjectAltName @a san (for example
 * "IP:127.0.0.1"), written as PEM to @a cert and its key to @a key, with
 * the openssl command-line tool.  False with @a error set on failure.
 */
bool make_certificate(const std::string& cert, const std::string& key, const std::string& common_name,
                      const std::string& san, std::string& error);

/**
 * The cloud service emulator, quorvane-mock-service from the build's bin
 * directory (never looked up in PATH), run as a child process.
 *
 * The constructor starts it with "--listen 127.0.0.1:0" (unless @a args
 * names another --listen) followed by @a args, and waits up to 10 s for its
 * "listening on HOST:PORT" line.  When that fails, `running()` is false and
 * `error()` says why, with what the emulator wrote to stderr.  The
 * destructor stops it by its PID: SIGTERM, then SIGKILL when it has not
 * exited 10 s later.  Should this process die first, the emulator stops
 * by itself (its stdin, a pipe from here, ends).  Its stderr goes to a
 * file, readable through
 * `stderr_text()`.  One object is used by one thread.  It is started
 * through QUORVANE_TEST_EXEC_WRAPPER when that is set, as `run_program`
 * does; `pid()` is then the wrapper's, which is the emulated program's.
 */
class Mock_Service
{
public:
  explicit Mock_Service(const std::vector<std::string>& args);
  ~Mock_Service();
  Mock_Service(const Mock_Service&) = delete;
  Mock_Service& operator=(const Mock_Service&) = delete;

  bool running() const { return pid_ > 0 && port_ > 0; }
  const std::string& error() const { return error_; }
  int port() const { return port_; }
  pid_t pid() const { return pid_; }

  /// Stops the emulator now (SIGTERM, wait); its exit status, 0 for a clean
  /// stop, or -1 when it was killed, timed out or never ran.
  int stop();

  /// What the emulator has written to stderr so far.
  std::string stderr_text() const;

  /// The emulator's path.
  static std::string program();

private:
  pid_t pid_;
  int port_;
  int stdout_fd_;
  int stdin_fd_;
  std::string stderr_path_;
  std::string error_;
};

}  // namespace test_support

#endif /* TESTS_SUPPORT_MOCK_SERVICE_H */
