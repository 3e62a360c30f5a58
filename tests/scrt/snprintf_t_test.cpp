#include "scrt/snprintf_t.h"

#include <dlfcn.h>

#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include <gtest/gtest.h>

namespace
{
// This program's own realloc stands in front of the C library's (and of a
// sanitizer's), so that ACE_OS::realloc can be made to fail on demand.
int realloc_calls = 0;
void* realloc_last_block = nullptr;
int realloc_failures = 0;                        // fail this many upcoming calls
size_t realloc_limit = static_cast<size_t>(-1);  // fail every call above this size

/// Makes the next @a failures calls of realloc (or all above @a limit bytes)
/// fail while it lives.
struct Realloc_Failure
{
  explicit Realloc_Failure(int failures, size_t limit = static_cast<size_t>(-1))
  {
    realloc_failures = failures;
    realloc_limit = limit;
  }
  ~Realloc_Failure()
  {
    realloc_failures = 0;
    realloc_limit = static_cast<size_t>(-1);
  }
};
}  // namespace

extern "C" void* realloc(void* block, size_t size)
{
  typedef void* (*Realloc)(void*, size_t);
  static const Realloc next = reinterpret_cast<Realloc>(dlsym(RTLD_NEXT, "realloc"));
  ++realloc_calls;
  realloc_last_block = block;
  if (realloc_failures > 0 || size > realloc_limit)
  {
    if (realloc_failures > 0)
      --realloc_failures;
    return nullptr;
  }
  return next(block, size);
}

namespace
{
const void* free_watched = nullptr;  // the block whose release is counted
int free_watched_calls = 0;
}  // namespace

// free stands in front too, to see a formatter give its block back.  A call
// made while dlsym resolves the C library's free is dropped (dlsym frees
// nothing of ours).
extern "C" void free(void* block)
{
  typedef void (*Free)(void*);
  static Free next = nullptr;
  static bool resolving = false;
  if (next == nullptr)
  {
    if (resolving)
      return;
    resolving = true;
    next = reinterpret_cast<Free>(dlsym(RTLD_NEXT, "free"));
    resolving = false;
  }
  if (block != nullptr && block == free_watched)
    ++free_watched_calls;
  next(block);
}

