// Collection: the fortune files a program draws from, searches and counts, kept open.
//
// A collection is a set of fortune files, each used once however many names reach it, made
// either from a kind of fortune (its search path; without a search-path variable, first the
// collection of the locale's language when one holds fortune files, as the classic fortune
// chooses it, then with no fortune file in the data directory, the classic system collection,
// with its off/ directory for offensive fortunes, each text with a data file beside it) or
// from operands as the command takes them: files, directories (the fortune files directly in
// them) and names looked up along the kind's collection, each optionally preceded by a share
// of the draws ("30%").
//
// Each file is read through its index (FILE.ix) when that is sound, fits the text and is no
// older than it; else through the data file of the classic tools (FILE.dat, of any layout in
// use) when that fits the text and is no older, with rot13 undone for a rotated file; else by
// indexing the text in memory. Files reached through
// several names (Debian's FILE.u8 links, hard links) are used once, under their own name
// rather than a link's. A binary file (one without an index whose first block holds a NUL
// byte) is left out of a directory and refused when named. Empty fortunes are never drawn,
// visited or counted.
//
// Nothing is held open between uses: a draw opens the chosen file, reads one entry and one
// fortune and closes it again, so a collection of any size works under a small limit of open
// files (unless CollectionOptions::keepInMemory keeps the file's fortunes: then it opens none).
// What a collection learned about its files (counts, the classic tables, indexes built in memory)
// is kept, and checked again cheaply (the status of the text and its index: identity, size,
// modification time) when it is older than CollectionOptions::recheckAfter, or at refresh(): a file
// appended to, rebuilt or replaced is read as it is now, without reopening the collection. A kept
// table or index in memory is never read against another file than the one it was made for. The
// directories are walked once, when the collection is made, and a file left out stays out.
//
// A file of a directory or of the kind's collection whose text or index cannot be read is left
// out, reported once to CollectionOptions::onSkipped; a file named as an operand that cannot be
// read is an error. Failures are IOErrors with a reason and the path of the file concerned.
//
// Thread safety: a Collection is a cheap handle (copies share one state) that any number of
// threads may use at once; what it keeps is guarded by one internal lock, held only between file
// reads, never during one. The files themselves may be appended to by other threads and
// processes meanwhile: a draw always returns a fortune that its file holds.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <tallowmere/Data/Fortune/Draw.hpp>
#include <tallowmere/Data/Fortune/FunctionRef.hpp>
#include <tallowmere/Data/Fortune/Pattern.hpp>
#include <tallowmere/Data/Fortune/Stats.hpp>
#include <tallowmere/Data/Fortune/Types.hpp>
#include <tallowmere/Platform/Env.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include <tallowmere/Platform/Export.hpp>
#include <tallowmere/Platform/Random.hpp>

namespace tallowmere {

struct TALLOWMERE_API CollectionOptions {
  // Whose search path the collection of a kind uses, and along which names are looked up.
  FortuneType kind = FortuneType::Normal;
  // The delimiter of every file of the collection (used for texts read without an index).
  char32_t delimiter = U'%';
  // Told about each file or directory left out because it cannot be read, once per file; the
  // collection goes on without it. By default nothing is told.
  std::function<void(const IOError&)> onSkipped;
  // How old what the collection knows of its files may be before a draw, a visit or a count
  // looks at them again (a status call per file). Zero looks every time.
  std::chrono::milliseconds recheckAfter{1000};
  // How many bytes of fortunes (and their places) the collection may keep in memory, so that a
  // draw or a read from a kept file opens nothing. Files are kept whole, in file order, each
  // when it fits what is left; the others are read from disk. A kept file is read once, under
  // its shared lock and checked as any read is, and read again when a recheck finds it changed:
  // until then (recheckAfter, or refresh()), a draw serves the file as it was when it was read.
  // Zero, the default, keeps none.
  std::size_t keepInMemory = 0;
  // The file system: the disk, or a MemoryEnv in tests. Must outlive the collection.
  Env* env = &Env::disk();
};

// How a file of the collection is read.
enum class FileFormat {
  Indexed,    // through its index file, FILE.ix
  Classic,    // through the classic tools' data file, FILE.dat
  Unindexed,  // by indexing the text in memory
};

// One file of a collection.
struct TALLOWMERE_API CollectionFile {
  std::string path;
  FileFormat format = FileFormat::Unindexed;
  // The operand it came from (an index into the operands, shares not counted); 0 for the files
  // of a kind's collection.
  std::size_t source = 0;
};

// A fortune handed to a visitor: its bytes as they stand in the text (letters rotated back for
// a rotated classic file, the newline that ends the fortune dropped), valid until the visitor
// returns.
struct TALLOWMERE_API VisitedFortune {
  const std::string& path;
  std::int64_t number;
  std::string_view bytes;

  // The text, invalid UTF-8 read as U+FFFD, as a draw returns it.
  [[nodiscard]] std::string text() const;
};

// What a visitor wants next.
enum class Visit { Continue, Stop };

// The share of the draws that a file gets.
struct TALLOWMERE_API FileShare {
  std::string path;
  double percent = 0;      // from 0 to 100
  std::int64_t count = 0;  // the fortunes of the file that the filter admits
};

class TALLOWMERE_API Collection {
 public:
  // The collection of options.kind, as described above. No fortune file is no failure: the
  // collection is empty().
  [[nodiscard]] static Collection ofKind(const CollectionOptions& options = {});

