#include "quorvane/common/auth_info.h"

#include <algorithm>
#include <functional>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include <ace/Log_Msg.h>
#include <gtest/gtest.h>

#include "devhost/harness/json_reader.h"
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

// The one line a failed load logs: LM_ERROR, status 0, and the module's own
// text after the fixed prefix, whatever the host's getters would have said.
test_support::Log_Record load_failure(const std::string& what)
{
  return test_support::Log_Record{LM_ERROR, "Failed to load  from JSON: " + what + "\n", 0};
}

// Loads params holding one string member @a key = @a value (any bytes),
// and a host unless @a key is "host".
bool load_member(Auth_Info& info, const std::string& key, const std::string& value)
{
  json_spirit::Object obj;
  obj["host"] = json_spirit::Value("h.example");
  obj[key] = json_spirit::Value(value);
  return info.load(json_spirit::Value(obj));
}

// Loading the one string member @a key = @a value fails, and logs only the
// failure line with @a what.
void expect_member_refused(const std::string& key, const std::string& value, const std::string& what)
{
  Auth_Info info;
  test_support::Log_Capture log;
  EXPECT_FALSE(load_member(info, key, value)) << value;
  EXPECT_EQ(std::vector<test_support::Log_Record>{load_failure(what)}, log.records()) << value;
}

// A record without a host names no service, as port 0 names none: an
// empty record that loads params without a host (absent or null) fails,
// as "" does, and keeps its defaults.
TEST(AuthInfo, DefaultsAndParamsWithoutAHost)
{
  const char* rows[][2] = {
      {"{}", "JSON member 'host' does not exist"},
      {R"({"host": null, "ssl": null})", "JSON member 'host' does not exist"},
      {R"({"host": ""})", "JSON member 'host' is not a host name or an IP address: \"\""}};
  for (const auto& row : rows)
  {
    Auth_Info info;
    test_support::Log_Capture log;
    EXPECT_FALSE(info.load(parse(row[0]))) << row[0];
    EXPECT_EQ(std::vector<test_support::Log_Record>{load_failure(row[1])}, log.records()) << row[0];
    EXPECT_EQ("", info.host);
    EXPECT_EQ("", info.access_key);
    EXPECT_TRUE(info.secret_key.empty());
    EXPECT_EQ(30188, info.port);
    EXPECT_FALSE(info.ssl);
  }
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
  const char* rows[][2] = {
      {R"({"host": "h", "port": 70000})", "JSON member 'port' is out of range 0 to 65535: 70000"},
      {R"({"host": "h", "port": -1})", "JSON member 'port' is out of range 0 to 65535: -1"},
      {R"({"host": "h", "port": 0})", "JSON member 'port' is out of range 1 to 65535: 0"},
      {R"({"host": "h", "port": 65536})", "JSON member 'port' is out of range 0 to 65535: 65536"}};
  for (const auto& row : rows)
  {
    Auth_Info info;
    test_support::Log_Capture log;
    EXPECT_FALSE(info.load(parse(row[0]))) << row[0];
    EXPECT_EQ(std::vector<test_support::Log_Record>{load_failure(row[1])}, log.records());
  }
  Auth_Info edge;
  EXPECT_TRUE(edge.load(parse(R"({"host": "h", "port": 65535})")));
  EXPECT_EQ(65535, edge.port);
  EXPECT_TRUE(edge.load(parse(R"({"port": 1})")));
  EXPECT_EQ(1, edge.port);
}

// The module checks each member's kind itself: the texts are its own, so
// they read the same on a host whose getters would not have thrown.
TEST(AuthInfo, WrongJsonTypesFailTheLoad)
{
  const char* rows[][2] = {
      {R"({"ssl": "true"})", "JSON member 'ssl' is a string, not a boolean"},
      {R"({"ssl": 1})", "JSON member 'ssl' is an integer, not a boolean"},
      {R"({"port": "443"})", "JSON member 'port' is a string, not an integer"},
      {R"({"port": 443.0})", "JSON member 'port' is a real, not an integer"},
      {R"({"host": 5})", "JSON member 'host' is an integer, not a string"},
      {R"({"access_key": ["AK"]})", "JSON member 'access_key' is an array, not a string"},
      {R"({"secret_key": {}})", "JSON member 'secret_key' is an object, not a secure string"},
      {R"({"secret_key": true})", "JSON member 'secret_key' is a boolean, not a secure string"},
      {"[]", "JSON value is an array, not an object"},
      {"\"text\"", "JSON value is a string, not an object"},
      {"null", "JSON value is null, not an object"},
  };
  for (const auto& row : rows)
  {
    Auth_Info info;
    test_support::Log_Capture log;
    EXPECT_FALSE(info.load(parse(row[0]))) << row[0];
    EXPECT_FALSE(info.ssl) << "\"ssl\": \"true\" must never mean plain HTTP by accident: " << row[0];
    EXPECT_EQ(30188, info.port) << "\"port\": \"443\" must never mean the default port: " << row[0];
    EXPECT_EQ(std::vector<test_support::Log_Record>{load_failure(row[1])}, log.records());
  }
}

