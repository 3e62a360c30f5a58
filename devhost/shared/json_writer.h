#ifndef DEVHOST_CORE_JSON_WRITER_H
#define DEVHOST_CORE_JSON_WRITER_H

#include <cstddef>
#include <string>

#include "scrt/secure_string.h"

namespace devhost
{
/// Appends @a length bytes at @a data to @a out as a JSON string: quoted,
/// with '"', '\\' and control characters escaped.
void write_json_string(const char* data, std::size_t length, std::string& out);

/**
 * Appends the JSON text of a secure string value to @a out.  Each host
 * decides what it writes (the host declarations leave it open); the
 * development host writes "********", so that no dump carries a secret.
 */
void write_secure_string(const secure_string& s, std::string& out);
}  // namespace devhost

#endif /* DEVHOST_CORE_JSON_WRITER_H */
