// Helpers shared by the fortune file tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <tallowmere/Data/Fortune/FortuneFile.hpp>

namespace tallowmere::test {

// The message of the exception of type E that `call` throws; fails the test otherwise.
template <class E, class Call>
std::string messageOf(Call&& call) {
  try {
    call();
  } catch (const E& e) {
    return e.what();
  }
  ADD_FAILURE() << "expected an exception";
  return {};
}

inline std::vector<IndexEntry> entriesOf(const FortuneFile& file) {
  return getEntries(getIndex(file));
}

}  // namespace tallowmere::test
