#include "host/json_spirit_utils.h"

#include <limits>

namespace json_spirit
{
const Value Value::null;

namespace
{
// The name of a kind, for messages.
const char* value_type_name(Value_type t)
{
  switch (t)
  {
    case obj_type:
      return "object";
    case array_type:
      return "array";
    case str_type:
      return "string";
    case secure_str_type:
      return "secure string";
    case bool_type:
      return "boolean";
    case int_type:
      return "integer";
    case real_type:
      return "real";
    case null_type:
      return "null";
  }
  return "unknown";
}

// The member under @a key, or null when the key is absent or holds null:
// callers treat an explicit null like a missing key.
const Value* find_member(const Object& obj, const std::string& key)
{
  Object::const_iterator it = obj.find(key);
  if (it == obj.end() || it->second.is_null())
    return nullptr;
  return &it->second;
}

[[noreturn]] void throw_wrong_type(const std::string& key, const Value& v, const char* want)
{
  throw Type_Error("JSON member '" + key + "' is " + value_type_name(v.type()) + ", expected " + want);
}

// Like find_member, but a missing or null member is an error.
const Value& require_member(const Object& obj, const std::string& key)
{
  const Value* v = find_member(obj, key);
  if (v == nullptr)
    throw Type_Error("JSON member '" + key + "' does not exist");
  return *v;
}

const Value* find_typed(const Object& obj, const std::string& key, Value_type want)
{
  const Value* v = find_member(obj, key);
  if (v != nullptr && v->type() != want)
    throw_wrong_type(key, *v, value_type_name(want));
  return v;
}

const Value* find_string(const Object& obj, const std::string& key)
{
  const Value* v = find_member(obj, key);
  if (v != nullptr && v->type() != str_type && v->type() != secure_str_type)
    throw_wrong_type(key, *v, "string");
  return v;
}
}  // namespace

bool object_get(const Object& obj, const std::string& key, std::string& out)
{
  const Value* v = find_typed(obj, key, str_type);
  if (v == nullptr)
    return false;
  out = v->get_str();
  return true;
}

bool object_get(const Object& obj, const std::string& key, secure_string& out)
{
  const Value* v = find_string(obj, key);
  if (v == nullptr)
    return false;
  if (v->type() == secure_str_type)
    out = v->get_secure_str();
  else
    out.assign(v->get_str().data(), v->get_str().size());
  return true;
}

bool object_get(const Object& obj, const std::string& key, bool& out)
{
  const Value* v = find_typed(obj, key, bool_type);
  if (v == nullptr)
    return false;
  out = v->get_bool();
  return true;
}

bool object_get(const Object& obj, const std::string& key, long& out)
{
  const Value* v = find_typed(obj, key, int_type);
  if (v == nullptr)
    return false;
  out = static_cast<long>(v->get_int64());
  return true;
}

const std::string* object_get_str(const Object& obj, const std::string& key)
{
  Object::const_iterator it = obj.find(key);
  if (it == obj.end() || it->second.type() != str_type)
    return nullptr;
  return &it->second.get_str();
}

std::string object_get_str_or_throw(const Object& obj, const std::string& key)
{
  const Value& v = require_member(obj, key);
  if (v.type() != str_type)
    throw_wrong_type(key, v, "string");
  return v.get_str();
}

secure_string object_get_secure_str_or_throw(const Object& obj, const std::string& key)
{
  const Value& v = require_member(obj, key);
  if (v.type() == secure_str_type)
    return v.get_secure_str();
  if (v.type() == str_type)
    return secure_string(v.get_str().data(), v.get_str().size());
  throw_wrong_type(key, v, "string");
}

bool object_get_bool_or_throw(const Object& obj, const std::string& key)
{
  const Value& v = require_member(obj, key);
  if (v.type() != bool_type)
    throw_wrong_type(key, v, "boolean");
  return v.get_bool();
}

std::int64_t object_get_int64_or_throw(const Object& obj, const std::string& key)
{
  const Value& v = require_member(obj, key);
  if (v.type() != int_type)
    throw_wrong_type(key, v, "integer");
  return v.get_int64();
}

std::uint64_t object_get_uint64_or_throw(const Object& obj, const std::string& key)
{
  std::int64_t i = object_get_int64_or_throw(obj, key);
  if (i < 0)
    throw Type_Error("JSON member '" + key + "' is negative: " + std::to_string(i));
  return static_cast<std::uint64_t>(i);
}

}  // namespace json_spirit
