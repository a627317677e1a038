// Reading the text that a strfile data file describes, and finding its delimiter lines.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include <tallowmere/Platform/File.hpp>

namespace tallowmere::detail {

// A fortune text read in pieces: held in memory, or read through a File.
class StrfileText {
 public:
  virtual ~StrfileText() = default;
  virtual std::uint64_t size() = 0;
  // Up to `limit` bytes from `offset` on, fewer only at the end of the text and none past it.
  // The result may live in `buffer`, so it is valid until `buffer` changes.
  virtual std::string_view readAt(std::uint64_t offset, std::size_t limit, std::string& buffer) = 0;
};

class MemoryStrfileText final : public StrfileText {
 public:
  explicit MemoryStrfileText(std::string_view text) : text_(text) {}
  std::uint64_t size() override { return text_.size(); }
  std::string_view readAt(std::uint64_t offset, std::size_t limit, std::string&) override {
    if (offset >= text_.size()) return {};
    return text_.substr(static_cast<std::size_t>(offset), limit);
  }

 private:
  std::string_view text_;
};

class FileStrfileText final : public StrfileText {
 public:
  explicit FileStrfileText(File& file) : file_(file) {}
  std::uint64_t size() override { return static_cast<std::uint64_t>(file_.size()); }
  std::string_view readAt(std::uint64_t offset, std::size_t limit, std::string& buffer) override;

 private:
  File& file_;
};

// Finds the delimiter lines (the delimiter byte and a newline, alone on a line) of a text fed
// to it in consecutive chunks. Lines are counted from the first byte fed, so that a scan may
// start at any offset, as a reader that seeks there sees the text.
class DelimiterLines {
 public:
  DelimiterLines(char delimiter, std::uint64_t start) : delimiter_(delimiter), position_(start) {}

  // Feeds the chunk that follows the bytes fed so far and calls found(p) with the position of
  // each delimiter line that the chunk completes. found returns false to stop the scan; feed
  // then returns false too, and this scanner must not be fed again.
  template <class Found>
  bool feed(std::string_view chunk, Found&& found) {
    const std::size_t n = chunk.size();
    std::size_t i = 0;
    while (i < n) {
      if (pendingDelimiter_) {
        pendingDelimiter_ = false;
        if (chunk[i] == '\n') {
          ++i;
          atLineStart_ = true;
          if (!found(position_ + i - 2)) return false;
          continue;
        }
        atLineStart_ = false;  // a longer line that starts with the delimiter
      } else if (atLineStart_) {
        // A newline delimiter never forms such a line: its line ends at the delimiter itself.
        if (chunk[i] == delimiter_ && delimiter_ != '\n') {
          pendingDelimiter_ = true;
          ++i;
          continue;
        }
        atLineStart_ = false;
      }
      const void* newline = std::memchr(chunk.data() + i, '\n', n - i);
      if (newline == nullptr) break;
      i = static_cast<std::size_t>(static_cast<const char*>(newline) - chunk.data()) + 1;
      atLineStart_ = true;
    }
    position_ += n;
    return true;
  }

 private:
  char delimiter_;
  std::uint64_t position_;  // of the next byte to be fed
  bool atLineStart_ = true;
  bool pendingDelimiter_ = false;  // the last byte fed was the delimiter at a line's start
};

}  // namespace tallowmere::detail
