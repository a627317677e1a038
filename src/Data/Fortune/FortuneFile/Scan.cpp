// The two rebuild scanners and the choice between them.
#include "Data/Fortune/FortuneFile/Scan.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <exception>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/FortuneFile/Utf8.hpp"

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace tallowmere::detail {

void throwTextTooLong(const std::string& fileName) {
  throw IOError::userError(fileName + ": a fortune text file can hold at most " +
                               std::to_string(maxIndexedTextLength) +
                               " bytes, the largest offset an index file can store",
                           fileName, ErrorReason::TooLarge);
}

// ---- CharScanner ---------------------------------------------------------------------------

CharScanner::CharScanner(char32_t delimiter, File& text, std::size_t chunkSize)
    : delimiter_(delimiter), text_(text), chunkSize_(std::max<std::size_t>(chunkSize, 1)) {
  text_.seek(0);
  position_ = start_ = bytesRead_ = text_.position();
  readChunk();
}

// Appends up to one chunk after the undecoded bytes; false at the end of the file.
bool CharScanner::readChunk() {
  buffer_.erase(0, front_);
  front_ = 0;
  const std::size_t kept = buffer_.size();
  buffer_.resize(kept + chunkSize_);
  const std::size_t got = text_.readSome(buffer_.data() + kept, chunkSize_);
  buffer_.resize(kept + got);
  bytesRead_ += static_cast<std::int64_t>(got);
  if (bytesRead_ > maxIndexedTextLength) throwTextTooLong(text_.name());
  return got > 0;
}

// The reader: the next character, or none at the end of the text.
std::optional<CharScanner::Char> CharScanner::read() {
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
std::optional<IndexEntry> CharScanner::next() {
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

std::span<const IndexEntry> CharScanner::nextBatch() {
  const std::optional<IndexEntry> entry = next();
  if (!entry) return {};
  batch_ = *entry;
  return {&batch_, 1};
}

// ---- Block classification ------------------------------------------------------------------

namespace {

// `x` moved up by `s` (1 to 63) bits, the bits that the previous block's mask `before` moves
// across the edge filling the bottom.
inline std::uint64_t shiftIn(std::uint64_t x, std::uint64_t before, unsigned s) noexcept {
  return (x << s) | (before >> (64 - s));
}

// Bits 0 to `last`.
inline std::uint64_t bitsThrough(unsigned last) noexcept {
  return ~std::uint64_t{0} >> (63 - last);
}

inline std::int64_t countBits(std::uint64_t x) noexcept {
#if defined(__x86_64__) && !defined(__POPCNT__)
  // Baseline x86-64 has no popcnt instruction, and the library call that std::popcount then
  // becomes is slower than counting in the register.
  x -= (x >> 1) & 0x5555555555555555u;
  x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
  return static_cast<std::int64_t>((x * 0x0101010101010101u) >> 56);
#else
  return std::popcount(x);
#endif
}

// A way of classifying blocks: classify<K>() for a delimiter of K bytes, and bits() to count
// the bits of a mask. This one goes byte by byte.
struct PlainClassifier {
  template <std::size_t K>
  static BlockMasks classify(const unsigned char* block,
                             const std::array<unsigned char, 4>& delimiter) noexcept {
    return classifyBlockPlainly(block, delimiter, K);
  }
  static std::int64_t bits(std::uint64_t x) noexcept { return countBits(x); }
};

}  // namespace

BlockMasks classifyBlockPlainly(const unsigned char* block,
                                const std::array<unsigned char, 4>& delimiter,
                                std::size_t delimiterLength) noexcept {
  BlockMasks m;
  for (unsigned i = 0; i < 64; ++i) {
    const unsigned b = block[i];
    const std::uint64_t bit = std::uint64_t{1} << i;
    if (b == '\n') m.newline |= bit;
    for (std::size_t j = 0; j < delimiterLength; ++j) {
      if (b == delimiter[j]) m.delimiter[j] |= bit;
    }
    if (b >= 0x80 && b <= 0xBF) m.continuation |= bit;
    if (b >= 0xC0 && b <= 0xF7) m.lead |= bit;
    if (b >= 0xE0 && b <= 0xF7) m.lead3 |= bit;
    if (b >= 0xF0 && b <= 0xF7) m.lead4 |= bit;
  }
  return m;
}

namespace {

// The vector classifiers compare bytes as signed numbers: ASCII is 0 to 127, continuation
// bytes (0x80 to 0xBF) are -128 to -65, lead bytes (0xC0 to 0xF7) -64 to -9, and 0xF8 to
// 0xFF -8 to -1.

#if defined(__SSE2__)

// 16 bytes at a time, with what every x86-64 processor has.
struct Sse2Classifier {
  static std::uint64_t maskOf(__m128i bytes) noexcept {
    return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(bytes)));
  }
  static __m128i splat(int byte) noexcept { return _mm_set1_epi8(static_cast<char>(byte)); }

  template <std::size_t K>
  static BlockMasks classify(const unsigned char* block,
                             const std::array<unsigned char, 4>& delimiter) noexcept {
    BlockMasks m;
    __m128i v[4];
    for (unsigned part = 0; part < 4; ++part) {
      v[part] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + std::size_t{16} * part));
      m.newline |= maskOf(_mm_cmpeq_epi8(v[part], splat('\n'))) << (16 * part);
      for (std::size_t j = 0; j < K; ++j) {
        m.delimiter[j] |= maskOf(_mm_cmpeq_epi8(v[part], splat(delimiter[j]))) << (16 * part);
      }
    }
    const __m128i any = _mm_or_si128(_mm_or_si128(v[0], v[1]), _mm_or_si128(v[2], v[3]));
    if (_mm_movemask_epi8(any) == 0) return m;  // plain ASCII
    std::uint64_t belowF8 = 0;
    std::uint64_t belowE0 = 0;
    std::uint64_t belowF0 = 0;
    for (unsigned part = 0; part < 4; ++part) {
      const unsigned shift = 16 * part;
      m.continuation |= maskOf(_mm_cmplt_epi8(v[part], splat(-64))) << shift;
      belowE0 |= maskOf(_mm_cmplt_epi8(v[part], splat(-32))) << shift;
      belowF0 |= maskOf(_mm_cmplt_epi8(v[part], splat(-16))) << shift;
      belowF8 |= maskOf(_mm_cmplt_epi8(v[part], splat(-8))) << shift;
    }
    m.lead = belowF8 & ~m.continuation;
    m.lead3 = belowF8 & ~belowE0;
    m.lead4 = belowF8 & ~belowF0;
    return m;
  }
  static std::int64_t bits(std::uint64_t x) noexcept { return countBits(x); }
};
using BaseClassifier = Sse2Classifier;

