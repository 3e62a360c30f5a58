#ifndef TOOLS_HOST_RPC_SESSION_H
#define TOOLS_HOST_RPC_SESSION_H

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

#include "host/json_rpc.h"

/**
 * Feeds JSON-RPC 2.0 texts (a line of `quorvane-host rpc`, the body of a
 * POST to `quorvane-host serve`) to a JSON-RPC handler and hands each
 * text's reply to the caller.
 *
 * Requests for @a method go to the handler (through `handle`, so a threaded
 * handler runs them on its pool); the session itself answers what never
 * reaches the handler: text that is not JSON (-32700, null id), a value that
 * is not a JSON-RPC 2.0 request (-32600), another method (-32601), an empty
 * batch (-32600).  A batch is answered with one array of its replies, and
 * not at all when it holds only notifications.  A text is answered once
 * every reply it expects has arrived, or once the handler has let go of
 * every message of it (a handler may decline to answer); `finish` waits for
 * every message in the handler's hands, so no reply is lost.
 *
 * At most @a max_in_hand messages are in the handler's hands at once
 * (being handled or waiting for a worker): `feed` waits for one of them to
 * be done before it hands out another, so a caller that reads its input
 * only through `feed` stops reading while the handler is that far behind.
 * `feed` may be called from several threads at once.
 */
class RPC_Session
{
public:
  /**
   * Called once for each text fed: with its whole reply, or with null when
   * it gets none (only notifications, or requests the handler declined).
   * Called on the thread that fed the text or on one of the handler's
   * workers, never under a lock of the session.
   */
  typedef std::function<void(const std::string* reply)> Answer;

  RPC_Session(JSON_RPC_Thread_Handler& handler, const std::string& method, std::size_t max_in_hand);
  ~RPC_Session();

  /// Handles one JSON-RPC text; @a answer receives its reply.
  void feed(const std::string& text, Answer answer);
  /// The reply to a text that was too long to be read (longer than
  /// @a limit bytes): -32600 with a null id.
  static std::string long_text_reply(std::size_t limit);
  /// Waits until every message handed out has been handled.
  void finish();

  class Text_Channel;
  class Slot;
  template <class Message>
  class Counted;

private:
  /// Waits until fewer than `max_in_hand_` messages are in the handler's
  /// hands, then counts one more.
  void take_slot();
  /// Counts one message fewer, from whichever thread let it go.
  void give_slot();

  JSON_RPC_Thread_Handler& handler_;
  std::string method_;
  const std::size_t max_in_hand_;
  std::mutex slots_lock_;
  std::condition_variable slot_free_;
  std::size_t in_hand_ = 0;
};

#endif /* TOOLS_HOST_RPC_SESSION_H */
