#ifndef TOOLS_HOST_RPC_SESSION_H
#define TOOLS_HOST_RPC_SESSION_H

#include <cstdio>
#include <list>
#include <mutex>
#include <string>

#include "host/json_rpc.h"

/**
 * Feeds JSON-RPC 2.0 texts, one per line, to a JSON-RPC handler and writes
 * the replies, one per line, to an output stream.
 *
 * Requests for @a method go to the handler (through `handle`, so a threaded
 * handler runs them on its pool); the session itself answers what never
 * reaches the handler: text that is not JSON (-32700, null id), a value that
 * is not a JSON-RPC 2.0 request (-32600), another method (-32601), an empty
 * batch (-32600).  A batch is answered with one array of its replies, and
 * not at all when it holds only notifications.  Replies are written whole;
 * `finish` waits for every request in flight, so no reply is lost.
 */
class RPC_Session
{
public:
  RPC_Session(JSON_RPC_Thread_Handler& handler, const std::string& method, std::FILE* out);
  ~RPC_Session();

  /// Handles one line of input.
  void feed(const std::string& line);
  /// Waits until every request handed out has been handled and answered.
  void finish();

  class Line_Channel;

  /// Writes @a text and a line feed in one piece.
  void write_line(const std::string& text);

private:
  void prune();

  JSON_RPC_Thread_Handler& handler_;
  std::string method_;
  std::FILE* out_;
  std::mutex out_lock_;
  /// The channels of lines still waiting for replies.
  std::list<JSON_RPC_Channel_var> pending_;
};

#endif /* TOOLS_HOST_RPC_SESSION_H */