#else

using BaseClassifier = PlainClassifier;

#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TALLOWMERE_SCAN_AVX2 1

// 32 bytes at a time, and counting with popcnt: for processors that have AVX2, chosen at run
// time. Every function here is compiled for AVX2; the scan loop that uses them is too
// (scanBlocksAvx2), and inlines them whole.
struct Avx2Classifier {
  [[gnu::target("avx2")]] static std::uint64_t maskOf(__m256i low, __m256i high) noexcept {
    return static_cast<std::uint64_t>(static_cast<unsigned>(_mm256_movemask_epi8(low))) |
           static_cast<std::uint64_t>(static_cast<unsigned>(_mm256_movemask_epi8(high))) << 32;
  }
  [[gnu::target("avx2")]] static __m256i splat(int byte) noexcept {
    return _mm256_set1_epi8(static_cast<char>(byte));
  }
  [[gnu::target("avx2")]] static std::uint64_t equal(__m256i low, __m256i high, int byte) noexcept {
    return maskOf(_mm256_cmpeq_epi8(low, splat(byte)), _mm256_cmpeq_epi8(high, splat(byte)));
  }
  // Bytes from 0x80 up to the signed `bound` (exclusive).
  [[gnu::target("avx2")]] static std::uint64_t below(__m256i low, __m256i high,
                                                     int bound) noexcept {
    return maskOf(_mm256_cmpgt_epi8(splat(bound), low), _mm256_cmpgt_epi8(splat(bound), high));
  }

  template <std::size_t K>
  [[gnu::target("avx2")]] static BlockMasks classify(
      const unsigned char* block, const std::array<unsigned char, 4>& delimiter) noexcept {
    BlockMasks m;
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 32));
    m.newline = equal(low, high, '\n');
    for (std::size_t j = 0; j < K; ++j) m.delimiter[j] = equal(low, high, delimiter[j]);
    if (_mm256_movemask_epi8(_mm256_or_si256(low, high)) == 0) return m;  // plain ASCII
    const std::uint64_t belowF8 = below(low, high, -8);
    m.continuation = below(low, high, -64);
    m.lead = belowF8 & ~m.continuation;
    m.lead3 = belowF8 & ~below(low, high, -32);
    m.lead4 = belowF8 & ~below(low, high, -16);
    return m;
  }
  [[gnu::target("popcnt")]] static std::int64_t bits(std::uint64_t x) noexcept {
    return std::popcount(x);
  }
};

// Asked of the processor on the first scan only. (__builtin_cpu_supports would bring in a
// constructor that queries the processor at the start of every program, which costs more than
// a short command spends on anything else where the processor query traps to a hypervisor.)
bool haveAvx2() noexcept {
  static const bool have = [] {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0) return false;
    if ((c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0 || (c & bit_POPCNT) == 0) return false;
    // The operating system must save the vector registers: XCR0 bits 1 (SSE) and 2 (AVX).
    unsigned low = 0, high = 0;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    if ((low & 6u) != 6u) return false;
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) return false;
    return (b & bit_AVX2) != 0;
  }();
  return have;
}

#endif

}  // namespace

BlockMasks classifyBlock(const unsigned char* block, const std::array<unsigned char, 4>& delimiter,
                         std::size_t delimiterLength, ScanVectors vectors) noexcept {
  const auto classify = [&]<class Classifier>(Classifier) {
    switch (delimiterLength) {
      case 1:
        return Classifier::template classify<1>(block, delimiter);
      case 2:
        return Classifier::template classify<2>(block, delimiter);
      case 3:
        return Classifier::template classify<3>(block, delimiter);
      default:
        return Classifier::template classify<4>(block, delimiter);
    }
  };
#if defined(TALLOWMERE_SCAN_AVX2)
  if (vectors == ScanVectors::Widest && haveAvx2()) return classify(Avx2Classifier{});
#else
  static_cast<void>(vectors);
#endif
  return classify(BaseClassifier{});
}

// ---- BlockScanner --------------------------------------------------------------------------
//
// Why masks suffice. decodeUtf8 cuts the text into characters by structure alone: a lead byte
// (0xC0 to 0xF7) takes the continuation bytes (0x80 to 0xBF) that follow it, up to the number
// it announces; every other byte, and every continuation byte that no lead byte takes, is a
// character of its own. Whether a sequence is valid changes its value, never its length. So
// the characters of any stretch of text are counted by its bytes that are not taken, which a
// few shifts of the masks find (ScannedBlock::charStarts), with no decoding at all; a newline
// (which no lead byte takes) always ends one character and begins the next.
//
// The step rules only act at a newline followed by the delimiter and a newline: there the
// fortune ends, unless the first newline closed the previous delimiter line. The delimiter
// bytes after a newline decode to the delimiter exactly when they are its UTF-8 form, because
// the delimiter is neither U+FFFD nor a newline. Validity matters in one place only: an
// invalid sequence that ends the text is dropped, which lastFortune() decides by decoding the
// final character.

bool BlockScanner::serves(char32_t delimiter) noexcept {
  return delimiter != U'\n' && delimiter != replacementCharacter && isScalarValue(delimiter);
}

