// Reading a classic fortune file through its data file.
#include <algorithm>
#include <span>

#include <tallowmere/Data/Fortune/Strfile.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/FortuneFile/Utf8.hpp"
#include "Data/Fortune/Strfile/Layout.hpp"
#include "Data/Fortune/Strfile/Text.hpp"
#include "Data/Fortune/detail/Coding.hpp"

namespace tallowmere {
namespace {

// The bytes of fortune `number`, without the newline that ends its last line.
std::string fortuneBytes(const StrfileData& data, std::uint32_t number, File& text) {
  const StrfileSpan span = locateStrfileFortune(data, number, text);
  std::string bytes =
      text.readAt(static_cast<std::int64_t>(span.offset), static_cast<std::size_t>(span.length));
  if (!bytes.empty() && bytes.back() == '\n') bytes.pop_back();
  return bytes;
}

}  // namespace

namespace {

// Offsets read at a time: 64 KiB of the table.
constexpr std::size_t kTableWindow = 16384;

// The header and layout of the open data file, when it fits a layout (the table's length is
// checked against the file's size instead of being read) and the count fits a text of
// `textSize` bytes (when known); throws otherwise.
StrfileHead readHead(File& file, std::optional<std::uint64_t> textSize) {
  const StrfileHead head =
      decodeStrfileHead(file.readAt(0, strfileHeadLength), static_cast<std::uint64_t>(file.size()));
  if (textSize) checkStrfileHeader(head.header, *textSize);
  return head;
}

// The size of the text a data file at `dataPath` describes: the file beside it.
std::optional<std::uint64_t> textSizeBeside(const std::string& dataPath, Env& env) {
  constexpr std::string_view suffix = ".dat";
  if (!dataPath.ends_with(suffix)) return std::nullopt;
  const FileStatus text = env.status(dataPath.substr(0, dataPath.size() - suffix.size()));
  if (!text.exists()) return std::nullopt;
  return static_cast<std::uint64_t>(text.size);
}

std::optional<StrfileHeader> readHeaderAt(const std::string& dataPath,
                                          std::optional<std::uint64_t> textSize, Env& env) {
  try {
    const std::unique_ptr<File> file = env.openFile(dataPath, OpenMode::ReadOnly);
    return readHead(*file, textSize).header;
  } catch (const IOError&) {
    return std::nullopt;  // missing, damaged or not readable: the text is read without it
  }
}

}  // namespace

std::optional<StrfileHeader> readStrfileHeader(const std::string& dataPath, Env& env) {
  return readHeaderAt(dataPath, textSizeBeside(dataPath, env), env);
}

std::optional<StrfileHeader> readStrfileHeader(const std::string& dataPath, std::int64_t textSize,
                                               Env& env) {
  return readHeaderAt(dataPath, static_cast<std::uint64_t>(std::max<std::int64_t>(textSize, 0)),
                      env);
}

std::optional<StrfileData> readStrfileFor(const std::string& dataPath, const std::string& textPath,
                                          Env& env) {
  const FileStatus text = env.status(textPath);
  if (!env.status(dataPath).isFile() || !text.exists()) return std::nullopt;
  return readStrfileFor(dataPath, text.size, env);
}

namespace {

// The data file open as `file`, checked against a text of `textSize` bytes; throws the first
// problem found.
StrfileData loadStrfile(File& file, const std::string& dataPath, std::uint64_t textSize) {
  const StrfileHead head = readHead(file, textSize);
  StrfileData data;
  data.header = head.header;
  data.layout = head.layout;
  const std::size_t tableStart = detail::strfileHeaderLengthOf(head.layout);
  const std::size_t step = detail::strfileOffsetLengthOf(head.layout);
  // Bounded by the text's size now that the count is checked.
  const std::size_t count = std::size_t{data.header.numStrings} + 1;
  data.offsets.resize(count);
  for (std::size_t first = 0; first < count; first += kTableWindow) {
    const std::size_t take = std::min(kTableWindow, count - first);
    const std::string bytes =
        file.readAt(static_cast<std::int64_t>(tableStart + first * step), take * step);
    if (bytes.size() != take * step) {
      throw IOError::userError(dataPath + ": the data file was cut while it was read", dataPath,
                               ErrorReason::DamagedIndex);
    }
    const std::span<std::uint32_t> window(data.offsets.data() + first, take);
    if (const auto wide = detail::decodeStrfileOffsets(head.layout, bytes, window)) {
      throw IOError::userError(
          dataPath + ": offset " + std::to_string(first + *wide) + " does not fit 32 bits",
          dataPath, ErrorReason::DamagedIndex);
    }
    checkStrfileOffsets(data.header, window, first,
                        first == 0 ? std::nullopt : std::optional(data.offsets[first - 1]),
                        textSize);
  }
  return data;
}

std::uint64_t sizeOf(std::int64_t bytes) {
  return static_cast<std::uint64_t>(std::max<std::int64_t>(bytes, 0));
}

// The fortunes' offsets in text order, and the end.
std::vector<std::uint32_t> inTextOrder(const StrfileData& data) {
  std::vector<std::uint32_t> offsets = data.offsets;
  std::sort(offsets.begin(), offsets.end() - 1);
  return offsets;
}

}  // namespace

std::optional<StrfileData> readStrfileFor(const std::string& dataPath, std::int64_t textBytes,
                                          Env& env) {
  try {
    const std::unique_ptr<File> file = env.openFile(dataPath, OpenMode::ReadOnly);
    return loadStrfile(*file, dataPath, sizeOf(textBytes));
  } catch (const IOError&) {
    return std::nullopt;  // damaged, or not readable: the text is read without it
  }
}

StrfileFileReport checkStrfileFor(const std::string& dataPath, const std::string& textPath,
                                  Env& env) {
  const FileStatus dataStatus = env.status(dataPath);
  if (!dataStatus.exists()) return {StrfileFileState::Missing, {}, {}, 0};
  // Equal is not later: an installation may give a text and its data file one time.
  if (env.status(textPath).modified > dataStatus.modified) {
    return {StrfileFileState::Stale, {}, {}, 0};
  }
  const std::unique_ptr<File> text = env.openFile(textPath, OpenMode::ReadOnly);
  StrfileData data;
  try {
    const std::unique_ptr<File> file = env.openFile(dataPath, OpenMode::ReadOnly);
    data = loadStrfile(*file, dataPath, sizeOf(text->size()));
  } catch (const IOError& error) {
    if (!error.isUserError()) throw;
    return {StrfileFileState::Unusable, error.what(), {}, 0};
  }
  const StrfileData fresh = buildStrfile(*text, {data.header.delimiter, 0, false});
  if (inTextOrder(data) != fresh.offsets) {
    return {StrfileFileState::DiffersFromText, {}, data.layout, 0};
  }
  return {StrfileFileState::Sound, {}, data.layout, data.header.numStrings};
}

std::string strfileFortune(const StrfileData& data, std::uint32_t number, File& text) {
  std::string bytes = fortuneBytes(data, number, text);
  if ((data.header.flags & StrfileHeader::rotated) != 0) bytes = rot13(bytes);
  return detail::decodeUtf8Leniently(bytes);
}

IndexEntry strfileEntry(const StrfileData& data, std::uint32_t number, File& text) {
  const std::string bytes = fortuneBytes(data, number, text);
  return {static_cast<std::int64_t>(data.offsets[number]), static_cast<std::int64_t>(bytes.size()),
          detail::countUtf8Chars(bytes),
          1 + static_cast<std::int64_t>(std::count(bytes.begin(), bytes.end(), '\n'))};
}

std::vector<IndexEntry> strfileEntries(const StrfileData& data, File& text) {
  std::vector<IndexEntry> entries;
  entries.reserve(data.header.numStrings);
  // Rotating the letters back changes no length.
  forEachStrfileFortune(data, text, [&](std::uint32_t number, std::string_view bytes) {
    entries.push_back(
        {static_cast<std::int64_t>(data.offsets[number]), static_cast<std::int64_t>(bytes.size()),
         detail::countUtf8Chars(bytes),
         1 + static_cast<std::int64_t>(std::count(bytes.begin(), bytes.end(), '\n'))});
  });
  return entries;
}

void forEachStrfileFortune(const StrfileData& data, File& text,
                           FunctionRef<void(std::uint32_t, std::string_view)> visit) {
  constexpr std::size_t kWindow = 4 << 20;
  const bool rotated = (data.header.flags & StrfileHeader::rotated) != 0;
  const auto size = static_cast<std::uint64_t>(text.size());
  std::string window;
  std::uint64_t windowStart = 0;
  std::string rotatedBytes;
  for (std::uint32_t i = 0; i < data.header.numStrings; ++i) {
    const std::uint64_t start = data.offsets[i];
    if (start > size) (void)locateStrfileFortune(data, i, text);  // throws: past the end
    // The fortune ends at the first delimiter line from its start, or the end of the text.
    std::optional<std::uint64_t> end;
    for (int attempt = 0; attempt < 2 && !end; ++attempt) {
      if (start < windowStart || start >= windowStart + window.size() || attempt == 1) {
        window = text.readAt(static_cast<std::int64_t>(start), kWindow);
        windowStart = start;
      }
      const std::string_view rest = std::string_view(window).substr(start - windowStart);
      detail::DelimiterLines lines(data.header.delimiter, start);
      lines.feed(rest, [&](std::uint64_t line) {
        end = line;
        return false;
      });
      if (!end && windowStart + window.size() >= size) end = size;
    }
    std::string_view bytes;
    std::string own;
    if (end) {
      bytes = std::string_view(window).substr(start - windowStart, *end - start);
    } else {  // longer than a window
      const StrfileSpan span = locateStrfileFortune(data, i, text);
      own = text.readAt(static_cast<std::int64_t>(span.offset),
                        static_cast<std::size_t>(span.length));
      bytes = own;
    }
    if (!bytes.empty() && bytes.back() == '\n') bytes.remove_suffix(1);
    if (rotated) {
      rotatedBytes = rot13(bytes);
      bytes = rotatedBytes;
    }
    visit(i, bytes);
  }
}

}  // namespace tallowmere
