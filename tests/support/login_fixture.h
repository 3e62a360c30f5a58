#ifndef TESTS_SUPPORT_LOGIN_FIXTURE_H
#define TESTS_SUPPORT_LOGIN_FIXTURE_H

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/json_rpc.h"
#include "host/json_spirit_value.h"
#include "tests/support/test_key.h"
#include "tools/common/module_loader.h"

namespace test_support
{
/**
 * The canonical JSON text of @a v, written here and not by the host: no
 * white space, members sorted by key, a secure string in clear.  Replies
 * are compared as this text, so a test compares values whatever layout the
 * host's own dumper has.
 */
std::string canonical_json(const json_spirit::Value& v);

/// A channel that keeps the canonical JSON text (`canonical_json`) of every
/// reply sent through it.
class Recording_Channel : public JSON_RPC_Channel
{
public:
  int send(JSON_RPC_Object_var obj) override;
  std::vector<std::string> replies();
  /// Waits until @a count replies have been sent, at most @a seconds; false
  /// when the deadline passed first.
  bool wait_for(std::size_t count, int seconds);

private:
  std::mutex lock_;
  std::condition_variable sent_;
  std::vector<json_spirit::Value> replies_;
};

/**
 * The module's login handler as the host has it: the built module loaded
 * with dlopen, the handler made by its exported factory and disposed of by
 * the disposer it handed out, and the appliance key a fresh Test_Key.
 */
class Login_Module_Fixture
{
public:
  Login_Module_Fixture();
  ~Login_Module_Fixture();

  JSON_RPC_Thread_Handler& handler() { return *handler_; }
  const Test_Key& key() const { return *key_; }

  /// A login request with id @a id and the params of @a params_json.
  static JSON_RPC_Object_var request(const json_spirit::Value& id, const std::string& params_json);

private:
  Module_Loader module_;
  JSON_RPC_Handler_Exterminator dispose_;
  JSON_RPC_Thread_Handler* handler_;
  std::unique_ptr<Test_Key> key_;
};

}  // namespace test_support

#endif /* TESTS_SUPPORT_LOGIN_FIXTURE_H */
