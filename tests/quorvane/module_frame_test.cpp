// The module as the host sees it: loaded with dlopen, reached only through
// its exported factories and the host base classes.


#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "devhost/harness/instance_access.h"
#include "host/instance_handler.h"
#include "host/json_rpc.h"
#include "tools/common/module_loader.h"

#ifndef QUORVANE_NM
#define QUORVANE_NM "nm"  // the toolchain's nm, set by the build
#endif

// Test-only allocation hooks.  The module's `new (std::nothrow)` and its
// deletes are undefined symbols resolved in the process, so these
// definitions in the test program are the ones the module calls.
namespace
{
std::atomic<bool> fail_nothrow_new{false};
std::atomic<void*> watched{nullptr};
std::atomic<bool> watched_freed{false};
}  // namespace

void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
  if (fail_nothrow_new)
    return nullptr;
  return std::malloc(n == 0 ? 1 : n);
}

void* operator new(std::size_t n)
{
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr)
    throw std::bad_alloc();
  return p;
}

namespace
{
void release(void* p) noexcept
{
  if (p != nullptr && p == watched)
    watched_freed = true;
  std::free(p);
}

}  // namespace

void operator delete(void* p) noexcept
{
  release(p);
}

void operator delete(void* p, std::size_t) noexcept
{
  release(p);
}

namespace
{
typedef Module_Loader::Factory<Instance_Handler, Instance_Handler_Exterminator> Instance_Factory;
typedef Module_Loader::Factory<JSON_RPC_Handler, JSON_RPC_Handler_Exterminator> Login_Factory;

class Module : public ::testing::Test
{
protected:
  void SetUp() override
  {
    ASSERT_TRUE(module_.open(QUORVANE_MODULE_PATH)) << module_.error();
    make_ = module_.factory<Instance_Handler, Instance_Handler_Exterminator>("_make_Quorvane_Instance_Handler");
    ASSERT_NE(nullptr, make_) << module_.error();
  }
  Module_Loader module_;
  Instance_Factory make_ = nullptr;
};

TEST_F(Module, FactoryWritesTheDisposerAndReturnsDistinctObjects)
{
  Instance_Handler_Exterminator dispose = nullptr;
  Instance_Handler* a = make_(&dispose);
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, dispose);
  Instance_Handler* b = make_(nullptr);
  ASSERT_NE(nullptr, b);
  EXPECT_NE(a, b);
  EXPECT_EQ("quorvane", devhost_instance_type(*a));
  dispose(a);
  dispose(b);
  dispose(nullptr);
}

TEST_F(Module, DisposerDeletesThroughTheBasePointer)
{
  Instance_Handler_Exterminator dispose = nullptr;
  Instance_Handler* h = make_(&dispose);
  ASSERT_NE(nullptr, h);
  // The disposer must free the very block the factory allocated, whatever
  // pointer type the host holds.
  watched = h;
  watched_freed = false;
  dispose(static_cast<void*>(h));
  EXPECT_TRUE(watched_freed);
  watched = nullptr;
}

TEST_F(Module, AllocationFailureSetsEnomemAfterWritingTheDisposer)
{
  Instance_Handler_Exterminator dispose = nullptr;
  errno = 0;
  fail_nothrow_new = true;
  Instance_Handler* h = make_(&dispose);
  fail_nothrow_new = false;
  EXPECT_EQ(nullptr, h);
  EXPECT_EQ(ENOMEM, errno);
  EXPECT_NE(nullptr, dispose);
}

TEST_F(Module, LoginFactoryFollowsTheSameContract)
{
  Login_Factory make =
      module_.factory<JSON_RPC_Handler, JSON_RPC_Handler_Exterminator>("_make_JSON_RPC_Quorvane_Login_Handler");
  if (make == nullptr)
    GTEST_SKIP() << "module has no login handler";
  JSON_RPC_Handler_Exterminator dispose = nullptr;
  JSON_RPC_Handler* a = make(&dispose);
  JSON_RPC_Handler* b = make(nullptr);
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, b);
  EXPECT_NE(a, b);
  watched = a;
  watched_freed = false;
  dispose(a);
  EXPECT_TRUE(watched_freed);
  watched = nullptr;
  dispose(b);
  dispose(nullptr);

  errno = 0;
  dispose = nullptr;
  fail_nothrow_new = true;
  JSON_RPC_Handler* c = make(&dispose);
  fail_nothrow_new = false;
  EXPECT_EQ(nullptr, c);
  EXPECT_EQ(ENOMEM, errno);
  EXPECT_NE(nullptr, dispose);
}

