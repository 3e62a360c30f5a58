#ifndef TOOLS_HOST_RPC_SESSION_H
#define TOOLS_HOST_RPC_SESSION_H

#include <condition_variable>
#include <cstddef>
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
 *
 * At most @a max_in_hand messages are in the handler's hands at once
 * (being handled or waiting for a worker): `feed` waits for one of them to
 * be done before it hands out another, so a caller that reads its input
 * only through `feed` stops reading while the handler is that far behind.
 */
class RPC_Session
{
public:
  RPC_Session(JSON_RPC_Thread_Handler& handler, const std::string& method, std::FILE* out,
              std::size_t max_in_hand);
  ~RPC_Session();

  /// Handles one line of input.
  void feed(const std::string& line);
  /// Answers a line that was too long to be read (longer than @a limit
  /// bytes) with -32600 and a null id.
  void reject_long_line(std::size_t limit);
  /// Waits until every request handed out has been handled and answered.
  void finish();

  class Line_Channel;
  class Slot;
  template <class Message>
  class Counted;

  /// Writes @a text and a line feed in one piece.
  void write_line(const std::string& text);

private:
  void prune();
  /// Waits until fewer than `max_in_hand_` messages are in the handler's
  /// hands, then counts one more.
  void take_slot();
  /// Counts one message fewer, from whichever thread let it go.
  void give_slot();

  JSON_RPC_Thread_Handler& handler_;
  std::string method_;
  std::FILE* out_;
  std::mutex out_lock_;
  /// The channels of lines still waiting for replies.
  std::list<JSON_RPC_Channel_var> pending_;
  const std::size_t max_in_hand_;
  std::mutex slots_lock_;
  std::condition_variable slot_free_;
  std::size_t in_hand_ = 0;
};

#endif /* TOOLS_HOST_RPC_SESSION_H */
