#ifndef TESTS_SUPPORT_LOG_CAPTURE_H
#define TESTS_SUPPORT_LOG_CAPTURE_H

#include <ostream>
#include <string>
#include <vector>

namespace test_support
{
/// One captured ACE log record.
struct Log_Record
{
  unsigned long priority;  ///< LM_ERROR, LM_EMERGENCY, ...
  std::string text;        ///< the formatted message, line feed included
  /// The logging thread's ACE op_status when the record was written: what
  /// the statement set (-1 for ACE_ERROR, 0 for ACE_DEBUG).
  int status = 0;
};

/// Equal priority, status and text; the text of a body line ("request
/// body:" or "response body:" and a JSON text) is compared as the JSON value
/// it parses to, since its layout is the host's dumper's.
bool operator==(const Log_Record& a, const Log_Record& b);
/// For test failure messages: "{status, priority, "text"}".
std::ostream& operator<<(std::ostream& out, const Log_Record& r);

/**
 * RAII capture of ACE logging.  While an object lives, every record logged
 * through ACE_Log_Msg on any thread is kept here instead of going to stderr.
 * One capture at a time.
 */
class Log_Capture
{
public:
  Log_Capture();
  ~Log_Capture();
  Log_Capture(const Log_Capture&) = delete;
  Log_Capture& operator=(const Log_Capture&) = delete;

  std::vector<Log_Record> records() const;
  /// All texts, concatenated.
  std::string text() const;
  void clear();
};

}  // namespace test_support

#endif /* TESTS_SUPPORT_LOG_CAPTURE_H */
