#ifndef HOST_JSON_SPIRIT_VALUE_H
#define HOST_JSON_SPIRIT_VALUE_H

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "host/host_export.h"
#include "scrt/secure_string.h"

namespace json_spirit
{
/// The kinds a value can hold; the numbers are the host's.
enum Value_type
{
  obj_type = 0,
  array_type = 1,
  str_type = 2,
  secure_str_type = 3,
  bool_type = 4,
  int_type = 5,
  real_type = 6,
  null_type = 7
};

class Value;

/// A JSON object: key to value, ordered by key.
typedef std::map<std::string, Value> Object;
/// A JSON array.
typedef std::vector<Value> Array;

/// The exception every accessor raises on a value of the wrong kind.  Callers
/// rely only on its being a `std::exception`.
class HOST_EXPORT Type_Error : public std::runtime_error
{
public:
  explicit Type_Error(const std::string& what) : std::runtime_error(what) {}
};

/**
 * A JSON value.  Besides the JSON kinds it can hold a `secure_string`, for
 * secrets that must not be left in freed memory; a value made from one keeps
 * that kind through copies and moves.
 *
 * The typed getters (`get_obj`, `get_str`, ...) throw `Type_Error` when the
 * value holds another kind.  Values are not thread-safe; copies are
 * independent.
 */
class HOST_EXPORT Value
{
public:
  /// A shared null value, for callers that need a `const Value&`.
  static const Value null;

  Value() : v_(Null()) {}
  Value(const Object& v) : v_(v) {}
  Value(Object&& v) : v_(std::move(v)) {}
  Value(const Array& v) : v_(v) {}
  Value(Array&& v) : v_(std::move(v)) {}
  Value(const std::string& v) : v_(v) {}
  Value(std::string&& v) : v_(std::move(v)) {}
  Value(const char* v) : v_(std::string(v)) {}
  Value(const secure_string& v) : v_(std::in_place_index<secure_str_type>, v) {}
  Value(secure_string&& v) : v_(std::in_place_index<secure_str_type>, std::move(v)) {}
  Value(bool v) : v_(v) {}
  Value(int v) : v_(static_cast<std::int64_t>(v)) {}
  Value(long v) : v_(static_cast<std::int64_t>(v)) {}
  Value(long long v) : v_(static_cast<std::int64_t>(v)) {}
  Value(unsigned int v) : v_(static_cast<std::int64_t>(v)) {}
  Value(double v) : v_(v) {}

  Value_type type() const { return static_cast<Value_type>(v_.index()); }
  bool is_null() const { return type() == null_type; }

  const Object& get_obj() const { return get<Object>(obj_type); }
  Object& get_obj() { return get<Object>(obj_type); }
  const Array& get_array() const { return get<Array>(array_type); }
  Array& get_array() { return get<Array>(array_type); }
  const std::string& get_str() const { return get<std::string>(str_type); }
  const secure_string& get_secure_str() const { return get<Secure_Str>(secure_str_type); }
  bool get_bool() const { return get<bool>(bool_type); }
  std::int64_t get_int64() const { return get<std::int64_t>(int_type); }
  int get_int() const { return static_cast<int>(get_int64()); }
  /// Reals are the value itself; integers are converted.
  double get_real() const
  {
    return type() == int_type ? static_cast<double>(get_int64()) : get<double>(real_type);
  }

  bool operator==(const Value& other) const { return v_ == other.v_; }
  bool operator!=(const Value& other) const { return !(*this == other); }

private:
  /// The null alternative.
  struct Null
  {
    bool operator==(const Null&) const { return true; }
  };

  /**
   * The secure string alternative.  A secret of up to 15 characters lives
   * in the string object, inside whatever block holds the value (a map node
   * of an object), where the allocator's wiping never reaches: this wipes
   * it whenever the value goes, is overwritten or is moved from.
   */
  struct Secure_Str : secure_string
  {
    Secure_Str(const secure_string& s) : secure_string(s) {}
    Secure_Str(secure_string&& s) noexcept : secure_string(std::move(s)) { secure_wipe(s); }
    Secure_Str(const Secure_Str& s) : secure_string(s) {}
    Secure_Str(Secure_Str&& s) noexcept : secure_string(std::move(s)) { secure_wipe(s); }
    Secure_Str& operator=(const Secure_Str& s)
    {
      if (this != &s)
      {
        secure_wipe(*this);
        secure_string::operator=(s);
      }
      return *this;
    }
    Secure_Str& operator=(Secure_Str&& s) noexcept
    {
      if (this != &s)
      {
        secure_wipe(*this);
        secure_string::operator=(std::move(s));
        secure_wipe(s);
      }
      return *this;
    }
    ~Secure_Str() { secure_wipe(*this); }
  };

  template <typename T>
  const T& get(Value_type want) const
  {
    if (const T* p = std::get_if<T>(&v_))
      return *p;
    throw_type_error(want);
  }
  template <typename T>
  T& get(Value_type want)
  {
    if (T* p = std::get_if<T>(&v_))
      return *p;
    throw_type_error(want);
  }
  // Inline, like the accessors that call it: the module's copies of them
  // must not need anything from the host's library.
  [[noreturn]] void throw_type_error(Value_type want) const
  {
    throw Type_Error(std::string("JSON value is ") + kind_name(type()) + ", not " + kind_name(want));
  }
  static const char* kind_name(Value_type t)
  {
    static const char* const NAMES[] = {"object",  "array",   "string", "secure string",
                                        "boolean", "integer", "real",   "null"};
    return t >= obj_type && t <= null_type ? NAMES[t] : "unknown";
  }

  // The alternatives stand in the order of Value_type, so index() is the type.
  std::variant<Object, Array, std::string, Secure_Str, bool, std::int64_t, double, Null> v_;
};

}  // namespace json_spirit

#endif /* HOST_JSON_SPIRIT_VALUE_H */