// Anything but a host name or an address in "host" could move the signed
// request elsewhere ("@", "/", ":", "?", "#"), or forge log lines (a line
// break); the value is echoed escaped and cut at 64 bytes.
TEST(AuthInfo, AHostThatIsNotAHostFailsTheLoad)
{
  const std::string label63(63, 'a');
  const std::string name253 = label63 + "." + label63 + "." + label63 + "." + std::string(61, 'b');
  const std::string long_refused = name253 + "@evil";
  const struct
  {
    std::string host;
    std::string shown;  // as the failure line shows it
  } refused[] = {
      {"127.0.0.1@evil", "\"127.0.0.1@evil\""},
      {"evil.example/x#", "\"evil.example/x#\""},
      {"127.0.0.1:8080/other?", "\"127.0.0.1:8080/other?\""},
      {"user:pw@127.0.0.1", "\"user:pw@127.0.0.1\""},
      {"h.example\r\nForged: line", "\"h.example\\r\\nForged: line\""},
      {std::string("127.0.0.1\0.evil", 15), "\"127.0.0.1\\x00.evil\""},
      {"h\x7f\xc3\xa9\t\"\\", "\"h\\x7F\\xC3\\xA9\\t\\\"\\\\\""},
      {"", "\"\""},
      {"h_x.example", "\"h_x.example\""},
      {"h x", "\"h x\""},
      {"-h.example", "\"-h.example\""},
      {"h-.example", "\"h-.example\""},
      {"a..example", "\"a..example\""},
      {"example.", "\"example.\""},
      {"*h.example", "\"*h.example\""},
      {"h{x}.example", "\"h{x}.example\""},
      {"h.-x.example", "\"h.-x.example\""},
      {"h.example-", "\"h.example-\""},
      {label63 + "a.example", "\"" + label63 + "a\"..."},
      {name253 + "b", "\"" + name253.substr(0, 64) + "\"..."},
      {long_refused, "\"" + long_refused.substr(0, 64) + "\"..."},
      // Numbers libcurl would read as IPv4 shorthand, and addresses out of range.
      {"127.1", "\"127.1\""},
      {"0x7f000001", "\"0x7f000001\""},
      {"2130706433", "\"2130706433\""},
      {"1.2.3.256", "\"1.2.3.256\""},
      {"127.000.0.1", "\"127.000.0.1\""},
      {"[::1", "\"[::1\""},
      {"[127.0.0.1]", "\"[127.0.0.1]\""},
      {"fe80::1%eth0", "\"fe80::1%eth0\""},
      {"[::1]:80", "\"[::1]:80\""},
      {"a::1]", "\"a::1]\""},
  };
  for (const auto& row : refused)
    expect_member_refused("host", row.host,
                          "JSON member 'host' is not a host name or an IP address: " + row.shown);
  const std::string accepted[] = {"localhost", "127.0.0.1",  "h.example",   "a-b.c0.xyz",    "x",
                                  name253,     "EXAMPLE.com", "zeta.ZONE",  "node9.example", "a.b.example",
                                  label63 + ".example"};
  for (const std::string& host : accepted)
  {
    Auth_Info info;
    test_support::Log_Capture log;
    EXPECT_TRUE(load_member(info, "host", host)) << host << "\n" << log.text();
    EXPECT_EQ(host, info.host);
  }
}

// The REST client's `reset` takes an IPv6 literal without brackets: the
// record keeps it so, whichever form the caller wrote.
TEST(AuthInfo, AnIpv6LiteralIsKeptWithoutBrackets)
{
  const char* rows[][2] = {{"::1", "::1"},
                           {"[::1]", "::1"},
                           {"::ffff:10.0.0.1", "::ffff:10.0.0.1"},
                           {"[::ffff:127.0.0.1]", "::ffff:127.0.0.1"},
                           {"[fe80::1]", "fe80::1"},
                           {"[2001:db8::a:b]", "2001:db8::a:b"}};
  for (const auto& row : rows)
  {
    Auth_Info info;
    test_support::Log_Capture log;
    EXPECT_TRUE(load_member(info, "host", row[0])) << row[0] << "\n" << log.text();
    EXPECT_EQ(row[1], info.host) << row[0];
  }
}

