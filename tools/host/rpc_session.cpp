#include "tools/host/rpc_session.h"

#include <atomic>
#include <utility>
#include <vector>

#include "devhost/json_reader.h"
#include "devhost/json_rpc_messages.h"
#include "host/json_spirit_utils.h"

namespace
{
const int PARSE_ERROR = -32700;
const int INVALID_REQUEST = -32600;
const int METHOD_NOT_FOUND = -32601;

json_spirit::Value error_reply(int code, const json_spirit::Value& id, const char* message,
                               const json_spirit::Value& data = json_spirit::Value::null)
{
  return devhost::to_json(devhost::JSON_RPC_Error_Response(code, id, message, data));
}

// The id of a request, or null when it has none usable (JSON-RPC 2.0 allows
// a string, a number or null).
json_spirit::Value usable_id(const json_spirit::Object& obj)
{
  json_spirit::Object::const_iterator it = obj.find("id");
  if (it == obj.end())
    return json_spirit::Value();
  json_spirit::Value_type t = it->second.type();
  if (t == json_spirit::str_type || t == json_spirit::int_type || t == json_spirit::real_type)
    return it->second;
  return json_spirit::Value();
}
}  // namespace

/**
 * The channel of one input line.  A single message's reply is written as
 * soon as it is sent; a batch's replies are collected and written as one
 * array when the last expected one arrives (or by `flush` at the end).
 */
class RPC_Session::Line_Channel : public JSON_RPC_Channel
{
public:
  Line_Channel(RPC_Session& session, bool batch) : session_(session), batch_(batch) {}

  /// One more reply is expected on this line.
  void expect() { ++expected_; }

  /// Adds a reply that the session made itself.
  void add(json_spirit::Value reply) { deliver(std::move(reply)); }

  int send(JSON_RPC_Object_var obj) override
  {
    deliver(devhost::to_json(*obj));
    return 0;
  }

  /// Writes what a batch has collected, if anything; true when the line
  /// needs nothing more.
  bool flush()
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (batch_ && !replies_.empty() && !written_)
      write_batch_locked();
    return written_ || (received_ >= expected_);
  }

  bool done()
  {
    std::lock_guard<std::mutex> guard(lock_);
    return received_ >= expected_;
  }

private:
  void deliver(json_spirit::Value reply)
  {
    std::lock_guard<std::mutex> guard(lock_);
    ++received_;
    if (!batch_)
    {
      session_.write_line(json_spirit::JSON_Dump(reply, false));
      return;
    }
    replies_.push_back(std::move(reply));
    if (received_ >= expected_)
      write_batch_locked();
  }

  void write_batch_locked()
  {
    written_ = true;
    session_.write_line(json_spirit::JSON_Dump(json_spirit::Value(std::move(replies_)), false));
    replies_.clear();
  }

  RPC_Session& session_;
  const bool batch_;
  std::mutex lock_;
  json_spirit::Array replies_;
  int expected_ = 0;
  int received_ = 0;
  bool written_ = false;
};

/**
 * The slot of one message handed to the handler: freed when the message
 * goes, which is when the worker drops the last reference to it, once
 * handled.  `handed` marks the moment the slot was taken; a message never
 * handed out frees nothing.
 */
class RPC_Session::Slot
{
public:
  explicit Slot(RPC_Session& session) : session_(session) {}
  ~Slot()
  {
    if (handed_)
      session_.give_slot();
  }
  void handed() { handed_ = true; }

private:
  RPC_Session& session_;
  bool handed_ = false;
};

/// A request or notification that holds a slot.
template <class Message>
class RPC_Session::Counted : public Message, public RPC_Session::Slot
{
public:
  explicit Counted(RPC_Session& session) : Slot(session) {}
};

RPC_Session::RPC_Session(JSON_RPC_Thread_Handler& handler, const std::string& method, std::FILE* out,
                         std::size_t max_in_hand)
    : handler_(handler), method_(method), out_(out), max_in_hand_(max_in_hand > 0 ? max_in_hand : 1)
{
}

void RPC_Session::take_slot()
{
  std::unique_lock<std::mutex> guard(slots_lock_);
  slot_free_.wait(guard, [this] { return in_hand_ < max_in_hand_; });
  ++in_hand_;
}

void RPC_Session::give_slot()
{
  std::lock_guard<std::mutex> guard(slots_lock_);
  --in_hand_;
  // `take_slot` waits for one free slot, `finish` for all of them.
  slot_free_.notify_all();
}

void RPC_Session::reject_long_line(std::size_t limit)
{
  const std::string why = "the line is longer than " + std::to_string(limit) + " bytes";
  write_line(json_spirit::JSON_Dump(
      error_reply(INVALID_REQUEST, json_spirit::Value(), "Invalid Request", json_spirit::Value(why)), false));
}

