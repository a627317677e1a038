#include "Draw.hpp"

#include <regex.h>

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <span>

#include "CommandLine.hpp"
#include "Data/Fortune.hpp"
#include "Report.hpp"
#include "Weights.hpp"

namespace tallowmere::cli {

namespace {

// The files to work on, each with the source (command-line operand) it came from.
struct Selection {
  std::vector<Source> sources;
  std::vector<std::string> paths;
  std::vector<std::size_t> sourceOf;  // for each path
};

// The fortune files that an operand stands for: itself when it is a file, the fortune files
// below it when it is a directory, else the files of that name along the kind's search path.
std::vector<std::string> filesOf(const std::string& operand, FortuneType kind) {
  return aboutFile(operand, [&]() -> std::vector<std::string> {
    std::error_code ignored;
    const std::filesystem::file_status status = std::filesystem::status(operand, ignored);
    if (std::filesystem::is_directory(status)) {
      std::vector<std::string> files = listFortuneFiles(true, operand);
      if (files.empty()) throw FileError(operand, "no fortune files in this directory");
      return files;
    }
    if (std::filesystem::exists(status)) return {operand};
    std::vector<std::string> found = resolveFortuneFile(kind, operand);
    if (found.empty()) throw FileError(operand, "no such fortune file or directory");
    return found;
  });
}

Selection selectFiles(const DrawOptions& options) {
  Selection selection;
  selection.sources = parseSources(options.operands);
  if (selection.sources.empty()) {
    // Everything along the search path, as one source without a share.
    selection.sources.push_back({"", std::nullopt});
    selection.paths = defaultFortuneFiles(options.kind);
    selection.sourceOf.assign(selection.paths.size(), 0);
    return selection;
  }
  for (std::size_t i = 0; i < selection.sources.size(); ++i) {
    for (std::string& path : filesOf(selection.sources[i].operand, options.kind)) {
      selection.paths.push_back(std::move(path));
      selection.sourceOf.push_back(i);
    }
  }
  return selection;
}

// Whether a fortune may be drawn or matched: never an empty one, and only one of the asked
// length.
bool wanted(const DrawOptions& options, const IndexEntry& entry) {
  if (entry.stringChars <= 0) return false;
  switch (options.length) {
    case DrawOptions::Length::Short: return entry.stringChars <= options.lengthLimit;
    case DrawOptions::Length::Long: return entry.stringChars > options.lengthLimit;
    case DrawOptions::Length::Any: break;
  }
  return true;
}

// Whether shares or -e ask for files to be reweighted.
bool reweighted(const DrawOptions& options, const Selection& selection) {
  bool weighted = options.equal;
  for (const Source& source : selection.sources) weighted = weighted || source.percent.has_value();
  return weighted;
}

// The library's distribution over the wanted fortunes (every one equally likely), with the
// files reweighted when shares or -e ask for it.
Categorical<FilteredFortunes> distribution(const DrawOptions& options, const Selection& selection,
                                           const std::vector<FortuneFile>& files) {
  const auto test = [&options](const FortuneFile&, std::int64_t, const IndexEntry& entry) {
    return wanted(options, entry);
  };
  Categorical<FilteredFortunes> byCount = fortuneDistributionWhere(test, files);
  if (!reweighted(options, selection)) return byCount;

  std::vector<FileCount> counts;
  for (std::size_t i = 0; i < files.size(); ++i) {
    counts.push_back({selection.sourceOf[i], static_cast<double>(byCount.events()[i].first)});
  }
  const std::vector<double> shares = spreadShares(selection.sources, counts, options.equal);
  std::vector<std::pair<float, FilteredFortunes>> events;
  for (std::size_t i = 0; i < files.size(); ++i) {
    events.emplace_back(static_cast<float>(shares[i]), byCount.events()[i].second);
  }
  return fromWeightedList(std::move(events));
}

[[noreturn]] void throwNothingToDraw(const DrawOptions& options, const Selection& selection) {
  std::string reason = "no fortune to draw";
  if (options.length == DrawOptions::Length::Short) {
    reason = "no fortune of at most " + std::to_string(options.lengthLimit) + " characters";
  } else if (options.length == DrawOptions::Length::Long) {
    reason = "no fortune longer than " + std::to_string(options.lengthLimit) + " characters";
  }
  if (selection.paths.size() == 1) throw FileError(selection.paths.front(), reason);
  throw std::runtime_error(reason + " in any of the " + std::to_string(selection.paths.size()) +
                           " files");
}

using Drawn = std::pair<FortuneFile, std::int64_t>;  // a file and a position in it

// The quick draw, when no file is reweighted: a fortune chosen uniformly by the fortune counts
// of the index headers, which reads nothing but each header and the chosen entry. If that
// fortune is not wanted there is no answer, and the caller draws from the distribution over
// the wanted fortunes instead. Every wanted fortune stays equally likely: out of N fortunes of
// which W are wanted, each is drawn with probability 1/N + (N - W)/N * 1/W = 1/W.
std::optional<Drawn> drawByCounts(const DrawOptions& options, const std::vector<FortuneFile>& files,
                                  SplitMix64& generator) {
  const Categorical<FortuneFile> byCount = defaultFortuneDistribution(files);
  if (!(byCount.totalWeight() > 0)) return std::nullopt;
  const FortuneFile& file = byCount.sample(generator);
  const std::int64_t position = uniformInt64(generator, 0, getNumFortunes(file) - 1);
  if (!wanted(options, getEntry(getIndex(file), position))) return std::nullopt;
  return Drawn{file, position};
}

int drawOne(const DrawOptions& options, const Selection& selection,
            const std::vector<FortuneFile>& files) {
  SplitMix64 generator = splitGlobalGenerator();
  std::optional<Drawn> chosen;
  if (!reweighted(options, selection)) chosen = drawByCounts(options, files, generator);
  if (!chosen) {
    const Categorical<FilteredFortunes> fortunes = distribution(options, selection, files);
    if (!(fortunes.totalWeight() > 0)) throwNothingToDraw(options, selection);
    const FilteredFortunes& filtered = fortunes.sample(generator);
    chosen = Drawn{filtered.first, filtered.second.sample(generator)};
  }
  const FortuneFile& file = chosen->first;
  const std::int64_t position = chosen->second;
  const std::string text =
      aboutFile(file.fortunePath(), [&] { return getFortune(file, position); });
  if (options.showFile) {
    std::cout << '(' << file.fortunePath() << ")\n" << encodeUtf8(options.delimiter) << '\n';
  }
  std::cout << text << '\n';
  return 0;
}

int listShares(const DrawOptions& options, const Selection& selection,
               const std::vector<FortuneFile>& files) {
  const Categorical<FilteredFortunes> fortunes = distribution(options, selection, files);
  const double total = fortunes.totalWeight();
  for (std::size_t i = 0; i < files.size(); ++i) {
    const double share = total > 0 ? 100.0 * fortunes.events()[i].first / total : 0.0;
    char percent[32];
    std::snprintf(percent, sizeof percent, "%6.2f%%", share);
    std::cout << percent << ' ' << selection.paths[i] << '\n';
  }
  return 0;
}

// A compiled POSIX extended regular expression, freed on every exit path.
class Pattern {
 public:
  Pattern(const std::string& text, bool ignoreCase) {
    // Regular expressions follow the user's locale, so that -i folds the case of non-ASCII
    // letters in a UTF-8 locale. Loaded here, as only patterns need it: a plain draw does not
    // pay for reading the locale files.
    std::setlocale(LC_CTYPE, "");
    const int flags = REG_EXTENDED | REG_NOSUB | (ignoreCase ? REG_ICASE : 0);
    if (const int error = regcomp(&regex_, text.c_str(), flags); error != 0) {
      char message[256];
      regerror(error, &regex_, message, sizeof message);
      throw BadUsage("bad regular expression '" + text + "': " + message);
    }
  }
  ~Pattern() { regfree(&regex_); }
  Pattern(const Pattern&) = delete;
  Pattern& operator=(const Pattern&) = delete;

