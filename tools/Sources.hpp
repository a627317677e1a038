// The fortune files the command reads, each as one FortuneSource.
//
// A source reads its file through the index of this library (FILE.ix) when there is one; else
// through the data file of the classic tools (FILE.dat) when it is valid for the text, as
// Debian's collection has them; else by indexing the text in memory. A source holds no file
// open between its uses: each use opens what it needs and closes it again, so that any number
// of sources work within a small limit of open files.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <tallowmere/Data/Fortune.hpp>
#include <tallowmere/Data/Fortune/FunctionRef.hpp>
#include <tallowmere/Data/Fortune/Strfile.hpp>

namespace tallowmere::cli {

// A fortune file opened for one use of a source.
class OpenSource {
 public:
  virtual ~OpenSource() = default;
  virtual std::int64_t count() = 0;
  // Every fortune's entry (where it is, its length in characters and lines), in order.
  virtual std::vector<IndexEntry> entries() = 0;
  virtual IndexEntry entry(std::int64_t i) = 0;
  virtual std::string fortune(std::int64_t i) = 0;
};

class FortuneSource {
 public:
  // `textSize`, when the caller knows it (a directory walk does), spares asking for it.
  FortuneSource(std::string path, char32_t delimiter, std::optional<std::int64_t> textSize = {});

  [[nodiscard]] const std::string& path() const noexcept { return path_; }

  // Whether the file is read through the data file of the classic tools.
  bool classic();

  // False for a file read without any index whose first block holds a NUL byte: a program or
  // some other binary file, not fortunes. Indexed files are taken for text.
  bool isText();

  // The number of fortunes; read once.
  std::int64_t count();

  // Opens the file for the span of `use` and closes it again.
  void read(FunctionRef<void(OpenSource&)> use);

  // Visits every fortune in order with its number, its length in characters and its bytes
  // (letters rotated back for a rotated classic file; invalid UTF-8 left as it is), reading the
  // file once in bounded memory.
  void forEachFortune(FunctionRef<void(std::int64_t, std::int64_t, std::string_view)> visit);

 private:
  enum class Kind { Indexed, Classic, Unindexed };
  Kind kind();

  // Counts through the index's header alone (one open, one read), when the header is sound and
  // describes no more text than the file holds; false when the file has no index file.
  bool countFromIndexHeader();

  std::string path_;
  char32_t delimiter_;
  std::optional<std::int64_t> textSize_;
  std::optional<Kind> kind_;
  std::optional<StrfileData> data_;
  std::optional<std::int64_t> count_;
};

// The source's fortune `i`, in a use of its own.
std::string fortuneOf(FortuneSource& source, std::int64_t i);

}  // namespace tallowmere::cli
