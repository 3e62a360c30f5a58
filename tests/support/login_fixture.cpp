#include "tests/support/login_fixture.h"

#include <chrono>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "devhost/harness/json_reader.h"
#include "devhost/harness/json_rpc_messages.h"
#include "devhost/harness/key_store.h"

namespace test_support
{
namespace
{
nlohmann::json to_nlohmann(const json_spirit::Value& v)
{
  switch (v.type())
  {
    case json_spirit::obj_type:
    {
      nlohmann::json obj = nlohmann::json::object();
      for (const auto& member : v.get_obj())
        obj[member.first] = to_nlohmann(member.second);
      return obj;
    }
    case json_spirit::array_type:
    {
      nlohmann::json list = nlohmann::json::array();
      for (const json_spirit::Value& item : v.get_array())
        list.push_back(to_nlohmann(item));
      return list;
    }
    case json_spirit::str_type:
      return v.get_str();
    case json_spirit::secure_str_type:
      return std::string(v.get_secure_str().data(), v.get_secure_str().size());
    case json_spirit::bool_type:
      return v.get_bool();
    case json_spirit::int_type:
      return v.get_int64();
    case json_spirit::real_type:
      return v.get_real();
    case json_spirit::null_type:
      break;
  }
  return nullptr;
}
}  // namespace

std::string canonical_json(const json_spirit::Value& v)
{
  return to_nlohmann(v).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The value is kept and written out later, by `replies`: sending may run
// under a test's failing allocations, and the JSON library allocates even
// while it destroys a value.
int Recording_Channel::send(JSON_RPC_Object_var obj)
{
  std::lock_guard<std::mutex> guard(lock_);
  replies_.push_back(devhost::to_json(*obj));
  sent_.notify_all();
  return 0;
}

std::vector<std::string> Recording_Channel::replies()
{
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<std::string> texts;
  for (const json_spirit::Value& reply : replies_)
    texts.push_back(canonical_json(reply));
  return texts;
}

bool Recording_Channel::wait_for(std::size_t count, int seconds)
{
  std::unique_lock<std::mutex> guard(lock_);
  return sent_.wait_for(guard, std::chrono::seconds(seconds), [&]() { return replies_.size() >= count; });
}

Login_Module_Fixture::Login_Module_Fixture()
    : dispose_(nullptr), handler_(nullptr), key_(new Test_Key)
{
  if (!devhost::load_key_file(key_->file().c_str()))
    throw std::runtime_error("cannot configure the appliance key");
  if (!module_.open(QUORVANE_MODULE_PATH))
    throw std::runtime_error(module_.error());
  JSON_RPC_Handler* handler = module_.make<JSON_RPC_Handler>("_make_JSON_RPC_Quorvane_Login_Handler", dispose_);
  if (handler == nullptr)
    throw std::runtime_error(module_.error());
  handler_ = dynamic_cast<JSON_RPC_Thread_Handler*>(handler);
  if (handler_ == nullptr)
  {
    dispose_(handler);
    throw std::runtime_error("the module's login handler is not a threaded JSON-RPC handler");
  }
}

Login_Module_Fixture::~Login_Module_Fixture()
{
  if (handler_ != nullptr)
  {
    handler_->fini();
    dispose_(handler_);
  }
}

JSON_RPC_Object_var Login_Module_Fixture::request(const json_spirit::Value& id,
                                                  const std::string& params_json)
{
  JSON_RPC_Request* req = new JSON_RPC_Request;
  JSON_RPC_Object_var var(req);
  req->method = "login";
  req->id = id;
  if (!json_spirit::read(params_json, req->params))
    throw std::runtime_error("bad params in a test: " + params_json);
  return var;
}

}  // namespace test_support
