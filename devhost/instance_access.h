#ifndef DEVHOST_INSTANCE_ACCESS_H
#define DEVHOST_INSTANCE_ACCESS_H

#include <string>

#include "host/instance_handler.h"

/**
 * The instance type that @a handler gave its base's constructor, for the
 * development host's tests.  Not part of the host's interface;
 * host/instance_handler.h names it as the base's friend, to reach its
 * private state.  Both hosts of this project implement it.
 */
const std::string& devhost_instance_type(const Instance_Handler& handler);

#endif /* DEVHOST_INSTANCE_ACCESS_H */
