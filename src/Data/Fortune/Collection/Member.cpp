#include "Data/Fortune/Collection/Member.hpp"

#include <algorithm>
#include <cerrno>

#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include <tallowmere/Data/Fortune/Open.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/FortuneFile/Trust.hpp"
#include "Data/Fortune/FortuneFile/Utf8.hpp"
#include "Data/Fortune/Strfile/Text.hpp"

namespace tallowmere::detail {

namespace {

// Thrown through forEachFortune, which cannot be told to stop, when a visitor says Stop.
struct StopVisit {};

// The size of the block looked at for NUL bytes: a text file holds none, a program many.
constexpr std::size_t kTextProbe = 4096;

void requireRegularFile(Env& env, const FileStatus& status, const std::string& path) {
  if (status.kind == FileKind::Missing) {
    // Opening says why: missing, or no permission to look.
    env.openFile(path, OpenMode::ReadOnly)->close();
    throw IOError::system(ENOENT, path, "open");
  }
  if (status.kind == FileKind::Directory) {
    throw IOError::userError(path + ": is a directory", path, ErrorReason::NotAFile);
  }
  if (status.kind != FileKind::Regular) {
    throw IOError::userError(path + ": not a regular file", path, ErrorReason::NotAFile);
  }
}

FortuneFileOptions readOptions(Env& env) { return FortuneFileOptions{.env = &env}; }

// Whether the index file's header is sound, describes no more text than the file holds and is
// no older than the text (changedSinceIndex), so that the file can be read through it; its count of
// entries when it can. An index with problems is no failure here: the file is read without it, as a
// read-only fortune file does.
std::optional<std::int64_t> indexedEntries(Env& env, const std::string& path, char32_t delimiter,
                                           const MemberSignature& signature) {
  if (!signature.index.exists()) return std::nullopt;
  try {
    const Index index = openIndex(path + ".ix", false, env);
    const FortuneStats stats = getStats(index);
    const bool changed = changedSinceIndex(index, signature.index, signature.text).has_value();
    closeIndex(index);
    if (changed) return std::nullopt;
    // What a read-only fortune file would not believe either: it would index the text itself.
    if (stats.numFortunes > 0 && stats.offsetAfter > signature.text.size) return std::nullopt;
    const TextBounds bounds{signature.text.size, separatorOf(delimiter)};
    if (headerProblem(stats, bounds, /*requireFortunes=*/true)) return std::nullopt;
    return stats.numFortunes;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// Whether the filter admits a fortune of these bytes; characters are counted only when a length
// is asked for.
bool admitsBytes(const FortuneFilter& filter, std::string_view bytes) {
  if (bytes.empty()) return false;
  return filter.admits(filter.length == LengthFilter::Any ? 1 : countUtf8Chars(bytes));
}

}  // namespace

MemberSignature signatureOf(Env& env, const std::string& path,
                            const std::optional<FileStatus>& text) {
  return {text ? *text : env.status(path), env.status(path + ".ix"), env.status(path + ".dat")};
}

std::shared_ptr<const Member> Member::load(Env& env, const std::string& path, char32_t delimiter,
                                           std::size_t source,
                                           const std::optional<FileStatus>& textStatus,
                                           std::size_t keepAtMost) {
  std::shared_ptr<Member> member = learn(env, path, delimiter, source, textStatus);
  const auto textSize =
      static_cast<std::uint64_t>(std::max<std::int64_t>(member->signature_.text.size, 0));
  const auto placesSize = static_cast<std::uint64_t>(member->entries_) * kPerFortune;
  if (keepAtMost == 0 || textSize + placesSize > keepAtMost) return member;
  if (std::optional<Kept> kept = keep(env, *member)) {
    kept->bytes.shrink_to_fit();
    kept->ends.shrink_to_fit();
    kept->entries.shrink_to_fit();
    if (kept->bytes.size() + kept->ends.size() * kPerFortune <= keepAtMost) {
      // What was read is the file as it is now, which may have grown since it was counted: the
      // kept fortunes are the ones a draw chooses among.
      member->entries_ = static_cast<std::int64_t>(kept->ends.size());
      member->kept_ = std::make_shared<const Kept>(std::move(*kept));
    }
  }
  return member;
}

std::shared_ptr<Member> Member::learn(Env& env, const std::string& path, char32_t delimiter,
                                      std::size_t source,
                                      const std::optional<FileStatus>& textStatus) {
  std::shared_ptr<Member> member(new Member());
  member->path_ = path;
  member->delimiter_ = delimiter;
  member->source_ = source;
  member->signature_ = signatureOf(env, path, textStatus);
  const MemberSignature& signature = member->signature_;
  requireRegularFile(env, signature.text, path);
  if (const auto entries = indexedEntries(env, path, delimiter, signature)) {
    member->format_ = FileFormat::Indexed;
    member->entries_ = *entries;
    return member;
  }
  // A data file older than its text lists fortunes of a text that is no more.
  if (signature.data.exists() && !changedAfter(signature.text, signature.data)) {
    // Read whole now: a table that does not fit the text is found before the file is counted,
    // and the text is then indexed in memory instead.
    if (auto data = readStrfileFor(path + ".dat", signature.text.size, env)) {
      member->format_ = FileFormat::Classic;
      member->entries_ = data->header.numStrings;
      member->table_ = std::move(data);
      return member;
    }
  }
  const std::unique_ptr<File> text = env.openFile(path, OpenMode::ReadOnly);
  if (text->readAt(0, kTextProbe).find('\0') != std::string::npos) {
    throw IOError::userError(path + ": not a text file; fortune files hold text", path,
                             ErrorReason::NotText);
  }
  Index index = createVirtualIndex();
  rebuildIndex(delimiter, *text, index);
  member->format_ = FileFormat::Unindexed;
  member->entries_ = getStats(index).numFortunes;
  member->memoryIndex_ = index;
  return member;
}

const StrfileData* Member::table() const { return table_ ? &*table_ : nullptr; }

std::size_t Member::keptBytes() const noexcept {
  return kept_ ? kept_->bytes.size() + kept_->ends.size() * kPerFortune : 0;
}

std::shared_ptr<const Member> Member::withoutKept() const {
  std::shared_ptr<Member> member(new Member(*this));
  member->kept_.reset();
  return member;
}

std::optional<Member::Kept> Member::keep(Env& env, const Member& member) {
  Kept kept;
  // Whether every fortune came, numbered from 0 in order: a visit that replaced a damaged index
  // on the way would number the rest by another table.
  bool inOrder = true;
  const auto add = [&](std::int64_t number, std::string_view bytes, const IndexEntry& entry) {
    if (number != static_cast<std::int64_t>(kept.ends.size())) inOrder = false;
    kept.bytes.append(bytes);
    kept.ends.push_back(kept.bytes.size());
    kept.entries.push_back(entry);
  };
  try {
    kept.bytes.reserve(
        static_cast<std::size_t>(std::max<std::int64_t>(member.signature_.text.size, 0)));
    kept.ends.reserve(static_cast<std::size_t>(member.entries_));
    kept.entries.reserve(static_cast<std::size_t>(member.entries_));
    if (member.format_ == FileFormat::Classic) {
      const StrfileData* data = member.table();
      if (data == nullptr) return std::nullopt;
      const std::unique_ptr<File> text = member.openKnownText(env);
      forEachStrfileFortune(*data, *text, [&](std::uint32_t number, std::string_view bytes) {
        // The entry as forEachEntry makes it for a classic file.
        add(number, bytes,
            IndexEntry{
                static_cast<std::int64_t>(data->offsets[number]),
                static_cast<std::int64_t>(bytes.size()), countUtf8Chars(bytes),
                1 + static_cast<std::int64_t>(std::count(bytes.begin(), bytes.end(), '\n'))});
      });
      if (kept.ends.size() != data->header.numStrings) return std::nullopt;
    } else if (member.format_ == FileFormat::Unindexed && member.memoryIndex_) {
      const std::unique_ptr<File> text = member.openKnownText(env);
      const std::string whole = text->readAt(
          0, static_cast<std::size_t>(std::max<std::int64_t>(member.signature_.text.size, 0)));
      const std::vector<IndexEntry> entries = getEntries(*member.memoryIndex_);
      for (std::size_t i = 0; i < entries.size(); ++i) {
        const IndexEntry& entry = entries[i];
        const auto at = static_cast<std::size_t>(entry.stringOffset);
        const auto length = static_cast<std::size_t>(entry.stringBytes);
        if (entry.stringOffset < 0 || entry.stringBytes < 0 || at > whole.size() ||
            length > whole.size() - at) {
          return std::nullopt;  // cut since it was indexed
        }
        add(static_cast<std::int64_t>(i), std::string_view(whole).substr(at, length), entry);
      }
    } else {
      // Under the text's shared lock, each entry checked against the text and each fortune's
      // bytes for a delimiter line, as a visit checks them.
      withFortuneFile(
          member.delimiter_, false, member.path_, readOptions(env), [&](const FortuneFile& file) {
            forEachFortune(file, [&](std::int64_t number, const IndexEntry& entry,
                                     std::string_view bytes) { add(number, bytes, entry); });
            if (static_cast<std::int64_t>(kept.ends.size()) != getNumFortunes(file)) {
              inOrder = false;
            }
          });
    }
  } catch (const std::exception&) {
    // Read from disk as without, where the failure is met and handled as it comes.
    return std::nullopt;
  }
  if (!inOrder) return std::nullopt;
  return kept;
}

std::unique_ptr<File> Member::openKnownText(Env& env) const {
  std::unique_ptr<File> text = env.openFile(path_, OpenMode::ReadOnly);
  // Another file at the path now, or the text cut: what was learned of it no longer holds.
  // A text that only grew keeps its fortunes where they were.
  if (text->identity() != signature_.text.identity || text->size() < signature_.text.size) {
    throw IOError::userError(path_ + ": the text changed since it was looked at", path_,
                             ErrorReason::StaleIndex);
  }
  return text;
}

std::optional<ReadFortune> Member::readIfAdmitted(Env& env, std::int64_t number,
                                                  const FortuneFilter& filter) const {
  ReadFortune read;
  const auto admit = [&](std::int64_t characters) { return filter.admits(characters); };
  if (kept_) {
    if (number < 0 || number >= static_cast<std::int64_t>(kept_->ends.size())) {
      throw IOError::userError(path_ + ": no fortune number " + std::to_string(number), path_,
                               ErrorReason::OutOfRange);
    }
    const auto at = static_cast<std::size_t>(number);
    if (!admit(kept_->entries[at].stringChars)) return std::nullopt;
    const std::size_t start = at == 0 ? 0 : kept_->ends[at - 1];
    read.bytes.assign(kept_->bytes, start, kept_->ends[at] - start);
    return read;
  }
  if (format_ == FileFormat::Classic) {
    if (const StrfileData* data = table()) {
      if (number < 0 || number >= static_cast<std::int64_t>(data->header.numStrings)) {
        throw IOError::userError(path_ + ": no fortune number " + std::to_string(number), path_,
                                 ErrorReason::OutOfRange);
      }
      const std::unique_ptr<File> text = openKnownText(env);
      const auto at = static_cast<std::uint32_t>(number);
      const StrfileSpan span = locateStrfileFortune(*data, at, *text);
      read.bytes = text->readAt(static_cast<std::int64_t>(span.offset),
                                static_cast<std::size_t>(span.length));
      if (!read.bytes.empty() && read.bytes.back() == '\n') read.bytes.pop_back();
      if ((data->header.flags & StrfileHeader::rotated) != 0) read.bytes = rot13(read.bytes);
      if (!admit(countUtf8Chars(read.bytes))) return std::nullopt;
      return read;
    }
  }
  if (format_ == FileFormat::Unindexed && memoryIndex_) {
    const IndexEntry entry = getEntry(*memoryIndex_, number);
    if (!admit(entry.stringChars)) return std::nullopt;
    const std::unique_ptr<File> text = openKnownText(env);
    read.bytes = text->readAt(entry.stringOffset, static_cast<std::size_t>(entry.stringBytes));
    if (static_cast<std::int64_t>(read.bytes.size()) != entry.stringBytes) {
      throw IOError::userError(path_ + ": the text changed while it was read", path_,
                               ErrorReason::StaleIndex);
    }
    return read;
  }
  // Through the file's index, or the text indexed anew when the index cannot be used.
  std::optional<ReadFortune> result;
  withFortuneFile(delimiter_, false, path_, readOptions(env), [&](const FortuneFile& file) {
    const IndexEntry entry = getEntry(getIndex(file), number);
    if (!admit(entry.stringChars)) return;
    std::string text = getFortune(file, number);
    read.bytes = std::move(text);
    result = std::move(read);
  });
  return result;
}

void Member::forEachEntry(Env& env, const FortuneFilter& filter,
                          FunctionRef<void(std::int64_t, const IndexEntry&)> each) const {
  const auto eachOf = [&](const std::vector<IndexEntry>& entries) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (filter.admits(entries[i].stringChars)) each(static_cast<std::int64_t>(i), entries[i]);
    }
  };
  if (kept_) {
    eachOf(kept_->entries);
    return;
  }
  if (format_ == FileFormat::Unindexed && memoryIndex_) {
    eachOf(getEntries(*memoryIndex_));
    return;
  }
  const StrfileData* data = format_ == FileFormat::Classic ? table() : nullptr;
  if (data == nullptr) {
    withFortuneFile(delimiter_, false, path_, readOptions(env),
                    [&](const FortuneFile& file) { eachOf(getEntries(file)); });
    return;
  }
  const std::unique_ptr<File> text = env.openFile(path_, OpenMode::ReadOnly);
  forEachStrfileFortune(*data, *text, [&](std::uint32_t number, std::string_view bytes) {
    const IndexEntry entry{
        static_cast<std::int64_t>(data->offsets[number]), static_cast<std::int64_t>(bytes.size()),
        countUtf8Chars(bytes),
        1 + static_cast<std::int64_t>(std::count(bytes.begin(), bytes.end(), '\n'))};
    if (filter.admits(entry.stringChars)) each(number, entry);
  });
}

Visit Member::visit(Env& env, const FortuneFilter& filter,
                    FunctionRef<Visit(std::int64_t, std::string_view)> visitor) const {
  Visit result = Visit::Continue;
  if (format_ == FileFormat::Classic) {
    if (const StrfileData* data = table()) {
      const std::unique_ptr<File> text = env.openFile(path_, OpenMode::ReadOnly);
      try {
        forEachStrfileFortune(*data, *text, [&](std::uint32_t number, std::string_view bytes) {
          if (!admitsBytes(filter, bytes)) return;
          if (visitor(number, bytes) == Visit::Stop) throw StopVisit{};
        });
      } catch (const StopVisit&) {
        result = Visit::Stop;
      }
      return result;
    }
  }
  withFortuneFile(delimiter_, false, path_, readOptions(env), [&](const FortuneFile& file) {
    try {
      forEachFortune(file,
                     [&](std::int64_t number, const IndexEntry& entry, std::string_view bytes) {
                       if (entry.stringChars <= 0 || !filter.admits(entry.stringChars)) return;
                       if (visitor(number, bytes) == Visit::Stop) throw StopVisit{};
                     });
    } catch (const StopVisit&) {
      result = Visit::Stop;
    }
  });
  return result;
}

namespace {

// The piece of a text that a search reads at a time: large enough that few fortunes cross its
// end, small enough to stay in the processor's cache.
constexpr std::size_t kMatchWindow = 256 << 10;

}  // namespace

std::optional<Member::Places> Member::places(Env& env) const {
  Places places;
  if (format_ == FileFormat::Classic) {
    const StrfileData* data = table();
    if (data == nullptr) return std::nullopt;
    const std::vector<std::uint32_t>& offsets = data->offsets;
    for (std::uint32_t i = 0; i < data->header.numStrings; ++i) {
      if (i > 0 && offsets[i] < offsets[i - 1]) return std::nullopt;  // not in text order
      places.starts.push_back(offsets[i]);
    }
    return places;
  }
  std::vector<IndexEntry> entries;
  if (format_ == FileFormat::Unindexed && memoryIndex_) {
    entries = getEntries(*memoryIndex_);
  } else {
    withFortuneFile(delimiter_, false, path_, readOptions(env),
                    [&](const FortuneFile& file) { entries = getEntries(file); });
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const IndexEntry& entry = entries[i];
    if (!places.ends.empty() && entry.stringOffset < places.ends.back()) return std::nullopt;
    places.starts.push_back(entry.stringOffset);
    places.ends.push_back(entry.stringOffset + entry.stringBytes);
  }
  return places;
}

namespace {

// A window of a text read into a buffer that every window and every text reuses, so that the
// system hands over its pages once, not for every text; rotated back when the text is stored
// rotated.
class TextWindow {
 public:
  // One byte more than a window, for a NUL after the bytes read: a regexec that looks for
  // the end of its text (a sanitizer's does, even when told where the text ends) stops there.
  TextWindow(File& file, ReadBuffer& buffer, bool rotated)
      : file_(file), data_(buffer.reserve(kMatchWindow + 1)), rotated_(rotated) {}

