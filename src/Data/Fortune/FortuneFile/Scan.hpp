// The rebuild scan: cuts a fortune text into index entries.
//
// The rules the entries follow:
//  - A delimiter line (a newline, the delimiter, a newline) ends a fortune; the fortune's bytes
//    and characters exclude the newline before the delimiter, its lines count that newline.
//    The next fortune starts just past the newline that ends the delimiter line. A delimiter
//    line is recognised only after a newline that was not itself the end of a delimiter line.
//  - The last fortune ends at the end of the text; a final newline is excluded from its bytes
//    and characters, and its line count is the number of newlines it holds plus 1.
//  - An invalid UTF-8 sequence counts as one character (decodeUtf8 says where each begins and
//    ends). One that runs to the very end of the text ends the text before it: its bytes belong
//    to no fortune.
//  - An empty text has no fortunes.
//
// Two scanners give exactly these entries. CharScanner follows the rules literally: a reader
// decodes one character at a time from a buffer refilled in chunks, and a step machine
// consumes the characters. BlockScanner, the one used for every ordinary delimiter, classifies
// the text 64 bytes at a time into bit masks with vector instructions and works out a batch of
// entries at once from the masks; the comment above it in Scan.cpp says why the masks give
// the same entries. FortuneScanner picks one.
//
// A long text is scanned in segments by worker threads and the reader (SegmentScan): each
// segment is scanned on its own, as if a fortune began where it begins, and the reader joins
// the results in order, correcting the one entry that crosses into each segment. The comment
// above BlockScanner::Segments in Scan.cpp says why that gives the same entries.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>

#include <tallowmere/Data/Fortune/Index/Format.hpp>
#include <tallowmere/Platform/File.hpp>

namespace tallowmere::detail {

// The text is read in chunks of this many bytes: large enough that reading costs few system
// calls, small enough to stay in the processor's cache while it is scanned.
inline constexpr std::size_t scanChunkSize = std::size_t{64} * 1024;

// The index format stores 32-bit offsets: no fortune may end beyond this byte offset, and no
// text longer than this can be indexed.
inline constexpr std::int64_t maxIndexedTextLength = 4294967295;

// IOError of the user-error kind about `fileName`, which is or would become longer than
// maxIndexedTextLength.
[[noreturn]] void throwTextTooLong(const std::string& fileName);

// The scan of one character at a time; serves every delimiter.
class CharScanner {
 public:
  // Seeks `text` to offset 0 and reads the first chunk of up to `chunkSize` bytes.
  CharScanner(char32_t delimiter, File& text, std::size_t chunkSize);

  // The next fortune's entry, or none after the last one. Read errors propagate; a text that
  // grows beyond maxIndexedTextLength while it is read is refused (throwTextTooLong).
  std::optional<IndexEntry> next();
  // The next fortune's entry as a batch of one, or an empty batch after the last one; valid
  // until the next call.
  std::span<const IndexEntry> nextBatch();

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
  IndexEntry batch_{};
};

// One 64-byte block of text as bit masks: bit i describes byte i.
struct BlockMasks {
  std::uint64_t newline = 0;                 // 0x0A
  std::uint64_t continuation = 0;            // 0x80 to 0xBF
  std::uint64_t lead = 0;                    // 0xC0 to 0xF7: announces 1 to 3 continuation bytes
  std::uint64_t lead3 = 0;                   // 0xE0 to 0xF7: announces 2 or 3
  std::uint64_t lead4 = 0;                   // 0xF0 to 0xF7: announces 3
  std::array<std::uint64_t, 4> delimiter{};  // delimiter[j]: the j-th byte of the delimiter

  bool operator==(const BlockMasks&) const = default;
};

// Which vector instructions the block scan uses: the widest this processor has (AVX2 where
// present), or those every processor of the build's architecture has (SSE2 on x86-64).
enum class ScanVectors { Widest, Baseline };

// Classifies the 64 bytes at `block`; the delimiter's UTF-8 form has `delimiterLength` (1 to
// 4) bytes.
BlockMasks classifyBlock(const unsigned char* block, const std::array<unsigned char, 4>& delimiter,
                         std::size_t delimiterLength, ScanVectors vectors) noexcept;
// The same one byte at a time; what classifyBlock must agree with.
BlockMasks classifyBlockPlainly(const unsigned char* block,
                                const std::array<unsigned char, 4>& delimiter,
                                std::size_t delimiterLength) noexcept;

// What the block scan carries from one block to the next.
struct BlockScanState {
  std::int64_t offset = 0;  // the next block's offset in the text
  std::int64_t chars = 0;   // characters before it
  std::int64_t lines = 0;   // newlines before it
  BlockMasks before;        // the block before it, for what crosses into the next one
  // The fortune being scanned: its offset and the characters and newlines before it.
  std::int64_t start = 0;
  std::int64_t startChars = 0;
  std::int64_t startLines = 0;
  std::int64_t lastLineEnd = -1;  // the newline that ended the last delimiter line
};

// How a long text is spread over threads: segments of `segmentSize` bytes (a multiple of 64)
// scanned by `threads` threads, the calling one and `threads` - 1 workers, for a text of at
// least `minTextSize` bytes. No threads (or one) scans in the calling thread alone.
struct SegmentScan {
  unsigned threads = 0;
  std::size_t segmentSize = std::size_t{1} << 20;
  std::int64_t minTextSize = std::int64_t{8} << 20;

