// The rebuild scan: cuts a fortune text into index entries.
//
// Two parts in one place. The reader decodes the text one character at a time from a buffer
// that it refills in chunks; the step machine consumes the characters, recognises delimiter
// lines and produces one IndexEntry per fortune. Only next() is visible, so the way bytes are
// consumed can change (for example whole runs without a newline at once) while the entries
// stay exactly the same.
//
// The rules the entries follow:
//  - A delimiter line (a newline, the delimiter, a newline) ends a fortune; the fortune's bytes
//    and characters exclude the newline before the delimiter, its lines count that newline.
//    The next fortune starts just past the newline that ends the delimiter line. A delimiter
//    line is recognised only after a newline that was not itself the end of a delimiter line.
//  - The last fortune ends at the end of the text; a final newline is excluded from its bytes
//    and characters, and its line count is the number of newlines it holds plus 1.
//  - An invalid UTF-8 sequence counts as one character. One that runs to the very end of the
//    text ends the text before it: its bytes belong to no fortune.
//  - An empty text has no fortunes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "Data/Fortune/Index/Format.hpp"
#include "Platform/File.hpp"

namespace tallowmere::detail {

inline constexpr std::size_t scanChunkSize = 4096;

// The index format stores 32-bit offsets: no fortune may end beyond this byte offset, and no
// text longer than this can be indexed.
inline constexpr std::int64_t maxIndexedTextLength = 4294967295;

// IOError of the user-error kind: `operation` refused `fileName`, which is or would become
// longer than maxIndexedTextLength.
[[noreturn]] void throwTextTooLong(const std::string& operation, const std::string& fileName);

class FortuneScanner {
 public:
  // Seeks `text` to offset 0 and reads the first chunk of up to `chunkSize` bytes.
  FortuneScanner(char32_t delimiter, File& text, std::size_t chunkSize = scanChunkSize);

  // The next fortune's entry, or none after the last one. Read errors propagate; a text that
  // grows beyond maxIndexedTextLength while it is read is refused (throwTextTooLong).
  std::optional<IndexEntry> next();

 private:
  struct Char {
    std::int64_t offset;
    char32_t value;
    std::int64_t length;
  };

  std::optional<Char> read();
  bool readChunk();
  void count(const Char& c) noexcept {
    bytes_ += c.length;
    chars_ += 1;
    lines_ += c.value == U'\n' ? 1 : 0;
  }

  const char32_t delimiter_;
  File& text_;
  const std::size_t chunkSize_;

  // Reader: buffer_[front_, end) are the bytes read and not yet decoded; position_ is the
  // offset of buffer_[front_], bytesRead_ the offset just past the buffer.
  std::string buffer_;
  std::size_t front_ = 0;
  std::int64_t position_ = 0;
  std::int64_t bytesRead_ = 0;

  // Step machine: the fortune being scanned and the character returned before the current one.
  std::int64_t start_ = 0;
  std::int64_t bytes_ = 0;
  std::int64_t chars_ = 0;
  std::int64_t lines_ = 0;
  std::optional<Char> previous_;
};

}  // namespace tallowmere::detail
