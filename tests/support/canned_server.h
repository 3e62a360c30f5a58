#ifndef TESTS_SUPPORT_CANNED_SERVER_H
#define TESTS_SUPPORT_CANNED_SERVER_H

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib
{
class Server;
}

namespace test_support
{
/// Orders header names case-insensitively (ASCII), as HTTP compares them.
struct Header_Name_Less
{
  bool operator()(const std::string& a, const std::string& b) const;
};

/// What a canned server received last.
struct Received_Request
{
  std::string method;
  std::string path;
  std::string query;  ///< raw, without "?"
  /// The request target (path and query) byte for byte as it arrived.
  std::string target;
  /// Header values as the server library gives them: percent-decoded;
  /// looked up by name in any case.
  std::map<std::string, std::string, Header_Name_Less> headers;
};

/**
 * An HTTP server on 127.0.0.1 (or the loopback @a address, e.g. "::1") and
 * an ephemeral port, in this process, that answers every request with the
 * status, body and extra headers it is given.  Started by
 * the constructor, which returns once it accepts connections (or throws
 * when it does not within 10 s); stopped by the destructor, which first
 * lets every held request go.
 */
class Canned_Server
{
public:
  Canned_Server(int status, const std::string& body, const std::string& address = "127.0.0.1");
  ~Canned_Server();
  Canned_Server(const Canned_Server&) = delete;
  Canned_Server& operator=(const Canned_Server&) = delete;

  int port() const { return port_; }
  /// Answers from now on with @a status, @a body (as application/json) and
  /// the headers @a headers (name, value), e.g. a redirect's Location.
  void answer(int status, const std::string& body,
              const std::map<std::string, std::string>& headers = std::map<std::string, std::string>());
  Received_Request last() const;
  int requests() const;

  /// From now on each request is held, unanswered, until `release`.
  void hold();
  /// Answers the held requests and stops holding.
  void release();
  /// Waits until @a count requests have arrived in all; false when they
  /// have not within @a timeout_ms.
  bool wait_requests(int count, int timeout_ms = 60000) const;

private:
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_;
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  int status_;
  std::string body_;
  std::map<std::string, std::string> extra_headers_;
  Received_Request last_;
  int requests_;
  bool holding_;
};

}  // namespace test_support

#endif /* TESTS_SUPPORT_CANNED_SERVER_H */
