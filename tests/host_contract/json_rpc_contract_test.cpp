// The host's JSON-RPC framework as the login handler relies on it: message
// kinds, requests, replies, the channel and the threaded handler base.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/json_rpc.h"
#include "host/json_spirit_value.h"

namespace
{
using json_spirit::Value;

// A channel that keeps what is sent through it and answers with a result
// of its own, so that a caller passing the result on can be told apart.
class Keeping_Channel : public JSON_RPC_Channel
{
public:
  static constexpr int RESULT = 7;

  int send(JSON_RPC_Object_var obj) override
  {
    std::lock_guard<std::mutex> guard(lock);
    sent.push_back(obj);
    return RESULT;
  }

  std::mutex lock;
  std::vector<JSON_RPC_Object_var> sent;
};

// The handler answers only TYPE_REQUEST (2) and treats the object as a
// JSON_RPC_Request; the numbering is fixed.
TEST(JsonRpc, MessageKindsAndARequestsType)
{
  EXPECT_EQ(0, JSON_RPC_Object::TYPE_NONE);
  EXPECT_EQ(1, JSON_RPC_Object::TYPE_NOTIFY);
  EXPECT_EQ(2, JSON_RPC_Object::TYPE_REQUEST);
  EXPECT_EQ(3, JSON_RPC_Object::TYPE_RESPONSE);
  EXPECT_EQ(4, JSON_RPC_Object::TYPE_RESPONSE_ERROR);
  JSON_RPC_Object_var var(new JSON_RPC_Request);
  EXPECT_EQ(JSON_RPC_Object::TYPE_REQUEST, var->type());
}

// The success reply: made with the non-throwing new for the request, held
// by a JSON_RPC_Object_var, its result filled by the handler, then sent;
// the handler returns what the channel's send returned.
TEST(JsonRpc, AResponseAnswersARequestThroughTheChannel)
{
  JSON_RPC_Request req;
  req.id = Value(1);
  JSON_RPC_Response* resp = new (std::nothrow) JSON_RPC_Response(&req);
  ASSERT_NE(nullptr, resp);
  JSON_RPC_Object_var var(resp);
  EXPECT_EQ(JSON_RPC_Object::TYPE_RESPONSE, var->type());
  json_spirit::Object result;
  result["code"] = Value(0);
  resp->result = Value(std::move(result));
  EXPECT_EQ(json_spirit::obj_type, resp->result.type());

  Keeping_Channel* chn = new Keeping_Channel;
  JSON_RPC_Channel_var channel(chn);
  EXPECT_EQ(Keeping_Channel::RESULT, channel->send(var));
  ASSERT_EQ(1u, chn->sent.size());
  EXPECT_EQ(resp, chn->sent[0].get());
}

// The requester matches a reply to its request by id: the success reply
// must carry the request's id, whatever its JSON kind.
TEST(JsonRpc, AResponseCarriesTheRequestsId)
{
  const Value ids[] = {Value(1), Value(-7), Value("req-42"), Value(std::string()), Value()};
  for (const Value& id : ids)
  {
    JSON_RPC_Request req;
    req.id = id;
    JSON_RPC_Response resp(&req);
    EXPECT_TRUE(resp.id == id) << "request id of kind " << id.type() << ", reply id of kind "
                               << resp.id.type();
  }
}

// Every error reply of the handler is send_error with the request's id and
// a null data, and the handler returns its result: it must go through the
// channel's send as an error reply and give send's result back.
TEST(JsonRpc, SendErrorSendsAnErrorReplyAndReturnsSendsResult)
{
  JSON_RPC_Request req;
  req.id = Value(9);
  Keeping_Channel* chn = new Keeping_Channel;
  JSON_RPC_Channel_var channel(chn);
  EXPECT_EQ(Keeping_Channel::RESULT, channel->send_error(-32602, req.id, "Invalid params", Value::null));
  ASSERT_EQ(1u, chn->sent.size());
  EXPECT_EQ(JSON_RPC_Object::TYPE_RESPONSE_ERROR, chn->sent[0]->type());
}

// A handler that records each call of handle_object_i: whether its channel
// was null, and on which thread.
class Recording_Handler : public JSON_RPC_Thread_Handler
{
public:
  ~Recording_Handler() override { fini(); }

  int handle_object_i(JSON_RPC_Channel_var channel, JSON_RPC_Object_var) override
  {
    std::lock_guard<std::mutex> guard(lock);
    null_channels.push_back(channel.get() == nullptr);
    done.notify_all();
    return 0;
  }

  // Waits for @a n calls, failing the test after a generous deadline
  // instead of hanging.
  bool wait_for(std::size_t n)
  {
    std::unique_lock<std::mutex> guard(lock);
    return done.wait_for(guard, std::chrono::seconds(60), [&]() { return null_channels.size() >= n; });
  }

  std::mutex lock;
  std::condition_variable done;
  std::vector<bool> null_channels;
};

// The handler answers a gone requester with no reply (and -1) only because
// the base hands it a null channel then; a live requester's channel must
// arrive.
TEST(JsonRpc, TheThreadHandlerPassesANullChannelWhenTheRequesterHasGone)
{
  Recording_Handler handler;
  ASSERT_EQ(0, handler.init(0, nullptr));
  JSON_RPC_Channel_var live(new Keeping_Channel);
  JSON_RPC_Channel_wvar to_live(live);
  JSON_RPC_Object_var first(new JSON_RPC_Request);
  handler.handle(to_live, first);
  ASSERT_TRUE(handler.wait_for(1)) << "handle_object_i was not called";

  JSON_RPC_Channel_wvar to_gone;
  {
    JSON_RPC_Channel_var gone(new Keeping_Channel);
    to_gone = gone;
  }
  JSON_RPC_Object_var second(new JSON_RPC_Request);
  handler.handle(to_gone, second);
  ASSERT_TRUE(handler.wait_for(2)) << "handle_object_i was not called";
  handler.fini();
  EXPECT_FALSE(handler.null_channels[0]);
  EXPECT_TRUE(handler.null_channels[1]);
}

// The login handler lets memory exhaustion (std::bad_alloc) escape
// handle_object_i: the base must catch it and go on handling messages, not
// end the host's process.
class Throwing_Handler : public Recording_Handler
{
public:
  int handle_object_i(JSON_RPC_Channel_var channel, JSON_RPC_Object_var obj) override
  {
    bool first = false;
    {
      std::lock_guard<std::mutex> guard(lock);
      first = !thrown;
      thrown = true;
    }
    if (first)
      throw std::bad_alloc();
    return Recording_Handler::handle_object_i(channel, obj);
  }

  bool thrown = false;
};

TEST(JsonRpc, TheThreadHandlerSurvivesAnExceptionOfTheHandler)
{
  Throwing_Handler handler;
  ASSERT_EQ(0, handler.init(0, nullptr));
  JSON_RPC_Channel_var live(new Keeping_Channel);
  JSON_RPC_Channel_wvar to_live(live);
  handler.handle(to_live, JSON_RPC_Object_var(new JSON_RPC_Request));
  handler.handle(to_live, JSON_RPC_Object_var(new JSON_RPC_Request));
  ASSERT_TRUE(handler.wait_for(1)) << "the message after the exception was not handled";
  handler.fini();
  EXPECT_TRUE(handler.thrown);
}

}  // namespace
