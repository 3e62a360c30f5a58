#ifndef DEVHOST_JSON_READER_H
#define DEVHOST_JSON_READER_H

#include <string>

#include "host/json_spirit_value.h"

namespace json_spirit
{
/**
 * Parses @a text, which must be exactly one JSON value (white space around
 * it allowed).  True and @a out set on success; false and @a out null when
 * the text is not JSON.  Integers that fit a signed 64-bit integer become
 * `int_type`, other numbers `real_type`.  Nesting deeper than 512 levels is
 * refused, so hostile input cannot exhaust the stack.
 */
bool read(const std::string& text, Value& out);

/// As `read`, for a byte range.
bool read(const char* begin, const char* end, Value& out);
}  // namespace json_spirit

#endif /* DEVHOST_JSON_READER_H */
