#include "Support.hpp"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <system_error>

#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include "Data/Fortune/FortuneFile/Utf8.hpp"

namespace tallowmere::bench {

namespace fs = std::filesystem;

namespace {

// One made-up word: a few letters of the script.
std::string word(Script script, std::mt19937& random) {
  std::string out;
  const std::size_t letters = 1 + random() % (script == Script::Chinese ? 3 : 8);
  for (std::size_t i = 0; i < letters; ++i) {
    switch (script) {
      case Script::Ascii:
        out.push_back(static_cast<char>('a' + random() % 26));
        break;
      case Script::Cyrillic:
        detail::appendUtf8(out, static_cast<char32_t>(0x430 + random() % 32));
        break;
      case Script::Chinese:
        detail::appendUtf8(out, static_cast<char32_t>(0x4E00 + random() % 0x5000));
        break;
    }
  }
  return out;
}

}  // namespace

std::vector<std::string> sampleFortunes(Script script, std::size_t count) {
  std::mt19937 random(static_cast<unsigned>(script) + 1);
  std::vector<std::string> fortunes;
  fortunes.reserve(count);
  for (std::size_t n = 0; n < count; ++n) {
    std::string fortune;
    const std::size_t lines = 1 + random() % 6;
    for (std::size_t line = 0; line < lines; ++line) {
      if (line > 0) fortune += '\n';
      const std::size_t words = 4 + random() % 9;
      for (std::size_t w = 0; w < words; ++w) {
        if (w > 0) fortune += script == Script::Chinese ? "" : " ";
        fortune += word(script, random);
      }
      fortune += script == Script::Chinese ? "\xE3\x80\x82" : ".";
    }
    fortunes.push_back(std::move(fortune));
  }
  return fortunes;
}

std::string joinFortunes(const std::vector<std::string>& fortunes) {
  std::string text;
  for (const std::string& fortune : fortunes) {
    if (!text.empty()) text += "%\n";
    text += fortune;
    text += '\n';
  }
  return text;
}

std::string sampleText(Script script, std::size_t bytes) {
  const std::string some = joinFortunes(sampleFortunes(script, 2000));
  std::string text;
  while (text.size() < bytes) {
    if (!text.empty()) text += "%\n";
    text += some;
  }
  return text;
}

std::vector<std::string> copyClassicCollection(const TempDir& dir) {
  const char* chosen = std::getenv("TALLOWMERE_BENCH_COLLECTION");
  const fs::path root = chosen != nullptr ? chosen : "/usr/share/games/fortunes";
  std::error_code error;
  if (!fs::is_directory(root, error)) return {};
  std::vector<std::string> copies;
  // The files directly in the directory: the collection the classic command draws from.
  for (auto it = fs::directory_iterator(root, error); !error && it != fs::end(it);
       it.increment(error)) {
    const fs::path& file = it->path();
    if (it->is_symlink() || !it->is_regular_file() || !fs::exists(file.string() + ".dat")) continue;
    const std::string copy = dir.path("collection/" + fs::relative(file, root).string());
    fs::create_directories(fs::path(copy).parent_path());
    fs::copy_file(file, copy, fs::copy_options::overwrite_existing);
    copies.push_back(copy);
  }
  for (const std::string& copy : copies) {
    const FortuneFile file = openFortuneFile(U'%', true, copy);
    rebuildIndex(file);
    closeFortuneFile(file);
  }
  return copies;
}

}  // namespace tallowmere::bench
