#include "tools/common/module_loader.h"

#include <dlfcn.h>

Module_Loader::Module_Loader() : handle_(nullptr) {}

Module_Loader::~Module_Loader()
{
  if (handle_ != nullptr)
    dlclose(handle_);
}

bool Module_Loader::open(const std::string& path)
{
  // RTLD_NOW: a module that needs a host symbol this host lacks fails here,
  // with the symbol's name, instead of at its first call.
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr)
  {
    const char* why = dlerror();
    error_ = "cannot load module " + path + ": " + (why != nullptr ? why : "unknown error");
    return false;
  }
  path_ = path;
  return true;
}

void* Module_Loader::symbol(const char* name)
{
  dlerror();
  void* p = handle_ == nullptr ? nullptr : dlsym(handle_, name);
  if (p == nullptr)
    error_ = "module " + path_ + " does not export " + name;
  return p;
}
