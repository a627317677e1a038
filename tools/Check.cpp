#include "Check.hpp"

#include "Data/Fortune.hpp"

namespace tallowmere::cli {

CheckResult checkFortuneFile(char32_t delimiter, const std::string& path) {
  const IndexFileReport report = withFortuneFile(delimiter, false, path, checkIndexFile);
  const std::string indexPath = path + ".ix";
  const std::string advice = "; rebuild it with: tallowmere index " + path;
  switch (report.state) {
    case IndexFileState::Sound: return {std::nullopt, report.numFortunes};
    case IndexFileState::Missing: return {"no index file " + indexPath};
    case IndexFileState::Damaged: return {"damaged index " + indexPath + ": " + report.detail};
    case IndexFileState::Stale:
      return {"the index is stale: it describes more text than the file holds" + advice};
    case IndexFileState::DiffersFromText:
      return {"the index does not match the text from fortune " +
              std::to_string(report.firstDifference) + " on" + advice};
    case IndexFileState::StatsDiffer:
      return {"the statistics in the index header do not match the text" + advice};
  }
  return {"unknown index state"};
}

}  // namespace tallowmere::cli
