#ifndef TOOLS_HOST_MODULE_LOADER_H
#define TOOLS_HOST_MODULE_LOADER_H

#include <string>

/**
 * A module loaded with dlopen, as the appliance's host loads it.
 * Unloads it on destruction.
 */
class Module_Loader
{
public:
  Module_Loader();
  ~Module_Loader();
  Module_Loader(const Module_Loader&) = delete;
  Module_Loader& operator=(const Module_Loader&) = delete;

  /// Loads @a path; false with `error()` set when it cannot be loaded.
  bool open(const std::string& path);
  /// The address of the function @a name; null with `error()` set when the
  /// module does not export it.
  void* symbol(const char* name);
  const std::string& error() const { return error_; }

private:
  void* handle_;
  std::string path_;
  std::string error_;
};

/// The folder of this program's own file (from /proc/self/exe); empty when
/// it cannot be told.
std::string program_dir();

/// The module this program loads by default: the one built beside it
/// (../lib/libquorvane.so), else the installed one relative to it
/// (../lib/<triplet>/quorvane/libquorvane.so for an install under /usr), else
/// the installed one's absolute path.
std::string default_module_path();

#endif /* TOOLS_HOST_MODULE_LOADER_H */
