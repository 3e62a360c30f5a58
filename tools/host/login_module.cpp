#include "tools/host/login_module.h"

#include <cstdlib>

#include "devhost/harness/key_store.h"
#include "devhost/harness/rest_options.h"

bool configure_login_services(const tools::Options& opts, std::string& error)
{
  if (opts.has("--key") && !devhost::load_key_file(opts.get("--key").c_str()))
  {
    error = "cannot read the appliance key " + opts.get("--key");
    return false;
  }
  devhost::Rest_Client_Options rest = devhost::rest_client_options();
  if (opts.has("--ca-file"))
    rest.ca_file = opts.get("--ca-file");
  if (opts.has("--timeout"))
  {
    const std::string text = opts.get("--timeout");
    char* end = nullptr;
    double seconds = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !(seconds > 0) || seconds > 3600)
    {
      error = "--timeout takes seconds, more than 0 and at most 3600: " + text;
      return false;
    }
    rest.timeout_ms = static_cast<long>(seconds * 1000);
    if (rest.connect_timeout_ms > rest.timeout_ms)
      rest.connect_timeout_ms = rest.timeout_ms;
  }
  devhost::set_rest_client_options(rest);
  return true;
}

Login_Module::Login_Module() : dispose_(nullptr), handler_(nullptr) {}

Login_Module::~Login_Module()
{
  if (handler_ == nullptr)
    return;
  // Drain the pool while the module's class is still whole, then dispose
  // of the handler through its own factory's disposer.
  handler_->fini();
  dispose_(handler_);
}

bool Login_Module::open(const std::string& path, int threads)
{
  if (!module_.open(path))
  {
    error_ = module_.error();
    return false;
  }
  JSON_RPC_Handler* handler =
      module_.make<JSON_RPC_Handler>("_make_JSON_RPC_Quorvane_Login_Handler", dispose_);
  if (handler == nullptr)
  {
    error_ = module_.error();
    return false;
  }
  handler_ = dynamic_cast<JSON_RPC_Thread_Handler*>(handler);
  if (handler_ == nullptr)
  {
    dispose_(handler);
    error_ = "the module's login handler is not a threaded JSON-RPC handler";
    return false;
  }
  std::string count = std::to_string(threads);
  char* argv[] = {&count[0]};
  if (handler_->init(1, argv) != 0)
  {
    error_ = "cannot start the login handler's worker threads";
    return false;
  }
  return true;
}
