// Fuzz target: a fortune text with an index file and a strfile data file beside it, all three
// of arbitrary contents, read as every reader of the library reads them.
//
// The input starts with control values (flags, the lengths of the text and of the index file,
// a fortune number); the rest is cut into the text, the index file and the data file. What
// must hold, whatever the files say:
//  - every fortune served is text of the file that holds no delimiter line: its bytes lie
//    inside the text and hold no separator (for a data file, the text up to a delimiter line);
//  - no failure but an IOError (an index problem included) escapes;
//  - no more memory is taken at once than a small multiple of the three files' sizes, however
//    large the counts and offsets they claim.
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include <tallowmere/Data/Fortune/Strfile.hpp>
#include <tallowmere/Data/Fortune/Utf8.hpp>
#include <tallowmere/Platform/MemoryEnv.hpp>
#include "FuzzSupport.hpp"

namespace {

// The bytes allocated now, and the most allocated since the last reset, counted through the
// sanitizer's allocation hooks (every malloc and operator new passes them).
std::atomic<std::size_t> heldBytes{0};
std::atomic<std::size_t> peakBytes{0};

void onMalloc(const volatile void*, std::size_t size) {
  const std::size_t now = heldBytes += size;
  std::size_t peak = peakBytes.load();
  while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
  }
}

void onFree(const volatile void* p) {
  heldBytes -= __sanitizer_get_allocated_size(const_cast<const void*>(p));
}

}  // namespace

namespace tallowmere::fuzz {
namespace {

struct Files {
  std::string_view text;
  std::string_view index;
  std::string_view data;
};

void put(MemoryEnv& env, const std::string& path, std::string_view bytes) {
  env.openFile(path, OpenMode::Truncate)->writeAt(0, bytes);
}

// Bytes the text holds at `offset` that hold no `separator`.
void checkServed(const Files& files, std::int64_t offset, std::string_view bytes,
                 std::string_view separator) {
  FUZZ_CHECK(offset >= 0 && static_cast<std::size_t>(offset) <= files.text.size());
  FUZZ_CHECK(files.text.substr(static_cast<std::size_t>(offset), bytes.size()) == bytes);
  FUZZ_CHECK(bytes.find(separator) == std::string_view::npos);
}

void readThroughIndex(MemoryEnv& env, const Files& files, char32_t delimiter,
                      std::uint32_t chosen) {
  const std::string separator = "\n" + encodeUtf8(delimiter) + "\n";
  const FortuneFile file = openFortuneFile(delimiter, false, "f", {.env = &env});
  const std::int64_t count = getNumFortunes(file);
  FUZZ_CHECK(count >= 0 && count <= static_cast<std::int64_t>(files.text.size()) + 1);
  forEachFortune(file, [&](std::int64_t, const IndexEntry& entry, std::string_view bytes) {
    FUZZ_CHECK(static_cast<std::int64_t>(bytes.size()) == entry.stringBytes);
    checkServed(files, entry.stringOffset, bytes, separator);
  });
  for (const IndexEntry& entry : getEntries(file)) {
    FUZZ_CHECK(entry.stringOffset + entry.stringBytes <=
               static_cast<std::int64_t>(files.text.size()));
  }
  const std::int64_t number = count == 0 ? 0 : chosen % count;
  std::string fortune;
  onlyThrows<IOError>([&] { fortune = getFortune(file, number); });
  if (!fortune.empty()) {
    // Read through the index the handle holds now, which a failed check may have replaced.
    const IndexEntry entry = getEntry(getIndex(file), number);
    const std::string_view bytes = files.text.substr(static_cast<std::size_t>(entry.stringOffset),
                                                     static_cast<std::size_t>(entry.stringBytes));
    checkServed(files, entry.stringOffset, bytes, separator);
    FUZZ_CHECK(fortune == decodeUtf8Leniently(bytes));
  }
  (void)checkIndexFile(file);
  closeFortuneFile(file);
}

void readThroughData(MemoryEnv& env, const Files& files) {
  (void)readStrfileHeader("f.dat", env);
  const std::optional<StrfileData> data = readStrfileFor("f.dat", "f", env);
  if (!data) return;
  const bool rotated = (data->header.flags & StrfileHeader::rotated) != 0;
  const std::string delimiterLine = "\n" + std::string(1, data->header.delimiter) + "\n";
  const auto text = env.openFile("f", OpenMode::ReadOnly);
  forEachStrfileFortune(*data, *text, [&](std::uint32_t number, std::string_view bytes) {
    const std::string stored = rotated ? rot13(bytes) : std::string(bytes);
    const std::uint32_t offset = data->offsets[number];
    FUZZ_CHECK(offset <= files.text.size());
    FUZZ_CHECK(files.text.substr(offset, stored.size()) == stored);
    // A newline for delimiter makes no delimiter line.
    if (data->header.delimiter != '\n') FUZZ_CHECK(stored.find(delimiterLine) == std::string::npos);
  });
  for (const IndexEntry& entry : strfileEntries(*data, *text)) {
    FUZZ_CHECK(entry.stringOffset + entry.stringBytes <=
               static_cast<std::int64_t>(files.text.size()));
  }
}

}  // namespace
}  // namespace tallowmere::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tallowmere;
  using namespace tallowmere::fuzz;
  Controls controls(data, size);
  const std::uint8_t flags = controls.byte();
  const std::size_t textLength = controls.u32() & 0xFFFF;
  const std::size_t indexLength = controls.u32() & 0xFFFF;
  const std::uint32_t chosen = controls.u32();
  std::string_view rest = controls.rest();
  Files files;
  files.text = rest.substr(0, std::min(textLength, rest.size()));
  rest.remove_prefix(files.text.size());
  files.index = rest.substr(0, std::min(indexLength, rest.size()));
  rest.remove_prefix(files.index.size());
  files.data = rest;
  const char32_t delimiter = (flags & 1) != 0 ? U'\u00A7' : U'%';
  failureContext = "reading a text of " + std::to_string(files.text.size()) +
                   " bytes with an index file of " + std::to_string(files.index.size()) +
                   " and a data file of " + std::to_string(files.data.size());

  peakBytes = heldBytes.load();
  const std::size_t before = heldBytes.load();
  onlyThrows<>([&] {
    MemoryEnv env;
    put(env, "f", files.text);
    if ((flags & 2) == 0) put(env, "f.ix", files.index);
    if ((flags & 4) == 0) put(env, "f.dat", files.data);
    onlyThrows<IOError, IndexProblemError>(
        [&] { readThroughIndex(env, files, delimiter, chosen); });
    onlyThrows<IOError>([&] { readThroughData(env, files); });
  });
  // The files themselves are held in memory twice at most (the input and the MemoryEnv); the
  // readers' buffers are a constant (chunks of 64 KiB, windows bounded by the files).
  const std::size_t allowed = 32 * size + (std::size_t{4} << 20);
  if (peakBytes.load() - before > allowed) {
    fail(__FILE__, __LINE__,
         ("peak memory " + std::to_string(peakBytes.load() - before) + " bytes for an input of " +
          std::to_string(size))
             .c_str());
  }
  return 0;
}
