// Memory exhaustion at every allocation of a login.  This program replaces
// operator new (both forms) so that the Nth allocation on the arming thread
// fails; each test runs its operation for N = 1, 2, ... until it completes
// without a failure, and checks every run's outcome against the documented
// ones.  operator delete also looks into every block it frees for the plain
// secret key: a secret must never be freed unwiped, a short one (kept in a
// string object's inline buffer, inside a map node or a make_shared block)
// included.  Leaks are left to the sanitizer build, which runs this program
// too.

#include <malloc.h>

// With the replacement operators in view, GCC pairs ACE's nothrow
// new/delete wrongly and warns about a mismatch that is not there.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

#include <cerrno>
#include <cstdint>
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
// The secrets of the sweeps: one on the heap, and short ones (1, 15 bytes)
// that live in a string's inline buffer, and 16, the first on the heap.
// Bytes above 0x7E make a chance match with other text unlikely.
const std::string SECRETS[] = {"alloc-failure-test-secret-key-0123456789", "\xA7", "\xA7short-secret!\xB5",
                               "\xA7sixteen-bytes!\xB5"};
std::string secret = SECRETS[0];

// Per-thread: only the thread that arms the failure sees it, so a server
// thread of the test keeps allocating normally.
thread_local long fail_at = 0;
thread_local long allocations = 0;
bool scan_freed_blocks = false;
long unwiped_secrets = 0;

// Where a string object keeps its data pointer and its inline buffer,
// learnt from a probe (libstdc++: the pointer first, the buffer at 16).
struct String_Layout
{
  String_Layout()
  {
    const secure_string probe("x");
    const char* object = reinterpret_cast<const char*>(&probe);
    buffer = static_cast<std::size_t>(probe.data() - object);
    // The first match: the inline buffer's unused bytes are whatever the
    // stack held, which may be this very address.
    const std::uintptr_t data = reinterpret_cast<std::uintptr_t>(probe.data());
    for (std::size_t at = 0; at + sizeof data <= sizeof probe && pointer == SIZE_MAX; at += sizeof data)
    {
      std::uintptr_t word;
      std::memcpy(&word, object + at, sizeof word);
      if (word == data)
        pointer = at;
    }
    found = buffer < sizeof probe && pointer < sizeof probe;
  }
  std::size_t pointer = SIZE_MAX;
  std::size_t buffer = SIZE_MAX;
  bool found = false;
};
const String_Layout layout;

// Whether the freed block [p, p + n) holds the secret: its bytes anywhere;
// the bytes after its first, as a string moved from leaves them; or, for a
// short one, a string object whose inline buffer still starts with it.
bool holds_secret(const unsigned char* p, std::size_t n)
{
  const std::size_t length = secret.size();
  if (length >= 8 && memmem(p, n, secret.data(), length) != nullptr)
    return true;
  if (length >= 9 && memmem(p, n, secret.data() + 1, length - 1) != nullptr)
    return true;
  if (!layout.found || length > 15)
    return false;
  for (std::size_t at = 0; at + sizeof(secure_string) <= n; at += alignof(secure_string))
  {
    std::uintptr_t word;
    std::memcpy(&word, p + at + layout.pointer, sizeof word);
    const unsigned char* buffer = p + at + layout.buffer;
    if (word != reinterpret_cast<std::uintptr_t>(buffer))
      continue;
    if (std::memcmp(buffer, secret.data(), length) == 0 ||
        (length >= 2 && std::memcmp(buffer + 1, secret.data() + 1, length - 1) == 0))
      return true;
  }
  return false;
}

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
      holds_secret(static_cast<const unsigned char*>(p), malloc_usable_size(p)))
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

