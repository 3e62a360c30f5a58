#include "tests/support/mock_service.h"

#include <cstdlib>

#ifndef QUORVANE_BIN_DIR
#error "QUORVANE_BIN_DIR must name the build's bin directory"
#endif

namespace test_support
{
bool make_certificate(const std::string& cert, const std::string& key, const std::string& common_name,
                      const std::string& san, std::string& error)
{
  Program_Result r =
      run_program({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                   "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=" + common_name,
                   "-addext", "subjectAltName=" + san});
  if (r.exit_code != 0)
  {
    error = "openssl req failed (" + std::to_string(r.exit_code) + "): " + r.err;
    return false;
  }
  return true;
}

std::string Mock_Service::program()
{
  return QUORVANE_BIN_DIR "/quorvane-mock-service";
}

std::vector<std::string> Mock_Service::command(const std::vector<std::string>& args,
                                               std::vector<std::string>& env)
{
  std::vector<std::string> argv{program()};
  bool has_listen = false;
  for (const std::string& a : args)
    has_listen = has_listen || a == "--listen";
  if (!has_listen)
  {
    argv.push_back("--listen");
    argv.push_back("127.0.0.1:0");
  }
  argv.push_back("--stop-on-stdin-eof");
  for (std::size_t i = 0; i < args.size(); ++i)
  {
    if (args[i] == "--secret-key" && i + 1 < args.size())
      env.push_back("QUORVANE_SECRET_KEY=" + args[++i]);
    else
      argv.push_back(args[i]);
  }
  return argv;
}

Mock_Service::Mock_Service(const std::vector<std::string>& args) : child_(command(args, env_), env_), port_(0)
{
  if (!child_.started())
  {
    error_ = child_.error();
    return;
  }
  std::string line;
  if (!child_.read_line(line, 10000))
    error_ = child_.stdout_ended() ? "quorvane-mock-service ended before it listened"
                                   : "quorvane-mock-service did not report its port within 10 s";
  else
  {
    const std::string prefix = "listening on ";
    std::string::size_type colon = line.rfind(':');
    if (line.compare(0, prefix.size(), prefix) == 0 && colon != std::string::npos)
      port_ = std::atoi(line.c_str() + colon + 1);
    if (port_ <= 0 || port_ > 65535)
    {
      port_ = 0;
      error_ = "unexpected first line from quorvane-mock-service: '" + line + "'";
    }
  }
  if (!error_.empty())
  {
    int code = child_.stop(5000);
    error_ += " (exit status " + std::to_string(code) + "); its stderr:\n" + child_.stderr_text();
  }
}

}  // namespace test_support