RPC_Session::~RPC_Session()
{
  finish();
}

void RPC_Session::write_line(const std::string& text)
{
  std::lock_guard<std::mutex> guard(out_lock_);
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void RPC_Session::feed(const std::string& line)
{
  if (line.find_first_not_of(" \t\r") == std::string::npos)
    return;  // blank lines separate nothing and ask nothing

  json_spirit::Value msg;
  if (!json_spirit::read(line, msg))
  {
    write_line(json_spirit::JSON_Dump(error_reply(PARSE_ERROR, json_spirit::Value(), "Parse error"), false));
    return;
  }

  const bool batch = msg.type() == json_spirit::array_type;
  if (batch && msg.get_array().empty())
  {
    write_line(
        json_spirit::JSON_Dump(error_reply(INVALID_REQUEST, json_spirit::Value(), "Invalid Request"), false));
    return;
  }

  Line_Channel* channel = new Line_Channel(*this, batch);
  JSON_RPC_Channel_var strong(channel);
  std::vector<json_spirit::Value> items;
  if (batch)
    items = std::move(msg.get_array());
  else
    items.push_back(std::move(msg));

  // Count every reply the line will get before any is sent, so that a batch
  // cannot be written while a worker is still to answer part of it.
  std::vector<std::pair<JSON_RPC_Object_var, Slot*>> to_handler;
  std::vector<json_spirit::Value> own_replies;
  for (json_spirit::Value& item : items)
  {
    if (item.type() != json_spirit::obj_type)
    {
      own_replies.push_back(error_reply(INVALID_REQUEST, json_spirit::Value(), "Invalid Request"));
      continue;
    }
    json_spirit::Object& obj = item.get_obj();
    const std::string* version = json_spirit::object_get_str(obj, "jsonrpc");
    const std::string* method = json_spirit::object_get_str(obj, "method");
    const bool is_request = obj.count("id") != 0;
    if (version == nullptr || *version != "2.0" || method == nullptr)
    {
      own_replies.push_back(error_reply(INVALID_REQUEST, usable_id(obj), "Invalid Request"));
      continue;
    }
    if (*method != method_)
    {
      if (is_request)
        own_replies.push_back(error_reply(METHOD_NOT_FOUND, usable_id(obj), "Method not found"));
      continue;
    }
    JSON_RPC_Request_Base* req = nullptr;
    Slot* slot = nullptr;
    if (is_request)
    {
      Counted<JSON_RPC_Request>* r = new Counted<JSON_RPC_Request>(*this);
      req = r;
      slot = r;
    }
    else
    {
      Counted<devhost::JSON_RPC_Notification>* n = new Counted<devhost::JSON_RPC_Notification>(*this);
      req = n;
      slot = n;
    }
    JSON_RPC_Object_var var(req);
    req->method = *method;
    req->id = usable_id(obj);
    json_spirit::Object::iterator params = obj.find("params");
    if (params != obj.end())
      req->params = std::move(params->second);
    if (is_request)
      channel->expect();
    to_handler.emplace_back(var, slot);
  }
  for (std::size_t i = 0; i < own_replies.size(); ++i)
    channel->expect();
  for (json_spirit::Value& reply : own_replies)
    channel->add(std::move(reply));

  // One slot per message, taken just before it is handed out; this
  // function lets go of each message as soon as it is handed, so that the
  // worker's reference is the last and frees the slot when it is done.
  JSON_RPC_Channel_wvar weak(strong);
  for (std::pair<JSON_RPC_Object_var, Slot*>& message : to_handler)
  {
    take_slot();
    message.second->handed();
    handler_.handle(weak, message.first);
    message.first = JSON_RPC_Object_var();
  }

  prune();
  if (!channel->done())
    pending_.push_back(strong);
}

void RPC_Session::prune()
{
  for (std::list<JSON_RPC_Channel_var>::iterator it = pending_.begin(); it != pending_.end();)
  {
    if (static_cast<Line_Channel*>(it->get())->done())
      it = pending_.erase(it);
    else
      ++it;
  }
}

void RPC_Session::finish()
{
  // Every message handed out has been handled once the handler has let go
  // of it, which frees its slot.
  {
    std::unique_lock<std::mutex> guard(slots_lock_);
    slot_free_.wait(guard, [this] { return in_hand_ == 0; });
  }
  // A handler may have declined to answer a request (its requester gone,
  // or its reply could not be built): write what such a batch has.
  for (JSON_RPC_Channel_var& chn : pending_)
    static_cast<Line_Channel*>(chn.get())->flush();
  pending_.clear();
}
