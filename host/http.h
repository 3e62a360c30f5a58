#ifndef HOST_HTTP_H
#define HOST_HTTP_H

#include <string>
#include <utility>
#include <vector>

#include <ace/Basic_Types.h>

#include "host/host_export.h"

struct iovec;

/// HTTP method codes.
enum
{
  HTTP_METHOD_NONE = 0,
  HTTP_METHOD_OPTIONS = 1,
  HTTP_METHOD_HEAD = 2,
  HTTP_METHOD_GET = 3,
  HTTP_METHOD_POST = 4,
  HTTP_METHOD_PUT = 5,
  HTTP_METHOD_DELETE = 6,
  HTTP_METHOD_TRACE = 7,
  HTTP_METHOD_CONNECT = 8,
  HTTP_METHOD_PATCH = 9
};

/// Well-known header identifiers.
enum
{
  HTTP_HEAD_ACCEPT = 0,
  HTTP_HEAD_ACCEPT_CHARSET = 1,
  HTTP_HEAD_ACCEPT_ENCODING = 2,
  HTTP_HEAD_ACCEPT_LANGUAGE = 3,
  HTTP_HEAD_ACCEPT_RANGES = 4,
  HTTP_HEAD_AGE = 5,
  HTTP_HEAD_ALLOW = 6,
  HTTP_HEAD_CACHE_CONTROL = 7,
  HTTP_HEAD_CONNECTION = 8,
  HTTP_HEAD_CONTENT_DISPOSITION = 9,
  HTTP_HEAD_CONTENT_ENCODING = 10,
  HTTP_HEAD_CONTENT_LANGUAGE = 11,
  HTTP_HEAD_CONTENT_LENGTH = 12,
  HTTP_HEAD_CONTENT_LOCATION = 13,
  HTTP_HEAD_CONTENT_MD5 = 14,
  HTTP_HEAD_CONTENT_RANGE = 15,
  HTTP_HEAD_CONTENT_TYPE = 16,
  HTTP_HEAD_COOKIE = 17,
  HTTP_HEAD_DATE = 18,
  HTTP_HEAD_ETAG = 19,
  HTTP_HEAD_EXPECT = 20,
  HTTP_HEAD_EXPIRES = 21,
  HTTP_HEAD_FROM = 22,
  HTTP_HEAD_HOST = 23,
  HTTP_HEAD_IF_MATCH = 24,
  HTTP_HEAD_IF_MODIFIED_SINCE = 25,
  HTTP_HEAD_IF_NONE_MATCH = 26,
  HTTP_HEAD_IF_RANGE = 27,
  HTTP_HEAD_IF_UNMODIFIED_SINCE = 28,
  HTTP_HEAD_LAST_MODIFIED = 29,
  HTTP_HEAD_LOCATION = 30,
  HTTP_HEAD_MAX_FORWARDS = 31,
  HTTP_HEAD_PRAGMA = 32,
  HTTP_HEAD_PROXY_AUTHENTICATE = 33,
  HTTP_HEAD_PROXY_AUTHORIZATION = 34,
  HTTP_HEAD_RANGE = 35,
  HTTP_HEAD_REFERER = 36,
  HTTP_HEAD_RETRY_AFTER = 37,
  HTTP_HEAD_SERVER = 38,
  HTTP_HEAD_SET_COOKIE = 39,
  HTTP_HEAD_TE = 40,
  HTTP_HEAD_TRANSFER_ENCODING = 41,
  HTTP_HEAD_UPGRADE = 42,
  HTTP_HEAD_USER_AGENT = 43,
  HTTP_HEAD_VARY = 44,
  HTTP_HEAD_VIA = 45,
  HTTP_HEAD_WARNING = 46,
  HTTP_HEAD_WWW_AUTHENTICATE = 47,
  HTTP_HEAD_AUTHORIZATION = 48
};

