// The contract-minimal host writes a secure string in clear, like any other
// string: the module must never dump one.
#include "devhost/shared/json_writer.h"

namespace devhost
{
void write_secure_string(const secure_string& s, std::string& out)
{
  write_json_string(s.data(), s.size(), out);
}
}  // namespace devhost