// The signed text is "<now>_<access key>_<path>_<query>" and every path
// starts with "/": "_/" in an access key would let one signature stand for
// another path (see the forgery in login_handler_test).
TEST(AuthInfo, AnAccessKeyThatCouldChangeWhatIsSignedFailsTheLoad)
{
  const char* what =
      "JSON member 'access_key' may not contain \"_/\", a space, a control character or a byte above "
      "0x7E: ";
  const struct
  {
    std::string key;
    std::string shown;
  } refused[] = {
      {"AK_/any/path_x=1", "\"AK_/any/path_x=1\""},
      {"_/", "\"_/\""},
      {"AK x", "\"AK x\""},
      {"AK\t", "\"AK\\t\""},
      {"AK\n", "\"AK\\n\""},
      {std::string("AK\0", 3), "\"AK\\x00\""},
      {"AK\x1f", "\"AK\\x1F\""},
      {"AK\x7f", "\"AK\\x7F\""},
      {"AK\xc3\xa9", "\"AK\\xC3\\xA9\""},
      {" AK~", "\" AK~\""},
  };
  for (const auto& row : refused)
    expect_member_refused("access_key", row.key, what + row.shown);
  const std::string accepted[] = {
      "AK-12345", "AK_x", "AK/x", "ak_", "/_", "", "~!#$%&'()*+,-.:;<=>?@[]^`{|}", std::string(256, 'k')};
  for (const std::string& key : accepted)
  {
    Auth_Info info;
    EXPECT_TRUE(load_member(info, "access_key", key)) << key;
    EXPECT_EQ(key, info.access_key);
  }
}

// An access key is sent and signed whole: one longer than any real key
// (256 bytes) is refused, shown cut at 64 bytes, before anything is sent.
TEST(AuthInfo, AnAccessKeyLongerThanTheBoundFailsTheLoad)
{
  const std::string what = "JSON member 'access_key' is longer than 256 bytes: ";
  std::string lines_shown;
  for (int i = 0; i < 64; ++i)
    lines_shown += "\\n";
  const struct
  {
    std::string key;
    std::string shown;
  } rows[] = {{std::string(257, 'k'), "\"" + std::string(64, 'k') + "\"..."},
              {std::string(1 << 20, 'k'), "\"" + std::string(64, 'k') + "\"..."},
              {std::string(300, '\n'), "\"" + lines_shown + "\"..."}};
  for (const auto& row : rows)
    expect_member_refused("access_key", row.key, what + row.shown);
}

TEST(AuthInfo, NullMembersAreAbsentAndEarlierMembersKeepTheirValues)
{
  Auth_Info info;
  info.host = "h.example";
  EXPECT_TRUE(info.load(parse(R"({"host": null, "ssl": null, "port": null})")));
  EXPECT_EQ("h.example", info.host) << "a null host keeps the record's own";
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
  // A plain string member is taken as well as a secure one.
  EXPECT_TRUE(load_member(moved, "secret_key", std::string("plain\0tail", 10)));
  EXPECT_EQ(std::string("plain\0tail", 10), std::string(moved.secret_key.data(), moved.secret_key.size()));

  // Assignment, copying or moving, takes every member; a record assigned
  // to itself keeps them.
  Auth_Info source;
  source.host = "h.example";
  source.access_key = "AK";
  source.secret_key = "a secret that lives on the heap";
  source.port = 8443;
  source.ssl = true;
  auto members = [](const Auth_Info& i)
  { return std::make_tuple(i.host, i.access_key, std::string(i.secret_key.c_str()), i.port, i.ssl); };
  Auth_Info assigned;
  assigned = source;
  EXPECT_EQ(members(source), members(assigned));
  Auth_Info& alias = assigned;
  assigned = alias;
  EXPECT_EQ(members(source), members(assigned)) << "copied onto itself";
  Auth_Info move_assigned;
  move_assigned = std::move(assigned);
  EXPECT_EQ(members(source), members(move_assigned));
  Auth_Info& self = move_assigned;
  move_assigned = std::move(self);
  EXPECT_EQ(members(source), members(move_assigned)) << "moved onto itself";
}

