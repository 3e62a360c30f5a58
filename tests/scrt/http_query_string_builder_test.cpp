#include "scrt/http_query_string_builder.h"

#include <iterator>
#include <map>
#include <string>

#include <gtest/gtest.h>

namespace
{
typedef std::back_insert_iterator<std::string> Iterator;
typedef HTTP_Query_String_Builder_T<Iterator> Builder;
typedef std::map<std::string, std::string> Params;

/// The query string that a builder over @a start gives for @a params, as
/// request signing and the signed GET build it.
std::string build(std::string start, const Params& params)
{
  Builder builder(std::back_inserter(start), !start.empty());
  builder(params, true, true, nullptr);
  return start;
}

#define EXPECT_QUERY(start, params, expected) EXPECT_EQ(build(start, Params params), expected)

// Expected values: the builder's documented examples, and the encoder's
// rule for flag word 3 (space as "+", everything but unreserved as "%xx").
TEST(Query_String_Builder, MapIsWrittenInKeyOrder)
{
  EXPECT_EQ(Builder::ENCODE_FLAGS, 3U);
  EXPECT_QUERY("", ({{"b", "2"}, {"a", "x y"}}), "a=x+y&b=2");
  EXPECT_QUERY("z=1", ({{"b", "2"}, {"a", "x y"}}), "z=1&a=x+y&b=2");
  // Byte order: upper case sorts before lower case, "B" before "a".
  EXPECT_QUERY("", ({{"a", "1"}, {"B", "2"}, {"a_", "3"}}), "B=2&a=1&a_=3");
  EXPECT_EQ(build("", Params()), "");
  EXPECT_EQ(build("z=1", Params()), "z=1");
}

TEST(Query_String_Builder, SeparatorsInKeysAndValuesAreEscaped)
{
  EXPECT_QUERY("", ({{"a&b", "c=d"}}), "a%26b=c%3dd");
  EXPECT_QUERY("", ({{"p/q", "1+1 ~x"}}), "p%2fq=1%2b1+~x");
  EXPECT_QUERY("", ({{"k", "\xC3\xBC"}}), "k=%c3%bc");
}

TEST(Query_String_Builder, EmptyValueKeepsTheEqualSign)
{
  EXPECT_QUERY("", ({{"k", ""}, {"l", "1"}}), "k=&l=1");
}

TEST(Query_String_Builder, NulCutsKeysAndValues)
{
  EXPECT_QUERY("", ({{std::string("k\0x", 3), std::string("v\0y", 3)}}), "k=v");
  // A key that is empty up to its NUL is no key at all.
  EXPECT_QUERY("", ({{std::string("\0x", 2), "v"}, {"b", "1"}}), "b=1");
}

TEST(Query_String_Builder, NullValueWritesTheKeyAlone)
{
  std::string out;
  Builder(std::back_inserter(out), false)("k", nullptr, true, true, nullptr)("l", "", true, true, nullptr);
  EXPECT_EQ(out, "k&l=");
}

TEST(Query_String_Builder, MissingKeyWritesNothingNotEvenTheSeparator)
{
  std::string out;
  Builder builder(std::back_inserter(out), false);
  builder(nullptr, "v", true, true, nullptr)("", "v", true, true, nullptr);
  EXPECT_EQ(out, "");
  builder(Params(), true, true, nullptr);
  builder("a", "1", true, true, nullptr);
  EXPECT_EQ(out, "a=1");  // no leading "&": nothing was written before
  builder(nullptr, "v", true, true, nullptr)("b", "2", true, true, nullptr);
  EXPECT_EQ(out, "a=1&b=2");

  std::string more = "z=1";
  Builder(std::back_inserter(more), true)("", "v", true, true, nullptr)("a", "1", true, true, nullptr);
  EXPECT_EQ(more, "z=1&a=1");
}

TEST(Query_String_Builder, CopyingLeavesBytesAsTheyAre)
{
  std::string out;
  Builder builder(std::back_inserter(out), false);
  builder("a b", "c/d&", false, false, nullptr)("x y", "p q", false, true, nullptr);
  builder("k", "v w", true, false, nullptr);
  EXPECT_EQ(out, "a b=c/d&&x y=p+q&k=v w");
}

TEST(Query_String_Builder, PrefixIsTreatedLikeTheKey)
{
  std::string out;
  Builder builder(std::back_inserter(out), false);
  builder("k", "1", true, true, "m/")("k", "2", false, true, "m/")("k", "3", true, true, "");
  builder(Params{{"a", "4"}}, true, true, "p ");
  EXPECT_EQ(out, "m%2fk=1&m/k=2&k=3&p+a=4");
  // A prefix without a key is nothing.
  builder("", "5", true, true, "m");
  EXPECT_EQ(out, "m%2fk=1&m/k=2&k=3&p+a=4");
}
}  // namespace
