#ifndef DEVHOST_CORE_JSON_POINTER_H
#define DEVHOST_CORE_JSON_POINTER_H

#include <string>
#include <vector>

#include "host/json_spirit_value.h"

namespace devhost
{
/// The value that a JSON Pointer's reference tokens (unescaped) lead to in
/// @a doc, or null when they do not resolve.  Shared by each host's
/// `JSON_Pointer::get`, which decides what to do with it.
const json_spirit::Value* resolve_json_pointer(const std::vector<std::string>& tokens,
                                               const json_spirit::Value& doc);
}  // namespace devhost

#endif /* DEVHOST_CORE_JSON_POINTER_H */