// A short secret lives inside the record: the record wipes it when it goes,
// is overwritten or is moved from, since the allocator never sees it.
TEST(AuthInfo, AShortSecretLeavesNothingInTheRecordsStorage)
{
  const std::string secret = "short secret 15";  // the inline buffer's 15 characters
  // What stays of it past a moved-from string's terminator, or past a
  // shorter secret of one character written over it.
  const std::string residue = secret.substr(2);
  auto holds = [](const unsigned char* bytes, const std::string& text)
  {
    return std::search(bytes, bytes + sizeof(Auth_Info), text.begin(), text.end()) !=
           bytes + sizeof(Auth_Info);
  };
  alignas(Auth_Info) unsigned char a[sizeof(Auth_Info)];
  alignas(Auth_Info) unsigned char b[sizeof(Auth_Info)];
  Auth_Info shorter;
  shorter.secret_key = "x";

  Auth_Info* first = new (a) Auth_Info;
  first->secret_key = secret.c_str();
  ASSERT_TRUE(holds(a, secret)) << "the secret is inline, so the scan can see it";
  Auth_Info* second = new (b) Auth_Info(std::move(*first));
  EXPECT_FALSE(holds(a, residue)) << "moved from";
  *first = std::move(*second);
  EXPECT_FALSE(holds(b, residue)) << "moved from by assignment";
  *second = *first;
  *first = shorter;
  EXPECT_FALSE(holds(a, residue)) << "overwritten by a copy";
  *second = Auth_Info(shorter);
  EXPECT_FALSE(holds(b, residue)) << "overwritten by a move";
  first->secret_key = secret.c_str();
  EXPECT_TRUE(load_member(*first, "secret_key", "x"));
  EXPECT_FALSE(holds(a, residue)) << "overwritten by a load";
  second->secret_key = secret.c_str();
  second->~Auth_Info();
  EXPECT_FALSE(holds(b, residue)) << "destroyed";
  first->~Auth_Info();
}

// The extraction templates' throwing forms: a missing, null or mistyped
// member raises with the module's own text; a present one is read.
TEST(Extract, ThrowingCallsReadOrRaise)
{
  json_spirit::Value v =
      parse(R"({"s": "text", "b": true, "p": 65535, "o": {"k": 1}, "n": null, "big": 70000})");
  v.get_obj()["k"] = json_spirit::Value(secure_string("sixteen chars!!!"));
  const json_spirit::Object& obj = v.get_obj();
  std::string s;
  secure_string k;
  bool b = false;
  unsigned short p = 0;
  const json_spirit::Object* o = nullptr;
  json_spirit::extract_or_throw(obj)("s", s)("b", b)("p", p)("k", k)("o", o, json_spirit::FG_THROW);
  EXPECT_EQ("text", s);
  EXPECT_TRUE(b);
  EXPECT_EQ(65535, p) << "the largest value is in range";
  EXPECT_EQ("sixteen chars!!!", std::string(k.c_str()));
  ASSERT_NE(nullptr, o);
  EXPECT_EQ(1u, o->count("k"));
  json_spirit::extract_or_throw(obj)("n", o, json_spirit::FG_NOTHROW)("missing", s, json_spirit::FG_NOTHROW);
  EXPECT_EQ(nullptr, o);
  EXPECT_EQ("text", s);
  unsigned short kept = 7;
  EXPECT_FALSE(json_spirit::object_get<unsigned short>(obj, "missing", kept));
  EXPECT_EQ(7, kept);

  auto what = [&](const std::function<void()>& f)
  {
    try
    {
      f();
    }
    catch (const std::exception& e)
    {
      return std::string(e.what());
    }
    return std::string("<nothing thrown>");
  };
  auto x = [&]() { return json_spirit::extract_or_throw(obj); };
  EXPECT_EQ("JSON member 'missing' does not exist", what([&] { x()("missing", s); }));
  EXPECT_EQ("JSON member 'n' does not exist", what([&] { x()("n", b); }));
  EXPECT_EQ("JSON member 'missing' does not exist", what([&] { x()("missing", k); }));
  EXPECT_EQ("JSON member 'missing' does not exist", what([&] { x()("missing", p); }));
  EXPECT_EQ("JSON member 'missing' does not exist", what([&] { x()("missing", o, json_spirit::FG_THROW); }));
  EXPECT_EQ("JSON member 's' is a string, not an object",
            what([&] { x()("s", o, json_spirit::FG_NOTHROW); }));
  EXPECT_EQ("JSON member 'big' is out of range 0 to 65535: 70000", what([&] { x()("big", p); }));
  EXPECT_EQ("JSON member 'p' is an integer, not a boolean", what([&] { x()("p", b); }));
}

}  // namespace
