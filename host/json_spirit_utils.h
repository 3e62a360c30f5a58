#ifndef HOST_JSON_SPIRIT_UTILS_H
#define HOST_JSON_SPIRIT_UTILS_H

#include <cstdint>
#include <string>

#include "host/host_export.h"
#include "host/json_spirit_value.h"

/**
 * Keyed getters over a JSON object.
 *
 * Non-throwing getters (`object_get`): true and the whole value when the
 * member is present with the getter's JSON kind; false for a missing key,
 * the destination untouched, without throwing.  A member of another kind
 * gives false or throws, as the host chooses: callers check the kind first.
 *
 * Throwing getters (`object_get_*_or_throw`): the value, or an exception
 * derived from `std::exception` when the key is missing or of another kind.
 */
namespace json_spirit
{
HOST_EXPORT bool object_get(const Object& obj, const std::string& key, std::string& out);
/// Reads a secure string member; whether a plain one is accepted is the host's.
HOST_EXPORT bool object_get(const Object& obj, const std::string& key, secure_string& out);
HOST_EXPORT bool object_get(const Object& obj, const std::string& key, bool& out);
HOST_EXPORT bool object_get(const Object& obj, const std::string& key, long& out);

/// The text of a plain string member; null for a missing key.  For a member
/// of another kind, null or an exception, as the host chooses.
HOST_EXPORT const std::string* object_get_str(const Object& obj, const std::string& key);

HOST_EXPORT std::string object_get_str_or_throw(const Object& obj, const std::string& key);
HOST_EXPORT secure_string object_get_secure_str_or_throw(const Object& obj, const std::string& key);
HOST_EXPORT bool object_get_bool_or_throw(const Object& obj, const std::string& key);
HOST_EXPORT std::int64_t object_get_int64_or_throw(const Object& obj, const std::string& key);
/// What a negative integer gives is the host's choice.
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
   * Returns false, @a out untouched, when the path does not resolve.  A
   * value there of another kind gives false or throws, as the host chooses.
   */
  bool get(const Value& doc, std::string& out) const;

private:
  std::vector<std::string> tokens_;
  bool valid_;
};

/**
 * The JSON text of @a v, which parses back to @a v; the layout (@a pretty:
 * line breaks and indentation) and how a secure string is written are the
 * host's.  Callers never dump a value that holds a secret.
 */
HOST_EXPORT std::string JSON_Dump(const Value& v, bool pretty);

}  // namespace json_spirit

#endif /* HOST_JSON_SPIRIT_UTILS_H */
