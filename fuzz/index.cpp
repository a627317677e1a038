// Fuzz target: opening an index file of arbitrary contents and running the entry operations
// on it.
//
// The input starts with control values (flags, an entry number, an entry to append) and the
// rest is the file. Only IOError and the index problem exceptions may escape any operation,
// and what the operations report must agree: getEntries holds numFortunes entries, getEntry
// returns the same ones and refuses numbers out of range, a failed change leaves the
// statistics as they were, clearIndex leaves the bare empty header, and after an append to a
// cleared index the file's bytes open again to the same statistics and entries.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <tallowmere/Data/Fortune/Index.hpp>
#include "FuzzSupport.hpp"

namespace tallowmere::fuzz {
namespace {

using Entries = std::vector<IndexEntry>;

// Runs `action`, letting only the exceptions documented for the index operations escape it;
// false when one did.
template <class Action>
bool indexOperation(Action&& action) {
  return onlyThrows<IOError, IndexProblemError>(std::forward<Action>(action));
}

std::unique_ptr<File> memoryFile(std::string_view bytes) {
  auto file = createMemoryFile("fuzz index");
  file->write(bytes);
  file->seek(0);
  return file;
}

std::string fileBytes(const Index& index) {
  return withIndex(index, [](File& file, const CurrentHeader&) {
    file.seek(0);
    return file.readToEnd();
  });
}

std::int64_t fileSize(const Index& index) {
  return withIndex(index, [](File& file, const CurrentHeader&) { return file.size(); });
}

void checkEntryNumbers(const Index& index, const std::optional<Entries>& entries,
                       std::int64_t count, std::uint32_t chosen) {
  const std::int64_t numbers[] = {
      -1, 0, count - 1, count, count + 1, static_cast<std::int64_t>(chosen % (count + 2))};
  for (const std::int64_t i : numbers) {
    std::optional<IndexEntry> entry;
    try {
      entry = getEntry(index, i);
    } catch (const IOError& e) {
      if (i < 0 || i >= count) {
        FUZZ_CHECK(e.what() == "getEntry: index out of range: " + std::to_string(i));
      }
      continue;
    } catch (const IndexProblemError&) {
      continue;
    }
    FUZZ_CHECK(i >= 0 && i < count);
    if (entries) FUZZ_CHECK(*entry == (*entries)[static_cast<std::size_t>(i)]);
  }
}

// A change that fails must leave the statistics as they were.
template <class Change>
bool changeOrKeep(const Index& index, Change&& change) {
  const FortuneStats before = getStats(index);
  if (indexOperation(std::forward<Change>(change))) return true;
  FUZZ_CHECK(getStats(index) == before);
  return false;
}

void fuzzOpenIndex(Controls& in, const IndexEntry& toAppend, bool writable) {
  const std::uint32_t chosen = in.u32();
  failureContext = "opening a file of " + std::to_string(in.rest().size()) + " bytes" +
                   (writable ? " writable" : " read-only");
  std::optional<Index> opened;
  if (!indexOperation([&] { opened.emplace(openIndex(memoryFile(in.rest()), writable)); })) return;
  const Index& index = *opened;

  const std::int64_t count = getStats(index).numFortunes;
  failureContext = "reading the entries of an index with " + show(getStats(index));
  FUZZ_CHECK(count >= 0);
  std::optional<Entries> entries;
  indexOperation([&] { entries = getEntries(index); });
  if (entries) FUZZ_CHECK(static_cast<std::int64_t>(entries->size()) == count);
  checkEntryNumbers(index, entries, count, chosen);
  indexOperation([&] { (void)checkIndex(index); });

  failureContext = "appending " + show(toAppend);
  if (changeOrKeep(index, [&] { appendEntry(index, toAppend); })) {
    FUZZ_CHECK(getStats(index).numFortunes == count + 1);
    FUZZ_CHECK(getEntry(index, count) == toAppend);
  }
  failureContext = "rebuilding the statistics";
  if (changeOrKeep(index, [&] { rebuildStats(index); })) {
    FUZZ_CHECK(checkIndex(index) == std::nullopt);
  }

  failureContext = "clearing the index";
  if (changeOrKeep(index, [&] { clearIndex(index); })) {
    FUZZ_CHECK(getStats(index) == FortuneStats::mempty);
    FUZZ_CHECK(getEntries(index).empty());
    FUZZ_CHECK(fileSize(index) == indexHeaderLength);
    // The entry's fields are below 2^31, so its statistics survive the 32-bit encoding.
    const IndexEntry valid{toAppend.stringOffset & 0x7FFFFFFF, toAppend.stringBytes & 0x7FFFFFFF,
                           toAppend.stringChars & 0x7FFFFFFF, toAppend.stringLines & 0x7FFFFFFF};
    appendEntry(index, valid);
    const Index again = openIndex(memoryFile(fileBytes(index)), false);
    FUZZ_CHECK(getStats(again) == getStats(index));
    FUZZ_CHECK(getEntries(again) == Entries{valid});
    closeIndex(again);
  }

  failureContext = "closing the index";
  closeIndex(index);
  try {
    (void)getStats(index);
    fail(__FILE__, __LINE__, "getStats of a closed index returned");
  } catch (const IndexProblemError& e) {
    FUZZ_CHECK(e.problem() == IndexProblem::AccessToClosedIndex());
  }
  FUZZ_CHECK(!indexOperation([&] { (void)getEntries(index); }));
  closeIndex(index);
}

}  // namespace
}  // namespace tallowmere::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tallowmere;
  using namespace tallowmere::fuzz;
  Controls controls(data, size);
  const std::uint8_t flags = controls.byte();
  IndexEntry entry{controls.u32(), controls.u32(), controls.u32(), controls.u32()};
  // Sometimes an entry whose statistics are invalid, so that the append must be refused.
  if (flags & 2) entry.stringChars = -entry.stringChars - 1;
  onlyThrows<>([&] { fuzzOpenIndex(controls, entry, (flags & 1) != 0); });
  return 0;
}
