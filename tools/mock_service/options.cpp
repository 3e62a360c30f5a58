#include "tools/mock_service/options.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/common/http_listener.h"
#include "tools/common/options.h"
#include "tools/common/take_env.h"

namespace mock_service
{
namespace
{
const struct
{
  const char* name;
  Fault fault;
} FAULTS[] = {
    {"none", FAULT_NONE},           {"no-version", FAULT_NO_VERSION},
    {"array", FAULT_ARRAY},         {"not-json", FAULT_NOT_JSON},
    {"oversized", FAULT_OVERSIZED}, {"oversized-chunked", FAULT_OVERSIZED_CHUNKED},
    {"no-reply", FAULT_NO_REPLY},   {"close", FAULT_CLOSE},
    {"slow", FAULT_SLOW},
};

const long long TEN_YEARS_S = 10LL * 365 * 86400;

void complain(const std::string& what)
{
  std::fprintf(stderr, "quorvane-mock-service: %s\n", what.c_str());
}

bool parse_listen(const std::string& text, Config& cfg)
{
  tools::Listen_Address where;
  if (!tools::parse_listen(text, where))
    return false;
  cfg.host = where.host;
  cfg.port = where.port;
  return true;
}

// The secret key in @a path: a regular file of at most SECRET_KEY_FILE_MAX
// bytes, one trailing line break dropped.  It is opened without blocking,
// so that a FIFO at that path is refused instead of waited on.
bool read_secret_file(const char* path, std::string& secret)
{
  int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0)
  {
    complain(std::string("cannot open the secret key file ") + path + ": " + std::strerror(errno));
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
      static_cast<unsigned long long>(st.st_size) > SECRET_KEY_FILE_MAX)
  {
    ::close(fd);
    complain(std::string("the secret key file ") + path + " must be a regular file of 1 to " +
             std::to_string(SECRET_KEY_FILE_MAX) + " bytes");
    return false;
  }
  if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
    std::fprintf(stderr, "quorvane-mock-service: warning: others may read the secret key file %s (mode %o)\n",
                 path, static_cast<unsigned>(st.st_mode & 07777));
  char buf[SECRET_KEY_FILE_MAX];
  std::size_t got = 0;
  ssize_t n = 0;
  while (got < sizeof buf && ((n = ::read(fd, buf + got, sizeof buf - got)) > 0 || (n < 0 && errno == EINTR)))
    got += n > 0 ? static_cast<std::size_t>(n) : 0;
  const int saved = errno;
  ::close(fd);
  if (n < 0)
  {
    explicit_bzero(buf, sizeof buf);
    complain(std::string("cannot read the secret key file ") + path + ": " + std::strerror(saved));
    return false;
  }
  secret.assign(buf, got);
  explicit_bzero(buf, sizeof buf);
  if (!secret.empty() && secret.back() == '\n')
    secret.pop_back();
  if (!secret.empty() && secret.back() == '\r')
    secret.pop_back();
  if (secret.empty())
  {
    complain(std::string("the secret key file ") + path + " holds an empty key");
    return false;
  }
  return true;
}

bool parse_fault(const char* text, Fault& fault)
{
  for (const auto& f : FAULTS)
    if (std::strcmp(f.name, text) == 0)
    {
      fault = f.fault;
      return true;
    }
  return false;
}
// The options other than the secret key's into @a cfg, each checked;
// false, reported, on the first wrong one.
bool read_values(const tools::Options& opts, Config& cfg)
{
  const auto bad = [&opts](const char* name)
  {
    complain(std::string("bad value for ") + name + ": '" + opts.get(name) + "'");
    return false;
  };
  if (!opts.has("--access-key"))
  {
    complain("--access-key is required");
    return false;
  }
  if (opts.has("--secret-key-file") && opts.has("--secret-key"))
  {
    complain("give the secret key once: --secret-key-file or --secret-key");
    return false;
  }
  cfg.account.access_key = opts.get("--access-key");
  cfg.version = opts.get("--version", cfg.version);
  cfg.tls_cert = opts.get("--tls-cert");
  cfg.tls_key = opts.get("--tls-key");
  cfg.stop_on_stdin_eof = opts.has("--stop-on-stdin-eof");
  if (cfg.tls_cert.empty() != cfg.tls_key.empty())
  {
    complain("--tls-cert and --tls-key go together");
    return false;
  }
  long long delay_ms = cfg.delay_ms;
  if (opts.has("--listen") && !parse_listen(opts.get("--listen"), cfg))
    return bad("--listen");
  if (!opts.number("--max-skew", 0, TEN_YEARS_S, cfg.max_skew_s))
    return bad("--max-skew");
  if (!opts.number("--delay-ms", 0, 3600 * 1000, delay_ms))
    return bad("--delay-ms");
  cfg.delay_ms = static_cast<long>(delay_ms);
  if (!opts.number("--date-offset", -TEN_YEARS_S, TEN_YEARS_S, cfg.date_offset_s))
    return bad("--date-offset");
  if (opts.has("--fault") && !parse_fault(opts.get("--fault").c_str(), cfg.fault))
    return bad("--fault");
  return true;
}
}  // namespace

