#include "Check.hpp"

#include <tallowmere/Data/Fortune.hpp>
#include "CommandLine.hpp"

namespace tallowmere::cli {

CheckResult checkFortuneFile(char32_t delimiterChar, const std::string& path) {
  const IndexFileReport report = withFortuneFile(
      delimiterChar, false, path, FortuneFileOptions{.scanThreads = 0}, checkIndexFile);
  const std::string indexPath = path + ".ix";
  // The delimiter is not in the index: the advice must name it to rebuild the same way.
  const std::string delimiter =
      delimiterChar == U'%' ? "" : "-d " + encodeUtf8(delimiterChar) + " ";
  const std::string advice = "; rebuild it with: tallowmere index " + delimiter + path;
  switch (report.state) {
    case IndexFileState::Sound:
      return {std::nullopt, report.numFortunes};
    case IndexFileState::Missing:
      return {"no index file " + indexPath};
    case IndexFileState::Damaged:
      return {"damaged index " + indexPath + ": " + report.detail};
    case IndexFileState::Stale:
      return {"the index is stale: it describes more text than the file holds" + advice};
    case IndexFileState::DiffersFromText:
      return {"the index does not match the text from fortune " +
              std::to_string(report.firstDifference) + " on" + advice};
    case IndexFileState::StatsDiffer:
      return {"the statistics in the index header do not match the text" + advice};
    case IndexFileState::InterruptedAppend:
      return {"an append to the file was interrupted; the next change to it undoes the append" +
              advice};
  }
  return {"unknown index state"};
}

}  // namespace tallowmere::cli
