#ifndef SCRT_HTTP_HELPERS_H
#define SCRT_HTTP_HELPERS_H

#include <array>
#include <cstdint>

#include <ace/Basic_Types.h>

/// Flags of the percent-encoder `http_encode_string_i`, OR-ed into one word.
/// Each KEEP flag writes its character unchanged instead of escaping it.
enum : ACE_UINT64
{
  HUT_FLAG_SLASH = 1,               ///< escape "/" (written unchanged when clear)
  HUT_FLAG_SPACE = 2,               ///< write a space as "+" instead of "%20"
  HUT_FLAG_UPPERCASE = 4,           ///< upper-case hexadecimal digits in escapes
  HUT_FLAG_KEEP_COLON = 8,          ///< ":"
  HUT_FLAG_KEEP_LEFT_PAREN = 16,    ///< "("
  HUT_FLAG_KEEP_RIGHT_PAREN = 32,   ///< ")"
  HUT_FLAG_KEEP_SINGLE_QUOTE = 64,  ///< "'"
  HUT_FLAG_KEEP_ASTERISK = 128,     ///< "*"
  HUT_FLAG_KEEP_EXCLAMATION = 512,  ///< "!"
  HUT_FLAG_KEEP_POUND = 1024,       ///< "#"
  HUT_FLAG_KEEP_DOLLAR = 2048,      ///< "$"
  HUT_FLAG_KEEP_AMPERSAND = 4096,   ///< "&"
  HUT_FLAG_KEEP_PLUS = 8192,        ///< "+"
  HUT_FLAG_KEEP_COMMA = 16384,      ///< ","
  HUT_FLAG_KEEP_SEMICOLON = 32768,  ///< ";"
  HUT_FLAG_KEEP_EQUAL = 65536,      ///< "="
  HUT_FLAG_KEEP_QUESTION = 131072,  ///< "?"
  HUT_FLAG_KEEP_AT = 262144,        ///< "@"

  /// What ECMAScript's encodeURIComponent leaves unescaped: "/" escaped,
  /// "(", ")", "'", "*" and "!" kept, upper-case digits.
  HUT_FLAG_JS_ENCODE_URI_COMPONENT = HUT_FLAG_SLASH | HUT_FLAG_UPPERCASE | HUT_FLAG_KEEP_LEFT_PAREN |
                                     HUT_FLAG_KEEP_RIGHT_PAREN | HUT_FLAG_KEEP_SINGLE_QUOTE |
                                     HUT_FLAG_KEEP_ASTERISK | HUT_FLAG_KEEP_EXCLAMATION,
  /// What ECMAScript's encodeURI leaves unescaped: "/" and every reserved
  /// character above kept, upper-case digits.
  HUT_FLAG_JS_ENCODE_URI =
      HUT_FLAG_UPPERCASE | HUT_FLAG_KEEP_COLON | HUT_FLAG_KEEP_LEFT_PAREN | HUT_FLAG_KEEP_RIGHT_PAREN |
      HUT_FLAG_KEEP_SINGLE_QUOTE | HUT_FLAG_KEEP_ASTERISK | HUT_FLAG_KEEP_EXCLAMATION | HUT_FLAG_KEEP_POUND |
      HUT_FLAG_KEEP_DOLLAR | HUT_FLAG_KEEP_AMPERSAND | HUT_FLAG_KEEP_PLUS | HUT_FLAG_KEEP_COMMA |
      HUT_FLAG_KEEP_SEMICOLON | HUT_FLAG_KEEP_EQUAL | HUT_FLAG_KEEP_QUESTION | HUT_FLAG_KEEP_AT
};

static_assert(HUT_FLAG_JS_ENCODE_URI_COMPONENT == 757, "encodeURIComponent flag word");
static_assert(HUT_FLAG_JS_ENCODE_URI == 524028, "encodeURI flag word");

