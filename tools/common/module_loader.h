#ifndef TOOLS_COMMON_MODULE_LOADER_H
#define TOOLS_COMMON_MODULE_LOADER_H

#include <cerrno>
#include <cstring>
#include <string>

/**
 * A module loaded with dlopen, as the appliance's host loads it, and its
 * exported factories.  Unloads it on destruction: whatever the module made
 * must be disposed of before.  The host program and the tests load the
 * module only through this class.
 */
class Module_Loader
{
public:
  /// The type of an exported factory: writes its disposer to `*dispose`
  /// (when not null) and returns a new handler, or null with errno set.
  template <class Base, class Exterminator>
  using Factory = Base* (*)(Exterminator* dispose);

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

  /// The factory exported as @a name; null with `error()` set.
  template <class Base, class Exterminator>
  Factory<Base, Exterminator> factory(const char* name)
  {
    // dlsym gives object addresses; POSIX guarantees that a function's
    // converts back.
    return reinterpret_cast<Factory<Base, Exterminator>>(symbol(name));
  }

  /**
   * A handler from the factory exported as @a name, its disposer in
   * @a dispose; null with `error()` set when the module lacks the factory or
   * the factory fails (a null handler or no disposer).
   */
  template <class Base, class Exterminator>
  Base* make(const char* name, Exterminator& dispose)
  {
    Factory<Base, Exterminator> make_handler = factory<Base, Exterminator>(name);
    if (make_handler == nullptr)
      return nullptr;
    dispose = nullptr;
    errno = 0;
    Base* handler = make_handler(&dispose);
    if (handler != nullptr && dispose != nullptr)
      return handler;
    error_ = std::string("the module's factory ") + name + " failed: " +
             (handler == nullptr ? std::strerror(errno) : "it handed out no disposer");
    // Without a disposer, the virtual destructor is the only way back.
    delete handler;
    return nullptr;
  }

private:
  void* handle_;
  std::string path_;
  std::string error_;
};

#endif /* TOOLS_COMMON_MODULE_LOADER_H */
