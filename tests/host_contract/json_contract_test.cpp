// The host's JSON library as the module relies on it: value kinds, the
// keyed getters, JSON Pointer and the dumper.  Each check names the module
// behaviour that breaks when the host does otherwise.

#include <cstdint>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "host/json_spirit_utils.h"
#include "host/json_spirit_value.h"
#include "scrt/secure_string.h"

namespace
{
using namespace json_spirit;

// {"s": "text", "b": true, "i": -5, "o": {"v": "1.2"}, "k": <secure "secret">}
Object sample()
{
  Object inner;
  inner["v"] = Value("1.2");
  Object obj;
  obj["s"] = Value("text");
  obj["b"] = Value(true);
  obj["i"] = Value(-5);
  obj["o"] = Value(std::move(inner));
  obj["k"] = Value(secure_string("secret"));
  return obj;
}

// The login handler tests the params' kind against obj_type and the result
// code reader compares kinds: the numbering is the host's, fixed.
TEST(Json, ValueKindsAndTheirNumbering)
{
  EXPECT_EQ(0, obj_type);
  EXPECT_EQ(1, array_type);
  EXPECT_EQ(2, str_type);
  EXPECT_EQ(3, secure_str_type);
  EXPECT_EQ(4, bool_type);
  EXPECT_EQ(5, int_type);
  EXPECT_EQ(6, real_type);
  EXPECT_EQ(7, null_type);
  EXPECT_EQ(obj_type, Value(Object()).type());
  EXPECT_EQ(str_type, Value("x").type());
  EXPECT_EQ(str_type, Value(std::string("x")).type());
  EXPECT_EQ(bool_type, Value(true).type());
  EXPECT_EQ(int_type, Value(0).type());
  EXPECT_EQ(null_type, Value().type());
  // Every error reply passes it as the data: it must be a null value.
  EXPECT_EQ(null_type, Value::null.type());
}

// The secret check writes the decrypted key back as a Value made from a
// moved secure_string, and the credentials read it from there: were the
// kind lost, the secret would travel in a plain (unwiped) string.
TEST(Json, ASecureStringValueKeepsItsKind)
{
  Object obj;
  obj["k"] = Value(secure_string("a secret longer than fifteen bytes"));
  EXPECT_EQ(secure_str_type, obj["k"].type());
  secure_string out;
  EXPECT_TRUE(object_get(obj, "k", out));
  EXPECT_EQ("a secret longer than fifteen bytes", std::string(out.c_str(), out.size()));
  EXPECT_EQ("a secret longer than fifteen bytes",
            std::string(object_get_secure_str_or_throw(obj, "k").c_str()));
}

// The credentials loader and the result code reader take the body with
// get_obj() and catch std::exception: a body that is an array or a string
// must become a failed login, not a crash or a wrong read.
TEST(Json, GetObjOnANonObjectThrowsAStdException)
{
  Object obj = sample();
  EXPECT_NO_THROW(Value(obj).get_obj());
  Value not_objects[] = {Value("text"), Value(true), Value(3), Value(), Value(secure_string("s"))};
  for (Value& v : not_objects)
  {
    EXPECT_THROW(v.get_obj(), std::exception) << "kind " << v.type();
    const Value& c = v;
    EXPECT_THROW(c.get_obj(), std::exception) << "kind " << c.type();
  }
}

// The throwing getters read "result_code" (a missing one fails the login
// with the result-code message) and serve the extraction templates.
TEST(Json, ThrowingGettersGiveTheValueOrThrowForAMissingKey)
{
  const Object obj = sample();
  EXPECT_EQ("text", object_get_str_or_throw(obj, "s"));
  EXPECT_TRUE(object_get_bool_or_throw(obj, "b"));
  EXPECT_EQ(-5, object_get_int64_or_throw(obj, "i"));
  Object positive;
  positive["u"] = Value(443);
  EXPECT_EQ(443u, object_get_uint64_or_throw(positive, "u"));
  EXPECT_THROW(object_get_str_or_throw(obj, "missing"), std::exception);
  EXPECT_THROW(object_get_secure_str_or_throw(obj, "missing"), std::exception);
  EXPECT_THROW(object_get_bool_or_throw(obj, "missing"), std::exception);
  EXPECT_THROW(object_get_int64_or_throw(obj, "missing"), std::exception);
  EXPECT_THROW(object_get_uint64_or_throw(obj, "missing"), std::exception);
}

// The credentials loader reads every member with the non-throwing getters:
// an absent member must leave the default (port 30188, ssl false) and must
// not throw.
TEST(Json, NonThrowingGettersLeaveTheVariableForAMissingKey)
{
  const Object obj = sample();
  std::string s = "untouched";
  secure_string k("untouched");
  bool b = false;
  long i = 30188;
  EXPECT_FALSE(object_get(obj, "missing", s));
  EXPECT_FALSE(object_get(obj, "missing", k));
  EXPECT_FALSE(object_get(obj, "missing", b));
  EXPECT_FALSE(object_get(obj, "missing", i));
  EXPECT_EQ("untouched", s);
  EXPECT_EQ("untouched", std::string(k.c_str()));
  EXPECT_FALSE(b);
  EXPECT_EQ(30188, i);

  EXPECT_TRUE(object_get(obj, "s", s));
  EXPECT_TRUE(object_get(obj, "b", b));
  EXPECT_TRUE(object_get(obj, "i", i));
  EXPECT_EQ("text", s);
  EXPECT_TRUE(b);
  EXPECT_EQ(-5, i);
}

// The secret check finds the encrypted key with object_get_str: a missing
// key must give null (logged, -32602), a string its own text.
TEST(Json, ObjectGetStrGivesTheStringOrNull)
{
  const Object obj = sample();
  const std::string* s = object_get_str(obj, "s");
  ASSERT_NE(nullptr, s);
  EXPECT_EQ("text", *s);
  EXPECT_EQ(nullptr, object_get_str(obj, "missing"));
}

// The version loader reads "/data/aboutus_version" with a JSON Pointer; an
// absent path must give false and leave the version as it was.
TEST(Json, PointerFindsAStringAndLeavesTheTargetForAnAbsentPath)
{
  Object data;
  data["aboutus_version"] = Value("4.2.0");
  Object body;
  body["data"] = Value(data);
  const Value doc(body);

  JSON_Pointer p;
  ASSERT_TRUE(p.path("/data/aboutus_version", false));
  std::string out;
  EXPECT_TRUE(p.get(doc, out));
  EXPECT_EQ("4.2.0", out);

  const char* absent[] = {"/data/missing", "/nope/aboutus_version", "/data/aboutus_version/x"};
  for (const char* path : absent)
  {
    std::string kept = "untouched";
    ASSERT_TRUE(p.path(path, false)) << path;
    EXPECT_FALSE(p.get(doc, kept)) << path;
    EXPECT_EQ("untouched", kept) << path;
  }
}

// The login's success result; the module logs bodies with JSON_Dump(v,
// false) and its log lines must stay JSON.  Only the text matters, not the
// layout: white space is not compared.
TEST(Json, DumpWritesTheSuccessResult)
{
  Object result;
  result["code"] = Value(0);
  result["message"] = Value("Success to login");
  result["version"] = Value("4.2.0");
  std::string text = JSON_Dump(Value(result), false);
  std::string compact;
  for (char c : text)
    if (c != ' ' && c != '\n' && c != '\t' && c != '\r')
      compact += c;
  EXPECT_EQ(R"({"code":0,"message":"Successtologin","version":"4.2.0"})", compact) << text;
}

}  // namespace
