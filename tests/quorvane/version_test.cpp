#include "quorvane/common/version.h"

#include <string>
#include <vector>

#include <ace/Log_Msg.h>

#include <gtest/gtest.h>

#include "devhost/harness/json_reader.h"
#include "json_spirit/extract.h"
#include "tests/support/log_capture.h"

namespace
{
json_spirit::Value parse(const std::string& text)
{
  json_spirit::Value v;
  EXPECT_TRUE(json_spirit::read(text, v)) << text;
  return v;
}

const char MISSING[] =
    "Unexpected exception occurred while loading Quorvane version info, error: JSON Pointer path "
    "'/data/aboutus_version' not exist in JSON!\n";

TEST(Version, TakesTheVersionExactly)
{
  const char* versions[] = {"3.2.1", "", "v 1/2~x \xc3\xa9"};
  for (const char* text : versions)
  {
    json_spirit::Object data;
    data["aboutus_version"] = text;
    json_spirit::Object body;
    body["result_code"] = 10000;
    body["data"] = data;
    quorvane::Version version;
    test_support::Log_Capture log;
    ASSERT_TRUE(version.load(json_spirit::Value(body)));
    EXPECT_EQ(text, version.aboutus_version);
    EXPECT_TRUE(log.records().empty());
  }
}

TEST(Version, AMissingVersionFailsWithOneMessageAndLeavesTheRecord)
{
  const char* bodies[] = {R"({"result_code": 10000})", R"({"data": {}})", R"({"data": "x"})", "[]", "null"};
  for (const char* body : bodies)
  {
    quorvane::Version version;
    version.aboutus_version = "before";
    test_support::Log_Capture log;
    EXPECT_FALSE(version.load(parse(body))) << body;
    EXPECT_EQ("before", version.aboutus_version) << body;
    EXPECT_EQ(std::vector<test_support::Log_Record>{(test_support::Log_Record{LM_ERROR, MISSING, 0})},
              log.records())
        << body;
  }
}

// A version that is not a string: the host's pointer lookup either finds
// nothing (the module's own "not exist" text) or throws (its text after
// the same prefix); either way one line and the record as it was.
TEST(Version, AVersionThatIsNotAStringFailsWithOneMessage)
{
  const char* bodies[] = {R"({"data": {"aboutus_version": 3}})", R"({"data": {"aboutus_version": null}})",
                          R"({"data": {"aboutus_version": ["1.0"]}})"};
  const std::string prefix = "Unexpected exception occurred while loading Quorvane version info, error: ";
  for (const char* body : bodies)
  {
    quorvane::Version version;
    version.aboutus_version = "before";
    test_support::Log_Capture log;
    EXPECT_FALSE(version.load(parse(body))) << body;
    EXPECT_EQ("before", version.aboutus_version) << body;
    const std::vector<test_support::Log_Record> records = log.records();
    ASSERT_EQ(1u, records.size()) << body << "\n" << log.text();
    EXPECT_EQ(LM_ERROR, static_cast<int>(records[0].priority));
    EXPECT_EQ(0, records[0].status);
    EXPECT_EQ(0u, records[0].text.find(prefix)) << records[0].text;
    EXPECT_GT(records[0].text.size(), prefix.size() + 1) << "the error's own text follows";
    EXPECT_EQ('\n', records[0].text.back());
  }
}

TEST(PointerExtractor, ABrokenExtractorRefusesEveryExtraction)
{
  json_spirit::Value doc = parse(R"({"a": "x"})");
  json_spirit::JSON_Pointer_Extractor broken(doc, json_spirit::FG_BRK_UNT_CHROOT);
  std::string out = "untouched";
  broken("/a", out, json_spirit::FG_NOTHROW);
  EXPECT_EQ("untouched", out);
  try
  {
    broken("/a", out, json_spirit::FG_THROW);
    FAIL() << "a broken extractor must throw when asked to";
  }
  catch (const std::domain_error& e)
  {
    EXPECT_STREQ("JSON Pointer path '/a' not exist in JSON!", e.what());
  }

  json_spirit::JSON_Pointer_Extractor lenient(doc, json_spirit::FG_NOTHROW);
  lenient("/missing", out)("/a", out);
  EXPECT_EQ("x", out);
  EXPECT_EQ("/a/b", lenient.abs_path("/a/b"));
}

}  // namespace
