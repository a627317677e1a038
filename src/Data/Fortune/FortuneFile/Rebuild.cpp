// Rebuilding an index from the fortune text.
#include "Data/Fortune/FortuneFile.hpp"
#include "Data/Fortune/FortuneFile/Cells.hpp"
#include "Data/Fortune/FortuneFile/Scan.hpp"
#include "Data/Fortune/FortuneFile/Utf8.hpp"
#include "Platform/Errors.hpp"

namespace tallowmere {

namespace detail {

void throwTextTooLong(const std::string& operation, const std::string& fileName) {
  throw IOError::userError(operation + ": " + fileName + ": a fortune text file can hold at most " +
                           std::to_string(maxIndexedTextLength) +
                           " bytes, the largest offset an index file can store");
}

FortuneScanner::FortuneScanner(char32_t delimiter, File& text, std::size_t chunkSize)
    : delimiter_(delimiter), text_(text), chunkSize_(chunkSize) {
  text_.seek(0);
  position_ = start_ = bytesRead_ = text_.position();
  readChunk();
}

// Appends up to one chunk after the undecoded bytes; false at the end of the file.
bool FortuneScanner::readChunk() {
  buffer_.erase(0, front_);
  front_ = 0;
  const std::size_t kept = buffer_.size();
  buffer_.resize(kept + chunkSize_);
  const std::size_t got = text_.readSome(buffer_.data() + kept, chunkSize_);
  buffer_.resize(kept + got);
  bytesRead_ += static_cast<std::int64_t>(got);
  if (bytesRead_ > maxIndexedTextLength) throwTextTooLong("rebuildIndex", text_.name());
  return got > 0;
}

// The reader: the next character, or none at the end of the text.
std::optional<FortuneScanner::Char> FortuneScanner::read() {
  for (;;) {
    const std::size_t available = buffer_.size() - front_;
    if (available == 0) return std::nullopt;
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer_.data()) + front_;
    const Utf8Char decoded = decodeUtf8(bytes, available);
    if (!decoded.valid && decoded.length == available) {
      // The sequence may continue in the next chunk. If the file ends here, its undecodable
      // tail belongs to no fortune.
      if (readChunk()) continue;
      buffer_.clear();
      front_ = 0;
      return std::nullopt;
    }
    front_ += decoded.length;
    if (front_ == buffer_.size()) readChunk();
    const Char c{position_, decoded.value, decoded.length};
    position_ += decoded.length;
    return c;
  }
}

// The step machine: consumes characters until a fortune ends.
std::optional<IndexEntry> FortuneScanner::next() {
  for (;;) {
    const std::optional<Char> before = previous_;
    const std::optional<Char> c = read();
    previous_ = c;
    if (!before) {
      // Nothing read yet, or the last fortune has been returned.
      if (!c) return std::nullopt;
      count(*c);
      continue;
    }
    if (!c) {
      // The last fortune: a final newline is not part of its text but counts as a line end.
      if (before->value == U'\n') {
        return IndexEntry{start_, bytes_ - before->length, chars_ - 1, lines_};
      }
      return IndexEntry{start_, bytes_, chars_, lines_ + 1};
    }
    if (before->value == U'\n' && c->value == delimiter_) {
      // previous_ stays the delimiter, so the newline that ends a delimiter line never starts
      // another one.
      const std::optional<Char> after = read();
      if (!after) {
        count(*c);
        continue;
      }
      if (after->value == U'\n') {
        const IndexEntry entry{start_, bytes_ - before->length, chars_ - 1, lines_};
        start_ = after->offset + after->length;
        bytes_ = chars_ = lines_ = 0;
        return entry;
      }
      count(*c);
      count(*after);
      continue;
    }
    count(*c);
  }
}

}  // namespace detail

void rebuildIndex(char32_t delimiter, File& textFile, const Index& index) {
  // Refuse before clearing: the index must not lose its entries over a text it cannot hold.
  if (textFile.size() > detail::maxIndexedTextLength) {
    detail::throwTextTooLong("rebuildIndex", textFile.name());
  }
  clearIndex(index);
  detail::FortuneScanner scanner(delimiter, textFile);
  unfoldEntries(index, [&scanner] { return scanner.next(); });
}

void rebuildIndex(const FortuneFile& file) {
  // The text file is opened before the index, so that a text that cannot be opened leaves
  // no new index file behind.
  detail::withTextCell(file, [&](detail::HeldText& held) {
    File& text = held.file();
    detail::withIndexCell(file, held, [&](const Index& index) {
      rebuildIndex(file.fortuneDelim(), text, index);
    });
  });
}

}  // namespace tallowmere
