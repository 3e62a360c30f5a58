// Fuzzes the signed GET's checks and the version loader with the service's
// reply: the fake REST client answers with the status and body taken from
// the input, and the result, the version and the log records are compared
// with an evaluation of the reply written here.
//
// Input: three decimal digits, the HTTP status (anything else: no reply);
// then the rest of the first line: empty for `get_version`, or "?" and
// "key=value" pairs joined by "&" for a GET with that query map; then, after
// the first line feed, the body bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "devhost/harness/json_reader.h"
#include "fuzz/fake_restful_client.h"
#include "fuzz/fuzz_support.h"
#include "host/json_spirit_utils.h"
#include "quorvane/core/quorvane_client.h"

namespace
{
using fuzz_support::Log_Line;
using fuzz_support::printable;

const char HOST[] = "fuzz.invalid";
const char ACCESS_KEY[] = "AK-fuzz";
const char SECRET[] = "the fuzzing account's secret key";
const char URI[] = "/fcc/v1/settings";
const char UNTOUCHED[] = "version before the call";

class Fuzz_Client : public quorvane::Quorvane_Client
{
public:
  explicit Fuzz_Client(const quorvane::Auth_Info& info) : Quorvane_Client(info) {}
  using Quorvane_Client::get;
};

quorvane::Auth_Info account()
{
  quorvane::Auth_Info info;
  info.host = HOST;
  info.access_key = ACCESS_KEY;
  info.secret_key = SECRET;
  return info;
}

struct Input
{
  int status = 0;
  bool has_params = false;
  quorvane::Params params;
  std::string body;
};

Input split(const std::uint8_t* data, std::size_t size)
{
  Input in;
  const std::string all(reinterpret_cast<const char*>(data), size);
  const std::string::size_type eol = all.find('\n');
  const std::string head = all.substr(0, eol);
  if (eol != std::string::npos)
    in.body = all.substr(eol + 1);
  if (head.size() >= 3 && head.find_first_not_of("0123456789") >= 3)
    in.status = (head[0] - '0') * 100 + (head[1] - '0') * 10 + (head[2] - '0');
  if (head.size() > 3 && head[3] == '?')
  {
    in.has_params = true;
    std::string::size_type pos = 4;
    while (pos < head.size())
    {
      std::string::size_type amp = head.find('&', pos);
      if (amp == std::string::npos)
        amp = head.size();
      const std::string pair = head.substr(pos, amp - pos);
      const std::string::size_type eq = pair.find('=');
      in.params[pair.substr(0, eq)] = eq == std::string::npos ? std::string() : pair.substr(eq + 1);
      pos = amp + 1;
    }
  }
  return in;
}

// The query text the request must carry, from the rules: pairs in key
// order, each cut at its first NUL, empty keys left out; letters, digits,
// "-", "_", ".", "~" kept, a space as "+", other bytes "%" and two
// lower-case hexadecimal digits.
std::string expected_query(const quorvane::Params& params)
{
  static const char HEX[] = "0123456789abcdef";
  auto encode = [](const std::string& text, std::string& out)
  {
    for (unsigned char c : text)
    {
      if (c == 0)
        break;
      if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
          c == '_' || c == '.' || c == '~')
        out += static_cast<char>(c);
      else if (c == ' ')
        out += '+';
      else
      {
        out += '%';
        out += HEX[c >> 4];
        out += HEX[c & 15];
      }
    }
  };
  std::string query;
  for (const auto& entry : params)
  {
    if (entry.first.empty() || entry.first[0] == '\0')
      continue;
    if (!query.empty())
      query += '&';
    encode(entry.first, query);
    query += '=';
    encode(entry.second, query);
  }
  return query;
}

// A log record equals @a want, or is its cut-off start when @a want is
// longer than ACE keeps of one message.
bool same_record(const std::string& got, const std::string& want)
{
  if (got == want)
    return true;
  return got.size() >= 2048 && want.size() > got.size() && want.compare(0, got.size(), got) == 0;
}

std::string dump_logs(const std::vector<Log_Line>& lines)
{
  std::string all;
  for (const Log_Line& l : lines)
    all += "  [" + std::to_string(l.priority) + "] " + printable(l.text) + "\n";
  return all;
}

