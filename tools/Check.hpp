// Checking a fortune file's stored index: is it sound, and does it still describe the text?
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tallowmere::cli {

struct CheckResult {
  std::optional<std::string> problem;  // what is wrong, as a sentence; none for a good index
  std::int64_t numFortunes = 0;        // of a good index
};

// Opens the index file (the text's path with ".ix") read-only as it is on disk and reports
// the first problem of: opening it, checkIndex, the statistics stored in its header, and a
// comparison with an index rebuilt in memory from the text. Throws only when the text file
// cannot be read.
CheckResult checkFortuneFile(char32_t delimiter, const std::string& path);

}  // namespace tallowmere::cli
