#include "tools/host/rpc_session.h"

#include <memory>
#include <utility>
#include <vector>

#include "devhost/harness/json_reader.h"
#include "devhost/harness/json_rpc_messages.h"
#include "host/json_spirit_utils.h"

namespace
{

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
 * The channel of one text.  Its replies are collected and handed to the
 * text's answer in one piece: as soon as the last expected one arrives, or
 * else once the handler has let go of every message of the text (a request
 * it declined to answer), with what there is.
 */
class RPC_Session::Text_Channel : public JSON_RPC_Channel
{
public:
  Text_Channel(bool batch, Answer answer) : batch_(batch), answer_(std::move(answer)) {}

  /// One more reply is expected for this text; every expectation is
  /// counted before any reply is added or any message handed out.
  void expect()
  {
    std::lock_guard<std::mutex> guard(lock_);
    ++expected_;
  }

  /// Adds a reply that the session made itself.
  void add(json_spirit::Value reply) { deliver(&reply); }

  int send(JSON_RPC_Object_var obj) override
  {
    json_spirit::Value reply = devhost::to_json(*obj);
    deliver(&reply);
    return 0;
  }

  /// One more message goes to the handler.
  void handing()
  {
    std::lock_guard<std::mutex> guard(lock_);
    ++handed_;
  }
  /// The handler let go of one message (it was handled).
  void released()
  {
    update([this] { ++released_; });
  }
  /// Every message of the text has been handed out.
  void seal()
  {
    update([this] { sealed_ = true; });
  }

private:
  void deliver(json_spirit::Value* reply)
  {
    update(
        [this, reply]
        {
          ++received_;
          replies_.push_back(std::move(*reply));
        });
  }

  // Applies @a change under the lock and answers the text when that
  // completes it; the answer runs outside the lock.
  template <class Change>
  void update(Change change)
  {
    std::unique_ptr<std::string> text;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (answered_)
        return;
      change();
      const bool all_in = received_ >= expected_ && (expected_ > 0 || sealed_);
      const bool let_go = sealed_ && released_ == handed_;
      if (!all_in && !let_go)
        return;
      answered_ = true;
      if (!replies_.empty())
        text.reset(new std::string(json_spirit::JSON_Dump(
            batch_ ? json_spirit::Value(std::move(replies_)) : replies_.front(), false)));
      replies_.clear();
    }
    answer_(text.get());
  }

  const bool batch_;
  const Answer answer_;
  std::mutex lock_;
  json_spirit::Array replies_;
  int expected_ = 0;
  int received_ = 0;
  int handed_ = 0;
  int released_ = 0;
  bool sealed_ = false;
  bool answered_ = false;
};

/**
 * The slot of one message handed to the handler: freed when the message
 * goes, which is when the worker drops the last reference to it, once
 * handled.  It keeps the message's text channel alive until then, and
 * tells it first, so that a text is answered before `finish` can see its
 * last slot free.  A message never handed out frees nothing.
 */
class RPC_Session::Slot
{
public:
  Slot(RPC_Session& session, const JSON_RPC_Channel_var& channel) : session_(session), channel_(channel) {}
  ~Slot()
  {
    if (!handed_)
      return;
    static_cast<Text_Channel*>(channel_.get())->released();
    session_.give_slot();
  }
  void handed()
  {
    static_cast<Text_Channel*>(channel_.get())->handing();
    handed_ = true;
  }

private:
  RPC_Session& session_;
  JSON_RPC_Channel_var channel_;
  bool handed_ = false;
};

/// A request or notification that holds a slot.
template <class Message>
class RPC_Session::Counted : public Message, public RPC_Session::Slot
{
public:
  Counted(RPC_Session& session, const JSON_RPC_Channel_var& channel) : Slot(session, channel) {}
};

RPC_Session::RPC_Session(JSON_RPC_Thread_Handler& handler, const std::string& method, std::size_t max_in_hand)
    : handler_(handler), method_(method), max_in_hand_(max_in_hand > 0 ? max_in_hand : 1)
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

std::string RPC_Session::long_text_reply(std::size_t limit)
{
  const std::string why = "the line is longer than " + std::to_string(limit) + " bytes";
  return json_spirit::JSON_Dump(
      error_reply(devhost::JSON_RPC_E_INVALID_REQUEST, json_spirit::Value(), "Invalid Request", json_spirit::Value(why)), false);
}

RPC_Session::~RPC_Session()
{
  finish();
}

void RPC_Session::feed(const std::string& text, Answer answer)
{
  json_spirit::Value msg;
  if (!json_spirit::read(text, msg))
  {
    const std::string reply =
        json_spirit::JSON_Dump(error_reply(devhost::JSON_RPC_E_PARSE_ERROR, json_spirit::Value(), "Parse error"), false);
    answer(&reply);
    return;
  }

  const bool batch = msg.type() == json_spirit::array_type;
  if (batch && msg.get_array().empty())
  {
    const std::string reply =
        json_spirit::JSON_Dump(error_reply(devhost::JSON_RPC_E_INVALID_REQUEST, json_spirit::Value(), "Invalid Request"), false);
    answer(&reply);
    return;
  }

  Text_Channel* channel = new Text_Channel(batch, std::move(answer));
  JSON_RPC_Channel_var strong(channel);
  std::vector<json_spirit::Value> items;
  if (batch)
    items = std::move(msg.get_array());
  else
    items.push_back(std::move(msg));

  // Count every reply the text will get before any is sent, so that a batch
  // cannot be written while a worker is still to answer part of it.
  std::vector<std::pair<JSON_RPC_Object_var, Slot*>> to_handler;
  std::vector<json_spirit::Value> own_replies;
  for (json_spirit::Value& item : items)
  {
    if (item.type() != json_spirit::obj_type)
    {
      own_replies.push_back(error_reply(devhost::JSON_RPC_E_INVALID_REQUEST, json_spirit::Value(), "Invalid Request"));
      continue;
    }
    json_spirit::Object& obj = item.get_obj();
    const std::string* version = json_spirit::object_get_str(obj, "jsonrpc");
    const std::string* method = json_spirit::object_get_str(obj, "method");
    const bool is_request = obj.count("id") != 0;
    if (version == nullptr || *version != "2.0" || method == nullptr)
    {
      own_replies.push_back(error_reply(devhost::JSON_RPC_E_INVALID_REQUEST, usable_id(obj), "Invalid Request"));
      continue;
    }
    if (*method != method_)
    {
      if (is_request)
        own_replies.push_back(error_reply(devhost::JSON_RPC_E_METHOD_NOT_FOUND, usable_id(obj), "Method not found"));
      continue;
    }
    JSON_RPC_Request_Base* req = nullptr;
    Slot* slot = nullptr;
    if (is_request)
    {
      Counted<JSON_RPC_Request>* r = new Counted<JSON_RPC_Request>(*this, strong);
      req = r;
      slot = r;
    }
    else
    {
      Counted<devhost::JSON_RPC_Notification>* n = new Counted<devhost::JSON_RPC_Notification>(*this, strong);
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

  channel->seal();
}

void RPC_Session::finish()
{
  // Every message handed out has been handled once the handler has let go
  // of it, which frees its slot.
  {
    std::unique_lock<std::mutex> guard(slots_lock_);
    slot_free_.wait(guard, [this] { return in_hand_ == 0; });
  }
}
