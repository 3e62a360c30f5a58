#include "devhost/full/printable.h"

namespace devhost
{
std::string printable(const std::string& text, std::size_t max_bytes)
{
  static const char HEX[] = "0123456789ABCDEF";
  std::string out = "'";
  for (std::size_t i = 0; i < text.size() && i < max_bytes; ++i)
  {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c > 0x7e || c == '\\')
    {
      out += "\\x";
      out += HEX[c >> 4];
      out += HEX[c & 15];
    }
    else
      out += static_cast<char>(c);
  }
  out += text.size() > max_bytes ? "'..." : "'";
  return out;
}

}  // namespace devhost