void print_usage(std::FILE* out)
{
  std::fprintf(out,
               "usage: quorvane-mock-service --access-key AK [--secret-key-file FILE] [options]\n"
               "An emulator of the Quorvane cloud service, for tests: GET /fcc/v1/settings (signed)\n"
               "and GET /echo (the request as JSON).  The account's secret key comes from\n"
               "--secret-key-file, or else from the environment variable QUORVANE_SECRET_KEY,\n"
               "which is removed from the environment once read.\n"
               "\n"
               "  --access-key AK          the account's access key (required)\n"
               "  --secret-key-file FILE   read the secret key from FILE (one trailing line break dropped)\n"
               "  --secret-key SK          the secret key on the command line: visible to every local\n"
               "                           user (ps), so a warning is printed; prefer the two above\n"
               "  --listen HOST:PORT       address to listen on (default 127.0.0.1:0, an ephemeral port;\n"
               "                           IPv6 as [::1]:0); the first line on stdout names the port\n"
               "  --version TEXT           the service version reported (default 1.0.0)\n"
               "  --tls-cert FILE          serve HTTPS with this PEM certificate ...\n"
               "  --tls-key FILE           ... and this PEM private key\n"
               "  --max-skew SECONDS       allowed Client-Now difference (default 300)\n"
               "  --fault MODE             misbehave: no-version, array, not-json, oversized,\n"
               "                           oversized-chunked, no-reply, close, slow\n"
               "  --delay-ms N             delay of the slow fault (default 2000)\n"
               "  --date-offset SECONDS    shift the Date header (to emulate a skewed clock)\n"
               "  --stop-on-stdin-eof      stop when stdin ends (a launcher's pipe: the\n"
               "                           emulator goes when its launcher dies)\n"
               "  --help                   print this text and exit\n"
               "Stops on SIGTERM or SIGINT.  Exit status: 0 after a stop, 1 when it cannot serve,\n"
               "2 on a wrong option.\n");
}

Parse_Result parse_options(int argc, char** argv, Config& cfg)
{
  // Taken first, so that it does not outlive the parse whatever happens.
  std::string env_secret;
  const bool have_env_secret = tools::take_env(SECRET_KEY_ENV, env_secret);
  tools::Options opts({"--listen", "--access-key", "--secret-key-file", "--secret-key", "--version",
                       "--tls-cert", "--tls-key", "--max-skew", "--delay-ms", "--date-offset", "--fault"},
                      {"--stop-on-stdin-eof"});
  if (!opts.parse(argc, argv))
  {
    complain(opts.error());
    return PARSE_USAGE_ERROR;
  }
  if (opts.has("--help") || opts.has("-h"))
    return PARSE_HELP;
  if (!read_values(opts, cfg))
    return PARSE_USAGE_ERROR;
  if (opts.has("--secret-key-file"))
    return read_secret_file(opts.get("--secret-key-file").c_str(), cfg.account.secret_key) ? PARSE_RUN
                                                                                           : PARSE_FAILED;
  if (opts.has("--secret-key"))
  {
    std::fprintf(stderr,
                 "quorvane-mock-service: warning: --secret-key puts the secret key where every local user "
                 "can read it (ps, /proc); use --secret-key-file or %s\n",
                 SECRET_KEY_ENV);
    cfg.account.secret_key = opts.get("--secret-key");
  }
  else if (have_env_secret)
    cfg.account.secret_key = env_secret;
  if (cfg.account.secret_key.empty())
  {
    complain(std::string("the account's secret key is required: --secret-key-file FILE or ") +
             SECRET_KEY_ENV);
    return PARSE_USAGE_ERROR;
  }
  return PARSE_RUN;
}

}  // namespace mock_service
