#include "quorvane/common/version.h"

#include <exception>

#include <ace/Log_Msg.h>

#include "json_spirit/extract.h"

namespace quorvane
{
Version::Version() {}

Version::~Version() {}

bool Version::load(const json_spirit::Value& json)
{
  try
  {
    json_spirit::pextract_or_throw(json)("/data/aboutus_version", aboutus_version);
    return true;
  }
  catch (const std::exception& e)
  {
    ACE_DEBUG((LM_ERROR, ACE_TEXT("Unexpected exception occurred while loading Quorvane version info, error: %s\n"),
               e.what()));
    return false;
  }
}

}  // namespace quorvane
