#include "tests/support/log_capture.h"

#include <mutex>

#include <nlohmann/json.hpp>

#include <ace/Log_Msg.h>
#include <ace/Log_Msg_Backend.h>
#include <ace/Log_Record.h>

namespace test_support
{
namespace
{
// ACE's flags and its custom backend are process-wide, so one backend sees
// the records of every thread (a callback would see only its own thread's).
class Capture_Backend : public ACE_Log_Msg_Backend
{
public:
  int open(const ACE_TCHAR*) override { return 0; }
  int reset() override { return 0; }
  int close() override { return 0; }
  ssize_t log(ACE_Log_Record& record) override
  {
    std::lock_guard<std::mutex> guard(lock);
    // The backend runs inside ACE_Log_Msg::log on the logging thread, after
    // the statement's conditional_set took effect.
    records.push_back(Log_Record{record.type(), record.msg_data(), ACE_Log_Msg::instance()->op_status()});
    return 0;
  }

  std::mutex lock;
  std::vector<Log_Record> records;
};

Capture_Backend backend;
}  // namespace

Log_Capture::Log_Capture()
{
  clear();
  ACE_Log_Msg::msg_backend(&backend);
  ACE_Log_Msg* log = ACE_Log_Msg::instance();
  log->set_flags(ACE_Log_Msg::CUSTOM);
  log->clr_flags(ACE_Log_Msg::STDERR);
}

Log_Capture::~Log_Capture()
{
  ACE_Log_Msg* log = ACE_Log_Msg::instance();
  log->clr_flags(ACE_Log_Msg::CUSTOM);
  log->set_flags(ACE_Log_Msg::STDERR);
  ACE_Log_Msg::msg_backend(nullptr);
}

namespace
{
// The module's body lines ("request body:", "response body:") carry the
// host's JSON_Dump of a value, whose layout is the host's: they match when
// the rest of each text parses to the same JSON value.
bool same_text(const std::string& a, const std::string& b)
{
  if (a == b)
    return true;
  for (const char* label : {"request body:\n", "response body:\n"})
  {
    const std::string head(label);
    if (a.compare(0, head.size(), head) != 0 || b.compare(0, head.size(), head) != 0)
      continue;
    nlohmann::json x = nlohmann::json::parse(a.substr(head.size()), nullptr, false);
    nlohmann::json y = nlohmann::json::parse(b.substr(head.size()), nullptr, false);
    return !x.is_discarded() && !y.is_discarded() && x == y;
  }
  return false;
}
}  // namespace

bool operator==(const Log_Record& a, const Log_Record& b)
{
  return a.priority == b.priority && same_text(a.text, b.text) && a.status == b.status;
}

std::ostream& operator<<(std::ostream& out, const Log_Record& r)
{
  return out << "{status " << r.status << ", priority " << r.priority << ", \"" << r.text << "\"}";
}

std::vector<Log_Record> Log_Capture::records() const
{
  std::lock_guard<std::mutex> guard(backend.lock);
  return backend.records;
}

std::string Log_Capture::text() const
{
  std::string all;
  for (const Log_Record& r : records())
    all += r.text;
  return all;
}

void Log_Capture::clear()
{
  std::lock_guard<std::mutex> guard(backend.lock);
  backend.records.clear();
}

}  // namespace test_support
