#ifndef QUORVANE_INSTANCE_HANDLER_QUORVANE_INSTANCE_HANDLER_H
#define QUORVANE_INSTANCE_HANDLER_QUORVANE_INSTANCE_HANDLER_H

#include <string>

#include "host/instance_handler.h"

/**
 * The instance provider of the type "quorvane".  It always reports one
 * instance, the proxy "Quorvane_Proxy", always "enabled"; logging on is done
 * by the login handler, so `logon` accepts everything and does nothing.
 *
 * Stateless: calls on one object may run on several threads at once.
 * Created by `_make_Quorvane_Instance_Handler`, destroyed by the disposer it
 * hands out.
 */
class Quorvane_Instance_Handler : public Instance_Handler
{
public:
  Quorvane_Instance_Handler();
  ~Quorvane_Instance_Handler() override;

  /**
   * Adds, or replaces, the entry "Quorvane_Proxy" of @a instances with a
   * fresh instance (type "quorvane", options {"is_proxy": true}); other
   * entries are untouched.  Returns 0.  An allocation failure leaves by
   * exception, with the map unchanged.
   */
  int probe_instances(instances_type& instances) override;

  /// Assigns "enabled" to @a state, whatever @a name (null included).
  std::string& get_state(const char* name, std::string& state) override;

  /// Accepts any arguments, null included; returns 0.
  int logon(const char* name, const char* user, const char* password,
            const json_spirit::Object* options) override;
};

#endif /* QUORVANE_INSTANCE_HANDLER_QUORVANE_INSTANCE_HANDLER_H */
