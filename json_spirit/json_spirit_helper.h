#ifndef JSON_SPIRIT_JSON_SPIRIT_HELPER_H
#define JSON_SPIRIT_JSON_SPIRIT_HELPER_H

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "host/json_spirit_utils.h"

namespace json_spirit
{
/// Extraction flags, combined in `Flags`.
enum Flag
{
  /// A key or path that is not there is skipped silently.
  FG_NOTHROW = 0,
  /// A key or path that is not there raises an exception.
  FG_THROW = 1,
  /// The extractor is broken: every extraction is refused.
  FG_BRK_UNT_CHROOT = 2
};

typedef std::uint32_t Flags;

namespace detail
{
/// "an object", "a string", ...: the kind of a value, for messages.
inline const char* kind_name(Value_type t)
{
  static const char* const NAMES[] = {"an object", "an array",   "a string", "a secure string",
                                      "a boolean", "an integer", "a real",   "null"};
  return static_cast<unsigned>(t) < sizeof NAMES / sizeof NAMES[0] ? NAMES[t] : "of an unknown kind";  // GCOVR_EXCL_BR_LINE: all have one
}

[[noreturn]] inline void throw_out_of_range(const std::string& key, long long value, long long min,
                                            unsigned long long max)
{
  throw std::out_of_range("JSON member '" + key + "' is out of range " + std::to_string(min) + " to " +
                          std::to_string(max) + ": " + std::to_string(value));
}
}  // namespace detail

/**
 * The object that @a v holds.  A value of another kind raises
 * `std::invalid_argument` with a text made here, so that a failure reads the
 * same whatever the host's accessors would have said.
 */
inline const Object& object_of(const Value& v)
{
  if (v.type() != obj_type)
    throw std::invalid_argument(std::string("JSON value is ") + detail::kind_name(v.type()) +
                                ", not an object");
  return v.get_obj();
}

/**
 * The member @a key of @a obj when it is present and of kind @a want (or of
 * kind @a also); null when it is absent or JSON null, unless @a throws, which
 * makes that an error too.  A member of another kind raises
 * `std::invalid_argument` naming the key and both kinds.
 *
 * Extraction checks every member with this before it calls a host getter:
 * the host promises only what its getters do with a member of the right kind
 * or an absent one.  A getter that took a wrong kind for an absent key would
 * let "ssl": "true" mean plain HTTP and "port": "443" the default port.
 */
inline const Value* member_of_kind(const Object& obj, const std::string& key, bool throws, Value_type want,
                                   Value_type also)
{
  Object::const_iterator it = obj.find(key);
  if (it == obj.end() || it->second.type() == null_type)
  {
    if (throws)
      throw std::invalid_argument("JSON member '" + key + "' does not exist");
    return nullptr;
  }
  const Value_type kind = it->second.type();
  if (kind != want && kind != also)
    throw std::invalid_argument("JSON member '" + key + "' is " + detail::kind_name(kind) + ", not " +
                                detail::kind_name(want));
  return &it->second;
}

/// `member_of_kind` for a single kind.
inline const Value* member_of_kind(const Object& obj, const std::string& key, bool throws, Value_type want)
{
  return member_of_kind(obj, key, throws, want, want);
}

/**
 * Reads an integral member of type T through the host's 64-bit getters.
 * A value outside T's range raises `std::out_of_range` naming the key and the
 * value: narrowing must never turn 70000 into another valid port.  Only the
 * unsigned form is defined: the module reads no signed member this way.
 */
template <typename T, bool IS_SIGNED = std::numeric_limits<T>::is_signed>
struct Integral_Getter;

template <typename T>
struct Integral_Getter<T, false>
{
  /// The member's value; throws when it is missing, not an integer, negative or too large.
  static T object_get_or_throw(const Object& obj, const std::string& key)
  {
    std::uint64_t v = object_get_uint64_or_throw(obj, key);
    if (v > static_cast<std::uint64_t>(std::numeric_limits<T>::max()))
      detail::throw_out_of_range(key, static_cast<long long>(v), 0, std::numeric_limits<T>::max());
    return static_cast<T>(v);
  }
};

/**
 * Non-throwing getter of an integral member of type T: false, @a out
 * untouched, when the key is absent or null (the host's `long` getter, which
 * callers give only a member that `member_of_kind` found to be an integer).
 * A value outside T's range raises `std::out_of_range`.
 */
template <typename T>
typename std::enable_if<
    std::is_integral<T>::value && !std::is_same<T, bool>::value && !std::is_same<T, long>::value, bool>::type
object_get(const Object& obj, const std::string& key, T& out)
{
  long v = 0;
  if (!object_get(obj, key, v))
    return false;
  if (v < static_cast<long>(std::numeric_limits<T>::min()) ||
      (v > 0 &&
       static_cast<unsigned long long>(v) > static_cast<unsigned long long>(std::numeric_limits<T>::max())))
    detail::throw_out_of_range(key, v, static_cast<long long>(std::numeric_limits<T>::min()),
                               static_cast<unsigned long long>(std::numeric_limits<T>::max()));
  out = static_cast<T>(v);
  return true;
}

/**
 * The throwing or the non-throwing getter of an integral member, by
 * @a throws.  The member's kind is checked first (`member_of_kind`): an
 * absent or null member gives false (or, with @a throws, an exception),
 * any kind but an integer an exception.
 */
template <typename T>
bool object_get_may_throw(const Object& obj, const std::string& key, T& out, bool throws)
{
  if (member_of_kind(obj, key, throws, int_type) == nullptr)
    return false;
  if (throws)
  {
    out = Integral_Getter<T>::object_get_or_throw(obj, key);
    return true;
  }
  return object_get<T>(obj, key, out);
}

/**
 * Gives an extractor D a flags-free call operator: `x(name, val)` extracts
 * with the extractor's own `flags_`.
 */
template <typename D>
class Flaggable_T
{
public:
  template <typename V>
  D& operator()(const std::string& name, V& val)
  {
    D& self = static_cast<D&>(*this);
    return self(name, val, self.flags_);
  }
};

/**
 * Lets a caller run its own step inside a chain of extractions:
 * `x(...).callback(f)(...)` calls `f(x)` and goes on with `x`.
 */
template <typename D>
class Callbackable_T
{
public:
  template <typename F>
  D& callback(F&& f)
  {
    D& self = static_cast<D&>(*this);
    f(self);
    return self;
  }
};

/**
 * Loads every element of a JSON array into a container through the
 * element type's `load(const Value&)`.  False at the first element that does
 * not load (the container keeps the elements loaded before it).
 */
class Container_Loader
{
public:
  template <typename C>
  static bool load_container(const Array& arr, C& out)
  {
    for (const Value& v : arr)
    {
      typename C::value_type item;
      if (!item.load(v))
        return false;
      out.push_back(std::move(item));
    }
    return true;
  }
};

}  // namespace json_spirit

#endif /* JSON_SPIRIT_JSON_SPIRIT_HELPER_H */
