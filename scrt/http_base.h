#ifndef SCRT_HTTP_BASE_H
#define SCRT_HTTP_BASE_H

#include <ace/Basic_Types.h>
#include <ace/OS_NS_stdio.h>
#include <ace/OS_NS_stdlib.h>
#include <ace/OS_NS_string.h>

#include "host/http.h"

/**
 * Turns the host's CGI message class T into an HTTP message: records the
 * message's HTTP minor version (1 from construction on) and gives typed
 * accessors for Content-Length, Content-Type, Connection and
 * Transfer-Encoding over T's header collection.  No accessor reports errors:
 * a missing header reads as 0, null, the version's default or false.
 */
template <typename T>
class HTTP_Base : public T
{
public:
  /// An HTTP/1.1 message without headers; T is built with the CGI revision 1.
  HTTP_Base() : T(1U), minor_version_(1) {}
  ~HTTP_Base() override {}

  /// The minor number of the HTTP version: 1 for HTTP/1.1, 0 for HTTP/1.0.
  int minor_version() const { return minor_version_; }
  void minor_version(int val) { minor_version_ = val; }

  /// 0 when absent; otherwise the leading decimal digits of the value.
  ACE_UINT64 content_length() const override
  {
    const char* val = this->headers_.get(HTTP_HEAD_CONTENT_LENGTH, true);
    return val == nullptr ? 0 : ACE_OS::strtoull(val, nullptr, 10);
  }

  /// Stores @a val as decimal text.
  void content_length(ACE_UINT64 val) override
  {
    char buf[32];
    ACE_OS::snprintf(buf, sizeof buf, "%lu", static_cast<unsigned long>(val));
    this->headers_.put(HTTP_HEAD_CONTENT_LENGTH, buf, true);
  }

  /// The value as stored, or null.
  const char* content_type() const override { return this->headers_.get(HTTP_HEAD_CONTENT_TYPE, true); }

  /// Stores @a val unchanged; a null @a val is passed on (the host removes the header).
  void content_type(const char* val) override { this->headers_.put(HTTP_HEAD_CONTENT_TYPE, val, true); }

  /**
   * False when Connection lists "close"; else true when it lists
   * "Keep-Alive"; else whether the message is HTTP/1.1 or later (persistent
   * by default, RFC 7230 section 6.3).
   */
  virtual bool keep_alive() const
  {
    const char* val = this->headers_.get(HTTP_HEAD_CONNECTION, true);
    if (val != nullptr && http_header_value_match(val, "close", ','))
      return false;
    if (val != nullptr && http_header_value_match(val, "Keep-Alive", ','))
      return true;
    return minor_version_ > 0;
  }

  /// Puts Connection "Keep-Alive" for true, "close" for false.
  virtual void keep_alive(bool val)
  {
    this->headers_.put(HTTP_HEAD_CONNECTION, val ? "Keep-Alive" : "close", true);
  }

  /// True exactly when Transfer-Encoding is the whole, case-sensitive "chunked".
  virtual bool chunked_transfer_encoding() const
  {
    const char* val = this->headers_.get(HTTP_HEAD_TRANSFER_ENCODING, true);
    return val != nullptr && ACE_OS::strcmp(val, "chunked") == 0;
  }

  /// True puts "chunked"; false puts a null value (the host removes the header).
  virtual void chunked_transfer_encoding(bool val)
  {
    this->headers_.put(HTTP_HEAD_TRANSFER_ENCODING, val ? "chunked" : nullptr, true);
  }

protected:
  int minor_version_;  ///< 1 for HTTP/1.1, 0 for HTTP/1.0
};

#endif /* SCRT_HTTP_BASE_H */
