// The library's operations timed in process with Google Benchmark: reading one fortune from a
// warm handle, drawing a random fortune from a collection, reading a large entry table,
// appending a fortune, rebuilding indexes of texts in three scripts, the block scan alone,
// checking an index against its text, and matching a regular expression against every fortune.
#include <benchmark/benchmark.h>
#include <locale.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <tallowmere/Data/Fortune.hpp>
#include <tallowmere/Data/Fortune/Collection.hpp>
#include "Data/Fortune/FortuneFile/Scan.hpp"
#include "Support.hpp"

namespace tallowmere::bench {
namespace {

// Writes the fortunes to `name` in `dir` with an index beside them; returns the path.
std::string indexedFile(const TempDir& dir, const std::string& name,
                        const std::vector<std::string>& fortunes) {
  const std::string path = dir.writeFile(name, joinFortunes(fortunes));
  const FortuneFile file = openFortuneFile(U'%', true, path);
  rebuildIndex(file);
  closeFortuneFile(file);
  return path;
}

// getFortune on a handle whose text file and index are already open, the fortune number
// changing on every call.
void getFortuneWarm(benchmark::State& state) {
  TempDir dir;
  constexpr std::int64_t count = 1000;
  const std::string path = indexedFile(dir, "sayings", sampleFortunes(Script::Ascii, count));
  const FortuneFile file = openFortuneFile(U'%', false, path);
  benchmark::DoNotOptimize(getFortune(file, 0));
  std::int64_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(getFortune(file, i));
    i = (i + 389) % count;
  }
  closeFortuneFile(file);
}
BENCHMARK(getFortuneWarm);

// randomFortune over the classic collection (copied and indexed): every call opens every
// file, reads every index header, draws, reads one fortune and closes everything.
void randomFortuneOverCollection(benchmark::State& state) {
  TempDir dir;
  const std::vector<std::string> files = copyClassicCollection(dir);
  if (files.empty())
    state.SkipWithError("no classic fortune collection (apt-get install fortunes)");
  for (auto _ : state) benchmark::DoNotOptimize(randomFortune(files));
  state.SetLabel(std::to_string(files.size()) + " files");
}
BENCHMARK(randomFortuneOverCollection)->Unit(benchmark::kMicrosecond);

// A draw from a collection kept open over the classic collection as it is installed (read
// through the classic data files, nothing written; argument 0) or over indexed copies (1):
// a file chosen by the counts the collection keeps, one entry and one fortune read, with a
// length filter (range 1: any, short, long) costing a few more tries; with the fortunes read
// from disk for each draw (range 2: 0) or kept in memory, as the server keeps them (1).
void drawFromKeptOpenCollection(benchmark::State& state) {
  TempDir dir;
  const std::vector<std::string> copies = copyClassicCollection(dir);
  if (copies.empty()) {
    state.SkipWithError("no classic fortune collection (apt-get install fortunes)");
    return;
  }
  const char* chosen = std::getenv("TALLOWMERE_BENCH_COLLECTION");
  const std::string installed = chosen != nullptr ? chosen : "/usr/share/games/fortunes";
  CollectionOptions options;
  if (state.range(2) == 1) options.keepInMemory = std::size_t{64} << 20;
  const Collection collection = state.range(0) == 0
                                    ? Collection::ofOperands(std::vector{installed}, options)
                                    : Collection::ofFiles(copies, options);
  const FortuneFilter filter{.length = static_cast<LengthFilter>(state.range(1))};
  SplitMix64 generator(1);
  for (auto _ : state) benchmark::DoNotOptimize(collection.draw(filter, generator));
  state.SetLabel(std::to_string(collection.files().size()) + " files");
}
BENCHMARK(drawFromKeptOpenCollection)
    ->ArgsProduct({{0, 1}, {0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// getEntries of an index of 500 000 entries: one read of the table and its decoding.
void getEntriesOfLargeIndex(benchmark::State& state) {
  TempDir dir;
  constexpr std::int64_t count = 500000;
  const std::string path = dir.path("large.ix");
  {
    const Index index = openIndex(path, true);
    std::vector<IndexEntry> entries;
    entries.reserve(count);
    for (std::int64_t i = 0; i < count; ++i) entries.push_back({i * 120, 117, 110, 1 + i % 5});
    appendEntries(index, entries);
    closeIndex(index);
  }
  const Index index = openIndex(path, false);
  for (auto _ : state) benchmark::DoNotOptimize(getEntries(index));
  state.SetItemsProcessed(state.iterations() * count);
  closeIndex(index);
}
BENCHMARK(getEntriesOfLargeIndex)->Unit(benchmark::kMillisecond);

// appendFortune to a file that starts with 1000 fortunes and grows by one a call: the index
// already describes the text, so only the new entry and the header are written. With the
// argument 1 every append is synced to the disk before it returns (the default), with 0 not.
void appendFortuneToThousand(benchmark::State& state) {
  TempDir dir;
  const std::string path =
      dir.writeFile("sayings", joinFortunes(sampleFortunes(Script::Ascii, 1000)));
  const FortuneFile file =
      openFortuneFile(U'%', true, path, {.env = &Env::disk(), .sync = state.range(0) != 0});
  rebuildIndex(file);
  for (auto _ : state) appendFortune(file, "Nothing is written until the clock says so.");
  closeFortuneFile(file);
}
BENCHMARK(appendFortuneToThousand)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

// rebuildIndex of a 16 MB text on disk, in bytes of text per second of wall time, scanned in
// the calling thread (the handle asks for no threads).
void rebuildIndexOf(benchmark::State& state, Script script) {
  TempDir dir;
  const std::string text = sampleText(script, std::size_t{16} << 20);
  const std::string path = dir.writeFile("text", text);
  const FortuneFile file = openFortuneFile(U'%', true, path);
  rebuildIndex(file);
  for (auto _ : state) rebuildIndex(file);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
  state.SetLabel(std::to_string(getNumFortunes(file)) + " fortunes");
  closeFortuneFile(file);
}
BENCHMARK_CAPTURE(rebuildIndexOf, ascii, Script::Ascii)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(rebuildIndexOf, cyrillic, Script::Cyrillic)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(rebuildIndexOf, chinese, Script::Chinese)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The block scan alone in this thread, over a 16 MB text in memory: the cost per byte that
// worker threads divide among themselves.
void scanTextOf(benchmark::State& state, Script script) {
  const std::string text = sampleText(script, std::size_t{16} << 20);
  const std::unique_ptr<File> file = createMemoryFile("text");
  file->writeAt(0, text);
  std::size_t entries = 0;
  for (auto _ : state) {
    detail::BlockScanner scanner(U'%', *file, detail::scanChunkSize);
    entries = 0;
    for (auto batch = scanner.nextBatch(); !batch.empty(); batch = scanner.nextBatch()) {
      entries += batch.size();
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
  state.SetLabel(std::to_string(entries) + " fortunes");
}
BENCHMARK_CAPTURE(scanTextOf, ascii, Script::Ascii)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(scanTextOf, cyrillic, Script::Cyrillic)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(scanTextOf, chinese, Script::Chinese)->Unit(benchmark::kMillisecond);

// checkIndexFile of a 16 MB text whose index is sound: the text scanned again and compared
// with the stored table, in bytes of text per second of wall time.
void checkIndexFileOf(benchmark::State& state) {
  TempDir dir;
  const std::string text = sampleText(Script::Ascii, std::size_t{16} << 20);
  const std::string path = dir.writeFile("text", text);
  const FortuneFile file = openFortuneFile(U'%', true, path);
  rebuildIndex(file);
  for (auto _ : state) benchmark::DoNotOptimize(checkIndexFile(file));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
  closeFortuneFile(file);
}
BENCHMARK(checkIndexFileOf)->Unit(benchmark::kMillisecond)->UseRealTime();

// Pattern::mayMatch then matches over each of 20 000 made-up fortunes in memory (about 5 MB),
// as `tallowmere -m` runs over a collection, in the given locale: in fortunes per second and
// bytes per second. With a literal that about one fortune in a hundred holds, the same
// ignoring case, with sets of bytes instead (in a UTF-8 locale and in C), and with nothing that
// every match holds (every fortune goes to regexec).
void matchFortunes(benchmark::State& state, const char* expression, CaseMode caseMode,
                   const char* localeName) {
  const locale_t locale = newlocale(LC_ALL_MASK, localeName, nullptr);
  if (locale == nullptr) {
    state.SkipWithError("no such locale");
    return;
  }
  const locale_t previous = uselocale(locale);
  const std::vector<std::string> fortunes = sampleFortunes(Script::Ascii, 20000);
  std::int64_t bytes = 0;
  for (const std::string& fortune : fortunes) bytes += static_cast<std::int64_t>(fortune.size());
  const Pattern pattern(expression, PatternOptions{caseMode});
  std::int64_t matched = 0;
  for (auto _ : state) {
    matched = 0;
    for (const std::string& fortune : fortunes) {
      matched += pattern.mayMatch(fortune) && pattern.matches(fortune);
    }
    benchmark::DoNotOptimize(matched);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(fortunes.size()));
  state.SetBytesProcessed(state.iterations() * bytes);
  state.SetLabel(std::to_string(matched) + " matches");
  uselocale(previous);
  freelocale(locale);
}
BENCHMARK_CAPTURE(matchFortunes, literal, "zqj[a-z]*", CaseMode::Sensitive, "C.UTF-8")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(matchFortunes, literalIgnoringCase, "ZQJ[A-Z]*", CaseMode::Insensitive, "C.UTF-8")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(matchFortunes, byteSets, "[zq][aeiou]{3}[xy]", CaseMode::Sensitive, "C.UTF-8")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(matchFortunes, byteSetsInC, "[zq][aeiou]{3}[xy]", CaseMode::Sensitive, "C")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(matchFortunes, byteSetsIgnoringCase, "[ZQ][AEIOU]{3}[XY]", CaseMode::Insensitive,
                  "C.UTF-8")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(matchFortunes, nothingRequired, "[^ a-y]{4}", CaseMode::Sensitive, "C.UTF-8")
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tallowmere::bench
