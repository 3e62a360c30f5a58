// Fuzzes the login handler with JSON-RPC text as the host receives it: the
// text goes through the development host's parser, is turned into requests
// and notifications as the host program does (tools/host/rpc_session.cpp),
// and each one is handed to the handler's handle_object_i with a channel
// that records the replies.  The REST client is the fake one, answering
// from the input.  Each reply, log record and request to the service is
// checked against what the handler must do, worked out apart from the
// module's code (login_model.cpp, and the checks here).
//
// Input, three parts:
//   line 1: a mode byte, three decimal digits (the HTTP status of the
//           service's reply; anything else: no reply), then the plain
//           secret key (at most 108 bytes are used);
//   line 2: the JSON-RPC text, one message or a batch;
//   rest:   the body of the service's reply.
// Mode 'E': "secret_key" of every params object is replaced by the secret,
// marked with a prefix and encrypted for the appliance's key, so the login
// gets past the decryption; 'e' the same with the secret as given (which
// leaves out the check that it never shows); 'N' as 'E', but the requester
// has gone (null channel).  Any other mode leaves the text as it is.  The
// appliance's key and the encryption are in appliance_key.cpp.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "devhost/harness/json_reader.h"
#include "devhost/harness/json_rpc_messages.h"
#include "fuzz/appliance_key.h"
#include "fuzz/fake_restful_client.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/login_model.h"
#include "host/json_rpc.h"
#include "host/json_spirit_utils.h"

extern "C" JSON_RPC_Handler* _make_JSON_RPC_Quorvane_Login_Handler(JSON_RPC_Handler_Exterminator*);

namespace
{
using fuzz_support::Log_Line;
using fuzz_support::printable;
using login_fuzz::c_text;
using login_fuzz::Expectation;
using login_fuzz::member;
using login_fuzz::setup_failed;

const char SECRET_MARK[] = "QVSECRET-";
const int SEND_RESULT_BASE = 100;

JSON_RPC_Thread_Handler* handler = nullptr;

/// The replies sent through it, in order; each send returns a number of its
/// own, which the handler must pass on.
class Recording_Channel : public JSON_RPC_Channel
{
public:
  int send(JSON_RPC_Object_var obj) override
  {
    sent.push_back(obj);
    return SEND_RESULT_BASE + static_cast<int>(sent.size());
  }

