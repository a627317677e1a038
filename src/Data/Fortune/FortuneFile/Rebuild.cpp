// Rebuilding an index from the fortune text.
#include "Data/Fortune/FortuneFile.hpp"
#include "Data/Fortune/FortuneFile/Cells.hpp"
#include "Data/Fortune/FortuneFile/Scan.hpp"

namespace tallowmere {

void rebuildIndex(char32_t delimiter, File& textFile, const Index& index) {
  detail::requireUsableDelimiter("rebuildIndex", delimiter);
  // Refuse before clearing: the index must not lose its entries over a text it cannot hold.
  if (textFile.size() > detail::maxIndexedTextLength) {
    detail::throwTextTooLong("rebuildIndex", textFile.name());
  }
  clearIndex(index);
  detail::FortuneScanner scanner(delimiter, textFile);
  unfoldEntries(index, [&scanner] { return scanner.next(); });
}

void rebuildIndex(const FortuneFile& file) {
  // The text file is opened before the index, so that a text that cannot be opened leaves
  // no new index file behind.
  detail::withTextCell(file, [&](detail::HeldText& held) {
    File& text = held.file();
    detail::withIndexCell(file, held, [&](const Index& index) {
      rebuildIndex(file.fortuneDelim(), text, index);
    });
  });
}

}  // namespace tallowmere
