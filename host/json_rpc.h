#ifndef HOST_JSON_RPC_H
#define HOST_JSON_RPC_H

#include <string>

#include <ace/Bound_Ptr.h>
#include <ace/Recursive_Thread_Mutex.h>
#include <ace/Refcounted_Auto_Ptr.h>
#include <ace/Thread_Mutex.h>

#include "host/handler_factory.h"
#include "host/host_export.h"
#include "host/json_spirit_value.h"

/// A JSON-RPC 2.0 message.
class HOST_EXPORT JSON_RPC_Object
{
public:
  enum Type
  {
    TYPE_NONE = 0,
    TYPE_NOTIFY = 1,
    TYPE_REQUEST = 2,
    TYPE_RESPONSE = 3,
    TYPE_RESPONSE_ERROR = 4
  };

  virtual ~JSON_RPC_Object();

  Type type() const { return type_; }

protected:
  explicit JSON_RPC_Object(Type type) : type_(type) {}

private:
  Type type_;
};

/// A request or a notification: method and params (and id for a request).
class HOST_EXPORT JSON_RPC_Request_Base : public JSON_RPC_Object
{
public:
  ~JSON_RPC_Request_Base() override;

  std::string method;
  /// The request's id; null for a notification.
  json_spirit::Value id;
  /// The params as received, of any JSON type; null when absent.
  json_spirit::Value params;

protected:
  explicit JSON_RPC_Request_Base(Type type) : JSON_RPC_Object(type) {}
};

/// A request (`TYPE_REQUEST`): the requester expects a reply.
class HOST_EXPORT JSON_RPC_Request : public JSON_RPC_Request_Base
{
public:
  JSON_RPC_Request() : JSON_RPC_Request_Base(TYPE_REQUEST) {}
  ~JSON_RPC_Request() override;
};

/// A success reply (`TYPE_RESPONSE`); the handler fills `result`.
class HOST_EXPORT JSON_RPC_Response : public JSON_RPC_Object
{
public:
  /// Answers @a req: takes its id (null when @a req is null).
  explicit JSON_RPC_Response(const JSON_RPC_Request_Base* req);
  ~JSON_RPC_Response() override;

  json_spirit::Value id;
  json_spirit::Value result;
};

class JSON_RPC_Channel;

/// Strong pointer to the requester's channel.
typedef ACE_Strong_Bound_Ptr<JSON_RPC_Channel, ACE_Thread_Mutex> JSON_RPC_Channel_var;
/// Weak pointer to the requester's channel: null once the requester has gone.
typedef ACE_Weak_Bound_Ptr<JSON_RPC_Channel, ACE_Thread_Mutex> JSON_RPC_Channel_wvar;
/// Reference-counted pointer to a message.
typedef ACE_Refcounted_Auto_Ptr<JSON_RPC_Object, ACE_Recursive_Thread_Mutex> JSON_RPC_Object_var;

/// The way back to one requester.  Implementations must be thread-safe.
class HOST_EXPORT JSON_RPC_Channel
{
public:
  virtual ~JSON_RPC_Channel();

  /// Sends @a obj to the requester; 0 on success, -1 on failure.
  virtual int send(JSON_RPC_Object_var obj) = 0;

  /**
   * Builds an error reply and sends it through `send`.  Returns `send`'s
   * result, or -1 (errno ENOMEM) when the reply could not be allocated.
   */
  int send_error(int code, const json_spirit::Value& id, const char* message, const json_spirit::Value& data);
};

/**
 * Base of the host's JSON-RPC handlers.  The host hands every message routed
 * to the handler to `handle`.
 */
class HOST_EXPORT JSON_RPC_Handler
{
public:
  /// What the host knows of one handled message, for `handle_object_post`.
  struct Context
  {
    /// The result of handling the message.
    int result;
  };

  JSON_RPC_Handler();
  virtual ~JSON_RPC_Handler();

  /// Prepares the handler; 0 on success.
  virtual int init(int argc, char** argv);
  /// Releases what `init` set up; 0 on success.
  virtual int fini();
  /// Entry point for every message; by default calls `handle_object`.
  virtual int handle(JSON_RPC_Channel_wvar channel, JSON_RPC_Object_var obj);
  /// Handles one message; the default does nothing and returns -1.
  virtual int handle_object(JSON_RPC_Channel_wvar channel, JSON_RPC_Object_var obj);
  /// Called after a message was handled; the default does nothing.
  virtual void handle_object_post(const Context& ctx, JSON_RPC_Channel_var channel, JSON_RPC_Object_var obj);
  /// The params checker of the handler; null (none) by default.
  virtual void* create_params_handler();
};

/**
 * A handler whose messages are handled on the host's threads.
 *
 * For each message given to `handle_object`, a thread of the host's turns
 * the weak channel into a strong one (null when the requester has gone),
 * calls `handle_object_i`, then `handle_object_post`.  Several messages may
 * be handled at once, on different threads.  An exception that escapes
 * `handle_object_i` ends neither the thread nor the process; whether the
 * requester then gets an error reply is the host's choice.  `init`, `fini`
 * and the destructor set up and wind down the threads; the destructor
 * returns once no message is being handled.
 */
class HOST_EXPORT JSON_RPC_Thread_Handler : public JSON_RPC_Handler
{
public:
  JSON_RPC_Thread_Handler();
  ~JSON_RPC_Thread_Handler() override;

  int init(int argc, char** argv) override;
  int fini() override;
  int handle(JSON_RPC_Channel_wvar channel, JSON_RPC_Object_var obj) override;
  int handle_object(JSON_RPC_Channel_wvar channel, JSON_RPC_Object_var obj) override;
  void handle_object_post(const Context& ctx, JSON_RPC_Channel_var channel, JSON_RPC_Object_var obj) override;
  void* create_params_handler() override;

  /// Handles one message on the calling thread; @a channel is null when the
  /// requester has gone.  The result is the reply call's, or -1 for no reply.
  virtual int handle_object_i(JSON_RPC_Channel_var channel, JSON_RPC_Object_var obj) = 0;

private:
  class Pool;
  Pool* pool_;
};

/// The disposer a factory hands out with each JSON-RPC handler.
typedef void (*JSON_RPC_Handler_Exterminator)(void*);

/**
 * Defines the factory/disposer pair of a JSON-RPC handler class:
 * `_make_CLS` (exported) and `_gobble_CLS` (module-local), with the contract
 * of `INSTANCE_HANDLER_FACTORY_DEFINE`.
 */
#define JSON_RPC_HANDLER_FACTORY_DEFINE(CLS) \
  HOST_HANDLER_FACTORY_DEFINE(JSON_RPC_Handler, JSON_RPC_Handler_Exterminator, CLS)

#endif /* HOST_JSON_RPC_H */
