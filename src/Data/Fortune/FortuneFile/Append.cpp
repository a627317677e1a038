// Appending a fortune to the text file and its index.
#include <algorithm>
#include <cstdint>
#include <string>

#include "Data/Fortune/FortuneFile.hpp"
#include "Data/Fortune/FortuneFile/Cells.hpp"
#include "Data/Fortune/FortuneFile/Scan.hpp"
#include "Data/Fortune/FortuneFile/Utf8.hpp"
#include "Platform/Errors.hpp"

namespace tallowmere {

namespace {

// Lines as an appended fortune counts them: a newline ends a line, and a final newline does
// not begin another one ("a\n" is 1 line, "" is 0). A later rebuild counts by its own rule.
std::int64_t appendedLines(std::string_view text) {
  const auto newlines = static_cast<std::int64_t>(std::count(text.begin(), text.end(), '\n'));
  return newlines + (!text.empty() && text.back() != '\n' ? 1 : 0);
}

// Writes `run` at `offset` and flushes it, so that the text is complete before the index
// lists it. Should that fail, the bytes it may have covered and the old size are put back (as
// far as the file still lets them): a run cut short would otherwise stay in the text, and the
// next rebuild would take it for a fortune, or, with only part of the separator written, for
// the end of the last fortune.
void writeOrRestore(File& textFile, std::int64_t offset, const std::string& run) {
  const std::int64_t oldSize = textFile.size();
  textFile.seek(offset);
  // Usually a final newline at most: the last fortune ends at `offset`.
  const std::string covered = textFile.read(run.size());
  try {
    textFile.seek(offset);
    textFile.write(run);
    textFile.flush();
  } catch (...) {
    try {
      textFile.seek(offset);
      textFile.write(covered);
      textFile.setSize(oldSize);
    } catch (...) {  // the write's own failure is the one to report
    }
    throw;
  }
}

}  // namespace

void appendFortune(const FortuneFile& file, std::string_view text) {
  // Invalid UTF-8 would make the whole file unreadable as text (getFortunes decodes strictly).
  if (detail::findInvalidUtf8(text)) {
    throw IOError::userError("appendFortune: " + file.fortunePath() +
                             ": the fortune is not valid UTF-8");
  }
  // One critical section for the rebuild and the write, so that the fortune lands right after
  // the last fortune of the text as it is now, and other operations see the index either
  // before or after the append.
  detail::withTextCell(file, [&](detail::HeldText& held) {
    File& textFile = held.file();
    detail::withIndexCell(file, held, [&](const Index& index) {
      rebuildIndex(file.fortuneDelim(), textFile, index);
      const FortuneStats stats = getStats(index);
      const std::int64_t offset = std::max<std::int64_t>(stats.offsetAfter, 0);
      // The separator goes in whenever the text already holds a fortune, even one that ends at
      // offset 0 (an empty first fortune): writing over it would lose that fortune.
      std::string run;
      if (stats.numFortunes > 0) {
        run = "\n";
        detail::appendUtf8(run, file.fortuneDelim());
        run += '\n';
      }
      const auto separatorLength = static_cast<std::int64_t>(run.size());
      run.append(text);
      run += '\n';
      if (offset + static_cast<std::int64_t>(run.size()) > detail::maxIndexedTextLength) {
        detail::throwTextTooLong("appendFortune", textFile.name());
      }
      writeOrRestore(textFile, offset, run);
      appendEntry(index, IndexEntry{offset + separatorLength,
                                    static_cast<std::int64_t>(text.size()),
                                    detail::countUtf8Chars(text), appendedLines(text)});
    });
  });
}

}  // namespace tallowmere
