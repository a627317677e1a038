// Reading a classic fortune file through its data file.
#include <algorithm>

#include <tallowmere/Data/Fortune/Strfile.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/FortuneFile/Utf8.hpp"
#include "Data/Fortune/Strfile/Text.hpp"

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

std::optional<StrfileHeader> readStrfileHeader(const std::string& dataPath, Env& env) {
  try {
    const std::unique_ptr<File> file = env.openFile(dataPath, OpenMode::ReadOnly);
    const StrfileHeader header = decodeStrfileHeader(file->readAt(0, strfileHeaderLength));
    // The table's length is checked against the file's size instead of being read.
    if (static_cast<std::uint64_t>(file->size()) != strfileLength(header)) return std::nullopt;
    return header;
  } catch (const IOError&) {
    return std::nullopt;  // missing, damaged or not readable: the text is read without it
  }
}

std::optional<StrfileData> readStrfileFor(const std::string& dataPath, const std::string& textPath,
                                          Env& env) {
  const FileStatus data = env.status(dataPath);
  const FileStatus text = env.status(textPath);
  if (!data.isFile() || !text.exists()) return std::nullopt;
  try {
    const std::unique_ptr<File> file = env.openFile(dataPath, OpenMode::ReadOnly);
    StrfileData decoded = decodeStrfile(file->readAt(0, static_cast<std::size_t>(data.size)));
    checkStrfile(decoded, static_cast<std::uint64_t>(text.size));
    return decoded;
  } catch (const IOError&) {
    return std::nullopt;  // damaged, or not readable: the text is read without it
  }
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
  for (std::uint32_t i = 0; i < data.header.numStrings; ++i) {
    entries.push_back(strfileEntry(data, i, text));
  }
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
