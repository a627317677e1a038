#include "Sources.hpp"

#include <cerrno>

#include <tallowmere/Platform/Env.hpp>
#include "Report.hpp"

namespace tallowmere::cli {

namespace {

// Through the index of this library, or the text indexed in memory.
class IndexedSource final : public OpenSource {
 public:
  explicit IndexedSource(const FortuneFile& file) : file_(file) {}
  std::int64_t count() override { return getNumFortunes(file_); }
  std::vector<IndexEntry> entries() override { return getEntries(file_); }
  IndexEntry entry(std::int64_t i) override { return getEntry(getIndex(file_), i); }
  std::string fortune(std::int64_t i) override { return getFortune(file_, i); }

 private:
  const FortuneFile& file_;
};

// Through the data file of the classic tools.
class ClassicSource final : public OpenSource {
 public:
  ClassicSource(const StrfileData& data, File& text) : data_(data), text_(text) {}
  std::int64_t count() override { return data_.header.numStrings; }
  std::vector<IndexEntry> entries() override { return strfileEntries(data_, text_); }
  IndexEntry entry(std::int64_t i) override { return strfileEntry(data_, number(i), text_); }
  std::string fortune(std::int64_t i) override { return strfileFortune(data_, number(i), text_); }

 private:
  std::uint32_t number(std::int64_t i) {
    if (i < 0 || i >= count()) throw IOError::userError("no fortune number " + std::to_string(i));
    return static_cast<std::uint32_t>(i);
  }

  const StrfileData& data_;
  File& text_;
};

}  // namespace

FortuneSource::FortuneSource(std::string path, char32_t delimiter,
                             std::optional<std::int64_t> textSize)
    : path_(std::move(path)), delimiter_(delimiter), textSize_(textSize) {}

bool FortuneSource::countFromIndexHeader() {
  std::string header;
  try {
    header = openFile(path_ + ".ix", OpenMode::ReadOnly)->readAt(0, indexHeaderLength);
  } catch (const IOError& error) {
    if (error.errorCode() == ENOENT) return false;
    return true;  // there is one; reading the file through the library says what is wrong
  }
  try {
    const Header decoded = decodeHeader(header);
    const FortuneStats& stats = decoded.stats;
    if (decoded.indexLoc < indexHeaderLength || !statsAreValid(stats)) return true;
    if (!textSize_) textSize_ = Env::disk().status(path_).size;
    if (stats.numFortunes > 0 && stats.offsetAfter > *textSize_) return true;  // stale
    count_ = stats.numFortunes;
  } catch (const std::exception&) {  // damaged: the library reads around it
  }
  return true;
}

FortuneSource::Kind FortuneSource::kind() {
  if (!kind_) {
    kind_ = countFromIndexHeader() ? Kind::Indexed : Kind::Unindexed;
    if (kind_ == Kind::Unindexed) {
      // Only the header for now: counting needs no more. The table is read, and checked
      // against the text, when a fortune is.
      if (const auto header = readStrfileHeader(path_ + ".dat")) {
        kind_ = Kind::Classic;
        count_ = header->numStrings;
      }
    }
  }
  return *kind_;
}

bool FortuneSource::classic() { return kind() == Kind::Classic; }

bool FortuneSource::isText() {
  if (kind() != Kind::Unindexed) return true;
  const std::unique_ptr<File> file = openFile(path_, OpenMode::ReadOnly);
  return file->readAt(0, 4096).find('\0') == std::string::npos;
}

std::int64_t FortuneSource::count() {
  kind();
  if (!count_) read([&](OpenSource& open) { count_ = open.count(); });
  return *count_;
}

void FortuneSource::read(FunctionRef<void(OpenSource&)> use) {
  if (kind() == Kind::Classic) {
    if (!data_) data_ = readStrfileFor(path_ + ".dat", path_);
    if (data_) {
      const std::unique_ptr<File> text = openFile(path_, OpenMode::ReadOnly);
      ClassicSource open(*data_, *text);
      use(open);
      return;
    }
    // A damaged table, or one that does not fit the text: the text is indexed in memory.
    kind_ = Kind::Unindexed;
    count_.reset();
  }
  // Without an index the text is indexed in memory: a text that cannot be read is reported as
  // such, not as the index file that is missing.
  if (kind() == Kind::Unindexed) openFile(path_, OpenMode::ReadOnly)->close();
  withFortuneFile(delimiter_, false, path_, [&](const FortuneFile& file) {
    IndexedSource open(file);
    use(open);
  });
}

void FortuneSource::forEachFortune(
    FunctionRef<void(std::int64_t, std::int64_t, std::string_view)> visit) {
  if (kind() == Kind::Classic) {
    if (!data_) data_ = readStrfileFor(path_ + ".dat", path_);
    if (data_) {
      const std::unique_ptr<File> text = openFile(path_, OpenMode::ReadOnly);
      forEachStrfileFortune(*data_, *text, [&](std::uint32_t number, std::string_view bytes) {
        visit(number, countUtf8Chars(bytes), bytes);
      });
      return;
    }
    kind_ = Kind::Unindexed;
    count_.reset();
  }
  if (kind() == Kind::Unindexed) openFile(path_, OpenMode::ReadOnly)->close();
  withFortuneFile(delimiter_, false, path_, [&](const FortuneFile& file) {
    tallowmere::forEachFortune(
        file, [&](std::int64_t i, const IndexEntry& entry, std::string_view bytes) {
          visit(i, entry.stringChars, bytes);
        });
  });
}

std::string fortuneOf(FortuneSource& source, std::int64_t i) {
  std::string text;
  source.read([&](OpenSource& open) { text = open.fortune(i); });
  return text;
}

}  // namespace tallowmere::cli
