#ifndef TOOLS_COMMON_TAKE_ENV_H
#define TOOLS_COMMON_TAKE_ENV_H

#include <cstdlib>
#include <cstring>

#include <string.h>  // explicit_bzero

extern char** environ;

namespace tools
{
/**
 * Moves the value of the environment variable @a name into @a value and
 * takes the variable out of this process's environment: every entry of
 * that name is overwritten in place with zero bytes, then unset.  Writing
 * over the text matters: the kernel shows a process's environment
 * (/proc/PID/environ, readable by its owner and root) from the memory the
 * strings were first given in, and unsetting only drops the pointer to them.
 * False, with @a value untouched, when the variable is not set.  Call it
 * before any thread starts: the environment is not thread-safe.
 *
 * @a String is any string type with `assign(const char*)`, so a secret can
 * go straight into wiped storage.
 */
template <class String>
bool take_env(const char* name, String& value)
{
  const std::size_t length = std::strlen(name);
  bool found = false;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
  {
    if (std::strncmp(*entry, name, length) != 0 || (*entry)[length] != '=')
      continue;
    char* text = *entry + length + 1;
    if (!found)
      value.assign(text);  // the first one, as getenv would give it
    found = true;
    explicit_bzero(text, std::strlen(text));
  }
  if (found)
    ::unsetenv(name);
  return found;
}

}  // namespace tools

#endif /* TOOLS_COMMON_TAKE_ENV_H */
