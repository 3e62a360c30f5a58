#include "scrt/http_helpers.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

namespace
{
std::string encode(const char* in, ACE_UINT64 flags)
{
  std::string out;
  http_encode_string_i(in, flags, std::back_inserter(out));
  return out;
}

#define EXPECT_ENCODED(flags, in, expected) EXPECT_EQ(encode(in, flags), expected) << "input \"" << in << '"'

// Expected values: the module's encoding rules (flag table and examples of
// the encoder's documentation), checked by hand against RFC 3986 section 2.
TEST(Http_Encode_String, DocumentedExamples)
{
  EXPECT_ENCODED(3, "a b/c", "a+b%2fc");
  EXPECT_ENCODED(3, "1+1=2", "1%2b1%3d2");
  EXPECT_ENCODED(3, "~user.name-x_y", "~user.name-x_y");
  EXPECT_ENCODED(3, "\xC3\xBC", "%c3%bc");
  EXPECT_ENCODED(5, "a b/c", "a%20b%2Fc");
  EXPECT_ENCODED(5, "+", "%2B");
  EXPECT_ENCODED(0, "a b/c", "a%20b/c");
  EXPECT_ENCODED(0, "\xFF\x01", "%ff%01");
  EXPECT_ENCODED(HUT_FLAG_JS_ENCODE_URI, "/a?b=c&d", "/a?b=c&d");
  EXPECT_ENCODED(HUT_FLAG_JS_ENCODE_URI_COMPONENT, "/a?b=c&d", "%2Fa%3Fb%3Dc%26d");
  // A Base64 signature, as request signing encodes it.
  EXPECT_ENCODED(5, "q8Z+/w==", "q8Z%2B%2Fw%3D%3D");
}

TEST(Http_Encode_String, NullOrEmptyWritesNothing)
{
  std::string out = "kept";
  EXPECT_FALSE(http_encode_string_i(nullptr, 3, std::back_inserter(out)));
  EXPECT_FALSE(http_encode_string_i("", 3, std::back_inserter(out)));
  EXPECT_EQ(out, "kept");
  EXPECT_TRUE(http_encode_string_i("a", 3, std::back_inserter(out)));
  EXPECT_EQ(out, "kepta");
}

/// An independent statement of one flag word: the bytes left as they are,
/// the form of a space and the case of the digits.
struct Rule
{
  ACE_UINT64 flags;
  const char* kept;
  bool plus_for_space;
  bool upper;
};

#define ALNUM "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"

const Rule RULES[] = {
    // RFC 3986 section 2.3 unreserved characters.
    {3, ALNUM "-_.~", true, false},
    {5, ALNUM "-_.~", false, true},
    {0, ALNUM "-_.~/", false, false},
    // ECMA-262 encodeURIComponent: uriAlpha, DecimalDigit, uriMark.
    {HUT_FLAG_JS_ENCODE_URI_COMPONENT, ALNUM "-_.!~*'()", false, true},
    // ECMA-262 encodeURI: the above plus uriReserved and "#".
    {HUT_FLAG_JS_ENCODE_URI, ALNUM "-_.!~*'();/?:@&=+$,#", false, true},
};

std::string expected_for(const Rule& rule, unsigned char c)
{
  if (std::strchr(rule.kept, c) != nullptr)
    return std::string(1, static_cast<char>(c));
  if (c == ' ' && rule.plus_for_space)
    return "+";
  char buf[4];
  std::snprintf(buf, sizeof buf, rule.upper ? "%%%02X" : "%%%02x", c);
  return buf;
}

TEST(Http_Encode_String, EveryByteMatchesTheRuleOfEachFlagWord)
{
  for (const Rule& rule : RULES)
  {
    for (int c = 1; c < 256; ++c)
    {
      const char in[2] = {static_cast<char>(c), '\0'};
      SCOPED_TRACE(testing::Message() << "flags " << rule.flags << " byte " << c);
      EXPECT_EQ(encode(in, rule.flags), expected_for(rule, static_cast<unsigned char>(c)));
      // Bit 8 and the bits above bit 18 carry no flag.
      const ACE_UINT64 unused = 256 | (ACE_UINT64(1) << 19) | (ACE_UINT64(1) << 31) | (ACE_UINT64(1) << 63);
      EXPECT_EQ(encode(in, rule.flags | unused), expected_for(rule, static_cast<unsigned char>(c)));
    }
  }
}

TEST(Http_Encode_String, EachKeepFlagKeepsOnlyItsCharacter)
{
  // Flag table: one reserved character per keep flag, in bit order.
  const char reserved[] = ":()'*!#$&+,;=?@";
  const ACE_UINT64 bits[] = {8,    16,   32,    64,    128,   512,    1024,  2048,
                             4096, 8192, 16384, 32768, 65536, 131072, 262144};
  static_assert(sizeof bits / sizeof bits[0] == sizeof reserved - 1, "one flag per character");
  const std::string all_escaped = encode(reserved, 0);
  ASSERT_EQ(all_escaped.size(), 3 * (sizeof reserved - 1));
  for (size_t i = 0; i < sizeof reserved - 1; ++i)
  {
    const std::string expected = all_escaped.substr(0, 3 * i) + reserved[i] + all_escaped.substr(3 * i + 3);
    EXPECT_EQ(encode(reserved, bits[i]), expected) << "flag " << bits[i];
  }
}
}  // namespace
