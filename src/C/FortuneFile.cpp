// The C interface to fortune files: tm_fortune_file over tallowmere::FortuneFile.
#include <string>

#include "C/Guard.hpp"

namespace tallowmere::detail {
namespace {

tm_index_state toState(IndexFileState state) noexcept {
  switch (state) {
    case IndexFileState::Sound:
      return TM_INDEX_SOUND;
    case IndexFileState::Missing:
      return TM_INDEX_MISSING;
    case IndexFileState::Damaged:
      return TM_INDEX_DAMAGED;
    case IndexFileState::Stale:
      return TM_INDEX_STALE;
    case IndexFileState::DiffersFromText:
      return TM_INDEX_DIFFERS_FROM_TEXT;
    case IndexFileState::StatsDiffer:
      return TM_INDEX_STATS_DIFFER;
    case IndexFileState::InterruptedAppend:
      return TM_INDEX_INTERRUPTED_APPEND;
  }
  return TM_INDEX_OTHER;
}

}  // namespace
}  // namespace tallowmere::detail

using namespace tallowmere;
using namespace tallowmere::detail;

extern "C" {

tm_status tm_fortune_file_open(const char* path, tm_access access, uint32_t delimiter,
                               tm_fortune_file** file) {
  return guarded([&] {
    require(path, "tm_fortune_file_open", "path");
    require(file, "tm_fortune_file_open", "file");
    if (access != TM_READ_ONLY && access != TM_WRITABLE) {
      throw UsageError("tm_fortune_file_open: access is not a tm_access");
    }
    const char32_t delim = delimiter == 0 ? U'%' : static_cast<char32_t>(delimiter);
    *file = new tm_fortune_file{openFortuneFile(delim, access == TM_WRITABLE, path)};
  });
}

tm_status tm_fortune_file_close(tm_fortune_file* file) {
  if (file == nullptr) return TM_OK;
  const tm_status status = guarded([&] { closeFortuneFile(file->file); });
  delete file;
  return status;
}

tm_status tm_fortune_file_count(tm_fortune_file* file, int64_t* count) {
  return guarded([&] {
    require(file, "tm_fortune_file_count", "file");
    require(count, "tm_fortune_file_count", "count");
    *count = getNumFortunes(file->file);
  });
}

tm_status tm_fortune_file_get(tm_fortune_file* file, int64_t number, tm_fortune** fortune) {
  return guarded([&] {
    require(file, "tm_fortune_file_get", "file");
    require(fortune, "tm_fortune_file_get", "fortune");
    const std::string text = getFortune(file->file, number);
    *fortune = makeFortune(file->file.fortunePath(), number, text);
  });
}

tm_status tm_fortune_file_append(tm_fortune_file* file, const char* text, size_t length) {
  return guarded([&] {
    require(file, "tm_fortune_file_append", "file");
    if (length > 0) require(text, "tm_fortune_file_append", "text");
    appendFortune(file->file, std::string_view(length > 0 ? text : "", length));
  });
}

tm_status tm_fortune_file_rebuild_index(tm_fortune_file* file) {
  return guarded([&] {
    require(file, "tm_fortune_file_rebuild_index", "file");
    rebuildIndex(file->file);
  });
}

tm_status tm_fortune_file_check(tm_fortune_file* file, tm_index_report* report) {
  return guarded([&] {
    require(file, "tm_fortune_file_check", "file");
    require(report, "tm_fortune_file_check", "report");
    const IndexFileReport found = checkIndexFile(file->file);
    char* detail = copyString(found.detail);
    *report =
        tm_index_report{toState(found.state), found.firstDifference, found.numFortunes, detail};
  });
}

}  // extern "C"
