// The JSON text of a value (JSON_Dump).  How a secure string is written is
// left to devhost/full/json_writer_secure.cpp, the one place a host's choice
// shows here.
#include "devhost/shared/json_writer.h"

#include <cmath>
#include <cstdio>

#include "host/json_spirit_utils.h"

namespace devhost
{
void write_json_string(const char* data, std::size_t length, std::string& out)
{
  static const char HEX[] = "0123456789abcdef";
  out += '"';
  for (std::size_t i = 0; i < length; ++i)
  {
    const unsigned char c = static_cast<unsigned char>(data[i]);
    switch (c)
    {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20)
        {
          out += "\\u00";
          out += HEX[c >> 4];
          out += HEX[c & 0xf];
        }
        else
        {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}
}  // namespace devhost

namespace json_spirit
{
namespace
{
void write_real(double d, std::string& out)
{
  if (!std::isfinite(d))
  {
    out += "null";
    return;
  }
  char buf[32];
  // At most 24 characters: a sign, 17 digits, the point and a 4-character exponent.
  static_cast<void>(std::snprintf(buf, sizeof buf, "%.17g", d));
  std::string text(buf);
  // Keep the number a real when read back.
  if (text.find_first_of(".eE") == std::string::npos)
    text += ".0";
  out += text;
}

void newline(bool pretty, int depth, std::string& out)
{
  if (!pretty)
    return;
  out += '\n';
  out.append(static_cast<std::size_t>(depth) * 4, ' ');
}

void write(const Value& v, bool pretty, int depth, std::string& out)
{
  switch (v.type())
  {
    case obj_type:
    {
      const Object& obj = v.get_obj();
      out += '{';
      bool first = true;
      for (const Object::value_type& member : obj)
      {
        if (!first)
          out += ',';
        first = false;
        newline(pretty, depth + 1, out);
        devhost::write_json_string(member.first.data(), member.first.size(), out);
        out += pretty ? ": " : ":";
        write(member.second, pretty, depth + 1, out);
      }
      if (!obj.empty())
        newline(pretty, depth, out);
      out += '}';
      break;
    }
    case array_type:
    {
      const Array& arr = v.get_array();
      out += '[';
      for (std::size_t i = 0; i < arr.size(); ++i)
      {
        if (i > 0)
          out += ',';
        newline(pretty, depth + 1, out);
        write(arr[i], pretty, depth + 1, out);
      }
      if (!arr.empty())
        newline(pretty, depth, out);
      out += ']';
      break;
    }
    case str_type:
      devhost::write_json_string(v.get_str().data(), v.get_str().size(), out);
      break;
    case secure_str_type:
      devhost::write_secure_string(v.get_secure_str(), out);
      break;
    case bool_type:
      out += v.get_bool() ? "true" : "false";
      break;
    case int_type:
      out += std::to_string(v.get_int64());
      break;
    case real_type:
      write_real(v.get_real(), out);
      break;
    case null_type:
      out += "null";
      break;
  }
}
}  // namespace

std::string JSON_Dump(const Value& v, bool pretty)
{
  std::string out;
  write(v, pretty, 0, out);
  return out;
}

}  // namespace json_spirit
