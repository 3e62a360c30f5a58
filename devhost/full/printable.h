#ifndef DEVHOST_SERVICES_PRINTABLE_H
#define DEVHOST_SERVICES_PRINTABLE_H

#include <cstddef>
#include <string>

namespace devhost
{
/// @a text for a log line, in single quotes: control characters, "\" and
/// bytes above 0x7E as "\xNN", at most @a max_bytes bytes, then "...".
/// Text from outside (a host name, a certificate's names) cannot forge or
/// break a log line through it.
std::string printable(const std::string& text, std::size_t max_bytes = 64);

}  // namespace devhost

#endif /* DEVHOST_SERVICES_PRINTABLE_H */
