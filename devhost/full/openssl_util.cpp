#include "devhost/full/openssl_util.h"

namespace devhost
{
namespace
{
// -1 for bytes outside the alphabet, -2 for white space, -3 for '='.
int base64_value(unsigned char c)
{
  if (c >= 'A' && c <= 'Z')
    return c - 'A';
  if (c >= 'a' && c <= 'z')
    return c - 'a' + 26;
  if (c >= '0' && c <= '9')
    return c - '0' + 52;
  if (c == '+')
    return 62;
  if (c == '/')
    return 63;
  if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
    return -2;
  if (c == '=')
    return -3;
  return -1;
}
}  // namespace

// A decoder of our own rather than EVP_DecodeUpdate: OpenSSL's treats '-'
// as an end marker and silently drops what follows, and the RSA decoder
// must refuse anything that is not exactly one Base64 text.
bool base64_decode(const unsigned char* text, std::size_t length, std::vector<unsigned char>& out)
{
  out.clear();
  out.reserve(length / 4 * 3);
  unsigned long group = 0;
  int in_group = 0;
  int padding = 0;
  for (std::size_t i = 0; i < length; ++i)
  {
    int v = base64_value(text[i]);
    if (v == -2)
      continue;
    if (v == -1 || (padding > 0 && v != -3))
    {
      out.clear();
      return false;
    }
    if (v == -3)
    {
      // Padding may only fill the last one or two places of a group.
      if (in_group < 2 || ++padding > 2)
      {
        out.clear();
        return false;
      }
      v = 0;
    }
    group = (group << 6) | static_cast<unsigned long>(v);
    if (++in_group == 4)
    {
      out.push_back(static_cast<unsigned char>(group >> 16));
      if (padding < 2)
        out.push_back(static_cast<unsigned char>(group >> 8));
      if (padding < 1)
        out.push_back(static_cast<unsigned char>(group));
      group = 0;
      in_group = 0;
      if (padding > 0)
        padding = 3;  // nothing but white space may follow a padded group
    }
  }
  if (in_group != 0 || (padding > 0 && padding != 3))
  {
    out.clear();
    return false;
  }
  return true;
}

}  // namespace devhost
