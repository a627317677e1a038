// Opening and closing fortune files, and the guarded access to their two cells.
#include <exception>
#include <optional>
#include <utility>

#include "Data/Fortune/FortuneFile.hpp"
#include "Data/Fortune/FortuneFile/Cells.hpp"
#include "Data/Fortune/FortuneFile/Utf8.hpp"
#include "Platform/Errors.hpp"
#include "Platform/FileSystem.hpp"

namespace tallowmere {

namespace {

std::string indexPathOf(const std::string& textPath) { return textPath + ".ix"; }

// The path as a double-quoted string literal: backslash and double quote are escaped, other
// control characters and everything outside ASCII are written as a backslash and the decimal
// code point, with "\&" after such an escape when a digit follows, so that the text stays
// unambiguous. A byte that is not part of valid UTF-8 is written as the code point 0xDC00 plus
// the byte, so that different paths always read differently.
std::string quotePath(std::string_view path) {
  std::string out = "\"";
  bool afterNumericEscape = false;
  while (!path.empty()) {
    const detail::Utf8Char c = detail::decodeUtf8(path);
    const auto code = c.valid ? static_cast<std::uint32_t>(c.value)
                              : 0xDC00u + static_cast<unsigned char>(path[0]);
    const std::size_t length = c.valid ? c.length : 1;
    path.remove_prefix(length);
    const bool digit = code >= '0' && code <= '9';
    if (afterNumericEscape && digit) out += "\\&";
    afterNumericEscape = false;
    switch (code) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default:
        if (code >= 0x20 && code < 0x7F) {
          out.push_back(static_cast<char>(code));
        } else {
          out.push_back('\\');
          out += std::to_string(code);
          afterNumericEscape = true;
        }
    }
  }
  out.push_back('"');
  return out;
}

// Obtains the index of a fortune file whose index cell is not yet opened.
Index obtainIndex(const FortuneFile::State& state, detail::HeldText& text) {
  std::exception_ptr openError;
  try {
    const OpenMode mode = state.writable ? OpenMode::ReadWrite : OpenMode::ReadOnly;
    return openIndex(state.opener(indexPathOf(state.path), mode), state.writable);
  } catch (...) {
    if (state.writable) throw;
    openError = std::current_exception();
  }
  // A read-only fortune file can still be read without its index file: index the text in
  // memory. If that fails as well, the reason the index file could not be used is the more
  // useful one to report.
  try {
    Index index = createVirtualIndex();
    rebuildIndex(state.delimiter, text.file(), index);
    return index;
  } catch (...) {
    std::rethrow_exception(openError);
  }
}

}  // namespace

FortuneFile::State::State(std::string path_, char32_t delimiter_, bool writable_,
                          detail::FileOpener opener_)
    : path(std::move(path_)),
      delimiter(delimiter_),
      writable(writable_),
      opener(std::move(opener_)),
      text("fortune text file", detail::NotYetOpened{}),
      index("fortune file's index", detail::NotYetOpened{}) {}

const std::string& FortuneFile::fortunePath() const noexcept { return state_->path; }
char32_t FortuneFile::fortuneDelim() const noexcept { return state_->delimiter; }
bool FortuneFile::fortuneWritable() const noexcept { return state_->writable; }

void detail::requireUsableDelimiter(const char* operation, char32_t delimiter) {
  // A newline delimiter would make every line break a separator line and the counts
  // meaningless; a value UTF-8 cannot encode could never be found in the text.
  if (delimiter == U'\n' || !isScalarValue(delimiter)) {
    throw UsageError(std::string(operation) +
                     ": the delimiter must be a Unicode character other than newline");
  }
}

FortuneFile openFortuneFile(char32_t delimiter, bool writable, const std::string& path) {
  return detail::openFortuneFileWith(delimiter, writable, path, tallowmere::openFile);
}

FortuneFile detail::openFortuneFileWith(char32_t delimiter, bool writable, const std::string& path,
                                        FileOpener opener) {
  requireUsableDelimiter("openFortuneFile", delimiter);
  if (!writable && !isExistingFile(path)) {
    throw IOError::userError("openFortuneFile: file does not exist: " + quotePath(path));
  }
  return FortuneFile(
      std::make_shared<FortuneFile::State>(path, delimiter, writable, std::move(opener)));
}

void closeFortuneFile(const FortuneFile& file) {
  // Each cell is marked closed even when closing its file fails, so that the fortune file is
  // dead either way and the index is still closed; the first failure is reported afterwards.
  std::exception_ptr failure;
  auto closeCell = [&failure](auto& cell, auto&& close) {
    cell.with([&](auto& value) {
      if (std::holds_alternative<detail::Closed>(value)) detail::throwClosed();
      auto previous = std::exchange(value, detail::Closed{});
      try {
        close(previous);
      } catch (...) {
        if (!failure) failure = std::current_exception();
      }
    });
  };
  FortuneFile::State& state = file.state();
  closeCell(state.text, [](detail::TextCell& previous) {
    if (auto* handle = std::get_if<std::shared_ptr<File>>(&previous)) (*handle)->close();
  });
  closeCell(state.index, [](detail::IndexCell& previous) {
    if (auto* index = std::get_if<Index>(&previous)) closeIndex(*index);
  });
  if (failure) std::rethrow_exception(failure);
}

std::string fortuneFilePath(const FortuneFile& file) { return file.fortunePath(); }

std::string fortuneIndexPath(const FortuneFile& file) { return indexPathOf(file.fortunePath()); }

Index getIndex(const FortuneFile& file) {
  std::optional<Index> result;
  detail::withIndex(file, [&](detail::HeldText&, const Index& index) { result = index; });
  return *result;
}

namespace detail {

void throwClosed() { throw UsageError("Fortune file is closed"); }

File& HeldText::file() {
  if (auto* handle = std::get_if<std::shared_ptr<File>>(&cell_)) return **handle;
  std::shared_ptr<File> opened =
      state_.opener(state_.path, state_.writable ? OpenMode::ReadWrite : OpenMode::ReadOnly);
  cell_ = opened;
  return *opened;
}

void withTextCell(const FortuneFile& file, FunctionRef<void(HeldText&)> action) {
  FortuneFile::State& state = file.state();
  state.text.with([&](TextCell& cell) {
    if (std::holds_alternative<Closed>(cell)) throwClosed();
    HeldText held(state, cell);
    action(held);
  });
}

void withFortuneFile(const FortuneFile& file, FunctionRef<void(File&)> action) {
  withTextCell(file, [&](HeldText& text) { action(text.file()); });
}

void withIndexCell(const FortuneFile& file, HeldText& text, FunctionRef<void(const Index&)> action) {
  FortuneFile::State& state = file.state();
  state.index.with([&](IndexCell& cell) {
    if (std::holds_alternative<Closed>(cell)) throwClosed();
    if (const Index* open = std::get_if<Index>(&cell)) {
      action(*open);
      return;
    }
    const Index index = obtainIndex(state, text);
    cell = index;
    action(index);
  });
}

void withIndex(const FortuneFile& file, FunctionRef<void(HeldText&, const Index&)> action) {
  withTextCell(file, [&](HeldText& text) {
    withIndexCell(file, text, [&](const Index& index) { action(text, index); });
  });
}

}  // namespace detail

}  // namespace tallowmere
