#ifndef DEVHOST_INSTANCE_ACCESS_H
#define DEVHOST_INSTANCE_ACCESS_H

#include <string>

#include "host/instance_handler.h"

/// Reaches the base's private state; host/instance_handler.h names it as
/// the base's friend.
struct Instance_Handler_Access
{
  static const std::string& type(const Instance_Handler& handler) { return handler.type_; }
};

/**
 * The instance type that @a handler gave its base's constructor, for the
 * development host's tests.  Not part of the host's interface.
 */
inline const std::string& devhost_instance_type(const Instance_Handler& handler)
{
  return Instance_Handler_Access::type(handler);
}

#endif /* DEVHOST_INSTANCE_ACCESS_H */
