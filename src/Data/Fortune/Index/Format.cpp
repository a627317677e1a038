#include <tallowmere/Data/Fortune/Index/Format.hpp>

#include <algorithm>
#include <ostream>

#include <tallowmere/Data/Fortune/Index/Problems.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/detail/Coding.hpp"

namespace tallowmere {
namespace {

constexpr std::size_t kReservedBytes = 28;

// The decoders' failure for input that ends before a field: "demandInput" names the step that
// asked for more input than there was.
[[noreturn]] void throwTooFewBytes(const char* decoder, std::size_t wanted, std::size_t have,
                                   std::size_t at) {
  throw IOError::userError(std::string(decoder) + ": demandInput: too few bytes (needed " +
                               std::to_string(wanted) + " at byte " + std::to_string(at) +
                               ", have " + std::to_string(have) + ")",
                           {}, ErrorReason::DamagedIndex);
}

// Reads the next 32-bit field of a header being decoded.
class HeaderReader {
 public:
  explicit HeaderReader(std::string_view bytes) : bytes_(bytes) {}

  std::uint32_t next() {
    demand(4);
    const std::uint32_t value = detail::getFixed32(bytes_, at_);
    at_ += 4;
    return value;
  }
  void skip(std::size_t n) {
    demand(n);
    at_ += n;
  }

 private:
  void demand(std::size_t n) const {
    if (bytes_.size() - at_ < n) throwTooFewBytes("decodeHeader", n, bytes_.size() - at_, at_);
  }

  std::string_view bytes_;
  std::size_t at_ = 0;
};

std::string showRecord(const char* name, const std::string& fields, int precedence) {
  std::string text = std::string(name) + " {" + fields + "}";
  return precedence >= 11 ? "(" + text + ")" : text;
}

}  // namespace

FortuneStats indexEntryStats(const IndexEntry& entry) noexcept {
  const auto end = static_cast<std::int64_t>(static_cast<std::uint64_t>(entry.stringOffset) +
                                             static_cast<std::uint64_t>(entry.stringBytes));
  return {1, end, entry.stringChars, entry.stringChars, entry.stringLines, entry.stringLines};
}

FortuneStats indexEntryStats(std::span<const IndexEntry> entries) noexcept {
  FortuneStats s = FortuneStats::mempty;
  for (const IndexEntry& entry : entries) {
    const auto end = static_cast<std::int64_t>(static_cast<std::uint64_t>(entry.stringOffset) +
                                               static_cast<std::uint64_t>(entry.stringBytes));
    s.offsetAfter = std::max(s.offsetAfter, end);
    s.minChars = std::min(s.minChars, entry.stringChars);
    s.maxChars = std::max(s.maxChars, entry.stringChars);
    s.minLines = std::min(s.minLines, entry.stringLines);
    s.maxLines = std::max(s.maxLines, entry.stringLines);
  }
  s.numFortunes = static_cast<std::int64_t>(entries.size());
  return s;
}

std::string encodeHeader(const Header& header) {
  const FortuneStats& s = header.stats;
  std::string out;
  out.reserve(static_cast<std::size_t>(indexHeaderLength));
  detail::putFixed32(out, indexMagicNumber);
  detail::putFixed32(out, indexFormatVersion);
  for (std::int64_t field : {header.indexLoc, s.numFortunes, s.maxChars, s.minChars, s.maxLines,
                             s.minLines, s.offsetAfter}) {
    detail::putFixed32(out, field);
  }
  out.append(kReservedBytes, '\0');
  return out;
}

Header decodeHeader(std::string_view bytes) {
  HeaderReader in(bytes.substr(0, static_cast<std::size_t>(indexHeaderLength)));
  if (const std::uint32_t magic = in.next(); magic != indexMagicNumber) {
    throwProblem(HeaderProblem::BadMagicNumber(magic));
  }
  // Version 2 is the only layout there is; a new version would choose its field reader here.
  if (const std::uint32_t version = in.next(); version != indexFormatVersion) {
    throwProblem(HeaderProblem::UnsupportedVersion(version));
  }
  Header header{};
  header.indexLoc = in.next();
  FortuneStats& s = header.stats;
  s.numFortunes = in.next();
  s.maxChars = in.next();
  s.minChars = in.next();
  s.maxLines = in.next();
  s.minLines = in.next();
  s.offsetAfter = in.next();
  in.skip(kReservedBytes);
  return header;
}

std::string encodeIndexEntry(const IndexEntry& entry) {
  std::string out;
  encodeIndexEntries({&entry, 1}, out);
  return out;
}

void encodeIndexEntries(std::span<const IndexEntry> entries, std::string& out) {
  const std::size_t at = out.size();
  out.resize(at + entries.size() * static_cast<std::size_t>(indexEntryLength));
  encodeIndexEntries(entries, out.data() + at);
}

char* encodeIndexEntries(std::span<const IndexEntry> entries, char* out) noexcept {
  for (const IndexEntry& e : entries) {
    detail::storeFixed32(out, e.stringOffset);
    detail::storeFixed32(out + 4, e.stringBytes);
    detail::storeFixed32(out + 8, e.stringChars);
    detail::storeFixed32(out + 12, e.stringLines);
    out += indexEntryLength;
  }
  return out;
}

std::pair<IndexEntry, std::size_t> decodeIndexEntry(std::string_view bytes, std::size_t position) {
  constexpr auto kLength = static_cast<std::size_t>(indexEntryLength);
  const std::size_t have = position <= bytes.size() ? bytes.size() - position : 0;
  if (have < kLength) throwTooFewBytes("decodeIndexEntry", kLength, have, position);
  IndexEntry entry{detail::getFixed32(bytes, position), detail::getFixed32(bytes, position + 4),
                   detail::getFixed32(bytes, position + 8),
                   detail::getFixed32(bytes, position + 12)};
  return {entry, position + kLength};
}

std::string show(const Header& header, int precedence) {
  return showRecord(
      "Header",
      "stats = " + show(header.stats, 0) + ", indexLoc = " + std::to_string(header.indexLoc),
      precedence);
}

std::string show(const IndexEntry& entry, int precedence) {
  return showRecord("IndexEntry",
                    "stringOffset = " + std::to_string(entry.stringOffset) +
                        ", stringBytes = " + std::to_string(entry.stringBytes) +
                        ", stringChars = " + std::to_string(entry.stringChars) +
                        ", stringLines = " + std::to_string(entry.stringLines),
                    precedence);
}

std::ostream& operator<<(std::ostream& out, const Header& header) { return out << show(header); }
std::ostream& operator<<(std::ostream& out, const IndexEntry& entry) { return out << show(entry); }

}  // namespace tallowmere
