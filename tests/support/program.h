#ifndef TESTS_SUPPORT_PROGRAM_H
#define TESTS_SUPPORT_PROGRAM_H

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
 * on its stdin and @a env ("NAME=value", replacing a variable of that name)
 * added to this process's environment, and waits for it.  A program still
 * running after @a timeout_ms is killed.  Thread-safe.
 *
 * When the environment variable QUORVANE_TEST_EXEC_WRAPPER is set (words
 * separated by blanks, for example "qemu-aarch64"),
 * a program from the build's bin directory is run as those words followed by
 * @a argv; any other program runs as it is.  A cross build's ctest sets it.
 */
Program_Result run_program(const std::vector<std::string>& argv, const std::string& input = std::string(),
                           int timeout_ms = 60000, const std::vector<std::string>& env = {});

/// The folder for temporary files: $TMPDIR, or /tmp when that is unset or empty.
std::string temp_root();

/**
 * A temporary directory under `temp_root()`, made by the constructor (empty
 * `path()` when that failed) and removed with its contents by the destructor.
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

}  // namespace test_support

#endif /* TESTS_SUPPORT_PROGRAM_H */
