#ifndef TOOLS_HOST_OPTIONS_H
#define TOOLS_HOST_OPTIONS_H

#include <map>
#include <set>
#include <string>

/**
 * The "--name value" and "--flag" options of one subcommand.
 * `parse` takes argv after the subcommand's name; false with `error()` set
 * on an unknown option, a missing value or a stray argument.
 */
class Options
{
public:
  Options(std::set<std::string> with_value, std::set<std::string> flags);

  bool parse(int argc, char** argv);
  const std::string& error() const { return error_; }

  bool has(const std::string& name) const { return values_.count(name) != 0; }
  /// The option's value, or @a fallback when it was not given.
  std::string get(const std::string& name, const std::string& fallback = std::string()) const;

private:
  std::set<std::string> with_value_;
  std::set<std::string> flags_;
  std::map<std::string, std::string> values_;
  std::string error_;
};

#endif /* TOOLS_HOST_OPTIONS_H */