namespace hut_detail
{
/// Marks a byte that is never escaped: letters, digits, "-", "_", ".", "~".
constexpr std::uint32_t HUT_KEEP_ALWAYS = 1U << 31;

/// The flag bits that keep a reserved character.  "/" is kept by the
/// inverse of HUT_FLAG_SLASH, which `hut_keep_word` turns into bit 0.
constexpr std::uint32_t HUT_KEEP_FLAGS =
    HUT_FLAG_KEEP_COLON | HUT_FLAG_KEEP_LEFT_PAREN | HUT_FLAG_KEEP_RIGHT_PAREN | HUT_FLAG_KEEP_SINGLE_QUOTE |
    HUT_FLAG_KEEP_ASTERISK | HUT_FLAG_KEEP_EXCLAMATION | HUT_FLAG_KEEP_POUND | HUT_FLAG_KEEP_DOLLAR |
    HUT_FLAG_KEEP_AMPERSAND | HUT_FLAG_KEEP_PLUS | HUT_FLAG_KEEP_COMMA | HUT_FLAG_KEEP_SEMICOLON |
    HUT_FLAG_KEEP_EQUAL | HUT_FLAG_KEEP_QUESTION | HUT_FLAG_KEEP_AT;

/// For every byte value, the bits of which at least one must be in the
/// keep word for the byte to be written unchanged; 0 for bytes always escaped.
constexpr std::array<std::uint32_t, 256> hut_make_keep_table()
{
  std::array<std::uint32_t, 256> table{};
  for (int c = 'a'; c <= 'z'; ++c)
    table[c] = HUT_KEEP_ALWAYS;
  for (int c = 'A'; c <= 'Z'; ++c)
    table[c] = HUT_KEEP_ALWAYS;
  for (int c = '0'; c <= '9'; ++c)
    table[c] = HUT_KEEP_ALWAYS;
  table['-'] = table['_'] = table['.'] = table['~'] = HUT_KEEP_ALWAYS;
  table['/'] = HUT_FLAG_SLASH;
  table[':'] = HUT_FLAG_KEEP_COLON;
  table['('] = HUT_FLAG_KEEP_LEFT_PAREN;
  table[')'] = HUT_FLAG_KEEP_RIGHT_PAREN;
  table['\''] = HUT_FLAG_KEEP_SINGLE_QUOTE;
  table['*'] = HUT_FLAG_KEEP_ASTERISK;
  table['!'] = HUT_FLAG_KEEP_EXCLAMATION;
  table['#'] = HUT_FLAG_KEEP_POUND;
  table['$'] = HUT_FLAG_KEEP_DOLLAR;
  table['&'] = HUT_FLAG_KEEP_AMPERSAND;
  table['+'] = HUT_FLAG_KEEP_PLUS;
  table[','] = HUT_FLAG_KEEP_COMMA;
  table[';'] = HUT_FLAG_KEEP_SEMICOLON;
  table['='] = HUT_FLAG_KEEP_EQUAL;
  table['?'] = HUT_FLAG_KEEP_QUESTION;
  table['@'] = HUT_FLAG_KEEP_AT;
  return table;
}

inline constexpr std::array<std::uint32_t, 256> HUT_KEEP_TABLE = hut_make_keep_table();

/// The keep word of @a flags: the keep flags as given, bit 0 set when "/"
/// stays unchanged, and HUT_KEEP_ALWAYS.  Bits without meaning drop out.
constexpr std::uint32_t hut_keep_word(ACE_UINT64 flags)
{
  return static_cast<std::uint32_t>((flags & HUT_KEEP_FLAGS) | (~flags & HUT_FLAG_SLASH)) | HUT_KEEP_ALWAYS;
}
}  // namespace hut_detail

/**
 * Percent-encodes the NUL-terminated byte string @a str into @a result.
 *
 * Letters, digits, "-", "_", "." and "~" are written unchanged; so is "/"
 * unless HUT_FLAG_SLASH is set, and each reserved character whose KEEP flag
 * is set.  With HUT_FLAG_SPACE a space becomes "+".  Every other byte,
 * 0x80 to 0xFF included, becomes "%" and two hexadecimal digits of its
 * unsigned value, upper case with HUT_FLAG_UPPERCASE.  The encoding is per
 * byte, so encoding two strings in turn equals encoding their concatenation.
 *
 * @param str     input, read up to its first NUL.
 * @param flags   a word of `HUT_FLAG_` flags; bits without a flag are ignored.
 * @param result  output iterator over char, advanced once per character.
 * @return false, writing nothing, when @a str is null or empty; else true.
 *
 * One pass, no buffering.  Exceptions come only from the iterator (for a
 * string's back inserter, std::bad_alloc, with what was written kept).
 */
template <typename ITERATOR>
bool http_encode_string_i(const char* str, ACE_UINT64 flags, ITERATOR result)
{
  if (str == nullptr || *str == '\0')
    return false;

  const char* const digits = (flags & HUT_FLAG_UPPERCASE) != 0 ? "0123456789ABCDEF" : "0123456789abcdef";
  const std::uint32_t keep = hut_detail::hut_keep_word(flags);
  const bool plus_for_space = (flags & HUT_FLAG_SPACE) != 0;

  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(str); *p != 0; ++p)
  {
    const unsigned char c = *p;
    if ((hut_detail::HUT_KEEP_TABLE[c] & keep) != 0)
    {
      *result = static_cast<char>(c);
      ++result;
    }
    else if (c == ' ' && plus_for_space)
    {
      *result = '+';
      ++result;
    }
    else
    {
      *result = '%';
      ++result;
      *result = digits[c >> 4];
      ++result;
      *result = digits[c & 0x0F];
      ++result;
    }
  }
  return true;
}

#endif /* SCRT_HTTP_HELPERS_H */
