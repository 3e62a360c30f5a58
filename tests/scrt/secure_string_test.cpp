// secure_string wipes each heap block before the block goes back to the
// heap.  The test program replaces secure_memset and operator delete to see
// the order of the two and the state of each block at the moment it is freed.

#include "scrt/secure_string.h"

#include "host/json_spirit_value.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace
{
struct Block_Event
{
  const void* p;
  std::size_t n;
};

bool recording = false;
std::vector<Block_Event> wipes;
std::vector<const void*> frees;
// Freed blocks that secure_memset had wiped, and whether each was still all
// zero when freed.
std::vector<bool> freed_wiped_block_was_zero;
std::size_t allocations = 0;
}  // namespace

void* secure_memset(void* p, int value, std::size_t count)
{
  if (recording)
    wipes.push_back(Block_Event{p, count});
  volatile unsigned char* bytes = static_cast<volatile unsigned char*>(p);
  for (std::size_t i = 0; i < count; ++i)
    bytes[i] = static_cast<unsigned char>(value);
  return p;
}

// Every form the test program may call is replaced, so that no block from
// the C++ runtime's (or a sanitizer's) operator new reaches free() below.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
  if (recording)
    ++allocations;
  return std::malloc(n == 0 ? 1 : n);
}

void* operator new(std::size_t n)
{
  if (recording)
    ++allocations;
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr)
    throw std::bad_alloc();
  return p;
}

namespace
{
void release(void* p) noexcept
{
  if (recording && p != nullptr)
  {
    frees.push_back(p);
    for (const Block_Event& w : wipes)
    {
      if (w.p != p)
        continue;
      const unsigned char* bytes = static_cast<const unsigned char*>(p);
      bool zero = true;
      for (std::size_t i = 0; i < w.n; ++i)
        zero = zero && bytes[i] == 0;
      freed_wiped_block_was_zero.push_back(zero);
    }
  }
  std::free(p);
}

}  // namespace

void operator delete(void* p) noexcept
{
  release(p);
}

void operator delete(void* p, std::size_t) noexcept
{
  release(p);
}

