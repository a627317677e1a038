// Keeping the classic tools' data file (FILE.dat, see Strfile.hpp) in step with the text.
#include <cerrno>
#include <optional>

#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include <tallowmere/Data/Fortune/Strfile.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/FortuneFile/Cells.hpp"
#include "Data/Fortune/FortuneFile/Storage.hpp"

namespace tallowmere {

namespace {

using detail::strfilePathOf;

// How the data file at `path` was made (its delimiter and flags), when there is one that
// decodes. What strfile does not record (whether -i ordered it ignoring case) is taken as off.
std::optional<StrfileOptions> existingOptions(Env& env, const std::string& path) {
  if (!env.status(path).isFile()) return std::nullopt;
  try {
    // Only the header says how it was made: the table, which may be long (or damaged, since it
    // is about to be replaced), is not read.
    const std::unique_ptr<File> file = env.openFile(path, OpenMode::ReadOnly);
    const StrfileHeader header = decodeStrfileHeader(file->readAt(0, strfileHeaderLength));
    if (static_cast<std::uint64_t>(file->size()) != strfileLength(header)) return std::nullopt;
    constexpr std::uint32_t kept =
        StrfileHeader::random | StrfileHeader::ordered | StrfileHeader::rotated;
    return StrfileOptions{header.delimiter, header.flags & kept, false};
  } catch (const IOError& error) {
    if (error.isUserError()) return std::nullopt;  // not a data file of the classic tools
    throw;
  }
}

void writeStrfileData(detail::Access& access, const StrfileOptions& options) {
  const FortuneFile::State& state = access.state();
  const StrfileData data = buildStrfile(access.text(), options);
  replaceFileWhole(state.env, strfilePathOf(state.path), encodeStrfile(data), state.syncWrites,
                   state.path);
}

}  // namespace

namespace detail {

void updateStrfileData(Access& access) {
  const FortuneFile::State& state = access.state();
  if (const auto options = existingOptions(state.env, strfilePathOf(state.path))) {
    writeStrfileData(access, *options);
  }
}

}  // namespace detail

void rebuildStrfileData(const FortuneFile& file) {
  detail::withAccess(file, [&](detail::Access& access) {
    const FortuneFile::State& state = access.state();
    if (!state.writable) throw IOError::system(EBADF, strfilePathOf(state.path), "write");
    access.lock(LockMode::Exclusive);
    std::optional<StrfileOptions> options = existingOptions(state.env, strfilePathOf(state.path));
    if (!options) {
      if (state.delimiter > 0x7F) {
        throw IOError::userError(state.path +
                                     ": a data file of the classic tools takes a "
                                     "delimiter of one byte (an ASCII character)",
                                 state.path);
      }
      options = StrfileOptions{static_cast<char>(state.delimiter), 0, false};
    }
    writeStrfileData(access, *options);
  });
}

}  // namespace tallowmere
