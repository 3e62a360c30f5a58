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

/**
 * A JSON value.  Besides the JSON kinds it can hold a `secure_string`
 * (the contract-minimal host: the dumper writes it in clear).
 *
 * The typed getters (`get_obj`, `get_str`, ...) throw `std::domain_error`
 * when the value holds another kind.  Values are not thread-safe; copies are
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
  Value(const secure_string& v) : v_(v) {}
  Value(secure_string&& v) : v_(std::move(v)) {}
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
  const secure_string& get_secure_str() const { return get<secure_string>(secure_str_type); }
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
  [[noreturn]] void throw_type_error(Value_type) const
  {
    throw std::domain_error("JSON value of another kind");
  }

  // The alternatives stand in the order of Value_type, so index() is the type.
  std::variant<Object, Array, std::string, secure_string, bool, std::int64_t, double, Null> v_;
};

}  // namespace json_spirit

#endif /* HOST_JSON_SPIRIT_VALUE_H */
