// Helpers of the benchmarks: sample texts in three scripts, and the
// classic fortune collection when the machine has it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/TempDir.hpp"

namespace tallowmere::bench {

// Each benchmark's files live in a TempDir of the tests' support code.
using test::TempDir;

enum class Script { Ascii, Cyrillic, Chinese };

// Made-up fortunes of one to six lines in the script, pseudo-random but the same every run.
std::vector<std::string> sampleFortunes(Script script, std::size_t count);
// The fortunes joined with '%' lines, until the text holds at least `bytes` bytes.
std::string sampleText(Script script, std::size_t bytes);
// Joins fortunes with '%' lines, ending in a newline.
std::string joinFortunes(const std::vector<std::string>& fortunes);

// The text files of Debian's classic fortune collection (those with a strfile index beside
// them, directly in /usr/share/games/fortunes, or TALLOWMERE_BENCH_COLLECTION when set), copied
// into `dir` and indexed; no paths when the machine has none.
std::vector<std::string> copyClassicCollection(const TempDir& dir);

}  // namespace tallowmere::bench
