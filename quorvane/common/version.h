#ifndef QUORVANE_COMMON_VERSION_H
#define QUORVANE_COMMON_VERSION_H

#include <string>

#include "host/json_spirit_value.h"

namespace quorvane
{
/// What the service's settings resource tells of its version.
struct Version
{
  Version();
  ~Version();

  /**
   * Takes the string at "/data/aboutus_version" of the response body
   * @a json into `aboutus_version`.  False, with one log line and
   * `aboutus_version` unchanged, when the path does not resolve to a string.
   */
  bool load(const json_spirit::Value& json);

  std::string aboutus_version;
};

}  // namespace quorvane

#endif /* QUORVANE_COMMON_VERSION_H */
