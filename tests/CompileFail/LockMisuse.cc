// Compiled, not run, by the LockAnnotations tests under clang (see tests/CMakeLists.txt): with
// CASE 0 it must compile cleanly; each other CASE is one misuse that -Wthread-safety must turn
// into an error. Not a .cpp file, so that the test program's glob leaves it out.
#include "Data/Fortune/FortuneFile/Cells.hpp"

namespace tallowmere::detail {

bool misuse(const FortuneFile& file) {
  FortuneFile::State& state = FortuneFileAccess::state(file);
#if CASE == 1  // a cell read without its lock
  return std::holds_alternative<Closed>(state.text.value());
#elif CASE == 2  // the index cell taken before the text cell
  Guarded<IndexCell>::Held index(state.index);
  Guarded<TextCell>::Held text(state.text);
  return std::holds_alternative<Closed>(state.text.value());
#elif CASE == 3  // an operation that takes the cells' locks, called with one held
  // Named as the operation's annotation names it: the analysis does not see that `state`
  // is FortuneFileAccess::state(file).
  Guarded<TextCell>::Held text(FortuneFileAccess::state(file).text);
  return getNumFortunes(file) == 0;
#else
  Guarded<TextCell>::Held text(state.text);
  Guarded<IndexCell>::Held index(state.index);
  return std::holds_alternative<Closed>(state.text.value());
#endif
}

}  // namespace tallowmere::detail