  std::vector<JSON_RPC_Object_var> sent;
};

struct Input
{
  char mode = 0;
  int status = 0;
  std::string secret;
  std::string text;
  std::string body;
};

Input split(const std::uint8_t* data, std::size_t size)
{
  Input in;
  const std::string all(reinterpret_cast<const char*>(data), size);
  const std::string::size_type eol1 = all.find('\n');
  const std::string head = all.substr(0, eol1);
  if (eol1 != std::string::npos)
  {
    const std::string::size_type eol2 = all.find('\n', eol1 + 1);
    in.text = all.substr(eol1 + 1, eol2 == std::string::npos ? std::string::npos : eol2 - eol1 - 1);
    if (eol2 != std::string::npos)
      in.body = all.substr(eol2 + 1);
  }
  if (!head.empty())
    in.mode = head[0];
  if (head.size() >= 4 && head.find_first_not_of("0123456789", 1) >= 4)
    in.status = (head[1] - '0') * 100 + (head[2] - '0') * 10 + (head[3] - '0');
  if (head.size() > 4)
    in.secret = head.substr(4, login_fuzz::MAX_PLAINTEXT - (sizeof SECRET_MARK - 1));
  return in;
}

// The id the host gives a request: a string or a number, else null.
json_spirit::Value usable_id(const json_spirit::Object& obj)
{
  json_spirit::Object::const_iterator it = obj.find("id");
  if (it == obj.end())
    return json_spirit::Value();
  const json_spirit::Value_type t = it->second.type();
  if (t == json_spirit::str_type || t == json_spirit::int_type || t == json_spirit::real_type)
    return it->second;
  return json_spirit::Value();
}

// Every text of @a v, keys included, for the places a secret may be echoed
// from the input.
void collect_texts(const json_spirit::Value& v, std::string& out)
{
  switch (v.type())
  {
    case json_spirit::obj_type:
      for (const auto& m : v.get_obj())
      {
        out += m.first;
        out += '\n';
        collect_texts(m.second, out);
      }
      break;
    case json_spirit::array_type:
      for (const json_spirit::Value& e : v.get_array())
        collect_texts(e, out);
      break;
    case json_spirit::str_type:
      out += v.get_str();
      out += '\n';
      break;
    default:
      break;
  }
}

bool ends_with(const std::string& text, const std::string& tail)
{
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string dump_logs(const std::vector<Log_Line>& lines)
{
  std::string all;
  for (const Log_Line& l : lines)
    all += "  [" + std::to_string(l.priority) + "] " + printable(l.text) + "\n";
  return all;
}

/// Everything one input needs while its messages are checked.
struct Run
{
  const Input* in;
  bool inject;
  bool null_channel;
  std::string plain;   ///< the secret the appliance encrypted, when injected
  std::string cipher;  ///< its Base64 ciphertext
  std::string echoes;  ///< texts of the input a secret may be repeated from
  std::vector<std::string> outputs;
};

void check_exchange(const Run& run, const json_spirit::Object& params)
{
  const std::vector<fuzz_support::Seen_Request>& seen = fuzz_support::seen_requests();
  FUZZ_CHECK(seen.size() == 1, "one request to the service per login, got " + std::to_string(seen.size()));
  const fuzz_support::Seen_Request& req = seen[0];
  const std::string host = login_fuzz::endpoint_host(c_text(params, "host", ""));
  const json_spirit::Value* port = member(params, "port");
  const json_spirit::Value* ssl = member(params, "ssl");
  FUZZ_CHECK(req.host == host, "the account's host, as reset takes it: '" + printable(req.host) + "'");
  FUZZ_CHECK(req.port == (port == nullptr ? 30188 : port->get_int64()), "port " + std::to_string(req.port));
  FUZZ_CHECK(req.ssl == (ssl != nullptr && ssl->get_bool()), "the account's TLS flag");
  FUZZ_CHECK(
      req.method == HTTP_METHOD_GET && req.path == "/fcc/v1/settings" && req.query.empty(),
      "GET /fcc/v1/settings without query: '" + printable(req.path) + "' '" + printable(req.query) + "'");

  const std::string access_key = c_text(params, "access_key", "");
  const std::string* now = fuzz_support::find_header(req.headers, "Client-Now");
  const std::string* key = fuzz_support::find_header(req.headers, "X-Auth-Accesskey");
  const std::string* sig = fuzz_support::find_header(req.headers, "X-Auth-Signature");
  FUZZ_CHECK(now != nullptr && key != nullptr && sig != nullptr, "the three signing headers");
  FUZZ_CHECK(!now->empty() && now->find_first_not_of("0123456789") == std::string::npos,
             "Client-Now: " + printable(*now));
  FUZZ_CHECK(*key == access_key, "X-Auth-Accesskey '" + printable(*key) + "'");
  const std::string want =
      fuzz_support::expected_signature(run.plain, *now, access_key, "/fcc/v1/settings", "");
  FUZZ_CHECK(*sig == want, "X-Auth-Signature " + printable(*sig) + ", expected " + want);
}

void check_logs(const Expectation& e, const JSON_RPC_Request_Base& msg, const std::vector<Log_Line>& lines,
                const std::string& context)
{
  if (msg.type() != JSON_RPC_Object::TYPE_REQUEST)
  {
    FUZZ_CHECK(lines.size() == 1 && lines[0].priority == LM_EMERGENCY &&
                   lines[0].text.rfind("Unexpected error in ", 0) == 0 &&
                   ends_with(lines[0].text, ", obj is not JSON-RPC request!\n"),
               "a notification is logged once as an emergency; " + context);
    return;
  }
  for (const Log_Line& l : lines)
    FUZZ_CHECK(l.priority == LM_ERROR, "errors only; " + context);
  if (!e.reply)
  {
    FUZZ_CHECK(lines.size() == 1 && lines[0].text == "Abort handling JSON-RPC request, requester has gone.\n",
               "a gone requester is logged once; " + context);
    return;
  }
  if (e.code == 0)
    FUZZ_CHECK(lines.empty(), "a successful login logs nothing; " + context);
  else if (e.code == -32602 && std::string(e.message) != "Invalid params")
    FUZZ_CHECK(lines.empty(), "params of the wrong type are not logged; " + context);
  else if (e.code == -32602)
    FUZZ_CHECK(lines.size() == 1, "invalid params are logged once, where found; " + context);
  else
    FUZZ_CHECK(!lines.empty(), "a failed request to the service is logged; " + context);
}

void check_reply(const Expectation& e, const JSON_RPC_Request_Base& msg, const JSON_RPC_Object& reply,
                 const std::string& context)
{
  if (e.code == 0)
  {
    FUZZ_CHECK(reply.type() == JSON_RPC_Object::TYPE_RESPONSE, "a success reply; " + context);
    const JSON_RPC_Response& ok = static_cast<const JSON_RPC_Response&>(reply);
    FUZZ_CHECK(ok.id == msg.id, "the reply carries the request's id; " + context);
    FUZZ_CHECK(ok.result.type() == json_spirit::obj_type, "the result is an object; " + context);
    const json_spirit::Object& r = ok.result.get_obj();
    const json_spirit::Value* code = member(r, "code");
    const json_spirit::Value* message = member(r, "message");
    const json_spirit::Value* version = member(r, "version");
    FUZZ_CHECK(r.size() == 3 && code != nullptr && code->type() == json_spirit::int_type &&
                   code->get_int64() == 0 && message != nullptr && message->type() == json_spirit::str_type &&
                   message->get_str() == "Success to login" && version != nullptr &&
                   version->type() == json_spirit::str_type && version->get_str() == e.version,
               "result " + json_spirit::JSON_Dump(ok.result, false) + ", expected version '" +
                   printable(e.version) + "'; " + context);
    return;
  }
  FUZZ_CHECK(reply.type() == JSON_RPC_Object::TYPE_RESPONSE_ERROR,
             "an error reply, expected " + std::to_string(e.code) + "; " + context);
  const devhost::JSON_RPC_Error_Response& err = static_cast<const devhost::JSON_RPC_Error_Response&>(reply);
  FUZZ_CHECK(err.id == msg.id, "the reply carries the request's id; " + context);
  FUZZ_CHECK(err.code == e.code && err.message == e.message && err.data.is_null(),
             "reply " + std::to_string(err.code) + " '" + err.message + "', expected " +
                 std::to_string(e.code) + " '" + e.message + "'; " + context);
}

// Hands one message to the handler as the host's worker does and checks
// what came of it.
void handle(Run& run, JSON_RPC_Channel_var channel, Recording_Channel& recorder,
            JSON_RPC_Request_Base* msg_ptr)
{
  JSON_RPC_Object_var obj(msg_ptr);
  const JSON_RPC_Request_Base& msg = *msg_ptr;
  const Expectation e = login_fuzz::expect(msg, run.null_channel, run.inject ? &run.cipher : nullptr,
                                           run.in->status, run.in->body);
  const json_spirit::Value params_before = msg.params;
  const std::size_t sent_before = recorder.sent.size();
  const std::string context = "message " + json_spirit::JSON_Dump(devhost::to_json(msg), false) +
                              ", status " + std::to_string(run.in->status) + ", body '" +
                              printable(run.in->body) + "'";
  fuzz_support::set_canned_reply(run.in->status, run.in->body);
  fuzz_support::take_logs();

  const int result = handler->handle_object_i(run.null_channel ? JSON_RPC_Channel_var() : channel, obj);

  const std::vector<Log_Line> lines = fuzz_support::take_logs();
  for (const Log_Line& l : lines)
    run.outputs.push_back(l.text);
  const std::string with_logs = context + ", records:\n" + dump_logs(lines);
  check_logs(e, msg, lines, with_logs);

  const std::size_t sent = recorder.sent.size() - sent_before;
  if (!e.reply)
  {
    FUZZ_CHECK(sent == 0 && result == -1, "no reply and -1, got " + std::to_string(sent) + " replies and " +
                                              std::to_string(result) + "; " + with_logs);
    FUZZ_CHECK(msg.params == params_before, "params untouched without a reply; " + with_logs);
    FUZZ_CHECK(fuzz_support::seen_requests().empty(), "no request to the service; " + with_logs);
    return;
  }
  FUZZ_CHECK(sent == 1, "exactly one reply, got " + std::to_string(sent) + "; " + with_logs);
  FUZZ_CHECK(result == SEND_RESULT_BASE + static_cast<int>(recorder.sent.size()),
             "the handler returns the send's result, got " + std::to_string(result) + "; " + with_logs);
  const JSON_RPC_Object& reply = *recorder.sent.back();
  run.outputs.push_back(json_spirit::JSON_Dump(devhost::to_json(reply), false));
  check_reply(e, msg, reply, with_logs);

  if (e.exchange)
    check_exchange(run, params_before.get_obj());
  else
    FUZZ_CHECK(fuzz_support::seen_requests().empty(), "no request to the service; " + with_logs);

  if (e.decrypts)
  {
    // The request keeps the plain key, as a secure string, whatever came after.
    const json_spirit::Object& p = msg.params.get_obj();
    json_spirit::Object::const_iterator sk = p.find("secret_key");
    FUZZ_CHECK(
        sk != p.end() && sk->second.type() == json_spirit::secure_str_type &&
            std::string(sk->second.get_secure_str().data(), sk->second.get_secure_str().size()) == run.plain,
        "the params hold the decrypted key; " + with_logs);
  }
  else
  {
    FUZZ_CHECK(msg.params == params_before, "params untouched when nothing decrypted; " + with_logs);
  }
}

void check_no_leak(const Run& run)
{
  for (const std::string& out : run.outputs)
  {
    if (!run.cipher.empty())
      FUZZ_CHECK(out.find(run.cipher) == std::string::npos, "the ciphertext shows in: " + printable(out));
    if (run.in->mode == 'E' || run.in->mode == 'N')
      FUZZ_CHECK(run.echoes.find(run.plain) != std::string::npos || out.find(run.plain) == std::string::npos,
                 "the secret key shows in: " + printable(out));
  }
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  fuzz_support::capture_logs();
  login_fuzz::make_appliance_key();
  JSON_RPC_Handler_Exterminator gobbler = nullptr;
  JSON_RPC_Handler* made = _make_JSON_RPC_Quorvane_Login_Handler(&gobbler);
  handler = dynamic_cast<JSON_RPC_Thread_Handler*>(made);
  if (handler == nullptr || gobbler == nullptr)
    setup_failed("the factory made no threaded login handler");
  // Never init()ed: the handler runs each message on the calling thread.
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  const Input in = split(data, size);
  Run run;
  run.in = &in;
  run.inject = in.mode == 'E' || in.mode == 'e' || in.mode == 'N';
  run.null_channel = in.mode == 'N';

  json_spirit::Value msg;
  if (!json_spirit::read(in.text, msg))
    return 0;  // the host answers a parse error itself
  if (run.inject)
  {
    run.plain = in.mode == 'e' ? in.secret : SECRET_MARK + in.secret;
    run.cipher = login_fuzz::encrypt(run.plain);
  }
  collect_texts(msg, run.echoes);
  run.echoes += json_spirit::JSON_Dump(msg, false) + "\n" + in.text + "\n" + in.body + "\n";
  json_spirit::Value body;
  if (json_spirit::read(in.body, body))
  {
    collect_texts(body, run.echoes);
    run.echoes += json_spirit::JSON_Dump(body, false);
  }

  std::vector<json_spirit::Value> items;
  if (msg.type() == json_spirit::array_type)
    items = std::move(msg.get_array());
  else
    items.push_back(std::move(msg));

  Recording_Channel* recorder = new Recording_Channel;
  JSON_RPC_Channel_var channel(recorder);
  for (json_spirit::Value& item : items)
  {
    // What the host answers itself never reaches the handler: anything but
    // a JSON-RPC 2.0 object for the handler's method.
    if (item.type() != json_spirit::obj_type)
      continue;
    json_spirit::Object& obj = item.get_obj();
    const std::string* version = json_spirit::object_get_str(obj, "jsonrpc");
    const std::string* method = json_spirit::object_get_str(obj, "method");
    if (version == nullptr || *version != "2.0" || method == nullptr || *method != "login")
      continue;
    JSON_RPC_Request_Base* req = nullptr;
    if (obj.count("id") != 0)
      req = new JSON_RPC_Request;
    else
      req = new devhost::JSON_RPC_Notification;
    req->method = *method;
    req->id = usable_id(obj);
    json_spirit::Object::iterator params = obj.find("params");
    if (params != obj.end())
      req->params = std::move(params->second);
    if (run.inject && req->params.type() == json_spirit::obj_type)
      req->params.get_obj()["secret_key"] = run.cipher;
    handle(run, channel, *recorder, req);
  }
  check_no_leak(run);
  return 0;
}