namespace {

// A classified block with what follows from it and from the block before it.
struct ScannedBlock {
  BlockMasks masks;
  std::uint64_t charStarts;     // bytes that begin a character
  std::uint64_t delimiterEnds;  // newlines that end a newline, the delimiter and a newline
};

// Classifies the block at `block`, which follows the block whose masks are `before`; only the
// bytes marked in `valid` belong to the text.
template <class Classifier, std::size_t K>
inline ScannedBlock classifyAfter(const unsigned char* block,
                                  const std::array<unsigned char, 4>& delimiter,
                                  const BlockMasks& before, std::uint64_t valid) noexcept {
  ScannedBlock s{Classifier::template classify<K>(block, delimiter), 0, 0};
  BlockMasks& m = s.masks;
  if (valid != ~std::uint64_t{0}) {
    for (std::uint64_t* mask : {&m.newline, &m.continuation, &m.lead, &m.lead3, &m.lead4}) {
      *mask &= valid;
    }
    for (std::uint64_t& mask : m.delimiter) mask &= valid;
  }
  std::uint64_t taken = 0;
  if ((m.continuation | before.lead) != 0) {
    const std::uint64_t cont1 = shiftIn(m.continuation, before.continuation, 1);
    const std::uint64_t cont2 = shiftIn(m.continuation, before.continuation, 2);
    taken = m.continuation &
            (shiftIn(m.lead, before.lead, 1) | (shiftIn(m.lead3, before.lead3, 2) & cont1) |
             (shiftIn(m.lead4, before.lead4, 3) & cont2 & cont1));
  }
  s.charStarts = valid & ~taken;
  std::uint64_t ends = m.newline & shiftIn(m.newline, before.newline, K + 1);
  for (std::size_t j = 0; j < K; ++j) {
    ends &= shiftIn(m.delimiter[j], before.delimiter[j], static_cast<unsigned>(K - j));
  }
  s.delimiterEnds = ends;
  return s;
}

// Writes an entry for every fortune that a delimiter line ending in the block at the state's
// offset ends; the state's counts are those before the block. The masks describe the block:
// the bytes that begin a character, the newlines, and the newlines that end a newline, the
// delimiter and a newline.
template <class Classifier, std::size_t K>
inline IndexEntry* recordEnds(std::uint64_t charStarts, std::uint64_t newlines,
                              std::uint64_t delimiterEnds, BlockScanState& s,
                              IndexEntry* out) noexcept {
  for (std::uint64_t ends = delimiterEnds; ends != 0; ends &= ends - 1) {
    const auto bit = static_cast<unsigned>(std::countr_zero(ends));
    const std::int64_t lineEnd = s.offset + bit;
    const std::int64_t lineStart = lineEnd - static_cast<std::int64_t>(K) - 1;
    // A newline that closed a delimiter line does not open another: that line is text.
    if (lineStart == s.lastLineEnd) continue;
    const std::uint64_t through = bitsThrough(bit);
    const std::int64_t chars = s.chars + Classifier::bits(charStarts & through);
    const std::int64_t lines = s.lines + Classifier::bits(newlines & through);
    // The newline that opens the delimiter line is not part of the fortune's text but ends
    // one of its lines; the delimiter and the closing newline are two more characters.
    *out++ = IndexEntry{s.start, lineStart - s.start, chars - 3 - s.startChars,
                        lines - 1 - s.startLines};
    s.start = lineEnd + 1;
    s.startChars = chars;
    s.startLines = lines;
    s.lastLineEnd = lineEnd;
  }
  return out;
}

// Scans one block of `length` bytes (64, or fewer at the end of the text), writing an entry
// for every fortune that a delimiter line in it ends; returns past the last entry written.
template <class Classifier, std::size_t K>
inline IndexEntry* scanBlock(const unsigned char* block, std::size_t length,
                             const std::array<unsigned char, 4>& delimiter, BlockScanState& s,
                             IndexEntry* out) noexcept {
  const std::uint64_t valid = length == 64  ? ~std::uint64_t{0}
                              : length == 0 ? 0
                                            : ~std::uint64_t{0} >> (64 - length);
  const ScannedBlock b = classifyAfter<Classifier, K>(block, delimiter, s.before, valid);
  out = recordEnds<Classifier, K>(b.charStarts, b.masks.newline, b.delimiterEnds, s, out);
  s.offset += static_cast<std::int64_t>(length);
  s.chars += Classifier::bits(b.charStarts);
  s.lines += Classifier::bits(b.masks.newline);
  s.before = b.masks;
  return out;
}

// The loop over whole blocks (BlockScanner::WholeBlocks). It works on a copy of the state so
// that the state lives in registers.
template <class Classifier, std::size_t K>
inline std::size_t scanBlocks(const unsigned char* data, std::size_t& at, std::size_t end,
                              const std::array<unsigned char, 4>& delimiter, BlockScanState& state,
                              IndexEntry* out, std::size_t room) noexcept {
  BlockScanState s = state;
  IndexEntry* const first = out;
  IndexEntry* const last = out + room;
  std::size_t from = at;
  // A block has fewer than 64 delimiter line ends.
  while (end - from >= 64 && last - out >= 64) {
    out = scanBlock<Classifier, K>(data + from, 64, delimiter, s, out);
    from += 64;
  }
  at = from;
  state = s;
  return static_cast<std::size_t>(out - first);
}

template <std::size_t K>
[[gnu::flatten]] std::size_t scanBlocksBase(const unsigned char* data, std::size_t& at,
                                            std::size_t end,
                                            const std::array<unsigned char, 4>& delimiter,
                                            BlockScanState& state, IndexEntry* out,
                                            std::size_t room) noexcept {
  return scanBlocks<BaseClassifier, K>(data, at, end, delimiter, state, out, room);
}

#if defined(TALLOWMERE_SCAN_AVX2)
// A block as the AVX2 loop notes it: the bytes that begin a character, the newlines, the
// newlines that end a delimiter line, and the characters and newlines before the block.
struct ClassifiedBlock {
  std::uint64_t charStarts;
  std::uint64_t newlines;
  std::uint64_t delimiterEnds;
  std::int64_t charsBefore;
  std::int64_t linesBefore;
};

// The AVX2 loop does not carry the block before in masks: it loads the text again one to five
// bytes back and compares those vectors, which costs fewer instructions than moving mask bits
// across the block's edge. So the buffer must hold, before `at`, the kHistory bytes of text
// that come before it, or zeros before the start of the text: a zero is neither a newline nor
// a byte of a multi-byte character, just as no byte at all before the start. The state's
// masks of the block before are set as the portable loop leaves them, for whatever scans on.
template <std::size_t K>
struct Avx2Lookback {
  __m256i newline = _mm256_set1_epi8('\n');
  __m256i delimiter[K];  // (std::array would drop the vector type's alignment attribute)

