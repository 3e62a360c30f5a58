#include "quorvane/common/auth_info.h"

#include <string>

#include <ace/Log_Msg.h>
#include <gtest/gtest.h>

#include "devhost/json_reader.h"
#include "tests/support/log_capture.h"

namespace
{
using quorvane::Auth_Info;

json_spirit::Value parse(const std::string& text)
{
  json_spirit::Value v;
  EXPECT_TRUE(json_spirit::read(text, v)) << text;
  return v;
}

TEST(AuthInfo, DefaultsAndAnEmptyObject)
{
  Auth_Info info;
  test_support::Log_Capture log;
  EXPECT_TRUE(info.load(parse("{}")));
  EXPECT_EQ("", info.host);
  EXPECT_EQ("", info.access_key);
  EXPECT_TRUE(info.secret_key.empty());
  EXPECT_EQ(30188, info.port);
  EXPECT_FALSE(info.ssl);
  EXPECT_TRUE(log.records().empty());
}

TEST(AuthInfo, LoadsEveryMember)
{
  Auth_Info info;
  json_spirit::Value v = parse(R"({"host": "h.example", "access_key": "AK", "port": 443, "ssl": true,
                                   "ignored": [1]})");
  v.get_obj()["secret_key"] = json_spirit::Value(secure_string("a secret longer than fifteen"));
  ASSERT_TRUE(info.load(v));
  EXPECT_EQ("h.example", info.host);
  EXPECT_EQ("AK", info.access_key);
  EXPECT_EQ("a secret longer than fifteen", std::string(info.secret_key.c_str()));
  EXPECT_EQ(443, info.port);
  EXPECT_TRUE(info.ssl);
}

// A port that does not fit 1 to 65535 is refused, never narrowed: narrowing
// would send the signed request to a port nobody asked for (70000 -> 4464).
TEST(AuthInfo, PortsOutsideTheTcpRangeFailTheLoad)
{
  struct Row
  {
    const char* json;
    const char* value_in_message;
  } rows[] = {{R"({"port": 70000})", "70000"}, {R"({"port": -1})", "-1"}, {R"({"port": 0})", "0"},
              {R"({"port": 65536})", "65536"}};
  for (const Row& row : rows)
  {
    Auth_Info info;
    test_support::Log_Capture log;
    EXPECT_FALSE(info.load(parse(row.json))) << row.json;
    ASSERT_EQ(1u, log.records().size()) << row.json;
    const test_support::Log_Record rec = log.records()[0];
    EXPECT_EQ(static_cast<unsigned long>(LM_ERROR), rec.priority);
    EXPECT_EQ(0u, rec.text.find("Failed to load  from JSON: ")) << rec.text;
    EXPECT_NE(std::string::npos, rec.text.find("'port'")) << rec.text;
    EXPECT_NE(std::string::npos, rec.text.find(row.value_in_message)) << rec.text;
    EXPECT_EQ('\n', rec.text.back());
  }
  Auth_Info edge;
  EXPECT_TRUE(edge.load(parse(R"({"port": 65535})")));
  EXPECT_EQ(65535, edge.port);
  EXPECT_TRUE(edge.load(parse(R"({"port": 1})")));
  EXPECT_EQ(1, edge.port);
}

TEST(AuthInfo, WrongJsonTypesFailTheLoad)
{
  const char* rows[] = {R"({"ssl": "true"})", R"({"port": "443"})", R"({"host": 5})", R"({"port": 443.0})",
                        R"({"secret_key": {}})", "[]", "\"text\""};
  for (const char* json : rows)
  {
    Auth_Info info;
    test_support::Log_Capture log;
    EXPECT_FALSE(info.load(parse(json))) << json;
    EXPECT_FALSE(info.ssl) << "\"ssl\": \"true\" must never mean plain HTTP by accident: " << json;
    EXPECT_EQ(1u, log.records().size()) << json;
  }
}

TEST(AuthInfo, NullMembersAreAbsentAndEarlierMembersKeepTheirValues)
{
  Auth_Info info;
  EXPECT_TRUE(info.load(parse(R"({"host": null, "ssl": null, "port": null})")));
  EXPECT_EQ(30188, info.port);
  test_support::Log_Capture log;
  EXPECT_FALSE(info.load(parse(R"({"host": "h", "access_key": "a", "port": "x", "ssl": true})")));
  EXPECT_EQ("h", info.host);
  EXPECT_EQ("a", info.access_key);
  EXPECT_FALSE(info.ssl) << "members after the failing one are not read";
}

TEST(AuthInfo, CopiesOwnTheirSecret)
{
  Auth_Info first;
  first.secret_key = "a secret that lives on the heap";
  {
    Auth_Info copy(first);
    EXPECT_NE(first.secret_key.data(), copy.secret_key.data());
  }
  EXPECT_EQ("a secret that lives on the heap", std::string(first.secret_key.c_str()));
  Auth_Info moved(std::move(first));
  EXPECT_EQ("a secret that lives on the heap", std::string(moved.secret_key.c_str()));
}

}  // namespace
