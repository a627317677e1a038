// Helpers of the benchmarks: a scratch directory, sample texts in three scripts, and the
// classic fortune collection when the machine has it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tallowmere::bench {

// A fresh directory below the system's temporary directory, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string path(const std::string& name) const { return root_ + "/" + name; }
  // Writes `bytes` to the file `name` (created or replaced); returns its path.
  std::string write(const std::string& name, const std::string& bytes) const;

 private:
  std::string root_;
};

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
std::vector<std::string> copyClassicCollection(const ScratchDir& dir);

}  // namespace tallowmere::bench
