#ifndef TOOLS_HOST_LINE_READER_H
#define TOOLS_HOST_LINE_READER_H

#include <cstddef>
#include <string>
#include <vector>

/**
 * Splits what a file descriptor gives into lines, without ever holding more
 * than a set number of bytes of one line: a longer line is reported as soon
 * as it passes the limit, and the rest of it is read and dropped.
 */
class Line_Reader
{
public:
  /// Reads @a fd (not owned) in blocks; lines of at most @a max_line bytes,
  /// line feed not counted.
  Line_Reader(int fd, std::size_t max_line);

  enum Result
  {
    LINE,      ///< @a line holds the next line, without its line feed
    TOO_LONG,  ///< the next line passed the limit; the calls that follow skip the rest of it
    END        ///< the input ended (or could not be read); a last line without a line feed came before
  };

  /// The next line, or news of one too long.  Blocks until a whole line,
  /// the limit or the end is reached.
  Result next(std::string& line);

  /// The number of the line that `next` last reported, from 1.
  std::size_t line_number() const { return number_; }

private:
  /// Refills the block; false at the end of input or on a read error.
  bool fill();

  int fd_;
  std::size_t max_line_;
  std::vector<char> block_;
  std::size_t start_ = 0;  ///< next unread byte of the block
  std::size_t end_ = 0;    ///< end of what the block holds
  bool skipping_ = false;  ///< inside a line already reported too long
  std::size_t number_ = 0;
};

#endif /* TOOLS_HOST_LINE_READER_H */
