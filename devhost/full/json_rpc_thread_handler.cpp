#include "host/json_rpc.h"

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <ace/Log_Msg.h>

#include "devhost/harness/json_rpc_messages.h"

namespace
{
const int DEFAULT_THREADS = 4;
const int MAX_THREADS = 256;
}  // namespace

/// The worker threads and the queue of one thread handler.
class JSON_RPC_Thread_Handler::Pool
{
public:
  struct Job
  {
    JSON_RPC_Channel_wvar channel;
    JSON_RPC_Object_var obj;
  };

  /// A worker's loop: handles queued messages until the pool stops and the
  /// queue is empty.
  static void worker(JSON_RPC_Thread_Handler* handler);
  /// Runs one message on the calling thread: handle_object_i, then
  /// handle_object_post.  Returns handle_object_i's result.
  static int dispatch(JSON_RPC_Thread_Handler& handler, const JSON_RPC_Channel_wvar& channel,
                      const JSON_RPC_Object_var& obj);

  std::mutex lock;
  std::condition_variable work_ready;
  std::deque<Job> queue;
  std::vector<std::thread> workers;
  bool stopping = false;
};

JSON_RPC_Thread_Handler::JSON_RPC_Thread_Handler() : pool_(nullptr) {}

JSON_RPC_Thread_Handler::~JSON_RPC_Thread_Handler()
{
  // The subclass is already gone here: a worker that still ran would call a
  // pure virtual.  Hosts call fini() before disposing of a handler; this
  // only joins threads that have nothing left to do, with this class's own
  // fini.
  JSON_RPC_Thread_Handler::fini();
}

int JSON_RPC_Thread_Handler::init(int argc, char** argv)
{
  if (pool_ != nullptr)
    return 0;
  long threads = DEFAULT_THREADS;
  if (argc > 0 && argv != nullptr && argv[0] != nullptr)
  {
    char* end = nullptr;
    threads = std::strtol(argv[0], &end, 10);
    if (end == argv[0] || *end != '\0')
      threads = 0;  // not a number: refused below
  }
  if (threads < 1 || threads > MAX_THREADS)
  {
    ACE_ERROR((LM_ERROR, ACE_TEXT("JSON-RPC handler: the thread count must be 1 to %d\n"), MAX_THREADS));
    return -1;
  }
  pool_ = new (std::nothrow) Pool;
  if (pool_ == nullptr)
  {
    errno = ENOMEM;
    return -1;
  }
  try
  {
    for (int i = 0; i < threads; ++i)
      pool_->workers.emplace_back(&Pool::worker, this);
  }
  catch (const std::system_error& e)
  {
    ACE_ERROR((LM_ERROR, ACE_TEXT("JSON-RPC handler: cannot start worker threads: %C\n"), e.what()));
    fini();
    return -1;
  }
  return 0;
}

int JSON_RPC_Thread_Handler::fini()
{
  if (pool_ == nullptr)
    return 0;
  {
    std::lock_guard<std::mutex> guard(pool_->lock);
    pool_->stopping = true;
  }
  pool_->work_ready.notify_all();
  for (std::thread& t : pool_->workers)
    t.join();
  delete pool_;
  pool_ = nullptr;
  return 0;
}

int JSON_RPC_Thread_Handler::handle(JSON_RPC_Channel_wvar channel, JSON_RPC_Object_var obj)
{
  return handle_object(channel, obj);
}

int JSON_RPC_Thread_Handler::handle_object(JSON_RPC_Channel_wvar channel, JSON_RPC_Object_var obj)
{
  if (pool_ == nullptr)
    return Pool::dispatch(*this, channel, obj);
  {
    std::lock_guard<std::mutex> guard(pool_->lock);
    if (pool_->stopping)
      return -1;
    pool_->queue.push_back(Pool::Job{channel, obj});
  }
  pool_->work_ready.notify_one();
  return 0;
}

void JSON_RPC_Thread_Handler::handle_object_post(const Context&, JSON_RPC_Channel_var, JSON_RPC_Object_var) {}

void* JSON_RPC_Thread_Handler::create_params_handler()
{
  return nullptr;
}

void JSON_RPC_Thread_Handler::Pool::worker(JSON_RPC_Thread_Handler* handler)
{
  Pool* pool = handler->pool_;
  std::unique_lock<std::mutex> guard(pool->lock);
  for (;;)
  {
    pool->work_ready.wait(guard, [pool]() { return pool->stopping || !pool->queue.empty(); });
    if (pool->queue.empty())
      return;  // stopping, with the queue drained
    {
      // The job's references go before the next wait, so that a finished
      // message is released as soon as it has been handled.
      const Job job = std::move(pool->queue.front());
      pool->queue.pop_front();
      guard.unlock();
      dispatch(*handler, job.channel, job.obj);
    }
    guard.lock();
  }
}

int JSON_RPC_Thread_Handler::Pool::dispatch(JSON_RPC_Thread_Handler& handler,
                                            const JSON_RPC_Channel_wvar& channel,
                                            const JSON_RPC_Object_var& obj)
{
  // Null when the requester has gone; the handler decides what that means.
  JSON_RPC_Channel_var strong = channel.strong();
  int result = -1;
  try
  {
    result = handler.handle_object_i(strong, obj);
  }
  catch (const std::exception& e)
  {
    ACE_ERROR((LM_ERROR, ACE_TEXT("JSON-RPC handler failed with an exception: %C\n"), e.what()));
    const JSON_RPC_Object* o = obj.get();
    if (strong.get() != nullptr && o != nullptr && o->type() == JSON_RPC_Object::TYPE_REQUEST)
    {
      try
      {
        strong->send_error(devhost::JSON_RPC_E_INTERNAL_ERROR, static_cast<const JSON_RPC_Request*>(o)->id,
                           "Internal error", json_spirit::Value::null);
      }
      catch (const std::exception&)
      {
        // Out of memory again: the requester gets no reply, as for any
        // request whose reply cannot be built.
      }
    }
  }
  Context ctx{result};
  handler.handle_object_post(ctx, strong, obj);
  return result;
}