  [[gnu::target("avx2")]] explicit Avx2Lookback(
      const std::array<unsigned char, 4>& bytes) noexcept {
    for (std::size_t j = 0; j < K; ++j)
      delimiter[j] = _mm256_set1_epi8(static_cast<char>(bytes[j]));
  }

  // Sets the masks of `c` for the 64 bytes at `block`, counting every byte that is not a
  // continuation byte as the start of a character. What could make that count wrong (see
  // misplaced) is gathered for the group in `highest`, a byte-wise maximum of the bytes and
  // of 0xFF where a continuation byte is misplaced: the count is exact while it stays below
  // 0xF8. (One register for both, as the loop has few to spare.)
  [[gnu::target("avx2")]] void classify(const unsigned char* block, ClassifiedBlock& c,
                                        __m256i& highest) const noexcept {
    using C = Avx2Classifier;
    const unsigned char* const high = block + 32;
    const __m256i lowBytes = load(block);
    const __m256i highBytes = load(high);
    c.newlines =
        C::maskOf(_mm256_cmpeq_epi8(lowBytes, newline), _mm256_cmpeq_epi8(highBytes, newline));
    c.delimiterEnds = C::maskOf(delimiterEnds(block, lowBytes), delimiterEnds(high, highBytes));
    c.charStarts = ~std::uint64_t{0};
    if (_mm256_movemask_epi8(_mm256_or_si256(lowBytes, highBytes)) != 0) {  // not plain ASCII
      const __m256i lowContinuations = below(lowBytes, -64);
      const __m256i highContinuations = below(highBytes, -64);
      c.charStarts = ~C::maskOf(lowContinuations, highContinuations);
      const __m256i misplacedBytes =
          _mm256_or_si256(misplaced(block, lowContinuations), misplaced(high, highContinuations));
      highest = _mm256_max_epu8(
          highest, _mm256_max_epu8(misplacedBytes, _mm256_max_epu8(lowBytes, highBytes)));
    }
  }

  // The same exactly, whatever the text: the bytes that no lead byte takes.
  [[gnu::target("avx2")]] static std::uint64_t charStartsExactly(
      const unsigned char* block) noexcept {
    const __m256i lowBytes = load(block);
    const __m256i highBytes = load(block + 32);
    if (_mm256_movemask_epi8(_mm256_or_si256(lowBytes, highBytes)) == 0) return ~std::uint64_t{0};
    return ~Avx2Classifier::maskOf(taken(block, lowBytes), taken(block + 32, highBytes));
  }

  // Counting the bytes that are not continuation bytes could miscount where there are
  // irregularities: a continuation byte where the bytes before announce none, none where they
  // announce one, and a byte from 0xF8 up. Where every byte and the two before it pass, a
  // byte is taken by a lead byte (see taken) exactly when it is a continuation byte: a byte
  // announced by the one before it is; one announced from two or three back follows bytes
  // that were announced too, and so are continuation bytes. (Without bytes from 0xF8 up, a
  // byte announces one or more, two or more, or three continuation bytes when it is at least
  // 0xC0, 0xE0 or 0xF0: what saturating subtraction leaves non-zero.)
  //
  // Non-zero at the 32 bytes read at `p` whose being a continuation byte (`continuations`)
  // disagrees with what the bytes before announce.
  [[gnu::target("avx2")]] static __m256i misplaced(const unsigned char* p,
                                                   __m256i continuations) noexcept {
    const __m256i announced = _mm256_or_si256(
        _mm256_subs_epu8(back(p, 1), _mm256_set1_epi8(static_cast<char>(0xBF))),
        _mm256_or_si256(_mm256_subs_epu8(back(p, 2), _mm256_set1_epi8(static_cast<char>(0xDF))),
                        _mm256_subs_epu8(back(p, 3), _mm256_set1_epi8(static_cast<char>(0xEF)))));
    const __m256i unannounced = _mm256_cmpeq_epi8(announced, _mm256_setzero_si256());
    return _mm256_cmpeq_epi8(continuations, unannounced);
  }

  // What classify gathers in `highest` for the 32 bytes from 5 before `block`: the bytes
  // before a group, which its first bytes depend on.
  [[gnu::target("avx2")]] static __m256i highestBefore(const unsigned char* block) noexcept {
    const __m256i v = load(block - 5);
    return _mm256_max_epu8(v, misplaced(block - 5, below(v, -64)));
  }

  // Whether `highest`, as classify gathers it, says that the count may be wrong.
  [[gnu::target("avx2")]] static bool irregular(__m256i highest) noexcept {
    const __m256i fromF8 = _mm256_subs_epu8(highest, _mm256_set1_epi8(static_cast<char>(0xF7)));
    return _mm256_testz_si256(fromF8, fromF8) == 0;
  }

  // The newlines at the 32 bytes `v` read at `p` that end a newline, the delimiter and a
  // newline.
  [[gnu::target("avx2")]] __m256i delimiterEnds(const unsigned char* p, __m256i v) const noexcept {
    __m256i ends =
        _mm256_and_si256(_mm256_cmpeq_epi8(v, newline), _mm256_cmpeq_epi8(back(p, K + 1), newline));
    for (std::size_t j = 0; j < K; ++j) {
      ends = _mm256_and_si256(ends, _mm256_cmpeq_epi8(back(p, K - j), delimiter[j]));
    }
    return ends;
  }

  // The continuation bytes among `v`, read at `p`, that a lead byte before them takes (see
  // classifyAfter): lead byte just before; or 0xE0 to 0xF7 two before with a continuation
  // between; or 0xF0 to 0xF7 three before with two continuations between.
  [[gnu::target("avx2")]] static __m256i taken(const unsigned char* p, __m256i v) noexcept {
    const __m256i one = back(p, 1);
    const __m256i two = back(p, 2);
    const __m256i three = back(p, 3);
    const __m256i cont1 = below(one, -64);
    const __m256i lead1 = _mm256_andnot_si256(cont1, below(one, -8));
    const __m256i lead3 = _mm256_andnot_si256(below(two, -32), below(two, -8));
    const __m256i lead4 = _mm256_andnot_si256(below(three, -16), below(three, -8));
    const __m256i chain2 = _mm256_and_si256(lead3, cont1);
    const __m256i chain3 = _mm256_and_si256(_mm256_and_si256(lead4, below(two, -64)), cont1);
    return _mm256_and_si256(below(v, -64), _mm256_or_si256(lead1, _mm256_or_si256(chain2, chain3)));
  }