namespace
{
const char LONG_SECRET[] = "0123456789abcdef-a-secret-longer-than-the-inline-buffer";

class Recording
{
public:
  Recording()
  {
    wipes.clear();
    frees.clear();
    freed_wiped_block_was_zero.clear();
    // Room reserved up front: the hooks' own bookkeeping must not allocate
    // or free while they record.
    wipes.reserve(64);
    frees.reserve(64);
    freed_wiped_block_was_zero.reserve(64);
    allocations = 0;
    recording = true;
  }
  ~Recording() { stop(); }
  /// Ends recording, before checks that allocate (a later block may reuse
  /// a recorded address).
  void stop() { recording = false; }
};

TEST(SecureString, DestroyingAHeapStringWipesTheWholeBlockBeforeFreeingIt)
{
  secure_string* s = new secure_string(LONG_SECRET);
  const void* block = s->data();
  std::size_t capacity = s->capacity();
  Recording r;
  delete s;
  ASSERT_EQ(1u, wipes.size());
  EXPECT_EQ(block, wipes[0].p);
  EXPECT_EQ(capacity + 1, wipes[0].n) << "the terminator slot is wiped too";
  ASSERT_EQ(2u, frees.size());  // the text's block, then the string object
  EXPECT_EQ(block, frees[0]);
  EXPECT_EQ(std::vector<bool>{true}, freed_wiped_block_was_zero);
}

TEST(SecureString, InlineStringsFreeAndWipeNothing)
{
  Recording r;
  {
    secure_string s("fifteen chars!!");
    ASSERT_EQ(15u, s.size());
  }
  EXPECT_TRUE(wipes.empty());
  EXPECT_TRUE(frees.empty());
  EXPECT_EQ(0u, allocations);
}

TEST(SecureString, AShortenedStringKeepsAndLaterWipesItsBlock)
{
  Recording r;
  {
    secure_string s(LONG_SECRET);
    const void* block = s.data();
    s = "short";  // shorter value: no allocation, no wipe
    EXPECT_EQ(1u, allocations);
    EXPECT_TRUE(wipes.empty());
    EXPECT_EQ(block, static_cast<const void*>(s.data()));
  }
  ASSERT_EQ(1u, wipes.size());
  EXPECT_EQ(std::vector<bool>{true}, freed_wiped_block_was_zero);
}

TEST(SecureString, GrowthWipesTheOldBlockOnceAfterTheCopy)
{
  secure_string s(LONG_SECRET);
  const void* old_block = s.data();
  Recording r;
  s.append(200, 'x');
  r.stop();
  ASSERT_EQ(1u, wipes.size());
  EXPECT_EQ(old_block, wipes[0].p);
  EXPECT_EQ(std::string(LONG_SECRET) + std::string(200, 'x'), std::string(s.c_str()));
  EXPECT_EQ(std::vector<bool>{true}, freed_wiped_block_was_zero);
}

TEST(SecureString, CopyAssignmentOfALongerValueWipesTheTargetsOldBlock)
{
  secure_string target("0123456789abcdefg");
  secure_string source(LONG_SECRET);
  const void* old_block = target.data();
  Recording r;
  target = source;
  r.stop();
  ASSERT_EQ(1u, wipes.size());
  EXPECT_EQ(old_block, wipes[0].p);
  EXPECT_EQ(std::string(LONG_SECRET), std::string(target.c_str()));
}

TEST(SecureString, MovingHandsTheBlockOverWithoutWipingOrFreeing)
{
  secure_string* from = new secure_string(LONG_SECRET);
  const void* block = from->data();
  Recording r;
  secure_string to(std::move(*from));
  EXPECT_EQ(block, static_cast<const void*>(to.data()));
  EXPECT_TRUE(wipes.empty());
  delete from;  // the moved-from string owns no block any more
  EXPECT_TRUE(wipes.empty());
  EXPECT_EQ(1u, frees.size());  // only the string object itself
}

TEST(SecureString, ReboundAllocatorStillWipes)
{
  typedef std::allocator_traits<secure_allocator<char>>::rebind_alloc<unsigned char> rebound;
  static_assert(std::is_same<rebound, secure_allocator<unsigned char>>::value, "rebind keeps wiping");
  typedef std::basic_string<unsigned char, std::char_traits<unsigned char>, rebound> ustring;
  Recording r;
  {
    ustring key(64, static_cast<unsigned char>(0xab));
  }
  ASSERT_EQ(1u, wipes.size());
  EXPECT_EQ(std::vector<bool>{true}, freed_wiped_block_was_zero);
}

TEST(SecureString, AllocatorsAreInterchangeable)
{
  // Stateless: any instance frees what another allocated.
  EXPECT_TRUE(secure_allocator<char>() == secure_allocator<unsigned char>());
  EXPECT_FALSE(secure_allocator<char>() != secure_allocator<char>());
}

// secure_wipe zeroes the whole capacity, inline buffer or heap block, keeps
// the storage, and leaves the string empty.
TEST(SecureString, WipeZeroesEveryCharacterUpToTheCapacity)
{
  const char* texts[] = {"x", "fifteen chars!!", LONG_SECRET};
  for (const char* text : texts)
  {
    secure_string s(text);
    s.resize(1);  // the old characters stay past the new length
    const char* storage = s.data();
    const std::size_t capacity = s.capacity();
    Recording r;
    secure_wipe(s);
    r.stop();
    ASSERT_EQ(1u, wipes.size()) << text;
    EXPECT_EQ(static_cast<const void*>(storage), wipes[0].p) << text;
    EXPECT_EQ(capacity, wipes[0].n) << text;
    EXPECT_EQ(0u, allocations) << text;
    EXPECT_EQ(storage, s.data()) << text;
    EXPECT_TRUE(s.empty());
    for (std::size_t i = 0; i <= capacity; ++i)
      ASSERT_EQ('\0', storage[i]) << text << " at " << i;
  }
}

// A JSON value holding a short secret wipes the string's inline buffer when
// it goes and when it is moved from.
TEST(SecureString, AJsonValueWipesAShortSecret)
{
  const std::string secret = "fifteen chars!!";
  auto holds = [&](const unsigned char* bytes, std::size_t n)
  { return std::search(bytes, bytes + n, secret.begin() + 1, secret.end()) != bytes + n; };
  alignas(json_spirit::Value) unsigned char a[sizeof(json_spirit::Value)];
  alignas(json_spirit::Value) unsigned char b[sizeof(json_spirit::Value)];
  json_spirit::Value* first = new (a) json_spirit::Value(secure_string(secret.c_str()));
  ASSERT_TRUE(holds(a, sizeof a)) << "inline, so the scan can see it";
  json_spirit::Value* second = new (b) json_spirit::Value(std::move(*first));
  EXPECT_EQ(secret, second->get_secure_str().c_str());
  EXPECT_FALSE(holds(a, sizeof a)) << "moved from";
  *first = *second;
  second->~Value();
  EXPECT_FALSE(holds(b, sizeof b)) << "destroyed";
  *first = json_spirit::Value(7);
  EXPECT_FALSE(holds(a, sizeof a)) << "overwritten";
  first->~Value();
}

TEST(SecureString, AGuardWipesItsStringOnEveryWayOut)
{
  secure_string normal("short secret");
  {
    Secure_Wipe_Guard guard(normal);
  }
  EXPECT_TRUE(normal.empty());
  secure_string thrown(LONG_SECRET);
  try
  {
    Secure_Wipe_Guard guard(thrown);
    throw std::runtime_error("leaving by an exception");
  }
  catch (const std::runtime_error&)
  {
  }
  EXPECT_TRUE(thrown.empty());
}
}  // namespace
