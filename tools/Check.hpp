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

// The library's check of the index file against the text, as a sentence. Throws only when the
// text file cannot be read.
CheckResult checkFortuneFile(char32_t delimiter, const std::string& path);

}  // namespace tallowmere::cli
