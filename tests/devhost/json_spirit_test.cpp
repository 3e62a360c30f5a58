#include "host/json_spirit_utils.h"

#include <string>

#include <gtest/gtest.h>

#include "devhost/harness/json_reader.h"

namespace
{
using namespace json_spirit;

Value parse(const std::string& text)
{
  Value v;
  EXPECT_TRUE(read(text, v)) << text;
  return v;
}

TEST(Value, KindsFollowTheHostNumbering)
{
  // The numbering is part of the host contract the module compiles against.
  EXPECT_EQ(obj_type, Value(Object()).type());
  EXPECT_EQ(array_type, Value(Array()).type());
  EXPECT_EQ(str_type, Value("x").type());
  EXPECT_EQ(secure_str_type, Value(secure_string("x")).type());
  EXPECT_EQ(bool_type, Value(true).type());
  EXPECT_EQ(int_type, Value(7).type());
  EXPECT_EQ(real_type, Value(1.5).type());
  EXPECT_EQ(null_type, Value().type());
  EXPECT_EQ(7, static_cast<int>(null_type));
}

TEST(Value, WrongKindAccessThrowsStdException)
{
  Value v("text");
  EXPECT_THROW(v.get_obj(), std::exception);
  EXPECT_THROW(Value(Array()).get_obj(), Type_Error);
  EXPECT_THROW(Value().get_str(), Type_Error);
}

TEST(Reader, ParsesAndRejects)
{
  Value v = parse(R"( {"a": [1, -2, 3.5, true, null, "x\u00e9"], "b": {}} )");
  const Object& obj = v.get_obj();
  const Array& a = obj.at("a").get_array();
  ASSERT_EQ(6u, a.size());
  EXPECT_EQ(1, a[0].get_int64());
  EXPECT_EQ(-2, a[1].get_int64());
  EXPECT_DOUBLE_EQ(3.5, a[2].get_real());
  EXPECT_TRUE(a[3].get_bool());
  EXPECT_TRUE(a[4].is_null());
  EXPECT_EQ("x\xc3\xa9", a[5].get_str());

  const char* bad[] = {"", "{", "[1,]", "{\"a\" 1}", "tru", "1 2", "\"\\x\"", "{'a': 1}", "\"\xff\""};
  for (const char* text : bad)
  {
    Value out(5);
    EXPECT_FALSE(read(text, out)) << text;
    EXPECT_TRUE(out.is_null()) << text;
  }
}

TEST(Reader, LargeIntegersAndDeepNesting)
{
  EXPECT_EQ(int_type, parse("9223372036854775807").type());
  EXPECT_EQ(real_type, parse("18446744073709551615").type());
  // 512 levels are accepted, 513 refused: hostile nesting cannot exhaust the stack.
  Value v;
  EXPECT_TRUE(read(std::string(512, '[') + std::string(512, ']'), v));
  EXPECT_FALSE(read(std::string(513, '[') + std::string(513, ']'), v));
  EXPECT_FALSE(read(std::string(100000, '['), v));
}

TEST(Writer, DumpRoundTripsAndRedactsSecrets)
{
  const std::string text = R"({"a":[1,-2,3.5,true,null,"q\"\\\n\u0001"],"b":{},"c":[]})";
  EXPECT_EQ(text, JSON_Dump(parse(text), false));
  EXPECT_EQ("2.0", JSON_Dump(Value(2.0), false));

  Object obj;
  obj["secret_key"] = Value(secure_string("plain secret"));
  std::string dumped = JSON_Dump(Value(obj), false);
  EXPECT_EQ(std::string::npos, dumped.find("plain secret"));
  EXPECT_EQ(R"({"secret_key":"********"})", dumped);
  EXPECT_EQ("{\n    \"k\": 1\n}", JSON_Dump(parse(R"({"k":1})"), true));
}

// Getter behaviour, one row per case.  The wrong-type rule is the host's own
// decision: a present value of another type must never read as "absent".
TEST(Getters, NonThrowingGettersTreatNullAsAbsentAndWrongTypeAsError)
{
  Object obj = parse(R"({"s": "x", "b": true, "i": 443, "n": null, "ssl": "true", "port": "443"})").get_obj();

  std::string s = "keep";
  EXPECT_TRUE(object_get(obj, "s", s));
  EXPECT_EQ("x", s);
  EXPECT_FALSE(object_get(obj, "missing", s));
  EXPECT_FALSE(object_get(obj, "n", s));
  EXPECT_EQ("x", s);

  bool b = false;
  EXPECT_TRUE(object_get(obj, "b", b));
  EXPECT_TRUE(b);
  EXPECT_THROW(object_get(obj, "ssl", b), std::exception);

  long l = 1;
  EXPECT_TRUE(object_get(obj, "i", l));
  EXPECT_EQ(443, l);
  EXPECT_FALSE(object_get(obj, "n", l));
  EXPECT_EQ(443, l);
  try
  {
    object_get(obj, "port", l);
    FAIL() << "a string port must not read as absent";
  }
  catch (const std::exception& e)
  {
    EXPECT_NE(std::string::npos, std::string(e.what()).find("'port'")) << e.what();
  }
}

