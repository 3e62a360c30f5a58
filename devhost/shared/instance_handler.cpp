// The instance provider base (host/instance_handler.h) and the development
// host's access to it (devhost/harness/instance_access.h).
#include "host/instance_handler.h"

#include "devhost/harness/instance_access.h"

Instance_Handler::Instance_Handler(const char* type) : type_(type == nullptr ? "" : type) {}

Instance_Handler::~Instance_Handler() {}

int Instance_Handler::init(int, char**)
{
  return 0;
}

int Instance_Handler::fini()
{
  return 0;
}

int Instance_Handler::probe_instances(instances_type&)
{
  return 0;
}

std::string& Instance_Handler::get_state(const char*, std::string& state)
{
  return state;
}

int Instance_Handler::get_states(std::map<std::string, std::string>&)
{
  return 0;
}

int Instance_Handler::logon(const char*, const char*, const char*, const json_spirit::Object*)
{
  return 0;
}

int Instance_Handler::logoff(const char*)
{
  return 0;
}

int Instance_Handler::update_options(const char*, const char*, const char*, json_spirit::Object&)
{
  return 0;
}
