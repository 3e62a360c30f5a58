#include "devhost/shared/json_writer.h"

namespace devhost
{
// Dumps go to logs and replies, and a secret must reach neither.
void write_secure_string(const secure_string&, std::string& out)
{
  out += "\"********\"";
}
}  // namespace devhost