  // As many threads as the processor runs at once, up to 4.
  static SegmentScan automatic() noexcept;
  // `threads` threads; 0 for as many as the processor runs at once (up to 4), 1 for the
  // calling thread alone.
  static SegmentScan withThreads(unsigned threads) noexcept;
};

// The scan of 64 bytes at a time, for a delimiter that is neither a newline nor U+FFFD (which
// invalid sequences decode to) and that UTF-8 can encode.
class BlockScanner {
 public:
  static bool serves(char32_t delimiter) noexcept;

  // Seeks `text` to offset 0; reads in chunks of up to `chunkSize` bytes, holding at most one
  // chunk, a block and a batch of entries in memory. With `segments`, a text long enough is
  // first scanned in segments by worker threads and the calling one, which read it through
  // readAt, each holding a chunk, with the entries of a few segments; the scan ends in the
  // calling thread.
  BlockScanner(char32_t delimiter, File& text, std::size_t chunkSize,
               ScanVectors vectors = ScanVectors::Widest, SegmentScan segments = {});
  ~BlockScanner();
  BlockScanner(const BlockScanner&) = delete;
  BlockScanner& operator=(const BlockScanner&) = delete;

  // As CharScanner::next.
  std::optional<IndexEntry> next();
  // The entries found by the next step of the scan, in order; an empty batch after the last
  // one. Valid until the next call.
  std::span<const IndexEntry> nextBatch();

  // Scans whole blocks of data[at, end) into entries at `out` while a block is left and the
  // `room` for entries can take a block's worth; returns how many it wrote. The kHistory bytes
  // before `at` must be the text before it, or zeros where the text has none.
  using WholeBlocks = std::size_t (*)(const unsigned char* data, std::size_t& at, std::size_t end,
                                      const std::array<unsigned char, 4>& delimiter,
                                      BlockScanState& state, IndexEntry* out,
                                      std::size_t room) noexcept;

 private:
  static constexpr std::size_t kBlock = 64;
  // Bytes kept in front of the unscanned ones when the buffer is refilled, so that the last
  // character of the text and the byte before it can still be examined at the end.
  static constexpr std::size_t kHistory = 8;
  static constexpr std::size_t kBatch = 1024;

  class Segments;

  bool fill();
  bool fillFromSegments();
  void resumeAt(std::int64_t offset);
  void refill();
  std::size_t scanLastBlock(IndexEntry* out) noexcept;
  std::optional<IndexEntry> lastFortune();

  File& text_;
  const std::size_t chunkSize_;
  std::array<unsigned char, 4> delimiter_{};
  std::size_t delimiterLength_ = 0;
  ScanVectors vectors_;
  WholeBlocks scanWholeBlocks_ = nullptr;

  // The segments being scanned by workers, until the scan goes on in this thread.
  std::unique_ptr<Segments> segments_;
  bool segmentsDone_ = false;  // their last results are being handed out

  // buffer_[begin_, end_) are read and not yet scanned.
  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t begin_ = kHistory;
  std::size_t end_ = kHistory;
  bool endOfFile_ = false;
  std::int64_t bytesRead_ = 0;

  BlockScanState state_;
  bool atEnd_ = false;  // every byte has been scanned
  bool done_ = false;   // the last fortune has been returned

  // Entries found and not yet returned: batch_ from batchAt_ on. They lie in ready_, or in the
  // result of a segment.
  std::array<IndexEntry, kBatch> ready_{};
  std::span<IndexEntry> batch_;
  std::size_t batchAt_ = 0;
};

// The block scanner for every delimiter it serves, the character scanner for the others.
class FortuneScanner {
 public:
  // Seeks `text` to offset 0 and prepares to read it in chunks of up to `chunkSize` bytes; a
  // long text is spread over threads as `segments` says.
  FortuneScanner(char32_t delimiter, File& text, std::size_t chunkSize = scanChunkSize,
                 SegmentScan segments = {});

  // The next fortune's entry, or none after the last one. Read errors propagate; a text that
  // grows beyond maxIndexedTextLength while it is read is refused (throwTextTooLong).
  std::optional<IndexEntry> next();
  // The entries that come next, one or more, in order; an empty batch after the last one.
  // Valid until the next call. The same entries as next(), in fewer calls.
  std::span<const IndexEntry> nextBatch();

 private:
  std::variant<BlockScanner, CharScanner> scanner_;
};

}  // namespace tallowmere::detail