  // The files at `paths`, exactly as named, each once. A path that is not an existing file
  // throws openFortuneFile's failure ("openFortuneFile: file does not exist: ..."); a binary
  // file throws NotText; one that is not a regular file NotAFile.
  [[nodiscard]] static Collection ofFiles(std::span<const std::string> paths,
                                          const CollectionOptions& options = {});

  // The files that command-line operands stand for: "[N%] FILE|DIR|NAME ...". No operand
  // gives the collection of options.kind. Throws IOErrors of reason BadArgument for bad shares
  // (see parseShares), NotFound for an operand that names nothing, NothingToDraw for a
  // directory without fortune files, and what ofFiles throws for a named file.
  [[nodiscard]] static Collection ofOperands(std::span<const std::string> operands,
                                             const CollectionOptions& options = {});

  // The files, in the order they were found.
  [[nodiscard]] std::vector<CollectionFile> files() const;
  [[nodiscard]] bool empty() const;
  // Files of directories left out because they are not text.
  [[nodiscard]] std::vector<std::string> binaryFiles() const;
  // Where a kind's collection was looked for, for a message when it is empty: "the data
  // directory (/usr/share/tallowmere/data/normal)", "TALLOWMERE_PATH_NORMAL (\"/x\")", ...
  // Empty for a collection of operands.
  [[nodiscard]] std::string where() const;

  // One fortune drawn as the filter says, with the shares of the operands: with the process's
  // generator (split once per draw), or with `generator` for repeatable draws. Reads the chosen
  // entry and fortune, and as a rule nothing else: a length filter costs a few more tries, not a
  // pass over every file. Throws NothingToDraw when no fortune is admitted.
  [[nodiscard]] DrawnFortune draw(const FortuneFilter& filter = {}) const;
  [[nodiscard]] DrawnFortune draw(const FortuneFilter& filter, SplitMix64& generator) const;

  // Each file's share of the draws under the filter, in file order. Reads every file's entries.
  [[nodiscard]] std::vector<FileShare> shares(const FortuneFilter& filter = {}) const;

  // The fortunes the filter admits, in all files. Reads every file's entries.
  [[nodiscard]] std::int64_t count(const FortuneFilter& filter = {}) const;

  // The statistics of the fortunes the filter admits, in all files: their number, the end of
  // the last one in its text, their shortest and longest lengths. Reads every file's entries.
  [[nodiscard]] FortuneStats stats(const FortuneFilter& filter = {}) const;

  // Fortune `number` of the file at `path` (a path that files() lists), as a draw reads it.
  // Throws OutOfRange for a number the file does not hold, an empty fortune included, and
  // NotFound for a path that is not one of the collection's.
  [[nodiscard]] DrawnFortune read(const std::string& path, std::int64_t number) const;

  // The admitted fortune at `position` when the filter's fortunes of all files are numbered from
  // 0 in file order, then in each file's order, as count() counts them; shares and weighting
  // play no part. Reads the files' entries (once per filter and version of each file) and one
  // fortune. Throws OutOfRange for a position below 0 or at count(filter) or beyond.
  [[nodiscard]] DrawnFortune fortuneAt(std::int64_t position,
                                       const FortuneFilter& filter = {}) const;

  // Hands every admitted fortune to `visitor`, file by file in order, each file read once in
  // bounded memory, until the visitor says Stop. Returns Stop if it did, which a caller whose
  // visitor never stops may ignore. The visitor may read from this collection (read, draw),
  // not refresh it.
  Visit visit(  // NOLINT(modernize-use-nodiscard): see above
      FunctionRef<Visit(const VisitedFortune&)> visitor, const FortuneFilter& filter = {}) const;
  // The same for the fortunes that match `pattern`.
  Visit visitMatches(  // NOLINT(modernize-use-nodiscard): as visit
      const Pattern& pattern, FunctionRef<Visit(const VisitedFortune&)> visitor,
      const FortuneFilter& filter = {}) const;

  // Looks at every file again now: what changed is read anew at its next use.
  void refresh() const;

  struct TALLOWMERE_HIDDEN State;

 private:
  explicit Collection(std::shared_ptr<State> state) : state_(std::move(state)) {}
  std::shared_ptr<State> state_;
};

// One command-line operand with the share written before it, if any.
struct TALLOWMERE_API ShareOperand {
  std::string operand;
  std::optional<double> percent;  // from 0 to 100

  friend bool operator==(const ShareOperand&, const ShareOperand&) = default;
};

// Reads "[N%] FILE|DIR ..." (N may have a fraction: "12.5%"). Throws an IOError of reason
// BadArgument for a share with nothing after it, a share above 100%, shares that add up to
// more than 100%, and shares that add up to less than 100% with no operand without a share
// left to take the rest.
[[nodiscard]] TALLOWMERE_API std::vector<ShareOperand> parseShares(
    std::span<const std::string> operands);

// A share for people: "30%", "12.5%", "33.33%".
[[nodiscard]] TALLOWMERE_API std::string showPercent(double percent);

// The classic collection's directory: "tallowmere_classicdir" if set, else the one the library
// was built with (by default /usr/share/games/fortunes).
[[nodiscard]] TALLOWMERE_API std::string getClassicDir();

}  // namespace tallowmere
