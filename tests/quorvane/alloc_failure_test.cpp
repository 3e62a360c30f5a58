// Memory exhaustion at every allocation of a login.  This program replaces
// operator new (both forms) so that the Nth allocation on the arming thread
// fails; each test runs its operation for N = 1, 2, ... until it completes
// without a failure, and checks every run's outcome against the documented
// ones.  operator delete also looks into every block it frees for the plain
// secret key: a secret must never be freed unwiped.  Leaks are left to the
// sanitizer build, which runs this program too.

#include <malloc.h>

// With the replacement operators in view, GCC pairs ACE's nothrow
// new/delete wrongly and warns about a mismatch that is not there.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/instance_handler.h"
#include "host/json_spirit_utils.h"
#include "quorvane/core/quorvane_client.h"
#include "scrt/smart_ptr_macros.h"
#include "tests/support/canned_server.h"
#include "tests/support/log_capture.h"
#include "tests/support/login_fixture.h"

namespace
{
const char SECRET[] = "alloc-failure-test-secret-key-0123456789";

// Per-thread: only the thread that arms the failure sees it, so a server
// thread of the test keeps allocating normally.
thread_local long fail_at = 0;
thread_local long allocations = 0;
bool scan_freed_blocks = false;
long unwiped_secrets = 0;

bool should_fail()
{
  return fail_at > 0 && ++allocations == fail_at;
}

void* allocate(std::size_t n)
{
  return std::malloc(n == 0 ? 1 : n);
}

void release(void* p) noexcept
{
  if (p != nullptr && scan_freed_blocks &&
      memmem(p, malloc_usable_size(p), SECRET, sizeof SECRET - 1) != nullptr)
    ++unwiped_secrets;
  std::free(p);
}
}  // namespace

void* operator new(std::size_t n)
{
  void* p = should_fail() ? nullptr : allocate(n);
  if (p == nullptr)
    throw std::bad_alloc();
  return p;
}

void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
  return should_fail() ? nullptr : allocate(n);
}

void operator delete(void* p) noexcept
{
  release(p);
}

