// Keeping the classic tools' data file (FILE.dat, see Strfile.hpp) in step with the text.
#include <cerrno>
#include <optional>

#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include <tallowmere/Data/Fortune/Strfile.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/FortuneFile/Cells.hpp"
#include "Data/Fortune/FortuneFile/Storage.hpp"
#include "Data/Fortune/FortuneFile/Trust.hpp"

namespace tallowmere {

namespace {

using detail::strfilePathOf;

// How a data file was made: the options to build it with, and its layout.
struct ExistingData {
  StrfileOptions options;
  StrfileLayout layout = StrfileLayout::Offsets32;
};

// How the data file at `path` was made (its delimiter, flags and layout), when there is one
// that decodes. What strfile does not record (whether -i ordered it ignoring case) is taken as
// off.
std::optional<ExistingData> existingData(Env& env, const std::string& path) {
  if (!env.status(path).isFile()) return std::nullopt;
  try {
    // Only the header says how it was made: the table, which may be long (or damaged, since it
    // is about to be replaced), is not read.
    const std::unique_ptr<File> file = env.openFile(path, OpenMode::ReadOnly);
    const StrfileHead head = decodeStrfileHead(file->readAt(0, strfileHeadLength),
                                               static_cast<std::uint64_t>(file->size()));
    constexpr std::uint32_t kept =
        StrfileHeader::random | StrfileHeader::ordered | StrfileHeader::rotated;
    return ExistingData{{head.header.delimiter, head.header.flags & kept, false}, head.layout};
  } catch (const IOError& error) {
    if (error.isUserError()) return std::nullopt;  // not a data file of the classic tools
    throw;
  }
}

// Writes the data file for the text as it is now, in the layout it had.
void writeStrfileData(detail::Access& access, const ExistingData& existing) {
  const FortuneFile::State& state = access.state();
  StrfileData data = buildStrfile(access.text(), existing.options);
  data.layout = existing.layout;
  const std::string bytes = encodeStrfile(data);
  const std::string path = strfilePathOf(state.path);
  replaceFileWhole(state.env, path, bytes, state.syncWrites, state.path);
  // Nothing was written when the data file was current already; one older than its text would
  // still look stale, so its first bytes are written again as they are, which dates it.
  if (detail::changedAfter(state.env.status(state.path), state.env.status(path))) {
    const std::unique_ptr<File> file = state.env.openFile(path, OpenMode::ReadWriteNoFollow);
    file->writeAt(0, std::string_view(bytes).substr(0, 4));
    if (state.syncWrites) file->sync();
  }
}

}  // namespace

namespace detail {

void updateStrfileData(Access& access) {
  const FortuneFile::State& state = access.state();
  if (const auto existing = existingData(state.env, strfilePathOf(state.path))) {
    writeStrfileData(access, *existing);
  }
}

}  // namespace detail

void rebuildStrfileData(const FortuneFile& file) {
  detail::withAccess(file, [&](detail::Access& access) {
    const FortuneFile::State& state = access.state();
    if (!state.writable) throw IOError::system(EBADF, strfilePathOf(state.path), "write");
    access.lock(LockMode::Exclusive);
    std::optional<ExistingData> existing = existingData(state.env, strfilePathOf(state.path));
    if (!existing) {
      if (state.delimiter > 0x7F) {
        throw IOError::userError(state.path +
                                     ": a data file of the classic tools takes a "
                                     "delimiter of one byte (an ASCII character)",
                                 state.path);
      }
      existing = ExistingData{{static_cast<char>(state.delimiter), 0, false}};
    }
    // In the layout this system's strfile writes, whatever an existing one had, so that the
    // classic tools here read it; an append keeps a file's layout instead.
    existing->layout = StrfileLayout::Offsets32;
    writeStrfileData(access, *existing);
  });
}

}  // namespace tallowmere