  // Reads the window from `start` on; false when nothing is there.
  bool load(std::int64_t start) {
    start_ = start;
    length_ = file_.readAt(start, data_, kMatchWindow);
    data_[length_] = '\0';
    if (rotated_) {
      for (std::size_t i = 0; i < length_; ++i) data_[i] = rot13Byte(data_[i]);
    }
    return length_ > 0;
  }

  [[nodiscard]] std::int64_t start() const noexcept { return start_; }
  [[nodiscard]] std::int64_t end() const noexcept {
    return start_ + static_cast<std::int64_t>(length_);
  }
  // Whether the window reaches the end of the text (as it was when read).
  [[nodiscard]] bool atEnd() const noexcept { return length_ < kMatchWindow; }
  [[nodiscard]] std::string_view bytes() const noexcept { return {data_, length_}; }
  [[nodiscard]] bool holds(std::int64_t at) const noexcept { return at >= start_ && at < end(); }

  // The bytes from `from` to `to`, both inside the window.
  [[nodiscard]] std::string_view slice(std::int64_t from, std::int64_t to) const noexcept {
    return bytes().substr(static_cast<std::size_t>(from - start_),
                          static_cast<std::size_t>(to - from));
  }

 private:
  static char rot13Byte(char c) noexcept {
    if ((c >= 'a' && c <= 'm') || (c >= 'A' && c <= 'M')) return static_cast<char>(c + 13);
    if ((c >= 'n' && c <= 'z') || (c >= 'N' && c <= 'Z')) return static_cast<char>(c - 13);
    return c;
  }

