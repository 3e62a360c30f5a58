// quorvane-host probe: loads the module, creates its instance provider
// through the exported factory, probes, and prints the instances with their
// states as JSON.

#include <cstdio>

#include "host/instance_handler.h"
#include "host/json_spirit_utils.h"
#include "tools/common/module_loader.h"
#include "tools/common/options.h"
#include "tools/host/commands.h"
#include "tools/host/module_path.h"
#include "tools/host/usage.h"

namespace
{
json_spirit::Value instance_json(const Instance& instance, const std::string& state)
{
  json_spirit::Object obj;
  obj["type"] = instance.type;
  obj["name"] = instance.name;
  obj["uuid"] = instance.uuid;
  obj["options"] = instance.options;
  obj["state"] = state;
  return json_spirit::Value(std::move(obj));
}
}  // namespace

int cmd_probe(int argc, char** argv)
{
  tools::Options opts({"--module"}, {});
  int rc = parse_command_line("probe", opts, argc, argv);
  if (rc >= 0)
    return rc;
  Module_Loader module;
  if (!module.open(opts.get("--module", default_module_path())))
  {
    std::fprintf(stderr, "quorvane-host probe: %s\n", module.error().c_str());
    return 1;
  }
  Instance_Handler_Exterminator dispose = nullptr;
  Instance_Handler* handler = module.make<Instance_Handler>("_make_Quorvane_Instance_Handler", dispose);
  if (handler == nullptr)
  {
    std::fprintf(stderr, "quorvane-host probe: %s\n", module.error().c_str());
    return 1;
  }

  instances_type instances;
  rc = handler->probe_instances(instances);
  json_spirit::Array list;
  for (const instances_type::value_type& entry : instances)
  {
    std::string state;
    handler->get_state(entry.first.c_str(), state);
    list.push_back(instance_json(*entry.second, state));
  }
  dispose(handler);
  // Release the instances before the module (and the code of anything they
  // might own) is unloaded.
  instances.clear();

  if (rc != 0)
  {
    std::fprintf(stderr, "quorvane-host probe: probe_instances returned %d\n", rc);
    return 1;
  }
  std::printf("%s\n", json_spirit::JSON_Dump(json_spirit::Value(std::move(list)), true).c_str());
  return 0;
}