// The only functions the module may define for the host are its factories.
TEST(ModuleExports, OnlyTheFactoriesAreExported)
{
  std::string cmd = std::string(QUORVANE_NM " -D --defined-only ") + QUORVANE_MODULE_PATH;
  FILE* nm = popen(cmd.c_str(), "r");
  ASSERT_NE(nullptr, nm);
  std::set<std::string> functions;
  char line[4096];
  while (std::fgets(line, sizeof line, nm) != nullptr)
  {
    char kind = 0;
    char name[4000];
    if (std::sscanf(line, "%*s %c %3999s", &kind, name) == 2 && (kind == 'T' || kind == 'W' || kind == 'i'))
      functions.insert(name);
  }
  ASSERT_EQ(0, pclose(nm));
  std::set<std::string> allowed = {"_make_Quorvane_Instance_Handler",
                                   "_make_JSON_RPC_Quorvane_Login_Handler"};
  for (const std::string& f : functions)
    EXPECT_TRUE(allowed.count(f) != 0) << "exported: " << f;
  EXPECT_TRUE(functions.count("_make_Quorvane_Instance_Handler") != 0);
}

// The module's undefined dynamic symbols as `nm -D --undefined-only -C`
// lists them: kind ('U' or 'w') and demangled name, version tag included.
std::vector<std::pair<char, std::string>> imports()
{
  std::vector<std::pair<char, std::string>> out;
  std::string cmd = std::string(QUORVANE_NM " -D --undefined-only -C ") + QUORVANE_MODULE_PATH;
  FILE* nm = popen(cmd.c_str(), "r");
  EXPECT_NE(nullptr, nm);
  if (nm == nullptr)
    return out;
  char line[8192];
  while (std::fgets(line, sizeof line, nm) != nullptr)
  {
    std::string text(line);
    std::string::size_type kind = text.find_first_not_of(' ');
    if (kind == std::string::npos || kind + 2 >= text.size())
      continue;
    std::string name = text.substr(kind + 2);
    while (!name.empty() && (name.back() == '\n' || name.back() == ' '))
      name.pop_back();
    out.emplace_back(text[kind], name);
  }
  EXPECT_EQ(0, pclose(nm));
  return out;
}

// Spells the standard and host types in a demangled name the way the host
// declarations do, so that allow-list entries read like the declarations.
std::string normalise(std::string name)
{
  static const std::pair<const char*, const char*> SPELLINGS[] = {
      {"[abi:cxx11]", ""},
      {"std::__cxx11::basic_string<char, std::char_traits<char>, secure_allocator<char> >", "secure_string"},
      {"std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> >", "std::string"},
      {"std::map<std::string, json_spirit::Value, std::less<std::string >, "
       "std::allocator<std::pair<std::string "
       "const, json_spirit::Value> > >",
       "json_spirit::Object"},
      {"std::map<std::string, std::string, std::less<std::string >, std::allocator<std::pair<std::string "
       "const, "
       "std::string > > >",
       "std::map<std::string, std::string>"},
      {"ACE_Weak_Bound_Ptr<JSON_RPC_Channel, ACE_Thread_Mutex>", "JSON_RPC_Channel_wvar"},
      {"ACE_Strong_Bound_Ptr<JSON_RPC_Channel, ACE_Thread_Mutex>", "JSON_RPC_Channel_var"},
      {"ACE_Refcounted_Auto_Ptr<JSON_RPC_Object, ACE_Recursive_Thread_Mutex>", "JSON_RPC_Object_var"},
  };
  for (const auto& s : SPELLINGS)
    for (std::string::size_type at; (at = name.find(s.first)) != std::string::npos;)
      name.replace(at, std::strlen(s.first), s.second);
  return name;
}

// The C library, the C++ runtime and libgcc version their symbols; ACE's
// names carry its prefix; the three weak names are the toolchain's start
// files'.  Anything else the module imports must be a host operation.
bool from_system_or_ace(char kind, const std::string& name)
{
  static const char* const VERSIONS[] = {"@GLIBC_", "@GLIBCXX_", "@CXXABI_", "@GCC_"};
  for (const char* v : VERSIONS)
    if (name.find(v) != std::string::npos)
      return true;
  if (name.find('@') != std::string::npos)
    return false;  // another versioned library (OpenSSL, libcurl, ...)
  if (kind == 'w' && (name == "__gmon_start__" || name == "_ITM_deregisterTMCloneTable" ||
                      name == "_ITM_registerTMCloneTable"))
    return true;
  std::string bare = name;
  for (const char* prefix : {"typeinfo for ", "vtable for "})
    if (bare.compare(0, std::strlen(prefix), prefix) == 0)
      bare.erase(0, std::strlen(prefix));
  return bare.compare(0, 4, "ACE_") == 0;
}