/// The name of method @a method ("GET", ...), for logs; never null.
HOST_EXPORT const char* http_method_string(int method);
/// The reason phrase of @a status ("OK", "Not Found", ...), for logs; never null.
HOST_EXPORT const char* http_status_string(int status);

/**
 * True when @a value, a list separated by @a sep, has an item equal to
 * @a token, white space around items ignored; whether case counts is the
 * host's choice.
 */
HOST_EXPORT bool http_header_value_match(const char* value, const char* token, char sep);

/**
 * Percent-encodes @a text into @a out (appended) with the `HUT_FLAG_` flag
 * word @a flags of the support library's encoder.  False, @a out untouched,
 * for a null or empty @a text.
 */
HOST_EXPORT bool http_encode_string(const char* text, unsigned long flags, std::string& out);

/**
 * The header collection of one HTTP message.  A header appears at most
 * once; putting one that is there replaces it, and putting a null value
 * removes it.  The last argument of `get` and `put` is given true (what
 * false means, and whether names compare case-insensitively, are the
 * host's).  Not thread-safe.
 */
class HOST_EXPORT HTTP_Headers
{
public:
  HTTP_Headers();
  ~HTTP_Headers();

  /// The value of well-known header @a id, or null when absent.
  const char* get(int id, bool ignore_case) const;
  /// Sets (replaces) header @a name; a null @a value removes it.
  void put(const char* name, const char* value, bool ignore_case);
  /// Sets (replaces) well-known header @a id; a null @a value removes it.
  void put(int id, const char* value, bool ignore_case);

private:
  // Each host's own access to the list; no part of the interface.
  friend struct HTTP_Headers_Access;

  /// The headers in the order they were first put.
  std::vector<std::pair<std::string, std::string>> list_;
};

/**
 * Base of the host's CGI messages: a header collection and the message's
 * typed header accessors (overridden by HTTP messages).
 */
class HOST_EXPORT CGI_Base
{
public:
  CGI_Base();
  virtual ~CGI_Base();

  virtual ACE_UINT64 content_length() const;
  virtual void content_length(ACE_UINT64 val);
  virtual const char* content_type() const;
  virtual void content_type(const char* val);
  /// The number of buffers `to_iovec` fills.
  virtual int iovec_count() const;
  /// Fills up to @a n buffers with the message head; the number filled.
  virtual int to_iovec(iovec* iov, int n) const;

  HTTP_Headers& headers() { return headers_; }
  const HTTP_Headers& headers() const { return headers_; }

protected:
  HTTP_Headers headers_;
};

/// A CGI response: status and headers.
class HOST_EXPORT CGI_Response : public CGI_Base
{
public:
  /// @a status_class is the message's CGI revision; the host passes 1.
  explicit CGI_Response(unsigned status_class);
  ~CGI_Response() override;

  /// The HTTP status; 0 until a reply has been received.
  int status() const { return status_; }

private:
  // Each host's own way to set the status; no part of the interface.
  friend struct CGI_Response_Access;

  /// The message's CGI revision, as given to the constructor; kept, and
  /// given no meaning here.
  [[maybe_unused]] unsigned status_class_;
  int status_;
};

/**
 * An outgoing HTTP request: method code, path, query string (without "?")
 * and headers.
 */
class HOST_EXPORT HTTP_Request : public CGI_Base
{
public:
  /// @a path is copied.  Given false, @a encode_path has the path sent as
  /// given; what true does is the host's.
  HTTP_Request(int method, const char* path, bool encode_path);
  ~HTTP_Request() override;

  virtual int method() const;
  virtual const char* path() const;
  /// The query string without "?"; "" when there is none, never null.
  virtual const char* query_string() const;

  /// The query text; callers append to it.
  std::string& query_string_buffer() { return query_; }

private:
  // Each host's own access to the path's encoding flag; no part of the
  // interface.
  friend struct HTTP_Request_Access;

  int method_;
  std::string path_;
  std::string query_;
  bool encode_path_;
};

#endif /* HOST_HTTP_H */