// The records a failed GET leaves, by the reason of the failure.
void check_failure_logs(const Input& in, const std::string& query, const std::vector<Log_Line>& lines)
{
  const std::string context = "status " + std::to_string(in.status) + ", body '" + printable(in.body) +
                              "', records:\n" + dump_logs(lines);
  json_spirit::Value doc;
  const bool is_json = in.status > 0 && json_spirit::read(in.body, doc);
  const bool transport_ok = in.status >= 200 && in.status <= 299 && is_json;
  const std::string body_line = "response body:\n" + json_spirit::JSON_Dump(doc, false) + "\n";
  const std::string request_line =
      std::string("Unexpected exception occurred while sending HTTP GET request:'http://") + HOST + ":30188" +
      URI + (query.empty() ? "" : "?") + query + "': the response HTTP status is " +
      std::to_string(in.status) + " " + http_status_string(in.status) + "\n";

  for (const Log_Line& l : lines)
    FUZZ_CHECK(l.priority == LM_ERROR, "every record of the signed GET is an error; " + context);

  if (!transport_ok)
  {
    FUZZ_CHECK(lines.size() == 2 && same_record(lines[0].text, request_line) &&
                   same_record(lines[1].text, body_line),
               "a failed exchange logs the request line and the body; " + context);
    return;
  }
  const json_spirit::Value* code = nullptr;
  if (doc.type() == json_spirit::obj_type)
  {
    json_spirit::Object::const_iterator it = doc.get_obj().find("result_code");
    if (it != doc.get_obj().end())
      code = &it->second;
  }
  if (code == nullptr || code->type() != json_spirit::int_type)
  {
    FUZZ_CHECK(
        lines.size() == 1 &&
            lines[0].text.rfind("Unexpected exception occurred while get result code, error: ", 0) == 0,
        "a body without an integer result_code logs one line; " + context);
    return;
  }
  if (code->get_int64() != 10000)
  {
    FUZZ_CHECK(lines.size() == 2 && same_record(lines[0].text, request_line) &&
                   same_record(lines[1].text, body_line),
               "another result_code logs the request line and the body; " + context);
    return;
  }
  const std::string loader_line =
      "Unexpected exception occurred while loading Quorvane version info, error: JSON Pointer path "
      "'/data/aboutus_version' not exist in JSON!\n";
  const std::string whole_body =
      "The json returned by GET request is: " + json_spirit::JSON_Dump(doc, false) + ".\n";
  FUZZ_CHECK(lines.size() == 2 && lines[0].text == loader_line && same_record(lines[1].text, whole_body),
             "a missing version logs the loader's line and the body; " + context);
}

void check_request(const std::string& query)
{
  const std::vector<fuzz_support::Seen_Request>& seen = fuzz_support::seen_requests();
  FUZZ_CHECK(seen.size() == 1, "one exchange per GET, got " + std::to_string(seen.size()));
  const fuzz_support::Seen_Request& req = seen[0];
  FUZZ_CHECK(req.host == HOST && req.port == 30188 && !req.ssl, "the account's endpoint: " + req.host);
  FUZZ_CHECK(req.method == HTTP_METHOD_GET && req.path == URI, "GET of the settings: " + printable(req.path));
  FUZZ_CHECK(req.query == query, "query '" + printable(req.query) + "', expected '" + printable(query) + "'");

  const std::string* now = fuzz_support::find_header(req.headers, "Client-Now");
  const std::string* key = fuzz_support::find_header(req.headers, "X-Auth-Accesskey");
  const std::string* sig = fuzz_support::find_header(req.headers, "X-Auth-Signature");
  FUZZ_CHECK(now != nullptr && key != nullptr && sig != nullptr, "the three signing headers");
  FUZZ_CHECK(!now->empty() && now->find_first_not_of("0123456789") == std::string::npos && now->size() >= 3 &&
                 now->compare(now->size() - 3, 3, "000") == 0,
             "Client-Now is whole seconds in milliseconds: " + printable(*now));
  FUZZ_CHECK(*key == ACCESS_KEY, "X-Auth-Accesskey: " + printable(*key));
  const std::string want = fuzz_support::expected_signature(SECRET, *now, ACCESS_KEY, URI, query);
  FUZZ_CHECK(*sig == want, "X-Auth-Signature " + printable(*sig) + ", expected " + want);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  fuzz_support::capture_logs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  const Input in = split(data, size);
  fuzz_support::set_canned_reply(in.status, in.body);
  fuzz_support::take_logs();

  Fuzz_Client client(account());
  quorvane::Version version;
  version.aboutus_version = UNTOUCHED;
  const bool ok = in.has_params ? client.get(URI, &in.params, version) : client.get(URI, version);
  const std::vector<Log_Line> lines = fuzz_support::take_logs();
  const std::string query = in.has_params ? expected_query(in.params) : std::string();

  check_request(query);
  std::string want;
  const bool want_ok = fuzz_support::expected_version(in.status, in.body, want);
  FUZZ_CHECK(ok == want_ok, std::string("get returned ") + (ok ? "true" : "false") + " for status " +
                                std::to_string(in.status) + " and body '" + printable(in.body) + "'");
  if (ok)
  {
    FUZZ_CHECK(version.aboutus_version == want,
               "version '" + printable(version.aboutus_version) + "', expected '" + printable(want) + "'");
    FUZZ_CHECK(lines.empty(), "a successful GET logs nothing:\n" + dump_logs(lines));
  }
  else
  {
    FUZZ_CHECK(version.aboutus_version == UNTOUCHED,
               "a failed GET leaves the version: '" + printable(version.aboutus_version) + "'");
    check_failure_logs(in, query, lines);
  }
  return 0;
}