  bool matches(const std::string& text) const {
    return regexec(&regex_, text.c_str(), 0, nullptr, 0) == 0;
  }

 private:
  regex_t regex_;
};

// Every wanted fortune that matches, each followed by a delimiter line; before the first
// match of a file, its name on standard error.
int printMatches(const DrawOptions& options, const Pattern& pattern,
                 const std::vector<FortuneFile>& files) {
  const std::string delimiterLine = encodeUtf8(options.delimiter) + '\n';
  for (const FortuneFile& file : files) {
    aboutFile(file.fortunePath(), [&] {
      bool named = false;
      const auto positions = filterFortunesWithIndex(
          [&options](std::int64_t, const IndexEntry& entry) { return wanted(options, entry); },
          file);
      for (const std::int64_t position : positions) {
        const std::string text = getFortune(file, position);
        if (!pattern.matches(text)) continue;
        if (!named) {
          std::cout.flush();
          std::cerr << '(' << file.fortunePath() << ")\n" << delimiterLine;
          named = true;
        }
        std::cout << text << '\n' << delimiterLine;
      }
    });
  }
  return 0;
}

}  // namespace

int runDraw(const DrawOptions& options) {
  // Compiled first, so that a bad pattern is reported before any file is read.
  std::optional<Pattern> pattern;
  if (options.pattern) pattern.emplace(*options.pattern, options.ignoreCase);
  const Selection selection = selectFiles(options);
  if (selection.paths.empty()) {
    // Nothing along the search path: the library's answer for an empty collection.
    if (!options.listFiles && !pattern) std::cout << noFortuneFilesText << '\n';
    return 0;
  }
  return withFortuneFiles(options.delimiter, false, selection.paths,
                          [&](const std::vector<FortuneFile>& files) {
                            if (pattern) return printMatches(options, *pattern, files);
                            if (options.listFiles) return listShares(options, selection, files);
                            return drawOne(options, selection, files);
                          });
}

}  // namespace tallowmere::cli
