#include "quorvane/instance_handler/quorvane_instance_handler.h"

#include <memory>
#include <utility>

namespace
{
const char QUORVANE_INSTANCE_TYPE[] = "quorvane";
const char QUORVANE_PROXY_NAME[] = "Quorvane_Proxy";
}  // namespace

// Branches the macro brings that no test can take: delete's own null test
// after the macro's, and the cleanup of a constructor that throws (this one
// does not).
INSTANCE_HANDLER_FACTORY_DEFINE(Quorvane_Instance_Handler)  // GCOVR_EXCL_BR_LINE: as above

Quorvane_Instance_Handler::Quorvane_Instance_Handler() : Instance_Handler(QUORVANE_INSTANCE_TYPE) {}

Quorvane_Instance_Handler::~Quorvane_Instance_Handler() {}

int Quorvane_Instance_Handler::probe_instances(instances_type& instances)
{
  std::shared_ptr<Instance> instance = std::make_shared<Instance>();
  instance->name = QUORVANE_PROXY_NAME;
  instance->type = QUORVANE_INSTANCE_TYPE;
  instance->options["is_proxy"] = json_spirit::Value(true);
  instances[QUORVANE_PROXY_NAME] = std::move(instance);
  return 0;
}

std::string& Quorvane_Instance_Handler::get_state(const char*, std::string& state)
{
  state = "enabled";
  return state;
}

int Quorvane_Instance_Handler::logon(const char*, const char*, const char*, const json_spirit::Object*)
{
  return 0;
}