/// Also keeps errno as it was when each reply was sent.
class Errno_Channel : public Recording_Channel
{
public:
  int send(JSON_RPC_Object_var obj) override
  {
    errnos.push_back(errno);
    return Recording_Channel::send(obj);
  }
  std::vector<int> errnos;
};

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
  info.secret_key.assign(secret.data(), secret.size());
  for (long n = 1; n < MAX_RUNS; ++n)
  {
    std::shared_ptr<quorvane::Quorvane_Client> client;
    bool triggered = false;
    {
      Failing_Allocation fail(n);
      EXPECT_NO_THROW(client = make_shared_nothrow<quorvane::Quorvane_Client>(info)) << "allocation " << n;
      triggered = fail.triggered();
    }
    EXPECT_EQ(secret, std::string(info.secret_key.data(), info.secret_key.size()))
        << "the caller's record is untouched";
    if (!triggered)
    {
      EXPECT_TRUE(client != nullptr);
      return;
    }
    EXPECT_TRUE(client == nullptr) << "allocation " << n;
  }
  FAIL() << "the client was never created";
}

// The scan itself: it sees each secret left unwiped in a freed block, a
// short one inside a map node or a make_shared block, whole or moved from.
TEST(AllocFailure, TheScanSeesASecretLeftInAFreedBlock)
{
  ASSERT_TRUE(layout.found) << "the string layout was not recognised";
  for (const std::string& s : SECRETS)
  {
    secret = s;
    unwiped_secrets = 0;
    scan_freed_blocks = true;
    if (s.size() <= 15)
    {
      {
        std::map<int, secure_string> node;
        node[1].assign(s.data(), s.size());
      }
      std::shared_ptr<secure_string> block = std::make_shared<secure_string>(s.data(), s.size());
      if (s.size() >= 2)
        secure_string taken(std::move(*block));
      block.reset();
    }
    else
    {
      delete new std::string(s);
    }
    scan_freed_blocks = false;
    EXPECT_EQ(s.size() <= 15 ? 2 : 1, unwiped_secrets) << s.size() << " bytes";
  }
  secret = SECRETS[0];
}

// A whole login against a service that answers with success.  Every run
// ends in one of the documented ways: the success reply, one of the
// documented error replies, no reply when the reply itself could not be
// allocated, or std::bad_alloc reaching the host's handler base (the
// caller here) with no reply sent.  Run for each secret of SECRETS.
class Login_Sweep : public ::testing::TestWithParam<std::string>
{
};

TEST_P(Login_Sweep, EveryAllocationOfALogin)
{
  secret = GetParam();
  test_support::Canned_Server server(200, R"({"result_code": 10000, "data": {"aboutus_version": "4.2.0"}})");
  Login_Module_Fixture module;
  const std::string params = R"({"host": "127.0.0.1", "port": )" + std::to_string(server.port()) +
                             R"(, "access_key": "AK", "secret_key": ")" + module.key().encrypt(secret) +
                             "\"}";
  const std::string success =
      R"({"id":1,"jsonrpc":"2.0","result":{"code":0,"message":"Success to login","version":"4.2.0"}})";
  const std::string out_of_memory =
      R"({"error":{"code":-32603,"message":"Internal error, out of memory."},"id":1,"jsonrpc":"2.0"})";
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
    Errno_Channel* channel = new Errno_Channel;
    JSON_RPC_Channel_var chn(channel);
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
      if (replies[0] == out_of_memory)
      {
        EXPECT_EQ(ENOMEM, channel->errnos[0]) << "the out-of-memory reply goes with errno ENOMEM";
      }
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
  EXPECT_EQ(std::string::npos, log.text().find(secret));
  // The sweep reaches the documented out-of-memory answers, not only one.
  EXPECT_GT(
      outcomes
          [R"({"error":{"code":-32600,"message":"Failed to init Quorvane client."},"id":1,"jsonrpc":"2.0"})"],
      0);
  EXPECT_GT(
      outcomes
          [R"({"error":{"code":-32603,"message":"Internal error, out of memory."},"id":1,"jsonrpc":"2.0"})"],
      0);
  for (const auto& o : outcomes)
    std::printf("%6d  %s\n", o.second, o.first.c_str());
  std::printf("%ld allocations in a login with a %zu-byte secret\n", n - 1, secret.size());
  secret = SECRETS[0];
}

INSTANTIATE_TEST_SUITE_P(Secrets, Login_Sweep, ::testing::ValuesIn(SECRETS),
                         [](const ::testing::TestParamInfo<std::string>& info)
                         { return "Bytes" + std::to_string(info.param.size()); });

}  // namespace
