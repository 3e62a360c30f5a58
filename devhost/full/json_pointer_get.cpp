// The development host's JSON_Pointer::get: a path that resolves to anything
// but a plain string gives false, the target untouched.
#include "host/json_spirit_utils.h"

#include "devhost/shared/json_pointer.h"

namespace json_spirit
{
bool JSON_Pointer::get(const Value& doc, std::string& out) const
{
  const Value* v = valid_ ? devhost::resolve_json_pointer(tokens_, doc) : nullptr;
  if (v == nullptr)
    return false;
  if (v->type() == str_type)
  {
    out = v->get_str();
    return true;
  }
  // A secure string is not handed out: its text would end up in a plain string.
  return false;
}

}  // namespace json_spirit
