#ifndef HOST_JSON_SPIRIT_UTILS_H
#define HOST_JSON_SPIRIT_UTILS_H

#include <cstdint>
#include <string>

#include "host/host_export.h"
#include "host/json_spirit_value.h"

/**
 * Keyed getters over a JSON object.
 *
 * Non-throwing getters (`object_get`): a missing key or a JSON null gives
 * false and leaves the destination untouched; a key present with a value of
 * another JSON type raises `Type_Error` naming the key, so that "ssl": "true"
 * is never taken for an absent flag.
 *
 * Throwing getters (`object_get_*_or_throw`): the value, or `Type_Error` when
 * the key is missing, null or of another type.
 */
namespace json_spirit
{
HOST_EXPORT bool object_get(const Object& obj, const std::string& key, std::string& out);
/// Accepts both a plain and a secure string member.
HOST_EXPORT bool object_get(const Object& obj, const std::string& key, secure_string& out);
HOST_EXPORT bool object_get(const Object& obj, const std::string& key, bool& out);
HOST_EXPORT bool object_get(const Object& obj, const std::string& key, long& out);

/// The member's string when the key holds a plain JSON string; null otherwise
/// (missing key, null or any other type, a secure string included).
HOST_EXPORT const std::string* object_get_str(const Object& obj, const std::string& key);

HOST_EXPORT std::string object_get_str_or_throw(const Object& obj, const std::string& key);
/// Accepts both a plain and a secure string member.
HOST_EXPORT secure_string object_get_secure_str_or_throw(const Object& obj, const std::string& key);
HOST_EXPORT bool object_get_bool_or_throw(const Object& obj, const std::string& key);
HOST_EXPORT std::int64_t object_get_int64_or_throw(const Object& obj, const std::string& key);
/// Also throws when the integer is negative.
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
   * Returns false, @a out untouched, when the path does not resolve or
   * resolves to a value that is not a plain string (a secret held as a
   * secure string is never copied into a plain one).
   */
  bool get(const Value& doc, std::string& out) const;

private:
  std::vector<std::string> tokens_;
  bool valid_;
};

/**
 * The JSON text of @a v; @a pretty adds line breaks and indentation.
 * A secure string is written as the string "********": the text goes to logs
 * and replies, and a secret must never reach either.
 */
HOST_EXPORT std::string JSON_Dump(const Value& v, bool pretty);

}  // namespace json_spirit

#endif /* HOST_JSON_SPIRIT_UTILS_H */
