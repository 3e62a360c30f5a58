#include "host/json_rpc.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "devhost/harness/json_rpc_messages.h"
#include "host/json_spirit_utils.h"
#include "tests/support/log_capture.h"

namespace
{
using json_spirit::Value;

// A channel that keeps what is sent through it.
class Recording_Channel : public JSON_RPC_Channel
{
public:
  int send(JSON_RPC_Object_var obj) override
  {
    std::lock_guard<std::mutex> guard(lock_);
    sent_.push_back(json_spirit::JSON_Dump(devhost::to_json(*obj), false));
    return 0;
  }
  std::vector<std::string> sent()
  {
    std::lock_guard<std::mutex> guard(lock_);
    return sent_;
  }

private:
  std::mutex lock_;
  std::vector<std::string> sent_;
};

JSON_RPC_Object_var make_request(int id)
{
  JSON_RPC_Request* req = new JSON_RPC_Request;
  req->method = "login";
  req->id = id;
  return JSON_RPC_Object_var(req);
}

TEST(Objects, RepliesAreJsonRpc2)
{
  JSON_RPC_Request req;
  req.id = "abc";
  JSON_RPC_Response resp(&req);
  resp.result = 5;
  EXPECT_EQ(R"({"id":"abc","jsonrpc":"2.0","result":5})",
            json_spirit::JSON_Dump(devhost::to_json(resp), false));
  devhost::JSON_RPC_Error_Response err(-32602, Value(7), "Invalid params", Value::null);
  EXPECT_EQ(R"({"error":{"code":-32602,"message":"Invalid params"},"id":7,"jsonrpc":"2.0"})",
            json_spirit::JSON_Dump(devhost::to_json(err), false));
  devhost::JSON_RPC_Notification note;
  note.method = "login";
  EXPECT_EQ(R"({"jsonrpc":"2.0","method":"login"})", json_spirit::JSON_Dump(devhost::to_json(note), false));
}

TEST(Channel, SendErrorSendsOneErrorReply)
{
  Recording_Channel chn;
  EXPECT_EQ(0, chn.send_error(-32603, Value(3), "Failed", Value::null));
  ASSERT_EQ(1u, chn.sent().size());
  EXPECT_EQ(R"({"error":{"code":-32603,"message":"Failed"},"id":3,"jsonrpc":"2.0"})", chn.sent()[0]);
}

// Holds every call until `expected` calls are inside handle_object_i at once:
// the test passes only if the pool really runs them in parallel.  A pool
// that runs fewer at once would hold them for ever, so the wait has a
// deadline, after which the calls go on and `timed_out_` tells the test.
class Barrier_Handler : public JSON_RPC_Thread_Handler
{
public:
  explicit Barrier_Handler(int expected) : expected_(expected) {}

  int handle_object_i(JSON_RPC_Channel_var channel, JSON_RPC_Object_var obj) override
  {
    {
      std::unique_lock<std::mutex> guard(lock_);
      ++inside_;
      all_in_.notify_all();
      if (!all_in_.wait_for(guard, std::chrono::seconds(60), [this]() { return inside_ >= expected_; }))
        ++timed_out_;
    }
    if (channel.get() == nullptr)
    {
      ++gone_;
      return -1;
    }
    const JSON_RPC_Request* req = static_cast<const JSON_RPC_Request*>(obj.get());
    return channel->send_error(1, req->id, "seen", Value::null);
  }

  std::atomic<int> gone_{0};
  std::atomic<int> timed_out_{0};

private:
  std::mutex lock_;
  std::condition_variable all_in_;
  int inside_ = 0;
  const int expected_;
};

TEST(ThreadHandler, RunsRequestsOnSeveralThreadsAtOnce)
{
  const int N = 4;
  Barrier_Handler handler(N);
  char threads[] = "4";
  char* argv[] = {threads};
  ASSERT_EQ(0, handler.init(1, argv));
  JSON_RPC_Channel_var chn(new Recording_Channel);
  JSON_RPC_Channel_wvar weak(chn);
  for (int i = 0; i < N; ++i)
    EXPECT_EQ(0, handler.handle(weak, make_request(i)));
  // fini drains the queue; each call waits for the others with a deadline.
  EXPECT_EQ(0, handler.fini());
  EXPECT_EQ(0, handler.timed_out_.load()) << "fewer than " << N << " calls ran at once";
  EXPECT_EQ(static_cast<std::size_t>(N), static_cast<Recording_Channel*>(chn.get())->sent().size());
}

TEST(ThreadHandler, AGoneRequesterGivesANullChannel)
{
  Barrier_Handler handler(1);
  JSON_RPC_Channel_wvar weak;
  {
    JSON_RPC_Channel_var chn(new Recording_Channel);
    weak = chn;
  }
  EXPECT_EQ(-1, handler.handle(weak, make_request(1)));  // not init'ed: runs on this thread
  EXPECT_EQ(1, handler.gone_.load());
}

class Throwing_Handler : public JSON_RPC_Thread_Handler
{
public:
  int handle_object_i(JSON_RPC_Channel_var, JSON_RPC_Object_var) override { throw std::bad_alloc(); }
};

TEST(ThreadHandler, AnEscapingExceptionIsLoggedAndAnsweredWithInternalError)
{
  test_support::Log_Capture log;
  Throwing_Handler handler;
  JSON_RPC_Channel_var chn(new Recording_Channel);
  EXPECT_EQ(-1, handler.handle(JSON_RPC_Channel_wvar(chn), make_request(9)));
  std::vector<std::string> sent = static_cast<Recording_Channel*>(chn.get())->sent();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(R"({"error":{"code":-32603,"message":"Internal error"},"id":9,"jsonrpc":"2.0"})", sent[0]);
  ASSERT_EQ(1u, log.records().size());
  EXPECT_NE(std::string::npos, log.text().find("std::bad_alloc"));
}

TEST(ThreadHandler, RejectsABadThreadCount)
{
  for (const char* count : {"0", "-1", "4x", "", " ", "99999999999999999999"})
  {
    test_support::Log_Capture log;
    Throwing_Handler handler;
    std::string text(count);
    char* argv[] = {&text[0]};
    EXPECT_EQ(-1, handler.init(1, argv)) << '"' << count << '"';
    EXPECT_EQ(1u, log.records().size()) << '"' << count << '"';
  }
}

}  // namespace