  [[gnu::target("avx2")]] static __m256i load(const unsigned char* p) noexcept {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  [[gnu::target("avx2")]] static __m256i back(const unsigned char* p, std::size_t n) noexcept {
    return load(p - n);
  }
  // Bytes from 0x80 up to the signed `bound` (exclusive).
  [[gnu::target("avx2")]] static __m256i below(__m256i v, int bound) noexcept {
    return _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(bound)), v);
  }
};

// The loop works on groups of blocks in two passes: the first classifies every block of the
// group, noting the counts before it and whether a delimiter line ends in it; the second makes
// the entries of the blocks so noted. Whether a block ends a fortune is as good as random, so
// deciding it block by block would cost a missed branch every few blocks; the second pass
// loops over just the blocks that do.
template <std::size_t K>
[[gnu::target("avx2,popcnt"), gnu::flatten]] std::size_t scanBlocksAvx2(
    const unsigned char* data, std::size_t& at, std::size_t end,
    const std::array<unsigned char, 4>& delimiter, BlockScanState& state, IndexEntry* out,
    std::size_t room) noexcept {
  using C = Avx2Classifier;
  constexpr std::size_t kGroup = 64;
  std::array<ClassifiedBlock, kGroup> group;
  std::array<std::uint8_t, kGroup> ending;
  const Avx2Lookback<K> look(delimiter);
  BlockScanState s = state;
  IndexEntry* const first = out;
  IndexEntry* const last = out + room;
  std::size_t from = at;
  // A block has fewer than 64 delimiter line ends.
  while (end - from >= 64 && last - out >= 64) {
    const std::size_t blocks = std::min(kGroup, (end - from) / 64);
    const std::int64_t charsBefore = s.chars;
    __m256i highest = look.highestBefore(data + from);
    std::size_t endingCount = 0;
    for (std::size_t b = 0; b < blocks; ++b) {
      ClassifiedBlock& c = group[b];
      look.classify(data + from + 64 * b, c, highest);
      c.charsBefore = s.chars;
      c.linesBefore = s.lines;
      s.chars += C::bits(c.charStarts);
      s.lines += C::bits(c.newlines);
      ending[endingCount] = static_cast<std::uint8_t>(b);
      endingCount += c.delimiterEnds != 0 ? 1 : 0;
    }
    if (look.irregular(highest)) {
      // Not valid UTF-8 somewhere: the characters are counted again, exactly.
      s.chars = charsBefore;
      for (std::size_t b = 0; b < blocks; ++b) {
        ClassifiedBlock& c = group[b];
        c.charStarts = look.charStartsExactly(data + from + 64 * b);
        c.charsBefore = s.chars;
        s.chars += C::bits(c.charStarts);
      }
    }
    const std::int64_t groupOffset = s.offset;
    const std::int64_t charsAfter = s.chars;
    const std::int64_t linesAfter = s.lines;
    std::size_t done = blocks;  // the blocks whose entries are made
    for (std::size_t i = 0; i < endingCount; ++i) {
      const std::size_t b = ending[i];
      if (last - out < 64) {
        done = b;
        break;
      }
      const ClassifiedBlock& c = group[b];
      s.offset = groupOffset + static_cast<std::int64_t>(64 * b);
      s.chars = c.charsBefore;
      s.lines = c.linesBefore;
      out = recordEnds<C, K>(c.charStarts, c.newlines, c.delimiterEnds, s, out);
    }
    from += 64 * done;
    s.offset = groupOffset + static_cast<std::int64_t>(64 * done);
    if (done < blocks) {  // no room for the entries of block `done`: stop before it
      s.chars = group[done].charsBefore;
      s.lines = group[done].linesBefore;
      break;
    }
    s.chars = charsAfter;
    s.lines = linesAfter;
  }
  if (from != at) s.before = C::classify<K>(data + from - 64, delimiter);
  at = from;
  state = s;
  return static_cast<std::size_t>(out - first);
}
#endif

// The loop for a delimiter of `length` bytes (1 to 4) with the classifier that `vectors` asks
// for.
BlockScanner::WholeBlocks chooseLoop(std::size_t length, ScanVectors vectors) noexcept {
  const std::size_t k = std::clamp<std::size_t>(length, 1, 4) - 1;
#if defined(TALLOWMERE_SCAN_AVX2)
  if (vectors == ScanVectors::Widest && haveAvx2()) {
    constexpr std::array<BlockScanner::WholeBlocks, 4> avx2 = {
        scanBlocksAvx2<1>, scanBlocksAvx2<2>, scanBlocksAvx2<3>, scanBlocksAvx2<4>};
    return avx2[k];
  }
#else
  static_cast<void>(vectors);
#endif
  constexpr std::array<BlockScanner::WholeBlocks, 4> base = {scanBlocksBase<1>, scanBlocksBase<2>,
                                                             scanBlocksBase<3>, scanBlocksBase<4>};
  return base[k];
}

}  // namespace

// ---- Segments ------------------------------------------------------------------------------
//
// Why segments scanned on their own join into the serial scan's entries. The scan state at a
// block's edge is the offset, the characters and newlines before it, the masks of the block
// before it, and the fortune being scanned (where it starts, with the characters and newlines
// before that) together with the end of the last delimiter line. A worker starting at a
// segment's first block knows the masks of the block before it (it classifies that block
// again), so it finds the same delimiter line ends and character starts as the serial scan
// would; it counts characters and newlines from 0 and assumes that a fortune starts at the
// segment and that no delimiter line ended just before it. Only entries that depend on those
// assumptions can come out differently:
//  - the first entry of the segment, which really starts where the fortune open at the
//    segment's edge started: the reader moves its start back there and adds the characters
//    and newlines in between (every later entry counts from a delimiter line inside the
//    segment, and differences of counts do not depend on where counting began);
//  - a delimiter line that starts right where the last one before the segment ended is text,
//    not a separator, and every later line of such a chain flips with it. The reader sees that
//    case (the first delimiter line of the segment starts at the last one's end) and scans the
//    rest of the text itself.
// A segment whose worker met the end of the text early (it was cut meanwhile), or found more
// entries than a segment's results may hold, ends the segments there too: the reader goes on
// from the joined state in its own thread.