TEST(Getters, SecureStringsAndStrPointer)
{
  Object obj;
  obj["plain"] = "p";
  obj["secure"] = Value(secure_string("s3cr3t-longer-than-fifteen"));
  obj["num"] = 1;

  secure_string out;
  EXPECT_TRUE(object_get(obj, "secure", out));
  EXPECT_EQ("s3cr3t-longer-than-fifteen", std::string(out.c_str()));
  EXPECT_TRUE(object_get(obj, "plain", out));
  EXPECT_EQ("p", std::string(out.c_str()));
  EXPECT_EQ("p", std::string(object_get_secure_str_or_throw(obj, "plain").c_str()));

  ASSERT_NE(nullptr, object_get_str(obj, "plain"));
  EXPECT_EQ("p", *object_get_str(obj, "plain"));
  EXPECT_EQ(nullptr, object_get_str(obj, "missing"));
  EXPECT_EQ(nullptr, object_get_str(obj, "secure"));
  EXPECT_EQ(nullptr, object_get_str(obj, "num"));
}

TEST(Getters, ThrowingGetters)
{
  Object obj = parse(R"({"s": "x", "b": false, "i": -5, "r": 1.5, "n": null})").get_obj();
  EXPECT_EQ("x", object_get_str_or_throw(obj, "s"));
  EXPECT_FALSE(object_get_bool_or_throw(obj, "b"));
  EXPECT_EQ(-5, object_get_int64_or_throw(obj, "i"));
  EXPECT_THROW(object_get_uint64_or_throw(obj, "i"), std::exception);
  EXPECT_THROW(object_get_int64_or_throw(obj, "r"), std::exception);
  EXPECT_THROW(object_get_int64_or_throw(obj, "missing"), std::exception);
  EXPECT_THROW(object_get_str_or_throw(obj, "n"), std::exception);
  EXPECT_THROW(object_get_bool_or_throw(obj, "s"), std::exception);
}

// The document and the expected results are those of RFC 6901, section 5.
TEST(Pointer, Rfc6901Examples)
{
  Value doc = parse(R"({"foo": ["bar", "baz"], "": "zero", "a/b": "one", "c%d": "two", "e^f": "three",
                        "g|h": "four", "i\\j": "five", "k\"l": "six", " ": "seven", "m~n": "eight"})");
  struct Row
  {
    const char* path;
    const char* want;
  } rows[] = {{"/foo/0", "bar"}, {"/foo/1", "baz"}, {"/", "zero"},     {"/a~1b", "one"},
              {"/c%d", "two"},   {"/e^f", "three"}, {"/g|h", "four"},  {"/i\\j", "five"},
              {"/k\"l", "six"},  {"/ ", "seven"},   {"/m~0n", "eight"}};
  JSON_Pointer p;
  for (const Row& row : rows)
  {
    std::string out;
    ASSERT_TRUE(p.path(row.path, false)) << row.path;
    EXPECT_TRUE(p.get(doc, out)) << row.path;
    EXPECT_EQ(row.want, out) << row.path;
  }
  // "" is the whole document.
  std::string whole;
  ASSERT_TRUE(p.path("", false));
  EXPECT_TRUE(p.get(Value("the document"), whole));
  EXPECT_EQ("the document", whole);
}

TEST(Pointer, UnresolvedPathsLeaveTheTargetUntouched)
{
  Value doc = parse(R"({"data": {"v": "1.2", "n": 3, "arr": ["a"]}})");
  const char* misses[] = {"/data/missing", "/data/v/x",   "/data/n",      "/data/arr/1",
                          "/data/arr/01",  "/data/arr/-", "/data/arr/+0", "/nope/v"};
  JSON_Pointer p;
  for (const char* path : misses)
  {
    std::string out = "untouched";
    ASSERT_TRUE(p.path(path, false)) << path;
    EXPECT_FALSE(p.get(doc, out)) << path;
    EXPECT_EQ("untouched", out) << path;
  }
  std::string out;
  ASSERT_TRUE(p.path("/data/arr/0", false));
  EXPECT_TRUE(p.get(doc, out));
  EXPECT_EQ("a", out);
}

TEST(Pointer, MalformedPaths)
{
  JSON_Pointer p;
  EXPECT_FALSE(p.path("data", false));
  EXPECT_FALSE(p.path("/a~2", false));
  EXPECT_FALSE(p.path("/a~", false));
  EXPECT_THROW(p.path("/a~", true), std::invalid_argument);
  std::string out = "untouched";
  EXPECT_FALSE(p.get(Value(Object()), out));
  EXPECT_EQ("untouched", out);
}

}  // namespace
