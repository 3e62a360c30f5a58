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
[[noreturn]] inline void throw_out_of_range(const std::string& key, long long value, long long min,
                                            unsigned long long max)
{
  throw std::out_of_range("JSON member '" + key + "' is out of range " + std::to_string(min) + " to " +
                          std::to_string(max) + ": " + std::to_string(value));
}
}  // namespace detail

/**
 * Reads an integral member of type T through the host's 64-bit getters.
 * A value outside T's range raises `std::out_of_range` naming the key and the
 * value: narrowing must never turn 70000 into another valid port.
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

template <typename T>
struct Integral_Getter<T, true>
{
  /// The member's value; throws when it is missing, not an integer or out of T's range.
  static T object_get_or_throw(const Object& obj, const std::string& key)
  {
    std::int64_t v = object_get_int64_or_throw(obj, key);
    if (v < static_cast<std::int64_t>(std::numeric_limits<T>::min()) ||
        v > static_cast<std::int64_t>(std::numeric_limits<T>::max()))
      detail::throw_out_of_range(key, v, std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
    return static_cast<T>(v);
  }
};

/**
 * Non-throwing getter of an integral member of type T: false, @a out
 * untouched, when the key is absent or null.  A present value of another
 * type, or outside T's range, still raises (see `Integral_Getter`).
 */
template <typename T>
typename std::enable_if<std::is_integral<T>::value && !std::is_same<T, bool>::value &&
                            !std::is_same<T, long>::value,
                        bool>::type
object_get(const Object& obj, const std::string& key, T& out)
{
  long v = 0;
  if (!object_get(obj, key, v))
    return false;
  if (v < static_cast<long>(std::numeric_limits<T>::min()) ||
      (v > 0 && static_cast<unsigned long long>(v) > static_cast<unsigned long long>(std::numeric_limits<T>::max())))
    detail::throw_out_of_range(key, v, static_cast<long long>(std::numeric_limits<T>::min()),
                               static_cast<unsigned long long>(std::numeric_limits<T>::max()));
  out = static_cast<T>(v);
  return true;
}

/// The throwing or the non-throwing getter of an integral member, by @a throws.
template <typename T>
bool object_get_may_throw(const Object& obj, const std::string& key, T& out, bool throws)
{
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
