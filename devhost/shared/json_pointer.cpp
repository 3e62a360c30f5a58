// RFC 6901 JSON Pointers: parsing a path and resolving it in a document.
// What `get` does with what it finds is devhost/full/json_pointer_get.cpp's.
#include "host/json_spirit_utils.h"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "devhost/shared/json_pointer.h"

namespace json_spirit
{
JSON_Pointer::JSON_Pointer() : valid_(false) {}

JSON_Pointer::~JSON_Pointer() {}

namespace
{
// Unescapes one reference token; false on a "~" not followed by "0" or "1".
bool unescape(const std::string& raw, std::string& out)
{
  out.clear();
  for (std::size_t i = 0; i < raw.size(); ++i)
  {
    if (raw[i] != '~')
    {
      out += raw[i];
      continue;
    }
    if (i + 1 == raw.size() || (raw[i + 1] != '0' && raw[i + 1] != '1'))
      return false;
    out += raw[i + 1] == '0' ? '~' : '/';
    ++i;
  }
  return true;
}

// An array index per RFC 6901: "0" or digits without a leading zero.
bool array_index(const std::string& token, std::size_t size, std::size_t& index)
{
  if (token.empty() || token.size() > 19 || (token.size() > 1 && token[0] == '0'))
    return false;
  for (char c : token)
    if (c < '0' || c > '9')
      return false;
  unsigned long long n = std::strtoull(token.c_str(), nullptr, 10);
  if (n >= size)
    return false;
  index = static_cast<std::size_t>(n);
  return true;
}
}  // namespace

bool JSON_Pointer::path(const char* text, bool throw_on_error)
{
  tokens_.clear();
  valid_ = false;
  std::string s = text == nullptr ? std::string() : std::string(text);
  bool ok = s.empty() || s[0] == '/';
  std::vector<std::string> tokens;
  std::size_t start = 1;
  while (ok && start <= s.size() && !s.empty())
  {
    std::size_t end = s.find('/', start);
    if (end == std::string::npos)
      end = s.size();
    std::string token;
    ok = unescape(s.substr(start, end - start), token);
    tokens.push_back(token);
    start = end + 1;
  }
  if (!ok)
  {
    if (throw_on_error)
      throw std::invalid_argument("'" + s + "' is not a JSON Pointer");
    return false;
  }
  tokens_.swap(tokens);
  valid_ = true;
  return true;
}

}  // namespace json_spirit

const json_spirit::Value* devhost::resolve_json_pointer(const std::vector<std::string>& tokens,
                                                        const json_spirit::Value& doc)
{
  using namespace json_spirit;
  const Value* v = &doc;
  for (const std::string& token : tokens)
  {
    if (v->type() == obj_type)
    {
      const Object& obj = v->get_obj();
      Object::const_iterator it = obj.find(token);
      if (it == obj.end())
        return nullptr;
      v = &it->second;
    }
    else if (v->type() == array_type)
    {
      std::size_t index = 0;
      if (!array_index(token, v->get_array().size(), index))
        return nullptr;
      v = &v->get_array()[index];
    }
    else
    {
      return nullptr;
    }
  }
  return v;
}
