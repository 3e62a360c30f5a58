#include "tests/support/canned_server.h"

#include <httplib.h>

#include <stdexcept>

namespace test_support
{
Canned_Server::Canned_Server(int status, const std::string& body)
    : server_(new httplib::Server), port_(0), status_(status), body_(body), requests_(0)
{
  server_->Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard<std::mutex> guard(lock_);
    ++requests_;
    last_.method = req.method;
    last_.path = req.path;
    std::string::size_type q = req.target.find('?');
    last_.query = q == std::string::npos ? std::string() : req.target.substr(q + 1);
    last_.headers.clear();
    for (const auto& h : req.headers)
      last_.headers[h.first] = h.second;
    res.status = status_;
    res.set_content(body_, "application/json");
  });
  // One request per connection: a kept-alive connection would hold the
  // server's stop for its whole idle timeout.
  server_->set_keep_alive_max_count(1);
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0)
    throw std::runtime_error("cannot bind a loopback port");
  // The socket listens from bind on: connections made before the accept
  // loop runs wait in the backlog, so no readiness wait is needed.
  thread_ = std::thread([this]() { server_->listen_after_bind(); });
}

Canned_Server::~Canned_Server()
{
  // stop() does nothing before the accept loop runs, which would leave the
  // join below waiting forever.
  while (!server_->is_running())
    std::this_thread::yield();
  server_->stop();
  thread_.join();
}

void Canned_Server::answer(int status, const std::string& body)
{
  std::lock_guard<std::mutex> guard(lock_);
  status_ = status;
  body_ = body;
}

Received_Request Canned_Server::last() const
{
  std::lock_guard<std::mutex> guard(lock_);
  return last_;
}

int Canned_Server::requests() const
{
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

}  // namespace test_support
