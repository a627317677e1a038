// Finding a fortune of a strfile data file in its text, and undoing the rotated flag.
#include <string>

#include <tallowmere/Data/Fortune/Strfile.hpp>
#include <tallowmere/Platform/Errors.hpp>
#include "Data/Fortune/Strfile/Text.hpp"

namespace tallowmere {
namespace {

constexpr std::size_t kChunk = 8192;

StrfileSpan locate(const StrfileData& data, std::uint32_t number, detail::StrfileText& text) {
  const std::string function = "locateStrfileFortune: ";
  if (number >= data.header.numStrings || number >= data.offsets.size()) {
    throw IOError::userError(function + "no fortune " + std::to_string(number) + " among " +
                                 std::to_string(data.header.numStrings),
                             {}, ErrorReason::OutOfRange);
  }
  const std::uint64_t offset = data.offsets[number];
  const std::uint64_t size = text.size();
  if (offset > size) {
    throw IOError::userError(function + "fortune " + std::to_string(number) + " starts at byte " +
                                 std::to_string(offset) + ", past the end of the text (" +
                                 std::to_string(size) + " bytes)",
                             {}, ErrorReason::DamagedIndex);
  }
  detail::DelimiterLines lines(data.header.delimiter, offset);
  std::uint64_t end = size;
  std::string buffer;
  for (std::uint64_t at = offset; at < size;) {
    const std::string_view chunk = text.readAt(at, kChunk, buffer);
    if (chunk.empty()) {  // the text shrank while being read
      end = at;
      break;
    }
    const bool more = lines.feed(chunk, [&](std::uint64_t line) {
      end = line;
      return false;
    });
    if (!more) break;
    at += chunk.size();
  }
  return {offset, end - offset};
}

}  // namespace

StrfileSpan locateStrfileFortune(const StrfileData& data, std::uint32_t number,
                                 std::string_view text) {
  detail::MemoryStrfileText source(text);
  return locate(data, number, source);
}

StrfileSpan locateStrfileFortune(const StrfileData& data, std::uint32_t number, File& text) {
  detail::FileStrfileText source(text);
  return locate(data, number, source);
}

std::string rot13(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>('a' + (c - 'a' + 13) % 26);
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>('A' + (c - 'A' + 13) % 26);
    }
  }
  return out;
}

}  // namespace tallowmere
