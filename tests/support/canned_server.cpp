#include "tests/support/canned_server.h"

#include <httplib.h>

#include <strings.h>

#include <chrono>
#include <stdexcept>

namespace test_support
{
bool Header_Name_Less::operator()(const std::string& a, const std::string& b) const
{
  return ::strcasecmp(a.c_str(), b.c_str()) < 0;
}

Canned_Server::Canned_Server(int status, const std::string& body, const std::string& address)
    : server_(new httplib::Server), port_(0), status_(status), body_(body), requests_(0), holding_(false)
{
  server_->Get(".*",
               [this](const httplib::Request& req, httplib::Response& res)
               {
                 std::unique_lock<std::mutex> guard(lock_);
                 ++requests_;
                 last_.method = req.method;
                 last_.path = req.path;
                 last_.target = req.target;
                 std::string::size_type q = req.target.find('?');
                 last_.query = q == std::string::npos ? std::string() : req.target.substr(q + 1);
                 last_.headers.clear();
                 for (const auto& h : req.headers)
                   last_.headers[h.first] = h.second;
                 changed_.notify_all();
                 changed_.wait(guard, [this] { return !holding_; });
                 res.status = status_;
                 for (const auto& h : extra_headers_)
                   res.set_header(h.first, h.second);
                 res.set_content(body_, "application/json");
               });
  // One request per connection: a kept-alive connection would hold the
  // server's stop for its whole idle timeout.
  server_->set_keep_alive_max_count(1);
  port_ = server_->bind_to_any_port(address);
  if (port_ <= 0)
    throw std::runtime_error("cannot bind a loopback port");
  thread_ = std::thread([this]() { server_->listen_after_bind(); });
  // stop() does nothing before the accept loop runs, which would leave the
  // destructor's join waiting forever, so the loop must be seen running.
  // The library has no notice of it; the loop starts at once.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!server_->is_running() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  if (!server_->is_running())
  {
    // Neither stoppable nor joinable: leave the thread and its server be.
    thread_.detach();
    (void)server_.release();
    throw std::runtime_error("the canned server's accept loop did not start within 10 s");
  }
}

Canned_Server::~Canned_Server()
{
  release();
  server_->stop();
  thread_.join();
}

void Canned_Server::answer(int status, const std::string& body,
                           const std::map<std::string, std::string>& headers)
{
  std::lock_guard<std::mutex> guard(lock_);
  status_ = status;
  body_ = body;
  extra_headers_ = headers;
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

void Canned_Server::hold()
{
  std::lock_guard<std::mutex> guard(lock_);
  holding_ = true;
}

void Canned_Server::release()
{
  std::lock_guard<std::mutex> guard(lock_);
  holding_ = false;
  changed_.notify_all();
}

bool Canned_Server::wait_requests(int count, int timeout_ms) const
{
  std::unique_lock<std::mutex> guard(lock_);
  return changed_.wait_for(guard, std::chrono::milliseconds(timeout_ms),
                           [this, count] { return requests_ >= count; });
}

}  // namespace test_support
