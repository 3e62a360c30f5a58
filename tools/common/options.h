#ifndef TOOLS_COMMON_OPTIONS_H
#define TOOLS_COMMON_OPTIONS_H

#include <map>
#include <set>
#include <string>
#include <vector>

namespace tools
{
/**
 * The "--name value" and "--flag" options of one program or subcommand,
 * which also takes the flags --help and -h.  `parse` takes argv after the
 * subcommand's name; false with `error()` set on an unknown option, a
 * missing value or a stray argument.  An option given twice keeps its last
 * value, except the @a repeated ones, which keep them all.
 */
class Options
{
public:
  Options(std::set<std::string> with_value, std::set<std::string> flags, std::set<std::string> repeated = {});

  bool parse(int argc, char** argv);
  const std::string& error() const { return error_; }

  bool has(const std::string& name) const { return values_.count(name) != 0; }
  /// The option's value, or @a fallback when it was not given.
  std::string get(const std::string& name, const std::string& fallback = std::string()) const;
  /// Every value of a repeated option, in the order given.
  std::vector<std::string> all(const std::string& name) const;
  /// The option's value as a decimal integer from @a low to @a high in
  /// @a value, left as it is when the option was not given; false when it
  /// was given but is not such a number.
  bool number(const std::string& name, long long low, long long high, long long& value) const;

private:
  std::set<std::string> with_value_;
  std::set<std::string> flags_;
  std::set<std::string> repeated_;
  std::map<std::string, std::string> values_;
  std::map<std::string, std::vector<std::string>> all_;
  std::string error_;
};
}  // namespace tools

#endif /* TOOLS_COMMON_OPTIONS_H */
