#include <tallowmere/Data/Fortune/Open.hpp>

#include <exception>

namespace tallowmere::detail {
namespace {

// Closes from the last handle to the first, every one of them; then throws the first failure.
void closeAll(const std::vector<FortuneFile>& files) {
  std::exception_ptr first;
  for (auto file = files.rbegin(); file != files.rend(); ++file) {
    try {
      closeFortuneFile(*file);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

// The same while another failure is on its way: that failure is the one the caller must see.
void closeAllQuietly(const std::vector<FortuneFile>& files) noexcept {
  try {
    closeAll(files);
  } catch (...) {
  }
}

}  // namespace

void withFortuneFilesDo(char32_t delimiter, bool writable, const std::vector<std::string>& paths,
                        const FortuneFileOptions& options,
                        FunctionRef<void(const std::vector<FortuneFile>&)> action) {
  std::vector<FortuneFile> files;
  files.reserve(paths.size());
  try {
    for (const std::string& path : paths)
      files.push_back(openFortuneFile(delimiter, writable, path, options));
    action(files);
  } catch (...) {
    closeAllQuietly(files);
    throw;
  }
  closeAll(files);
}

}  // namespace tallowmere::detail
