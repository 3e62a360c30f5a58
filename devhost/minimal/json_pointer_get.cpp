// The contract-minimal host's JSON_Pointer::get: a path that resolves to
// anything but a string throws (the development host's gives false).
#include "host/json_spirit_utils.h"

#include "devhost/shared/json_pointer.h"

#include <stdexcept>

namespace json_spirit
{
bool JSON_Pointer::get(const Value& doc, std::string& out) const
{
  const Value* v = valid_ ? devhost::resolve_json_pointer(tokens_, doc) : nullptr;
  if (v == nullptr)
    return false;
  if (v->type() == str_type)
    out = v->get_str();
  else if (v->type() == secure_str_type)
    out.assign(v->get_secure_str().data(), v->get_secure_str().size());
  else
    throw std::domain_error("the JSON Pointer path resolves to a value that is not a string");
  return true;
}

}  // namespace json_spirit