// What a worker (or the reader) found in one segment, counted from the segment's start.
struct SegmentResult {
  std::int64_t from = 0;  // where the segment starts
  std::int64_t to = 0;    // where it ends
  BlockScanState state;   // after the blocks scanned: state.offset is where they end
  // Room for as many entries as a segment may hold (made by the first thread to use it); the
  // scan writes into it directly.
  std::unique_ptr<IndexEntry[]> room;
  std::size_t found = 0;  // entries in `room`
  std::exception_ptr error;

  [[nodiscard]] std::span<IndexEntry> entries() const noexcept { return {room.get(), found}; }
};

class BlockScanner::Segments {
 public:
  // Starts `threads` - 1 workers on the segments of [0, end); the reader scans some of them
  // too (next).
  Segments(const BlockScanner& scanner, std::int64_t end, const SegmentScan& options)
      : text_(scanner.text_),
        chunkSize_(std::max<std::size_t>(scanner.chunkSize_ / kBlock * kBlock, kBlock)),
        delimiter_(scanner.delimiter_),
        delimiterLength_(scanner.delimiterLength_),
        vectors_(scanner.vectors_),
        scanWholeBlocks_(scanner.scanWholeBlocks_),
        segmentSize_(options.segmentSize),
        maxEntries_(std::max<std::size_t>(options.segmentSize / 32, 2 * kBatch)),
        end_(end),
        count_(static_cast<std::size_t>((end + static_cast<std::int64_t>(segmentSize_) - 1) /
                                        static_cast<std::int64_t>(segmentSize_))),
        slots_(2 * std::size_t{options.threads}) {
    try {
      for (unsigned i = 1; i < options.threads; ++i) workers_.emplace_back([this] { work(); });
    } catch (...) {
      // Fewer threads than asked for still do: only none at all is a failure.
      if (workers_.empty()) throw;
    }
  }

  ~Segments() {
    stop_.store(true);
    consumed_.fetch_add(slots_.size());
    consumed_.notify_all();
    for (std::thread& worker : workers_) worker.join();
  }

  Segments(const Segments&) = delete;
  Segments& operator=(const Segments&) = delete;

  // The result of the next segment in order, waiting for it (scanning later segments
  // meanwhile); none after the last. The one returned before is released.
  SegmentResult* next() {
    if (taken_) {
      slots_[(next_ - 1) % slots_.size()].ready.store(false);
      consumed_.fetch_add(1, std::memory_order_release);
      consumed_.notify_all();
      taken_ = false;
    }
    if (next_ == count_) return nullptr;
    Slot& slot = slots_[next_ % slots_.size()];
    // The reader scans segments too while the one it needs is not ready: with as many
    // threads as cores, none of them waits for a core that another holds.
    for (bool helped = true; helped && !slot.ready.load(std::memory_order_acquire);) {
      helped = helpOnce();
    }
    slot.ready.wait(false, std::memory_order_acquire);
    ++next_;
    taken_ = true;
    if (slot.result.error) std::rethrow_exception(slot.result.error);
    return &slot.result;
  }

 private:
  struct Slot {
    std::atomic<bool> ready{false};
    SegmentResult result;
  };

  void work() {
    // The text before each chunk, then the chunk. A worker without memory for it takes no
    // segment (the reader scans those that no worker takes) rather than end the program.
    std::unique_ptr<unsigned char[]> buffer;
    try {
      buffer = std::make_unique<unsigned char[]>(kHistory + chunkSize_);
    } catch (const std::bad_alloc&) {
      return;
    }
    for (;;) {
      const std::size_t k = claimed_.fetch_add(1);
      if (k >= count_) return;
      // Results are handed out in order: wait until the slot of the segment `slots_` before
      // this one has been released.
      for (std::size_t c = consumed_.load(std::memory_order_acquire); k >= c + slots_.size();
           c = consumed_.load(std::memory_order_acquire)) {
        consumed_.wait(c);
      }
      if (stop_.load()) return;
      fillSlot(k, buffer.get());
    }
  }

  // In the reader: claims the next segment if its slot is free and scans it; false if there
  // is none to claim.
  bool helpOnce() {
    if (!readerBuffer_) readerBuffer_ = std::make_unique<unsigned char[]>(kHistory + chunkSize_);
    std::size_t k = claimed_.load();
    do {
      if (k >= count_ || k >= consumed_.load(std::memory_order_acquire) + slots_.size()) {
        return false;
      }
    } while (!claimed_.compare_exchange_weak(k, k + 1));
    fillSlot(k, readerBuffer_.get());
    return true;
  }

  // Scans segment `k` into its slot, which is free, and marks it ready.
  void fillSlot(std::size_t k, unsigned char* buffer) {
    Slot& slot = slots_[k % slots_.size()];
    SegmentResult& result = slot.result;
    result.from = static_cast<std::int64_t>(k) * static_cast<std::int64_t>(segmentSize_);
    result.to = std::min(end_, result.from + static_cast<std::int64_t>(segmentSize_));
    result.found = 0;
    result.error = nullptr;
    try {
      if (!result.room) result.room = std::make_unique_for_overwrite<IndexEntry[]>(maxEntries_);
      scan(result, buffer);
    } catch (...) {
      result.error = std::current_exception();
    }
    slot.ready.store(true, std::memory_order_release);
    slot.ready.notify_one();
  }

