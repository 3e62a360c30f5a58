// The parts of the HTTP message types (host/http.h) that the contract fixes:
// construction, the accessors of a request, the body's headers by their
// ids, clearing a header list, and the percent-encoder.  Both hosts compile this file; how a header
// name compares, what a message writes as iovecs and how a status line
// parses are each host's own (its http_types.cpp).
#include "host/http.h"

#include <cstdlib>
#include <iterator>
#include <string>

#include "devhost/harness/http_access.h"
#include "scrt/http_helpers.h"

bool http_encode_string(const char* text, unsigned long flags, std::string& out)
{
  return http_encode_string_i(text, flags, std::back_inserter(out));
}

HTTP_Headers::HTTP_Headers() {}

HTTP_Headers::~HTTP_Headers() {}

const char* HTTP_Headers::get(int id, bool ignore_case) const
{
  return devhost::header_value(*this, devhost::http_header_name(id), ignore_case);
}

void HTTP_Headers::put(int id, const char* value, bool ignore_case)
{
  put(devhost::http_header_name(id), value, ignore_case);
}

void devhost::clear_headers(HTTP_Headers& headers)
{
  // Names are unique, so each put removes the first header.
  while (!devhost_header_list(headers).empty())
  {
    const std::string name = devhost_header_list(headers).front().first;
    headers.put(name.c_str(), nullptr, true);
  }
}

CGI_Base::CGI_Base() {}

CGI_Base::~CGI_Base() {}

ACE_UINT64 CGI_Base::content_length() const
{
  const char* val = headers_.get(HTTP_HEAD_CONTENT_LENGTH, true);
  return val == nullptr ? 0 : std::strtoull(val, nullptr, 10);
}

void CGI_Base::content_length(ACE_UINT64 val)
{
  headers_.put(HTTP_HEAD_CONTENT_LENGTH, std::to_string(val).c_str(), true);
}

const char* CGI_Base::content_type() const
{
  return headers_.get(HTTP_HEAD_CONTENT_TYPE, true);
}

void CGI_Base::content_type(const char* val)
{
  headers_.put(HTTP_HEAD_CONTENT_TYPE, val, true);
}

CGI_Response::CGI_Response(unsigned status_class) : status_class_(status_class), status_(0) {}

CGI_Response::~CGI_Response() {}

HTTP_Request::HTTP_Request(int method, const char* path, bool encode_path)
    : method_(method), path_(path != nullptr ? path : ""), encode_path_(encode_path)
{
}

HTTP_Request::~HTTP_Request() {}

int HTTP_Request::method() const
{
  return method_;
}

const char* HTTP_Request::path() const
{
  return path_.c_str();
}

const char* HTTP_Request::query_string() const
{
  return query_.c_str();
}
