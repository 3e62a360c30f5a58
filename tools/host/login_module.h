#ifndef TOOLS_HOST_LOGIN_MODULE_H
#define TOOLS_HOST_LOGIN_MODULE_H

#include <string>

#include "host/json_rpc.h"
#include "tools/common/module_loader.h"
#include "tools/common/options.h"
#include "tools/host/module_path.h"

/**
 * Applies --key (the appliance's private key), --ca-file and --timeout
 * (seconds) to the development host's services.  False with @a error set
 * on a bad value.
 */
bool configure_login_services(const tools::Options& opts, std::string& error);

/**
 * The module's login handler, created through its exported factory and
 * running on its own worker pool; finished and disposed of through the
 * factory's disposer on destruction, before the module is unloaded.
 */
class Login_Module
{
public:
  Login_Module();
  ~Login_Module();

  /// Loads @a path and starts the handler with @a threads workers.
  bool open(const std::string& path, int threads);
  const std::string& error() const { return error_; }
  JSON_RPC_Thread_Handler& handler() { return *handler_; }

private:
  Module_Loader module_;
  JSON_RPC_Handler_Exterminator dispose_;
  JSON_RPC_Thread_Handler* handler_;
  std::string error_;
};

#endif /* TOOLS_HOST_LOGIN_MODULE_H */