  // Scans the segment's blocks until its end, the end of the text, or as many entries as a
  // result may hold.
  void scan(SegmentResult& result, unsigned char* buffer) {
    BlockScanState& s = result.state;
    s = BlockScanState{};
    s.offset = s.start = result.from;
    std::memset(buffer, 0, kHistory);
    if (result.from > 0) {
      std::array<unsigned char, kBlock> before{};
      if (text_.readAt(result.from - static_cast<std::int64_t>(kBlock),
                       reinterpret_cast<char*>(before.data()), kBlock) < kBlock) {
        return;
      }
      s.before = classifyBlock(before.data(), delimiter_, delimiterLength_, vectors_);
      std::memcpy(buffer, before.data() + kBlock - kHistory, kHistory);
    }
    while (s.offset < result.to && !stop_.load(std::memory_order_relaxed)) {
      const auto want = static_cast<std::size_t>(
          std::min<std::int64_t>(static_cast<std::int64_t>(chunkSize_), result.to - s.offset));
      const std::size_t got =
          text_.readAt(s.offset, reinterpret_cast<char*>(buffer + kHistory), want);
      const std::size_t end = kHistory + got / kBlock * kBlock;
      for (std::size_t at = kHistory; at < end;) {
        const std::size_t room = maxEntries_ - result.found;
        const std::size_t n = scanWholeBlocks_(buffer, at, end, delimiter_, s,
                                               result.room.get() + result.found, room);
        result.found += n;
        if (n == 0 && room < kBlock) return;  // full
      }
      if (got < want) return;  // the text was cut
      std::memcpy(buffer, buffer + end - kHistory, kHistory);
    }
  }

  File& text_;
  const std::size_t chunkSize_;
  const std::array<unsigned char, 4> delimiter_;
  const std::size_t delimiterLength_;
  const ScanVectors vectors_;
  const WholeBlocks scanWholeBlocks_;
  const std::size_t segmentSize_;
  const std::size_t maxEntries_;
  const std::int64_t end_;
  const std::size_t count_;

  std::vector<Slot> slots_;
  std::atomic<std::size_t> claimed_{0};   // segments taken by a worker or the reader
  std::atomic<std::size_t> consumed_{0};  // results released by the reader
  std::atomic<bool> stop_{false};
  std::size_t next_ = 0;  // the reader's next segment
  bool taken_ = false;    // the reader holds the result of segment next_ - 1
  std::unique_ptr<unsigned char[]> readerBuffer_;  // for the segments the reader scans
  std::vector<std::thread> workers_;
};

SegmentScan SegmentScan::withThreads(unsigned threads) noexcept {
  if (threads == 0) return automatic();
  SegmentScan scan;
  scan.threads = threads;
  return scan;
}

SegmentScan SegmentScan::automatic() noexcept {
  // Asked once: the answer costs a system call or two.
  static const unsigned threads = std::min(std::thread::hardware_concurrency(), 4u);
  SegmentScan scan;
  scan.threads = threads;
  return scan;
}

BlockScanner::BlockScanner(char32_t delimiter, File& text, std::size_t chunkSize,
                           ScanVectors vectors, SegmentScan segments)
    : text_(text), chunkSize_(std::max<std::size_t>(chunkSize, 1)), vectors_(vectors) {
  const std::string form = encodeUtf8(delimiter);
  delimiterLength_ = form.size();
  std::memcpy(delimiter_.data(), form.data(), form.size());
  scanWholeBlocks_ = chooseLoop(delimiterLength_, vectors);
  // The kept history, less than a block of unscanned bytes, and one chunk.
  capacity_ = kHistory + kBlock + chunkSize_;
  buffer_ = std::make_unique<unsigned char[]>(capacity_);
  text_.seek(0);
  bytesRead_ = state_.offset = state_.start = text_.position();
  // Segments end a little before the end of the text, which this thread scans: the last
  // bytes are examined in ways that whole blocks never are.
  if (segments.threads > 1 && segments.segmentSize >= kBlock) {
    segments.segmentSize = segments.segmentSize / kBlock * kBlock;
    const std::int64_t size = text_.size();
    if (size >= segments.minTextSize && size > static_cast<std::int64_t>(2 * kBlock)) {
      const std::int64_t end = (size - static_cast<std::int64_t>(2 * kBlock)) /
                               static_cast<std::int64_t>(kBlock) *
                               static_cast<std::int64_t>(kBlock);
      try {
        if (end > 0) segments_ = std::make_unique<Segments>(*this, end, segments);
      } catch (const std::system_error&) {  // no thread could be started: scan alone
      }
    }
  }
}

BlockScanner::~BlockScanner() = default;

// Goes on in this thread from `offset`, a block's edge where state_ stands, with the bytes
// before it as the kept history.
void BlockScanner::resumeAt(std::int64_t offset) {
  segments_.reset();
  segmentsDone_ = false;
  std::memset(buffer_.get(), 0, kHistory);
  if (offset >= static_cast<std::int64_t>(kHistory)) {
    // Fewer bytes only when the text now ends before `offset`: the history keeps its zeros and
    // the scan's own read from `offset` finds the end.
    const std::size_t kept = text_.readAt(offset - static_cast<std::int64_t>(kHistory),
                                          reinterpret_cast<char*>(buffer_.get()), kHistory);
    static_cast<void>(kept);
  }
  begin_ = end_ = kHistory;
  endOfFile_ = false;
  text_.seek(offset);
  bytesRead_ = offset;
}

// Keeps the unscanned bytes and the history before them, and reads until a whole block is
// there or the file ends.
void BlockScanner::refill() {
  const std::size_t keepFrom = begin_ - kHistory;
  std::memmove(buffer_.get(), buffer_.get() + keepFrom, end_ - keepFrom);
  begin_ -= keepFrom;
  end_ -= keepFrom;
  while (!endOfFile_ && (end_ - begin_ < kBlock || capacity_ - end_ >= chunkSize_)) {
    const std::size_t got = text_.readSome(reinterpret_cast<char*>(buffer_.get() + end_),
                                           std::min(chunkSize_, capacity_ - end_));
    endOfFile_ = got == 0;
    end_ += got;
    bytesRead_ += static_cast<std::int64_t>(got);
    if (bytesRead_ > maxIndexedTextLength) throwTextTooLong(text_.name());
  }
}

