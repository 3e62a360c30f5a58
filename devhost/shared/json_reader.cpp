#include "devhost/harness/json_reader.h"

#include <limits>
#include <vector>

#include <nlohmann/json.hpp>

namespace json_spirit
{
namespace
{
const std::size_t MAX_DEPTH = 512;

// Builds a Value straight from the parser's events, with an explicit stack:
// no intermediate document, and no recursion that hostile nesting could
// drive off the end of the stack.
class Builder : public nlohmann::json_sax<nlohmann::json>
{
public:
  explicit Builder(Value& root) : root_(root) {}

  bool null() override { return add(Value()); }
  bool boolean(bool val) override { return add(Value(val)); }
  bool number_integer(number_integer_t val) override { return add(Value(static_cast<long long>(val))); }
  bool number_unsigned(number_unsigned_t val) override
  {
    if (val <= static_cast<number_unsigned_t>(std::numeric_limits<long long>::max()))
      return add(Value(static_cast<long long>(val)));
    return add(Value(static_cast<double>(val)));
  }
  bool number_float(number_float_t val, const string_t&) override { return add(Value(val)); }
  bool string(string_t& val) override { return add(Value(std::move(val))); }
  bool binary(binary_t&) override { return false; }
  bool start_object(std::size_t) override { return open(Value(Object())); }
  bool key(string_t& val) override
  {
    key_ = std::move(val);
    return true;
  }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(Value(Array())); }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override
  {
    return false;
  }

private:
  // Places @a v where the parser is: the root, the next array element or
  // the member named by the last key.  Returns where it was stored.
  Value* place(Value&& v)
  {
    if (stack_.empty())
    {
      root_ = std::move(v);
      return &root_;
    }
    Value& top = *stack_.back();
    if (top.type() == array_type)
    {
      top.get_array().push_back(std::move(v));
      return &top.get_array().back();
    }
    Value& slot = top.get_obj()[key_];
    slot = std::move(v);
    return &slot;
  }

  bool add(Value&& v)
  {
    place(std::move(v));
    return true;
  }

  bool open(Value&& container)
  {
    if (stack_.size() >= MAX_DEPTH)
      return false;
    stack_.push_back(place(std::move(container)));
    return true;
  }

  bool close()
  {
    stack_.pop_back();
    return true;
  }

  Value& root_;
  std::vector<Value*> stack_;
  std::string key_;
};
}  // namespace

bool read(const char* begin, const char* end, Value& out)
{
  Value parsed;
  Builder builder(parsed);
  bool ok = false;
  try
  {
    ok = nlohmann::json::sax_parse(begin, end, &builder, nlohmann::json::input_format_t::json, true);
  }
  catch (const nlohmann::json::exception&)
  {
    ok = false;
  }
  out = ok ? std::move(parsed) : Value();
  return ok;
}

bool read(const std::string& text, Value& out)
{
  return read(text.data(), text.data() + text.size(), out);
}

}  // namespace json_spirit