namespace
{
/// Shows the heap buffer that a formatter keeps to itself.
struct Probe : snprintf_t<128>
{
  const char* heap() const { return ptr_; }
  size_t heap_size() const { return size_; }
};

bool is_inline(const snprintf_t<128>& f)
{
  const char* object = reinterpret_cast<const char*>(&f);
  return f.c_str() >= object && f.c_str() < object + sizeof f;
}

/// A text of @a len characters ending in "_7", formatted from two arguments
/// so that a retry must read the arguments again from the start.
int set_text(Probe& p, size_t len)
{
  return p.set("%s_%d", std::string(len - 2, 'x').c_str(), 7);
}

std::string text(size_t len)
{
  return std::string(len - 2, 'x') + "_7";
}

#define EXPECT_CAPACITY(len, expected_size, expected_reallocs)                \
  do                                                                          \
  {                                                                           \
    Probe p;                                                                  \
    const int calls = realloc_calls;                                          \
    EXPECT_EQ(set_text(p, len), len);                                         \
    EXPECT_EQ(p.length(), len);                                               \
    EXPECT_EQ(p.c_str(), text(len));                                          \
    EXPECT_EQ(p.heap_size(), size_t(expected_size)) << "text of " << len;     \
    EXPECT_EQ(p.heap() == nullptr, expected_size == 0) << "text of " << len;  \
    EXPECT_EQ(realloc_calls - calls, expected_reallocs) << "text of " << len; \
  } while (0)

// Expected capacities: the growth rule for N = 128 (the inline buffer up to
// 127 characters, then length + 1, doubled first when the length is N + 1).
TEST(Snprintf_T, CapacityFollowsTheGrowthRule)
{
  EXPECT_CAPACITY(2, 0, 0);
  EXPECT_CAPACITY(127, 0, 0);
  EXPECT_CAPACITY(128, 129, 1);
  EXPECT_CAPACITY(129, 259, 1);
  EXPECT_CAPACITY(130, 131, 1);
  EXPECT_CAPACITY(5000, 5001, 1);
}

TEST(Snprintf_T, ConstructorFormats)
{
  const snprintf_t<128> inline_text("%s_%s_%s_%s", "1700000000000", "AK", "/fcc/v1/settings", "");
  EXPECT_STREQ(inline_text.c_str(), "1700000000000_AK_/fcc/v1/settings_");
  EXPECT_EQ(inline_text.length(), 34);
  EXPECT_TRUE(is_inline(inline_text));
  snprintf_t<128> editable("%s", "abc");
  EXPECT_EQ(editable.data(), editable.c_str());

  const snprintf_t<128> long_text("%s", text(128).c_str());
  EXPECT_EQ(long_text.c_str(), text(128));
  EXPECT_FALSE(is_inline(long_text));

  const snprintf_t<128> empty("%s", "");
  EXPECT_EQ(empty.length(), 0);
  EXPECT_STREQ(empty.c_str(), "");
  // Empty whatever the storage held before.  The barrier (and g++'s
  // -flifetime-dse=1, in CMakeLists.txt) keep the compiler from dropping
  // the fill as a store into an object not yet born.
  alignas(snprintf_t<8>) unsigned char storage[sizeof(snprintf_t<8>)];
  std::memset(storage, 'x', sizeof storage);
  asm volatile("" : : "r"(storage) : "memory");
  snprintf_t<8>* fresh = new (storage) snprintf_t<8>;
  EXPECT_STREQ(fresh->c_str(), "");
  EXPECT_EQ(fresh->length(), 0);
  fresh->~snprintf_t();
}

TEST(Snprintf_T, HeapBufferIsKeptAndGrown)
{
  Probe p;
  set_text(p, 129);
  const char* first = p.heap();
  ASSERT_NE(first, nullptr);

  // A shorter text stays in the heap buffer, and a text that exactly fills
  // it needs no allocation.
  int calls = realloc_calls;
  EXPECT_EQ(p.set("%s", "short"), 5);
  EXPECT_EQ(p.c_str(), first);
  EXPECT_EQ(p.data(), first);
  EXPECT_EQ(set_text(p, 258), 258);
  EXPECT_EQ(p.heap_size(), 259U);
  EXPECT_EQ(realloc_calls, calls);

  // One more character grows the existing block to length + 1 (259 is the
  // capacity itself, not capacity + 1, so no doubling).
  EXPECT_EQ(set_text(p, 259), 259);
  EXPECT_EQ(realloc_calls, calls + 1);
  EXPECT_EQ(realloc_last_block, first);
  EXPECT_EQ(p.heap_size(), 260U);
  EXPECT_EQ(p.c_str(), text(259));

  // Capacity + 1 on a heap buffer doubles as well: 261 -> 523.
  EXPECT_EQ(set_text(p, 261), 261);
  EXPECT_EQ(p.heap_size(), 523U);

}

TEST(Snprintf_T, DestructorGivesTheHeapBufferBack)
{
  {
    Probe p;
    set_text(p, 300);
    free_watched = p.heap();
  }
  EXPECT_EQ(free_watched_calls, 1);
  free_watched = nullptr;
}

TEST(Snprintf_T, FailedAllocationKeepsTheTruncatedText)
{
  {
    Realloc_Failure failure(1);
    const snprintf_t<128> f("%s", text(200).c_str());
    EXPECT_EQ(f.length(), 0);
    EXPECT_TRUE(is_inline(f));
    EXPECT_EQ(f.c_str(), text(200).substr(0, 127));
  }
  Probe p;
  set_text(p, 129);
  const char* heap = p.heap();
  {
    Realloc_Failure failure(1);
    EXPECT_EQ(set_text(p, 400), -1);
  }
  EXPECT_EQ(p.length(), 0);
  EXPECT_EQ(p.c_str(), heap);
  EXPECT_EQ(p.heap_size(), 259U);
  EXPECT_EQ(p.c_str(), text(400).substr(0, 258));
  // The old block is still owned and usable.
  EXPECT_EQ(p.set("%s", "ok"), 2);
  EXPECT_STREQ(heap, "ok");
}

TEST(Snprintf_T, EncodingErrorEndsAsAFailedAllocation)
{
  // ACE reports the C library's -1 as capacity + 1, so a text that cannot
  // be formatted looks like one that keeps growing; it must end in failure,
  // not in a negative length or an endless loop.  The limit keeps the test
  // from reserving a gigabyte on the way.
  Realloc_Failure failure(0, 1 << 20);
  Probe p;
  const wchar_t unencodable[] = {0x100, 0};  // no byte form in the "C" locale
  EXPECT_EQ(p.set("%ls", unencodable), -1);
  EXPECT_EQ(p.length(), 0);
  EXPECT_LE(p.heap_size(), size_t(1) << 20);
}

TEST(Snprintf_T, EncodingErrorStopsBeforeTheLengthOverflows)
{
  // Without a failing allocation the guesses double until the next would
  // pass INT_MAX: the last block is about a gigabyte, reserved but hardly
  // touched (the formatter writes a few bytes into it).
  Probe p;
  const wchar_t unencodable[] = {0x100, 0};
  EXPECT_EQ(p.set("%ls", unencodable), -1);
  EXPECT_EQ(p.length(), 0);
  EXPECT_GT(p.heap_size(), size_t(INT_MAX) / 4);
  EXPECT_LT(p.heap_size(), size_t(INT_MAX));
}
}  // namespace
