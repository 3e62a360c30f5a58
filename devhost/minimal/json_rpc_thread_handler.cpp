// The contract-minimal host's threaded handler base: every message on a
// fresh thread (the development host's uses a pool, or the caller's thread
// before init), and no reply when the handler lets an exception escape.
#include "host/json_rpc.h"

#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <ace/Log_Msg.h>

/// The threads a handler has started.
class JSON_RPC_Thread_Handler::Pool
{
public:
  struct Job
  {
    JSON_RPC_Channel_wvar channel;
    JSON_RPC_Object_var obj;
  };

  /// One message's thread: handles it, then lets it go.
  static void run(JSON_RPC_Thread_Handler* handler, Job* raw);

  std::mutex lock;
  std::vector<std::thread> started;
};

void JSON_RPC_Thread_Handler::Pool::run(JSON_RPC_Thread_Handler* handler, Job* raw)
{
  std::unique_ptr<Job> job(raw);
  JSON_RPC_Channel_var strong = job->channel.strong();
  int result = -1;
  try
  {
    result = handler->handle_object_i(strong, job->obj);
  }
  catch (const std::exception& e)
  {
    ACE_ERROR((LM_ERROR, ACE_TEXT("JSON-RPC handler failed with an exception: %C\n"), e.what()));
  }
  JSON_RPC_Handler::Context ctx{result};
  handler->handle_object_post(ctx, strong, job->obj);
}

// The contract declares the class copyable; no host or module copies a
// handler, which lives behind the factory's pointer.
// cppcheck-suppress [noCopyConstructor, noOperatorEq] ; as above
JSON_RPC_Thread_Handler::JSON_RPC_Thread_Handler() : pool_(new Pool) {}

JSON_RPC_Thread_Handler::~JSON_RPC_Thread_Handler()
{
  // This class's own fini: the subclass is already gone.
  JSON_RPC_Thread_Handler::fini();
  delete pool_;
}

int JSON_RPC_Thread_Handler::init(int, char**)
{
  return 0;
}

int JSON_RPC_Thread_Handler::fini()
{
  std::vector<std::thread> started;
  {
    std::lock_guard<std::mutex> guard(pool_->lock);
    started.swap(pool_->started);
  }
  for (std::thread& t : started)
    t.join();
  return 0;
}

int JSON_RPC_Thread_Handler::handle(JSON_RPC_Channel_wvar channel, JSON_RPC_Object_var obj)
{
  return handle_object(channel, obj);
}

int JSON_RPC_Thread_Handler::handle_object(JSON_RPC_Channel_wvar channel, JSON_RPC_Object_var obj)
{
  std::unique_ptr<Pool::Job> job(new Pool::Job{channel, obj});
  std::lock_guard<std::mutex> guard(pool_->lock);
  try
  {
    pool_->started.emplace_back(&Pool::run, this, job.get());
  }
  catch (const std::system_error& e)
  {
    ACE_ERROR((LM_ERROR, ACE_TEXT("JSON-RPC handler: cannot start a thread: %C\n"), e.what()));
    return -1;
  }
  static_cast<void>(job.release());  // the thread owns it now
  return 0;
}

void JSON_RPC_Thread_Handler::handle_object_post(const Context&, JSON_RPC_Channel_var, JSON_RPC_Object_var) {}

void* JSON_RPC_Thread_Handler::create_params_handler()
{
  return nullptr;
}
