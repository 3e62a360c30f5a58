#include "tools/common/options.h"

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace tools
{

Options::Options(std::set<std::string> with_value, std::set<std::string> flags,
                 std::set<std::string> repeated)
    : with_value_(std::move(with_value)), flags_(std::move(flags)), repeated_(std::move(repeated))
{
  with_value_.insert(repeated_.begin(), repeated_.end());
  flags_.insert("--help");
  flags_.insert("-h");
}

bool Options::parse(int argc, char** argv)
{
  for (int i = 1; i < argc; ++i)
  {
    std::string arg = argv[i];
    if (flags_.count(arg) != 0)
    {
      values_[arg] = "1";
      continue;
    }
    if (with_value_.count(arg) == 0)
    {
      error_ = arg.compare(0, 2, "--") == 0 ? "unknown option " + arg : "unexpected argument " + arg;
      return false;
    }
    if (i + 1 == argc)
    {
      error_ = "option " + arg + " needs a value";
      return false;
    }
    values_[arg] = argv[++i];
    if (repeated_.count(arg) != 0)
      all_[arg].push_back(values_[arg]);
  }
  return true;
}

std::string Options::get(const std::string& name, const std::string& fallback) const
{
  std::map<std::string, std::string>::const_iterator it = values_.find(name);
  return it == values_.end() ? fallback : it->second;
}

std::vector<std::string> Options::all(const std::string& name) const
{
  std::map<std::string, std::vector<std::string>>::const_iterator it = all_.find(name);
  return it == all_.end() ? std::vector<std::string>() : it->second;
}

bool Options::number(const std::string& name, long long low, long long high, long long& value) const
{
  if (!has(name))
    return true;
  const std::string text = get(name);
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || v < low || v > high)
    return false;
  value = v;
  return true;
}
}  // namespace tools
