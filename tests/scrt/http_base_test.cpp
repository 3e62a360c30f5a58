#include "scrt/http_base.h"

#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include "devhost/harness/http_access.h"

namespace
{
typedef HTTP_Base<CGI_Response> Message;

/// A message with @a connection as its Connection header (none when null)
/// and @a minor as its HTTP minor version.
bool keep_alive(const char* connection, int minor)
{
  Message m;
  m.minor_version(minor);
  m.headers().put(HTTP_HEAD_CONNECTION, connection, true);
  return m.keep_alive();
}

#define EXPECT_KEEP_ALIVE(connection, minor, expected) \
  EXPECT_EQ(keep_alive(connection, minor), expected)   \
      << "Connection " << (connection ? connection : "(none)") << ", HTTP/1." << minor

// Expected values: the persistence rule of RFC 7230 section 6.3, with
// "close" taking precedence when the header lists both tokens.
TEST(Http_Base, KeepAliveFollowsConnectionThenVersion)
{
  EXPECT_KEEP_ALIVE(nullptr, 1, true);
  EXPECT_KEEP_ALIVE(nullptr, 0, false);
  EXPECT_KEEP_ALIVE("close", 1, false);
  EXPECT_KEEP_ALIVE("close", 0, false);
  EXPECT_KEEP_ALIVE("Keep-Alive", 0, true);
  EXPECT_KEEP_ALIVE("Keep-Alive", 1, true);
  EXPECT_KEEP_ALIVE("keep-alive, close", 1, false);
  EXPECT_KEEP_ALIVE("Keep-Alive, Close", 0, false);
  EXPECT_KEEP_ALIVE("Upgrade", 0, false);
  EXPECT_KEEP_ALIVE("Upgrade", 1, true);
  EXPECT_KEEP_ALIVE("closed", 1, true);
  EXPECT_KEEP_ALIVE(" upgrade , keep-alive ", 0, true);
}

TEST(Http_Base, FreshMessageHasVersionDefaults)
{
  const Message m;
  EXPECT_EQ(m.minor_version(), 1);
  EXPECT_TRUE(m.keep_alive());
  EXPECT_EQ(m.content_length(), 0U);
  EXPECT_EQ(m.content_type(), nullptr);
  EXPECT_FALSE(m.chunked_transfer_encoding());
  EXPECT_EQ(m.status(), 0);
}

TEST(Http_Base, SettersWriteTheHeaderTexts)
{
  Message m;
  m.keep_alive(true);
  EXPECT_STREQ(devhost::header_value(m.headers(), "connection", true), "Keep-Alive");
  m.keep_alive(false);
  EXPECT_STREQ(devhost::header_value(m.headers(), "Connection", true), "close");
  EXPECT_FALSE(m.keep_alive());

  m.chunked_transfer_encoding(true);
  EXPECT_STREQ(devhost::header_value(m.headers(), "Transfer-Encoding", true), "chunked");
  EXPECT_TRUE(m.chunked_transfer_encoding());
  m.chunked_transfer_encoding(false);
  EXPECT_EQ(devhost::header_value(m.headers(), "Transfer-Encoding", true), nullptr);

  m.content_type("application/json");
  EXPECT_STREQ(m.content_type(), "application/json");
  m.content_type(nullptr);
  EXPECT_EQ(m.content_type(), nullptr);
}

TEST(Http_Base, ChunkedMeansExactlyChunked)
{
  const char* const values[] = {"chunked", "gzip, chunked", "Chunked", " chunked", ""};
  const bool expected[] = {true, false, false, false, false};
  for (size_t i = 0; i < sizeof values / sizeof values[0]; ++i)
  {
    Message m;
    m.headers().put(HTTP_HEAD_TRANSFER_ENCODING, values[i], true);
    EXPECT_EQ(m.chunked_transfer_encoding(), expected[i]) << '"' << values[i] << '"';
  }
}

TEST(Http_Base, ContentLengthIsDecimalText)
{
  Message m;
  m.content_length(0);
  EXPECT_STREQ(m.headers().get(HTTP_HEAD_CONTENT_LENGTH, true), "0");
  m.content_length(UINT64_MAX);
  EXPECT_STREQ(devhost::header_value(m.headers(), "Content-Length", true), "18446744073709551615");
  EXPECT_EQ(m.content_length(), UINT64_MAX);

  // strtoull in base 10: leading blanks skipped, stops at the first non-digit.
  const char* const texts[] = {"42abc", "  7", "abc", "", "0012"};
  const ACE_UINT64 lengths[] = {42, 7, 0, 0, 12};
  for (size_t i = 0; i < sizeof texts / sizeof texts[0]; ++i)
  {
    m.headers().put(HTTP_HEAD_CONTENT_LENGTH, texts[i], true);
    EXPECT_EQ(m.content_length(), lengths[i]) << '"' << texts[i] << '"';
  }
}

TEST(Http_Base, HostCodeReachesTheAccessorsThroughTheBase)
{
  Message m;
  CGI_Base& base = m;
  base.content_length(123);
  EXPECT_EQ(m.content_length(), 123U);
  m.headers().put("Content-Length", "77", true);
  EXPECT_EQ(base.content_length(), 77U);
  base.content_type("text/plain");
  EXPECT_STREQ(m.content_type(), "text/plain");
}

/// The virtual-table slot that a pointer to a virtual member designates.
template <typename F>
std::ptrdiff_t slot_of(F f)
{
  struct
  {
    std::uintptr_t ptr;
    std::ptrdiff_t adj;
  } rep;
  static_assert(sizeof f == sizeof rep, "Itanium C++ ABI member pointer");
  std::memcpy(&rep, &f, sizeof rep);
#if defined(__arm__) || defined(__aarch64__)
  // The Arm C++ ABI marks virtual members in adj and keeps the offset in ptr.
  return (rep.adj & 1) != 0 ? static_cast<std::ptrdiff_t>(rep.ptr / sizeof(void*)) : -1;
#else
  return (rep.ptr & 1) != 0 ? static_cast<std::ptrdiff_t>((rep.ptr - 1) / sizeof(void*)) : -1;
#endif
}

// The host calls the accessors by slot, so their order is the host's ABI:
// two destructor entries, the base's six operations, then the four of the
// message template.
TEST(Http_Base, VirtualSlotsKeepTheHostOrder)
{
  EXPECT_EQ(slot_of(static_cast<ACE_UINT64 (Message::*)() const>(&Message::content_length)), 2);
  EXPECT_EQ(slot_of(static_cast<void (Message::*)(ACE_UINT64)>(&Message::content_length)), 3);
  EXPECT_EQ(slot_of(static_cast<const char* (Message::*)() const>(&Message::content_type)), 4);
  EXPECT_EQ(slot_of(static_cast<void (Message::*)(const char*)>(&Message::content_type)), 5);
  EXPECT_EQ(slot_of(&Message::iovec_count), 6);
  EXPECT_EQ(slot_of(&Message::to_iovec), 7);
  EXPECT_EQ(slot_of(static_cast<bool (Message::*)() const>(&Message::keep_alive)), 8);
  EXPECT_EQ(slot_of(static_cast<void (Message::*)(bool)>(&Message::keep_alive)), 9);
  EXPECT_EQ(slot_of(static_cast<bool (Message::*)() const>(&Message::chunked_transfer_encoding)), 10);
  EXPECT_EQ(slot_of(static_cast<void (Message::*)(bool)>(&Message::chunked_transfer_encoding)), 11);
  // Non-virtual helpers must not take slots.
  EXPECT_EQ(slot_of(static_cast<int (Message::*)() const>(&Message::minor_version)), -1);
}

// A server may send any case ("content-length"): every accessor finds its
// header, and every setter replaces it, whatever the case of its name.
TEST(Http_Base, AccessorsFindAndReplaceTheirHeaderInAnyCase)
{
  Message m;
  m.headers().put("content-length", "5", true);
  m.headers().put("CONTENT-TYPE", "text/plain", true);
  m.headers().put("connection", "close", true);
  m.headers().put("transfer-encoding", "chunked", true);
  EXPECT_EQ(m.content_length(), 5U);
  EXPECT_STREQ(m.content_type(), "text/plain");
  EXPECT_FALSE(m.keep_alive());
  EXPECT_TRUE(m.chunked_transfer_encoding());

  m.content_length(7);
  m.content_type("application/json");
  m.keep_alive(true);
  m.chunked_transfer_encoding(false);
  EXPECT_EQ(m.content_length(), 7U);
  EXPECT_STREQ(m.content_type(), "application/json");
  EXPECT_TRUE(m.keep_alive());
  EXPECT_FALSE(m.chunked_transfer_encoding());
}
}  // namespace