// What the module may import from the host: tests/quorvane/host_imports.txt,
// one "symbol | host operation" per line.
std::map<std::string, std::string> allowed_host_imports()
{
  std::map<std::string, std::string> allowed;
  std::ifstream in(QUORVANE_SOURCE_DIR "/tests/quorvane/host_imports.txt");
  EXPECT_TRUE(in.good()) << "cannot read the allow-list";
  for (std::string line; std::getline(in, line);)
  {
    std::string::size_type bar = line.find(" | ");
    if (line.empty() || line[0] == '#')
      continue;
    EXPECT_NE(std::string::npos, bar) << "an entry without its host operation: " << line;
    if (bar != std::string::npos)
      allowed[line.substr(0, bar)] = line.substr(bar + 3);
  }
  return allowed;
}

// On the appliance only the host's declared operations exist: an import of
// a development-host extra (or of a library the host does not load) makes
// the module fail to load there, whatever our tests say.
TEST(ModuleImports, OnlyTheHostContractIsImported)
{
#ifdef QUORVANE_SANITIZED
  GTEST_SKIP()
      << "a sanitizer's runtime and checks add imports of their own; the plain builds check the module "
         "as it ships";
#endif
  std::map<std::string, std::string> allowed = allowed_host_imports();
  std::vector<std::pair<char, std::string>> symbols = imports();
  ASSERT_FALSE(symbols.empty());
  for (const auto& sym : symbols)
  {
    if (from_system_or_ace(sym.first, sym.second))
      continue;
    std::string name = normalise(sym.second);
    EXPECT_TRUE(allowed.count(name) != 0) << "imported, not a host operation of the allow-list: " << name;
  }
}

class Instances : public Module
{
protected:
  void SetUp() override
  {
    Module::SetUp();
    handler_ = make_(&dispose_);
    ASSERT_NE(nullptr, handler_);
  }
  void TearDown() override
  {
    dispose_(handler_);
    Module::TearDown();
  }

  Instance_Handler_Exterminator dispose_ = nullptr;
  Instance_Handler* handler_ = nullptr;
};

TEST_F(Instances, ProbeAddsTheProxyAndKeepsOtherEntries)
{
  instances_type instances;
  std::shared_ptr<Instance> other = std::make_shared<Instance>();
  instances["other"] = other;
  ASSERT_EQ(0, handler_->probe_instances(instances));
  ASSERT_EQ(2u, instances.size());
  EXPECT_EQ(other, instances["other"]);
  const Instance& proxy = *instances.at("Quorvane_Proxy");
  EXPECT_EQ("quorvane", proxy.type);
  EXPECT_EQ("Quorvane_Proxy", proxy.name);
  EXPECT_EQ("", proxy.uuid);
  ASSERT_EQ(1u, proxy.options.size());
  EXPECT_EQ(json_spirit::Value(true), proxy.options.at("is_proxy"));
  EXPECT_TRUE(proxy.logon_options.empty());
}

TEST_F(Instances, ProbingAgainReplacesTheInstance)
{
  instances_type instances;
  ASSERT_EQ(0, handler_->probe_instances(instances));
  std::weak_ptr<Instance> first = instances["Quorvane_Proxy"];
  ASSERT_EQ(0, handler_->probe_instances(instances));
  EXPECT_EQ(1u, instances.size());
  EXPECT_TRUE(first.expired()) << "the previous instance must be released";
  EXPECT_NE(nullptr, instances["Quorvane_Proxy"]);
}

TEST_F(Instances, StateIsAlwaysEnabledAndLogonAcceptsAnything)
{
  std::string state = "previous text";
  EXPECT_EQ(&state, &handler_->get_state("Quorvane_Proxy", state));
  EXPECT_EQ("enabled", state);
  state = "x";
  handler_->get_state("no such instance", state);
  EXPECT_EQ("enabled", state);
  state.clear();
  handler_->get_state(nullptr, state);
  EXPECT_EQ("enabled", state);
  EXPECT_EQ(0, handler_->logon(nullptr, nullptr, nullptr, nullptr));
  json_spirit::Object opts;
  EXPECT_EQ(0, handler_->logon("Quorvane_Proxy", "u", "p", &opts));
}

}  // namespace
