// The host's JSON library as the module relies on it: value kinds, the
// keyed getters, JSON Pointer and the dumper.  Each check names the module
// behaviour that breaks when the host does otherwise.

#include <cstdint>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

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
// moved secure_string, and the credentials read it from a copy of the
// params: were the kind lost, the secret would travel in a plain (unwiped)
// string.
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
  // The handler hands the credentials loader a copy of the params.
  const Value copy(obj);
  EXPECT_EQ(secure_str_type, copy.get_obj().at("k").type());
  EXPECT_EQ("a secret longer than fifteen bytes",
            std::string(object_get_secure_str_or_throw(copy.get_obj(), "k").c_str()));
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

// The credentials loader reads each member with the non-throwing getters,
// after it found the member present and of the getter's JSON kind (so what
// a getter does with a missing key or another kind is the host's choice):
// the value must arrive whole.  A port read through a 32-bit int would
// turn 4294967739 into 443 and pass the port check; a decrypted secret may
// hold a zero byte.
TEST(Json, NonThrowingGettersReadAPresentMemberWhole)
{
  Object obj = sample();
  const char raw[] = "a secret\0with a zero byte, longer than fifteen";
  const std::string secret(raw, sizeof raw - 1);
  obj["z"] = Value(secure_string(secret.data(), secret.size()));
  obj["big"] = Value(4294967739L);
  obj["f"] = Value(false);
  std::string s;
  secure_string k;
  bool b = false;
  long i = 0;
  EXPECT_TRUE(object_get(obj, "s", s));
  EXPECT_EQ("text", s);
  EXPECT_TRUE(object_get(obj, "z", k));
  EXPECT_EQ(secret, std::string(k.data(), k.size()));
  EXPECT_TRUE(object_get(obj, "b", b));
  EXPECT_TRUE(b);
  EXPECT_TRUE(object_get(obj, "f", b));
  EXPECT_FALSE(b);
  EXPECT_TRUE(object_get(obj, "i", i));
  EXPECT_EQ(-5, i);
  EXPECT_TRUE(object_get(obj, "big", i));
  EXPECT_EQ(4294967739L, i);
}

// The secret check takes the encrypted key with object_get_str once it
// found a plain string member there: it must give that string's text.
TEST(Json, ObjectGetStrGivesAStringMembersText)
{
  const Object obj = sample();
  const std::string* s = object_get_str(obj, "s");
  ASSERT_NE(nullptr, s);
  EXPECT_EQ("text", *s);
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

// The module logs the service's reply bodies with JSON_Dump(v, false) (a
// failed GET's body is null), and its log lines must stay JSON: the text
// must parse back to the value dumped.  The layout (white space) is the
// host's; values are compared, as an independent parser reads them.
TEST(Json, DumpWritesJsonThatParsesBackToTheValue)
{
  Object data;
  data["aboutus_version"] = Value("4.2.0");
  data["none"] = Value();
  Array list;
  list.push_back(Value(1));
  list.push_back(Value());
  list.push_back(Value("a \"quoted\"\\ line\n\ttab"));
  list.push_back(Value(false));
  data["list"] = Value(list);
  Object body;
  body["result_code"] = Value(-10000);
  body["message"] = Value("Success to login");
  body["data"] = Value(data);
  body["empty"] = Value(Object());
  struct Row
  {
    Value value;
    const char* expected;
  } rows[] = {
      {Value(body), R"({"result_code": -10000, "message": "Success to login", "empty": {},
                       "data": {"aboutus_version": "4.2.0", "none": null,
                                "list": [1, null, "a \"quoted\"\\ line\n\ttab", false]}})"},
      {Value(), "null"},
      {Value(7), "7"},
      {Value(Array()), "[]"},
  };
  for (const Row& row : rows)
  {
    std::string text;
    ASSERT_NO_THROW(text = JSON_Dump(row.value, false)) << row.expected;
    nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);
    EXPECT_FALSE(parsed.is_discarded()) << "not JSON: '" << text << "'";
    EXPECT_EQ(nlohmann::json::parse(row.expected), parsed) << text;
  }
}

}  // namespace
