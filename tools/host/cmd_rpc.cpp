// quorvane-host rpc: JSON-RPC 2.0 texts on stdin, one per line, handed to
// the module's login handler; replies on stdout, one per line; log lines on
// stderr.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include <unistd.h>

#include "tools/host/commands.h"
#include "tools/host/line_reader.h"
#include "tools/host/login_module.h"
#include "tools/host/rpc_session.h"
#include "tools/host/usage.h"

namespace
{
/// Writes whole lines to stdout, one thread at a time, and remembers a
/// line that could not be written.
class Line_Writer
{
public:
  void write(const std::string& text)
  {
    std::lock_guard<std::mutex> guard(lock_);
    const bool ok = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
                    std::fputc('\n', stdout) != EOF && std::fflush(stdout) == 0;
    if (!ok && error_ == 0)
      error_ = errno != 0 ? errno : EIO;
  }

  /// The errno of the first line that could not be written, or 0.
  int error()
  {
    std::lock_guard<std::mutex> guard(lock_);
    return error_;
  }

private:
  std::mutex lock_;
  int error_ = 0;
};
}  // namespace

int cmd_rpc(int argc, char** argv)
{
  tools::Options opts(
      {"--module", "--key", "--ca-file", "--timeout", "--method", "--threads", "--max-line", "--max-queue"},
      {});
  int rc = parse_command_line("rpc", opts, argc, argv);
  if (rc >= 0)
    return rc;
  long long threads = 4;
  if (!opts.number("--threads", 1, 256, threads))
    return usage_error("rpc", "--threads takes 1 to 256: " + opts.get("--threads"));
  long long max_line = RPC_DEFAULT_MAX_LINE;
  if (!opts.number("--max-line", 1, 1LL << 30, max_line))
    return usage_error("rpc", "--max-line takes 1 to 1073741824 bytes: " + opts.get("--max-line"));
  long long max_queue = RPC_DEFAULT_MAX_QUEUE;
  if (!opts.number("--max-queue", 1, 1000000, max_queue))
    return usage_error("rpc", "--max-queue takes 1 to 1000000: " + opts.get("--max-queue"));
  std::string error;
  if (!configure_login_services(opts, error))
    return usage_error("rpc", error);

  Login_Module login;
  if (!login.open(opts.get("--module", default_module_path()), static_cast<int>(threads)))
  {
    std::fprintf(stderr, "quorvane-host rpc: %s\n", login.error().c_str());
    return 1;
  }
  // The busy workers plus the queue: `feed` stops taking input, and so
  // this loop stops reading, while the handler has that many in hand.
  Line_Writer out;
  RPC_Session session(login.handler(), opts.get("--method", "login"),
                      static_cast<std::size_t>(threads + max_queue));
  const RPC_Session::Answer answer = [&out](const std::string* reply)
  {
    if (reply != nullptr)
      out.write(*reply);
  };
  Line_Reader input(STDIN_FILENO, static_cast<std::size_t>(max_line));
  std::string line;
  for (Line_Reader::Result r; (r = input.next(line)) != Line_Reader::END;)
  {
    if (r == Line_Reader::LINE)
    {
      // Blank lines separate nothing and ask nothing.
      if (line.find_first_not_of(" \t\r") != std::string::npos)
        session.feed(line, answer);
      continue;
    }
    std::fprintf(stderr, "quorvane-host rpc: line %zu is longer than %lld bytes; skipped\n",
                 input.line_number(), max_line);
    out.write(RPC_Session::long_text_reply(static_cast<std::size_t>(max_line)));
  }
  session.finish();
  // A reply that never reached the reader is a request lost.
  if (out.error() != 0)
  {
    std::fprintf(stderr, "quorvane-host rpc: cannot write the replies to stdout: %s\n",
                 std::strerror(out.error()));
    return 1;
  }
  return 0;
}
