#include "Check.hpp"

#include <tallowmere/Data/Fortune.hpp>
#include <tallowmere/Data/Fortune/Strfile.hpp>
#include "CommandLine.hpp"

namespace tallowmere::cli {

namespace {

// What is wrong with the classic tools' data file beside the text, if there is one.
std::optional<std::string> dataFileProblem(const std::string& path, const std::string& delimiter) {
  const std::string dataPath = path + ".dat";
  const StrfileFileReport report = checkStrfileFor(dataPath, path);
  const std::string advice = "; rebuild it with: tallowmere index --dat " + delimiter + path;
  switch (report.state) {
    case StrfileFileState::Sound:
    case StrfileFileState::Missing:
      return std::nullopt;
    case StrfileFileState::Unusable:
      return "the data file " + dataPath + " cannot be used: " + report.detail + advice;
    case StrfileFileState::Stale:
      return "the data file " + dataPath + " is stale: the text was changed after it was written" +
             advice;
    case StrfileFileState::DiffersFromText:
      return "the data file " + dataPath + " does not list the fortunes of the text" + advice;
  }
  return std::nullopt;
}

}  // namespace

CheckResult checkFortuneFile(char32_t delimiterChar, const std::string& path) {
  const IndexFileReport report = withFortuneFile(
      delimiterChar, false, path, FortuneFileOptions{.scanThreads = 0}, checkIndexFile);
  const std::string indexPath = path + ".ix";
  // The delimiter is not in the index: the advice must name it to rebuild the same way.
  const std::string delimiter =
      delimiterChar == U'%' ? "" : "-d " + encodeUtf8(delimiterChar) + " ";
  const std::string advice = "; rebuild it with: tallowmere index " + delimiter + path;
  const std::optional<std::string> data = dataFileProblem(path, delimiter);
  switch (report.state) {
    case IndexFileState::Sound:
      if (data) return {data, 0};
      return {std::nullopt, report.numFortunes};
    case IndexFileState::Missing:
      if (data) return {data, 0};
      if (const StrfileFileReport classic = checkStrfileFor(path + ".dat", path);
          classic.state == StrfileFileState::Sound) {
        return {std::nullopt, classic.numStrings};
      }
      return {"no index file " + indexPath};
    case IndexFileState::Damaged:
      return {"damaged index " + indexPath + ": " + report.detail};
    case IndexFileState::Stale:
      return {"the index is stale: " + report.detail + advice};
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
