// One file of a collection as the collection knows it (internal): how it is read, how many
// entries it has, and what was loaded to read it, together with the status of its files when
// that was learned, so that a change is noticed with a few status calls.
//
// A Member is immutable once made; the collection replaces it whole when its files change, so
// that a thread reading through one never sees it change. Every read opens what it needs and
// closes it again, unless the member keeps its fortunes: then a read of one is served from the
// bytes read, under the text's shared lock and checked as any read is, when the member was made.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <tallowmere/Data/Fortune/Collection.hpp>
#include <tallowmere/Data/Fortune/Index.hpp>
#include <tallowmere/Data/Fortune/Strfile.hpp>
#include <tallowmere/Platform/Env.hpp>

namespace tallowmere::detail {

// The status of a text and of the index files beside it.
struct MemberSignature {
  FileStatus text;
  FileStatus index;  // FILE.ix
  FileStatus data;   // FILE.dat

  friend bool operator==(const MemberSignature&, const MemberSignature&) = default;
};

[[nodiscard]] MemberSignature signatureOf(Env& env, const std::string& path,
                                          const std::optional<FileStatus>& text = {});

// A fortune read for a draw: its bytes as they stand (rotated back).
struct ReadFortune {
  std::string bytes;
};

// Memory that reads of one text after another reuse: a fresh buffer for each text would have
// the system hand over, and clear, new pages for every one. Not zero-filled.
class ReadBuffer {
 public:
  char* reserve(std::size_t size) {
    if (size > capacity_) {
      data_.reset(new char[size]);
      capacity_ = size;
    }
    return data_.get();
  }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
};

class Member {
 public:
  // Learns how to read the file at `path`: through FILE.ix when it opens and fits the text,
  // else FILE.dat when its header fits, else the text indexed in memory. Throws the IOError of a
  // text that cannot be read, NotAFile for something other than a regular file, NotText for a
  // binary file read without an index.
  // `text` is the text's status when the caller has just looked.
  // With `keepAtMost` above 0, the fortunes are also read into memory when they and their
  // places take no more than that many bytes (keptBytes()), so that readIfAdmitted reads no
  // file; a file whose fortunes cannot be read whole and sound is read from disk as without.
  static std::shared_ptr<const Member> load(Env& env, const std::string& path, char32_t delimiter,
                                            std::size_t source,
                                            const std::optional<FileStatus>& text = {},
                                            std::size_t keepAtMost = 0);

  // The bytes this member keeps of its fortunes; 0 when it keeps none.
  [[nodiscard]] std::size_t keptBytes() const noexcept;
  // The same member reading from disk, for one that must give back what it keeps.
  [[nodiscard]] std::shared_ptr<const Member> withoutKept() const;

  [[nodiscard]] const std::string& path() const noexcept { return path_; }
  [[nodiscard]] FileFormat format() const noexcept { return format_; }
  [[nodiscard]] std::size_t source() const noexcept { return source_; }
  [[nodiscard]] const MemberSignature& signature() const noexcept { return signature_; }
  // The entries of its table, empty fortunes included: what a draw chooses among.
  [[nodiscard]] std::int64_t entries() const noexcept { return entries_; }

  // Entry `number`'s fortune when the filter admits it, else none; one open of each file.
  // Throws OutOfRange for a number the file no longer has.
  [[nodiscard]] std::optional<ReadFortune> readIfAdmitted(Env& env, std::int64_t number,
                                                          const FortuneFilter& filter) const;

  // Hands the entry of every fortune that the filter admits to `each`, in order, with its number.
  // Reads every entry (for a classic file, every fortune).
  void forEachEntry(Env& env, const FortuneFilter& filter,
                    FunctionRef<void(std::int64_t, const IndexEntry&)> each) const;

  // Hands every admitted fortune to `visit` in order, reading the text once in bounded memory;
  // stops when it answers Stop, and returns that.
  Visit visit(Env& env, const FortuneFilter& filter,
              FunctionRef<Visit(std::int64_t, std::string_view)> visit) const;

  // The same for the admitted fortunes that match `pattern`. A pattern with a literal that
  // every match holds is looked for in the whole text at once, so that only the fortunes that
  // hold it are cut out and matched.
  Visit visitMatches(Env& env, const FortuneFilter& filter, const Pattern& pattern,
                     ReadBuffer& buffer,
                     FunctionRef<Visit(std::int64_t, std::string_view)> visit) const;

 private:
  Member() = default;
  // Copied only by withoutKept(); shared, never assigned or moved.
  Member(const Member&) = default;
  Member(Member&&) = delete;
  Member& operator=(const Member&) = delete;
  Member& operator=(Member&&) = delete;

 public:
  ~Member() = default;

 private:
  // What load learns before it keeps anything.
  static std::shared_ptr<Member> learn(Env& env, const std::string& path, char32_t delimiter,
                                       std::size_t source, const std::optional<FileStatus>& text);

  std::string path_;
  char32_t delimiter_ = U'%';
  std::size_t source_ = 0;
  FileFormat format_ = FileFormat::Unindexed;
  MemberSignature signature_;
  std::int64_t entries_ = 0;
  // The fortunes' places in the text, in text order, for a search of the whole text; none when
  // the file cannot be searched so (an unordered table, a text too long to hold at once).
  struct Places {
    std::vector<std::int64_t> starts;
    std::vector<std::int64_t> ends;  // none: found from the start, as the classic tools do
  };
  [[nodiscard]] std::optional<Places> places(Env& env) const;

  // The text, when it is still the file this member learned about (the same file, not cut);
  // else a StaleIndex failure, so that the collection reads it anew. For the members whose
  // table lives here (classic, in memory), which nothing else checks against the text.
  [[nodiscard]] std::unique_ptr<File> openKnownText(Env& env) const;

  // The fortunes read whole when the member was made: fortune i is bytes[ends[i-1], ends[i]),
  // as readIfAdmitted returns it, and entries[i] its entry, as forEachEntry hands it over.
  struct Kept {
    std::string bytes;
    std::vector<std::size_t> ends;
    std::vector<IndexEntry> entries;
  };
  static constexpr std::size_t kPerFortune = sizeof(std::size_t) + sizeof(IndexEntry);
  [[nodiscard]] static std::optional<Kept> keep(Env& env, const Member& member);
  std::shared_ptr<const Kept> kept_;

  // Classic: the table, which fits the text.
  [[nodiscard]] const StrfileData* table() const;
  std::optional<StrfileData> table_;
  // Unindexed: the index built in memory from the text.
  std::optional<Index> memoryIndex_;
};

}  // namespace tallowmere::detail