  File& file_;
  char* data_;
  bool rotated_;
  std::int64_t start_ = 0;
  std::size_t length_ = 0;
};

}  // namespace

Visit Member::visitMatches(Env& env, const FortuneFilter& filter, const Pattern& pattern,
                           ReadBuffer& buffer,
                           FunctionRef<Visit(std::int64_t, std::string_view)> visitor) const {
  const auto generic = [&] {
    return visit(env, filter, [&](std::int64_t number, std::string_view bytes) {
      return pattern.matches(bytes) ? visitor(number, bytes) : Visit::Continue;
    });
  };
  if (!pattern.hasLiteral()) return generic();
  const std::optional<Places> found = places(env);
  if (!found || found->starts.empty()) return generic();
  const StrfileData* data = format_ == FileFormat::Classic ? table() : nullptr;
  const bool rotated = data != nullptr && (data->header.flags & StrfileHeader::rotated) != 0;
  const std::unique_ptr<File> file = env.openFile(path_, OpenMode::ReadOnly);
  TextWindow window(*file, buffer, rotated);
  const std::vector<std::int64_t>& starts = found->starts;
  const auto literal = static_cast<std::int64_t>(pattern.literalLength());
  std::int64_t from = 0;  // where the literal is looked for next, in the whole text
  if (!window.load(0)) return Visit::Continue;
  for (;;) {
    // A window moved back to the start of a fortune is searched from there: between `from` and
    // the literal found last, there was none.
    from = std::max(from, window.start());
    if (from >= window.end()) {
      if (window.atEnd() || !window.load(from)) return Visit::Continue;
    }
    const std::size_t hit = pattern.findLiteral(
        window.bytes(), static_cast<std::size_t>(std::max<std::int64_t>(from - window.start(), 0)));
    if (hit == std::string_view::npos) {
      if (window.atEnd()) return Visit::Continue;
      // On in the next window, which keeps what could be the start of a literal cut in two.
      from = std::max(from, window.end() - literal + 1);
      if (!window.load(from)) return Visit::Continue;
      continue;
    }
    const std::int64_t at = window.start() + static_cast<std::int64_t>(hit);
    // The fortune that starts last at or before the literal.
    const auto next = std::upper_bound(starts.begin(), starts.end(), at);
    if (next == starts.begin()) {
      from = starts.front();
      continue;
    }
    const auto number = static_cast<std::int64_t>(next - starts.begin()) - 1;
    const std::int64_t start = starts[static_cast<std::size_t>(number)];
    // A fortune that starts before the window is read into a window from its start, unless it
    // is longer than a window: then it is read by itself.
    const bool alone = start < window.start() && at + literal - start > std::int64_t{kMatchWindow};
    if (start < window.start() && !alone) {
      window.load(start);
      continue;
    }
    // Where the fortune ends: as its entry says, or at the first delimiter line from its start.
    std::optional<std::int64_t> end;
    if (alone) {
    } else if (data == nullptr) {
      end = found->ends[static_cast<std::size_t>(number)];
      if (*end > window.end()) end.reset();
    } else {
      DelimiterLines lines(data->header.delimiter, static_cast<std::uint64_t>(start));
      lines.feed(window.slice(start, window.end()), [&](std::uint64_t line) {
        end = static_cast<std::int64_t>(line);
        return false;
      });
      if (!end && window.atEnd()) end = window.end();
    }
    std::string own;  // a fortune longer than a window, read by itself
    std::string_view bytes;
    if (end) {
      bytes = window.slice(start, *end);
    } else if (!alone && start > window.start()) {
      window.load(start);
      continue;
    } else if (data != nullptr) {
      const StrfileSpan span =
          locateStrfileFortune(*data, static_cast<std::uint32_t>(number), *file);
      own = file->readAt(start, static_cast<std::size_t>(span.length));
      if (rotated) own = rot13(own);
      bytes = own;
      end = start + static_cast<std::int64_t>(span.length);
    } else {
      own = file->readAt(
          start, static_cast<std::size_t>(found->ends[static_cast<std::size_t>(number)] - start));
      bytes = own;
      end = start + static_cast<std::int64_t>(own.size());
    }
    from = std::max(*end, at + 1);
    if (at + literal > *end) {
      from = at + 1;  // across the end of the fortune: not in it
      continue;
    }
    if (data != nullptr && !bytes.empty() && bytes.back() == '\n') bytes.remove_suffix(1);
    if (!admitsBytes(filter, bytes) || !pattern.matches(bytes)) continue;
    if (visitor(number, bytes) == Visit::Stop) return Visit::Stop;
  }
}

}  // namespace tallowmere::detail
