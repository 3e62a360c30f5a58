#ifndef HOST_JSON_SPIRIT_UTILS_H
#define HOST_JSON_SPIRIT_UTILS_H

#include <cstdint>
#include <string>

#include "host/host_export.h"
#include "host/json_spirit_value.h"

/**
 * Keyed getters over a JSON object (the contract-minimal host).
 *
 * Non-throwing getters (`object_get`): true and the value when the member
 * has the getter's kind (the secure-string getter: a secure string only);
 * otherwise (missing key, null, any other kind) false, the destination
 * untouched.  `object_get_str` throws `std::domain_error` for a member of
 * another kind than a plain string, and gives null for a missing key.
 *
 * Throwing getters (`object_get_*_or_throw`): the value, or
 * `std::domain_error` when the key is missing or of another kind.
 */
namespace json_spirit
{
HOST_EXPORT bool object_get(const Object& obj, const std::string& key, std::string& out);
HOST_EXPORT bool object_get(const Object& obj, const std::string& key, secure_string& out);
HOST_EXPORT bool object_get(const Object& obj, const std::string& key, bool& out);
HOST_EXPORT bool object_get(const Object& obj, const std::string& key, long& out);

/// The member's string; null for a missing key.
HOST_EXPORT const std::string* object_get_str(const Object& obj, const std::string& key);

HOST_EXPORT std::string object_get_str_or_throw(const Object& obj, const std::string& key);
HOST_EXPORT secure_string object_get_secure_str_or_throw(const Object& obj, const std::string& key);
HOST_EXPORT bool object_get_bool_or_throw(const Object& obj, const std::string& key);
HOST_EXPORT std::int64_t object_get_int64_or_throw(const Object& obj, const std::string& key);
/// A negative integer is converted, not refused.
HOST_EXPORT std::uint64_t object_get_uint64_or_throw(const Object& obj, const std::string& key);

/**
 * An RFC 6901 JSON Pointer.  `path` sets the pointer from its text ("" is the
 * whole document, "/a/0/b~1c" member "a", element 0, member "b/c").
 * Not thread-safe; one evaluator per thread.
 */
class HOST_EXPORT JSON_Pointer
{
public:
  JSON_Pointer();
  ~JSON_Pointer();

  /**
   * Sets the path.  Returns false (and keeps no path) when the text is not a
   * pointer: not empty and not starting with "/", or with a "~" that is not
   * "~0" or "~1".  With @a throw_on_error such text raises `std::invalid_argument`.
   */
  bool path(const char* text, bool throw_on_error);

  /**
   * Stores the string the path resolves to into @a out and returns true.
   * Returns false, @a out untouched, when the path does not resolve; throws
   * `std::domain_error` when it resolves to a value that is not a string.
   */
  bool get(const Value& doc, std::string& out) const;

private:
  std::vector<std::string> tokens_;
  bool valid_;
};

/**
 * The JSON text of @a v; @a pretty adds line breaks and indentation.
 * A secure string is written in clear, like any string.
 */
HOST_EXPORT std::string JSON_Dump(const Value& v, bool pretty);

}  // namespace json_spirit

#endif /* HOST_JSON_SPIRIT_UTILS_H */
