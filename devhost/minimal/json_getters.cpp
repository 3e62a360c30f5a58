// The contract-minimal host's keyed getters: they take the other legal
// choice wherever the host declarations leave one open.  A non-throwing
// getter gives false for a member of another kind (the development host's
// throws); object_get_str throws for one (the development host's gives
// null); the secure-string getters take only a secure string.
#include "host/json_spirit_utils.h"

#include <stdexcept>

namespace json_spirit
{
const Value Value::null;

namespace
{
// The member under @a key when it has the kind @a want, else null.
const Value* member_of_kind(const Object& obj, const std::string& key, Value_type want)
{
  Object::const_iterator it = obj.find(key);
  return it != obj.end() && it->second.type() == want ? &it->second : nullptr;
}

const Value& required(const Object& obj, const std::string& key, Value_type want)
{
  const Value* v = member_of_kind(obj, key, want);
  if (v == nullptr)
    throw std::domain_error("JSON member '" + key + "' is missing or of another kind");
  return *v;
}
}  // namespace

bool object_get(const Object& obj, const std::string& key, std::string& out)
{
  const Value* v = member_of_kind(obj, key, str_type);
  if (v != nullptr)
    out = v->get_str();
  return v != nullptr;
}

bool object_get(const Object& obj, const std::string& key, secure_string& out)
{
  const Value* v = member_of_kind(obj, key, secure_str_type);
  if (v != nullptr)
    out = v->get_secure_str();
  return v != nullptr;
}

bool object_get(const Object& obj, const std::string& key, bool& out)
{
  const Value* v = member_of_kind(obj, key, bool_type);
  if (v != nullptr)
    out = v->get_bool();
  return v != nullptr;
}

bool object_get(const Object& obj, const std::string& key, long& out)
{
  const Value* v = member_of_kind(obj, key, int_type);
  if (v != nullptr)
    out = static_cast<long>(v->get_int64());
  return v != nullptr;
}

const std::string* object_get_str(const Object& obj, const std::string& key)
{
  if (obj.find(key) == obj.end())
    return nullptr;
  return &required(obj, key, str_type).get_str();
}

std::string object_get_str_or_throw(const Object& obj, const std::string& key)
{
  return required(obj, key, str_type).get_str();
}

secure_string object_get_secure_str_or_throw(const Object& obj, const std::string& key)
{
  return required(obj, key, secure_str_type).get_secure_str();
}

bool object_get_bool_or_throw(const Object& obj, const std::string& key)
{
  return required(obj, key, bool_type).get_bool();
}

std::int64_t object_get_int64_or_throw(const Object& obj, const std::string& key)
{
  return required(obj, key, int_type).get_int64();
}

std::uint64_t object_get_uint64_or_throw(const Object& obj, const std::string& key)
{
  return static_cast<std::uint64_t>(required(obj, key, int_type).get_int64());
}

}  // namespace json_spirit