void operator delete(void* p, std::size_t) noexcept
{
  release(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept
{
  release(p);
}

extern "C" Instance_Handler* _make_Quorvane_Instance_Handler(Instance_Handler_Exterminator*);

namespace
{
using json_spirit::Value;
using test_support::Login_Module_Fixture;
using test_support::Recording_Channel;

/// Arms the failure of the Nth allocation on this thread for its lifetime.
class Failing_Allocation
{
public:
  explicit Failing_Allocation(long n)
  {
    allocations = 0;
    fail_at = n;
  }
  ~Failing_Allocation() { fail_at = 0; }
  /// True when the armed allocation was reached (and failed).
  bool triggered() const { return allocations >= fail_at; }
};

const long MAX_RUNS = 20000;

TEST(AllocFailure, InstanceFactory)
{
  typedef Instance_Handler* (*Factory)(Instance_Handler_Exterminator*);
  Factory make = _make_Quorvane_Instance_Handler;
  for (long n = 1; n < MAX_RUNS; ++n)
  {
    Instance_Handler_Exterminator dispose = nullptr;
    Instance_Handler* h = nullptr;
    bool triggered = false;
    errno = 0;
    {
      Failing_Allocation fail(n);
      h = make(&dispose);
      triggered = fail.triggered();
    }
    ASSERT_NE(nullptr, dispose) << "the disposer is written before allocating";
    if (h == nullptr)
    {
      EXPECT_EQ(ENOMEM, errno);
      continue;
    }
    instances_type instances;
    EXPECT_EQ(0, h->probe_instances(instances));
    dispose(h);
    if (!triggered)
      return;
  }
  FAIL() << "the factory never completed";
}

TEST(AllocFailure, MakeSharedNothrowGivesAnEmptyPointerNeverAnException)
{
  quorvane::Auth_Info info;
  info.host = "127.0.0.1";
  info.secret_key = SECRET;
  for (long n = 1; n < MAX_RUNS; ++n)
  {
    std::shared_ptr<quorvane::Quorvane_Client> client;
    bool triggered = false;
    {
      Failing_Allocation fail(n);
      EXPECT_NO_THROW(client = make_shared_nothrow<quorvane::Quorvane_Client>(info)) << "allocation " << n;
      triggered = fail.triggered();
    }
    EXPECT_EQ(SECRET, std::string(info.secret_key.c_str())) << "the caller's record is untouched";
    if (!triggered)
    {
      EXPECT_TRUE(client != nullptr);
      return;
    }
    EXPECT_TRUE(client == nullptr) << "allocation " << n;
  }
  FAIL() << "the client was never created";
}

// A whole login against a service that answers with success.  Every run
// ends in one of the documented ways: the success reply, one of the
// documented error replies, no reply when the reply itself could not be
// allocated, or std::bad_alloc reaching the host's handler base (the
// caller here) with no reply sent.
TEST(AllocFailure, EveryAllocationOfALogin)
{
  test_support::Canned_Server server(200, R"({"result_code": 10000, "data": {"aboutus_version": "4.2.0"}})");
  Login_Module_Fixture module;
  const std::string params = R"({"host": "127.0.0.1", "port": )" + std::to_string(server.port()) +
                             R"(, "access_key": "AK", "secret_key": ")" + module.key().encrypt(SECRET) + "\"}";
  const std::string success =
      R"({"id":1,"jsonrpc":"2.0","result":{"code":0,"message":"Success to login","version":"4.2.0"}})";
  const std::set<std::string> documented = {
      success,
      R"({"error":{"code":-32602,"message":"Invalid params"},"id":1,"jsonrpc":"2.0"})",
      R"({"error":{"code":-32600,"message":"Failed to init Quorvane client."},"id":1,"jsonrpc":"2.0"})",
      R"({"error":{"code":-32603,"message":"Failed to login Quorvane."},"id":1,"jsonrpc":"2.0"})",
      R"({"error":{"code":-32603,"message":"Internal error, out of memory."},"id":1,"jsonrpc":"2.0"})",
  };
  std::map<std::string, int> outcomes;
  test_support::Log_Capture log;
  scan_freed_blocks = true;
  unwiped_secrets = 0;
  long n = 1;
  for (; n < MAX_RUNS; ++n)
  {
    JSON_RPC_Channel_var chn(new Recording_Channel);
    JSON_RPC_Object_var req = Login_Module_Fixture::request(Value(1), params);
    bool triggered = false;
    bool escaped = false;
    int result = 0;
    {
      Failing_Allocation fail(n);
      try
      {
        result = module.handler().handle_object_i(chn, req);
      }
      catch (const std::bad_alloc&)
      {
        escaped = true;
      }
      triggered = fail.triggered();
    }
    std::vector<std::string> replies = static_cast<Recording_Channel*>(chn.get())->replies();
    ASSERT_LE(replies.size(), 1u) << "allocation " << n;
    if (escaped)
    {
      EXPECT_TRUE(replies.empty()) << "allocation " << n;
      ++outcomes["std::bad_alloc to the handler base"];
    }
    else if (replies.empty())
    {
      EXPECT_EQ(-1, result) << "allocation " << n;
      ++outcomes["no reply: the reply could not be allocated"];
    }
    else
    {
      EXPECT_EQ(1u, documented.count(replies[0])) << "allocation " << n << ": " << replies[0];
      ++outcomes[replies[0]];
    }
    if (!triggered)
    {
      ASSERT_EQ(1u, replies.size());
      EXPECT_EQ(success, replies[0]) << "with no failure the login succeeds";
      break;
    }
  }
  scan_freed_blocks = false;
  ASSERT_LT(n, MAX_RUNS) << "the login never completed";
  EXPECT_EQ(0, unwiped_secrets) << "blocks holding the plain secret were freed unwiped";
  EXPECT_EQ(std::string::npos, log.text().find(SECRET));
  // The sweep reaches the documented out-of-memory answers, not only one.
  EXPECT_GT(outcomes[R"({"error":{"code":-32600,"message":"Failed to init Quorvane client."},"id":1,"jsonrpc":"2.0"})"], 0);
  EXPECT_GT(outcomes[R"({"error":{"code":-32603,"message":"Internal error, out of memory."},"id":1,"jsonrpc":"2.0"})"], 0);
  for (const auto& o : outcomes)
    std::printf("%6d  %s\n", o.second, o.first.c_str());
  std::printf("%ld allocations in a login\n", n - 1);
}

}  // namespace
