// The one-call draw: a collection made for one draw and dropped.
#include <tallowmere/Data/Fortune/Draw.hpp>

#include <tallowmere/Data/Fortune/Collection.hpp>

namespace tallowmere {

DrawnFortune drawFortune(std::span<const std::string> operands, const FortuneFilter& filter) {
  const Collection collection = Collection::ofOperands(operands);
  // Operands that stand for no file have failed already; an empty kind's collection says where
  // it was looked for.
  if (collection.empty()) {
    throw IOError::userError("no fortune files to draw from: looked in " + collection.where(), {},
                             ErrorReason::NothingToDraw);
  }
  return collection.draw(filter);
}

}  // namespace tallowmere
