#ifndef HOST_INSTANCE_HANDLER_H
#define HOST_INSTANCE_HANDLER_H

#include <map>
#include <memory>
#include <string>
#include <unordered_map>

#include "host/handler_factory.h"
#include "host/host_export.h"
#include "host/json_spirit_value.h"

/// One instance that an instance provider reports.
struct HOST_EXPORT Instance
{
  typedef json_spirit::Object options_type;
  typedef std::unordered_map<std::string, json_spirit::Object> logon_type;

  std::string type;
  std::string name;
  std::string uuid;
  options_type options;
  logon_type logon_options;
};

/// Instance name to instance.
typedef std::map<std::string, std::shared_ptr<Instance>> instances_type;

/**
 * Base of the host's instance providers.  The host creates one through a
 * module's factory and calls it synchronously from its own threads.
 * The defaults do nothing and return 0.
 */
class HOST_EXPORT Instance_Handler
{
public:
  /// @a type is the instance type the provider serves; copied.
  explicit Instance_Handler(const char* type);
  virtual ~Instance_Handler();

  virtual int init(int argc, char** argv);
  virtual int fini();
  /// Adds the provider's instances to @a instances; 0 on success.
  virtual int probe_instances(instances_type& instances);
  /// Writes the state of instance @a name into @a state and returns it.
  virtual std::string& get_state(const char* name, std::string& state);
  virtual int get_states(std::map<std::string, std::string>& states);
  virtual int logon(const char* name, const char* user, const char* password,
                    const json_spirit::Object* options);
  virtual int logoff(const char* name);
  virtual int update_options(const char* name, const char* user, const char* password,
                             json_spirit::Object& options);

private:
  // Each host's own access to the instance type; no part of the interface.
  friend struct Instance_Handler_Access;

  /// The instance type given to the constructor.
  std::string type_;
};

/// The disposer a factory hands out with each instance provider.
typedef void (*Instance_Handler_Exterminator)(void*);

/**
 * Defines the factory/disposer pair of an instance provider class:
 * `_make_CLS` (exported) and `_gobble_CLS` (module-local).  The factory
 * writes the disposer to `*gobbler` first (when `gobbler` is not null), then
 * allocates with the non-throwing `new`; on null it sets `errno` to ENOMEM.
 * A throwing constructor releases the memory and lets the exception pass.
 */
#define INSTANCE_HANDLER_FACTORY_DEFINE(CLS) \
  HOST_HANDLER_FACTORY_DEFINE(Instance_Handler, Instance_Handler_Exterminator, CLS)

#endif /* HOST_INSTANCE_HANDLER_H */