// Scans what is left of the text, less than a whole block, as the last block.
std::size_t BlockScanner::scanLastBlock(IndexEntry* out) noexcept {
  const std::size_t length = end_ - begin_;
  std::array<unsigned char, kBlock> last{};
  std::memcpy(last.data(), buffer_.get() + begin_, length);
  begin_ = end_;
  atEnd_ = true;
  const auto scan = [&]<std::size_t K>() {
    return scanBlock<BaseClassifier, K>(last.data(), length, delimiter_, state_, out) - out;
  };
  switch (delimiterLength_) {
    case 1:
      return static_cast<std::size_t>(scan.operator()<1>());
    case 2:
      return static_cast<std::size_t>(scan.operator()<2>());
    case 3:
      return static_cast<std::size_t>(scan.operator()<3>());
    default:
      return static_cast<std::size_t>(scan.operator()<4>());
  }
}

// The fortune that the end of the text ends, once every byte has been scanned.
std::optional<IndexEntry> BlockScanner::lastFortune() {
  const BlockScanState& s = state_;
  const std::int64_t length = s.offset;
  // The last bytes of the text, with the history kept before the last block.
  const auto byteAt = [&](std::int64_t offset) -> const unsigned char& {
    return buffer_[end_ - static_cast<std::size_t>(length - offset)];
  };
  std::int64_t chars = s.chars;

  // The last character: a lead byte and the continuation bytes after it, or a lone byte.
  std::int64_t end = length;
  if (length > 0) {
    std::int64_t lastStart = length - 1;
    bool valid = false;  // a continuation byte that no lead byte takes
    for (std::int64_t back = 1; back <= 4 && back <= length; ++back) {
      if ((byteAt(length - back) & 0xC0u) == 0x80u) continue;
      const Utf8Char c = decodeUtf8(&byteAt(length - back), static_cast<std::size_t>(back));
      if (c.length == back) {
        lastStart = length - back;
        valid = c.valid;
      }
      break;
    }
    if (!valid) {
      end = lastStart;
      chars -= 1;
    }
  }
  if (end == 0) return std::nullopt;
  if (end > s.start && byteAt(end - 1) == '\n') {
    return IndexEntry{s.start, end - 1 - s.start, chars - 1 - s.startChars, s.lines - s.startLines};
  }
  return IndexEntry{s.start, end - s.start, chars - s.startChars, s.lines - s.startLines + 1};
}

// Hands out the entries of the next segment, joined to the scan so far; false when the
// segments are over and the scan goes on in this thread (see above Segments).
bool BlockScanner::fillFromSegments() {
  SegmentResult* result = segmentsDone_ ? nullptr : segments_->next();
  if (result == nullptr) {
    resumeAt(state_.offset);
    return false;
  }
  BlockScanState& joined = state_;
  const BlockScanState& s = result->state;
  const std::span<IndexEntry> entries = result->entries();
  if (!entries.empty()) {
    IndexEntry& first = entries.front();
    if (first.stringOffset + first.stringBytes == joined.lastLineEnd) {
      // A chain of delimiter lines across the edge.
      resumeAt(result->from);
      return false;
    }
    first.stringBytes += first.stringOffset - joined.start;
    first.stringOffset = joined.start;
    first.stringChars += joined.chars - joined.startChars;
    first.stringLines += joined.lines - joined.startLines;
    joined.start = s.start;
    joined.startChars = joined.chars + s.startChars;
    joined.startLines = joined.lines + s.startLines;
    joined.lastLineEnd = s.lastLineEnd;
  }
  joined.chars += s.chars;
  joined.lines += s.lines;
  if (s.offset > result->from) joined.before = s.before;
  joined.offset = s.offset;
  // A segment that ended early ends the segments.
  if (s.offset < result->to) segmentsDone_ = true;
  batch_ = entries;
  batchAt_ = 0;
  return true;
}

// Makes sure that an entry is ready unless the scan is over; false once it is.
bool BlockScanner::fill() {
  for (;;) {
    if (batchAt_ < batch_.size()) return true;
    if (segments_) {
      fillFromSegments();
      continue;
    }
    if (done_) return false;
    std::size_t count = 0;
    if (atEnd_) {
      done_ = true;
      if (const std::optional<IndexEntry> last = lastFortune()) {
        ready_[0] = *last;
        count = 1;
      }
    } else {
      if (end_ - begin_ < kBlock && !endOfFile_) refill();
      if (end_ - begin_ < kBlock) {
        count = scanLastBlock(ready_.data());
      } else {
        count = scanWholeBlocks_(buffer_.get(), begin_, end_, delimiter_, state_, ready_.data(),
                                 ready_.size());
      }
    }
    batch_ = std::span<IndexEntry>(ready_.data(), count);
    batchAt_ = 0;
  }
}

std::optional<IndexEntry> BlockScanner::next() {
  if (!fill()) return std::nullopt;
  return batch_[batchAt_++];
}

std::span<const IndexEntry> BlockScanner::nextBatch() {
  if (!fill()) return {};
  const std::span<const IndexEntry> batch = batch_.subspan(batchAt_);
  batchAt_ = batch_.size();
  return batch;
}

// ---- FortuneScanner ------------------------------------------------------------------------

namespace {

std::variant<BlockScanner, CharScanner> makeScanner(char32_t delimiter, File& text,
                                                    std::size_t chunkSize, SegmentScan segments) {
  if (BlockScanner::serves(delimiter)) {
    return std::variant<BlockScanner, CharScanner>(std::in_place_type<BlockScanner>, delimiter,
                                                   text, chunkSize, ScanVectors::Widest, segments);
  }
  return std::variant<BlockScanner, CharScanner>(std::in_place_type<CharScanner>, delimiter, text,
                                                 chunkSize);
}

}  // namespace

FortuneScanner::FortuneScanner(char32_t delimiter, File& text, std::size_t chunkSize,
                               SegmentScan segments)
    : scanner_(makeScanner(delimiter, text, chunkSize, segments)) {}

std::optional<IndexEntry> FortuneScanner::next() {
  return std::visit([](auto& scanner) { return scanner.next(); }, scanner_);
}

std::span<const IndexEntry> FortuneScanner::nextBatch() {
  return std::visit([](auto& scanner) { return scanner.nextBatch(); }, scanner_);
}

}  // namespace tallowmere::detail
