#include "tools/host/line_reader.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace
{
const std::size_t BLOCK = 64 * 1024;
}

Line_Reader::Line_Reader(int fd, std::size_t max_line) : fd_(fd), max_line_(max_line), block_(BLOCK) {}

bool Line_Reader::fill()
{
  for (;;)
  {
    ssize_t n = ::read(fd_, block_.data(), block_.size());
    if (n < 0 && errno == EINTR)
      continue;
    start_ = 0;
    end_ = n > 0 ? static_cast<std::size_t>(n) : 0;
    return n > 0;
  }
}

Line_Reader::Result Line_Reader::next(std::string& line)
{
  line.clear();
  for (;;)
  {
    if (start_ == end_ && !fill())
    {
      if (skipping_ || line.empty())
        return END;
      ++number_;
      return LINE;
    }
    const char* begin = block_.data() + start_;
    const char* feed = static_cast<const char*>(std::memchr(begin, '\n', end_ - start_));
    const std::size_t piece = feed != nullptr ? static_cast<std::size_t>(feed - begin) : end_ - start_;
    start_ += piece + (feed != nullptr ? 1 : 0);
    if (skipping_)
    {
      skipping_ = feed == nullptr;
      continue;
    }
    if (line.size() + piece > max_line_)
    {
      // Reported now, before the rest of the line arrives: nothing of it
      // is kept, however long it goes on.
      line.clear();
      skipping_ = feed == nullptr;
      ++number_;
      return TOO_LONG;
    }
    line.append(begin, piece);
    if (feed != nullptr)
    {
      ++number_;
      return LINE;
    }
  }
}
