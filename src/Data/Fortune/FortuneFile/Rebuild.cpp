// Rebuilding an index from the fortune text.
#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include "Data/Fortune/FortuneFile/Cells.hpp"
#include "Data/Fortune/FortuneFile/Scan.hpp"
#include "Data/Fortune/FortuneFile/Storage.hpp"
#include "Data/Fortune/Index/State.hpp"

namespace tallowmere {

void rebuildIndex(char32_t delimiter, File& textFile, const Index& index) {
  detail::requireUsableDelimiter("rebuildIndex", delimiter);
  // Refuse before anything changes: the index must not lose its entries over a text it cannot
  // hold.
  if (textFile.size() > detail::maxIndexedTextLength) {
    detail::throwTextTooLong(textFile.name());
  }
  detail::replaceIndex(
      index,
      [&](const Index& fresh) {
        detail::FortuneScanner scanner(delimiter, textFile);
        unfoldEntryBatches(fresh, [&scanner] { return scanner.nextBatch(); });
      },
      false, textFile.name());
}

void rebuildIndex(const FortuneFile& file) {
  detail::withAccess(file, [&](detail::Access& access) {
    const FortuneFile::State& state = access.state();
    if (state.writable) {
      // Refused before the index file is opened: opening gives an empty file a header.
      access.lock(LockMode::Exclusive);
      if (access.text().size() > detail::maxIndexedTextLength) {
        detail::throwTextTooLong(state.path);
      }
      detail::beginWrite(access);
      detail::rebuildIndexFile(access);
      detail::updateStrfileData(access);
      return;
    }
    // Read-only: an index in memory is rebuilt in memory; one on disk refuses the change.
    access.lock(LockMode::Shared);
    rebuildIndex(state.delimiter, access.text(), access.index());
  });
}

}  // namespace tallowmere
