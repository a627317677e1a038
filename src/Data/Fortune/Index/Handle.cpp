#include "Data/Fortune/Index/Handle.hpp"

#include <algorithm>

#include "Data/Fortune/Index/State.hpp"

namespace tallowmere {
namespace {

[[noreturn]] void throwClosed() { throwProblem(IndexProblem::AccessToClosedIndex()); }

// True when a file of `size` bytes holds the whole table of a header whose count is not
// negative; written so that no product can overflow.
bool tableFits(const Header& header, std::int64_t size) {
  return size >= header.indexLoc &&
         (size - header.indexLoc) / indexEntryLength >= header.stats.numFortunes;
}

}  // namespace

Index openIndex(std::unique_ptr<File> file, bool writable) {
  if (writable && file->atEnd()) {
    try {
      file->write(encodeHeader(emptyHeader));
    } catch (...) {
      // Part of a header would make the file unopenable for good ("too few bytes"); empty, it
      // gets its header at the next opening.
      try {
        file->setSize(0);
      } catch (...) {  // the write's own failure is the one to report
      }
      throw;
    }
    file->seek(0);
  }
  Header header = decodeHeader(file->read(static_cast<std::size_t>(indexHeaderLength)));
  if (header.indexLoc < indexHeaderLength) {
    throwProblem(IndexProblem::HeaderProblem(HeaderProblem::TableStartsBeforeHeaderEnds()));
  }
  const bool repaired = !statsAreValid(header.stats);
  if (repaired) {
    // Repaired in memory only: opening never writes. The next header update stores it.
    header = scanStats(*file, header);
  }
  // Checked after a repair too: a repaired empty table may still start beyond the file's end.
  if (!tableFits(header, file->size())) throwProblem(IndexProblem::TableLongerThanFile());
  return Index(std::make_shared<Index::State>(std::move(file), header, repaired));
}

const Header& CurrentHeader::get() const {
  if (!header_) throwClosed();
  return *header_;
}

Index openIndex(const std::string& path, bool writable) {
  return openIndex(openFile(path, writable ? OpenMode::ReadWrite : OpenMode::ReadOnly), writable);
}

Index createVirtualIndex() { return openIndex(createMemoryFile("<createVirtualIndex>"), true); }

void closeIndex(const Index& index) {
  Index::State& state = index.state();
  const auto markClosed = [&] { state.header.with([](std::optional<Header>& h) { h.reset(); }); };
  try {
    state.file->close();
  } catch (...) {
    markClosed();
    throw;
  }
  markClosed();
}

FortuneStats getStats(const Index& index) {
  const std::optional<Header> header = index.state().header.get();
  if (!header) throwClosed();
  return header->stats;
}

std::optional<IndexProblem> checkIndex_(File& file, const Header& header) {
  if (header.indexLoc < indexHeaderLength) {
    return IndexProblem::HeaderProblem(HeaderProblem::TableStartsBeforeHeaderEnds());
  }
  if (const auto problem = checkStats(header.stats)) {
    return IndexProblem::HeaderProblem(HeaderProblem::StatsProblem(*problem));
  }
  if (!tableFits(header, file.size())) return IndexProblem::TableLongerThanFile();
  return std::nullopt;
}

Header scanStats(File& file, const Header& header) {
  constexpr std::int64_t kBatch = 256;
  const std::int64_t count = header.stats.numFortunes;
  file.seek(header.indexLoc);
  FortuneStats stats = FortuneStats::mempty;
  for (std::int64_t done = 0; done < count; done += kBatch) {
    const std::int64_t batch = std::min(kBatch, count - done);
    const std::string bytes = file.read(static_cast<std::size_t>(batch * indexEntryLength));
    std::size_t at = 0;
    for (std::int64_t i = 0; i < batch; ++i) {
      const auto [entry, next] = decodeIndexEntry(bytes, at);
      stats += indexEntryStats(entry);
      at = next;
    }
  }
  return {stats, header.indexLoc};
}

namespace detail {

void withIndexLocked(const Index& index, FunctionRef<void(File&, const CurrentHeader&)> action) {
  Index::State& state = index.state();
  state.header.with([&](std::optional<Header>& header) {
    action(*state.file, CurrentHeader(header));
    if (!header) throwClosed();
    if (const auto problem = checkIndex_(*state.file, *header)) throwProblem(*problem);
  });
}

void modifyHeaderThen(const Index& index, FunctionRef<Header(File&, const CurrentHeader&)> update,
                      FunctionRef<void(File&)> afterWrite) {
  Index::State& state = index.state();
  state.header.with([&](std::optional<Header>& header) {
    const Header next = update(*state.file, CurrentHeader(header));
    if (!header) throwClosed();
    // Validate before writing, so that a failed change never leaves a header on disk that
    // the next opening would reject.
    if (const auto problem = checkIndex_(*state.file, next)) throwProblem(*problem);
    if (next != *header || state.storedHeaderDiffers) {
      state.storedHeaderDiffers = true;  // until the new header is stored and current
      state.file->seek(0);
      state.file->write(encodeHeader(next));
    }
    afterWrite(*state.file);
    header = next;
    state.storedHeaderDiffers = false;
  });
}

}  // namespace detail

void modifyHeader(const Index& index, FunctionRef<Header(File&, const CurrentHeader&)> update) {
  detail::modifyHeaderThen(index, update, [](File&) {});
}

}  // namespace tallowmere
