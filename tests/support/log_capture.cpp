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
// The module's lines that carry the host's JSON_Dump of a value (the body
// lines of a failed request, the reply a version could not be read from)
// have the host's layout: they match when the dumped parts parse to the
// same JSON value and the texts around them are the same.
bool same_text(const std::string& a, const std::string& b)
{
  if (a == b)
    return true;
  struct Dump_Line
  {
    const char* head;
    const char* tail;
  };
  for (const Dump_Line& line : {Dump_Line{"request body:\n", "\n"}, Dump_Line{"response body:\n", "\n"},
                                Dump_Line{"The json returned by GET request is: ", ".\n"}})
  {
    const std::string head(line.head), tail(line.tail);
    auto dumped = [&](const std::string& text)
    {
      if (text.size() < head.size() + tail.size() || text.compare(0, head.size(), head) != 0 ||
          text.compare(text.size() - tail.size(), tail.size(), tail) != 0)
        return nlohmann::json(nlohmann::json::value_t::discarded);
      return nlohmann::json::parse(text.substr(head.size(), text.size() - head.size() - tail.size()), nullptr,
                                   false);
    };
    const nlohmann::json x = dumped(a);
    const nlohmann::json y = dumped(b);
    if (!x.is_discarded() || !y.is_discarded())
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
