#include "Draw.hpp"

#include <chrono>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <span>
#include <thread>

#include <tallowmere/Data/Fortune/Pattern.hpp>
#include "Collection.hpp"
#include "CommandLine.hpp"
#include "Report.hpp"
#include "Sources.hpp"
#include "Weights.hpp"

namespace tallowmere::cli {

namespace {

// The files to work on, each with the source (command-line operand) it came from.
struct Selection {
  std::vector<Source> sources;
  std::vector<FortuneSource> files;
  std::vector<std::size_t> sourceOf;  // for each file
  std::vector<std::string> skipped;   // files in directories that are not text
  std::string where;                  // where the files were looked for, without operands
};

bool isDirectory(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::is_directory(path, ignored);
}

// Adds the fortune files that an operand stands for to `files`: itself when it is a file, the
// fortune files in it when it is a directory, else the files of that name along the kind's
// collection. A file met already under another name is not added again.
void addFilesOf(const std::string& operand, FortuneType kind, FileSet& files) {
  aboutFile(operand, [&] {
    if (isDirectory(operand)) {
      if (files.addDirectory(operand, false) == 0) {
        throw FileError(operand, "no fortune files in this directory");
      }
      return;
    }
    if (Env::disk().status(operand).exists() || std::filesystem::is_symlink(operand)) {
      files.addFile(operand);
      return;
    }
    const std::vector<std::string> found = findFortuneFileIn(collectionPath(kind), operand);
    if (found.empty()) throw FileError(operand, "no such fortune file or directory");
    for (const std::string& path : found) files.addFile(path);
  });
}

// Adds the file to the selection as long as it is text: a named file that is not is refused,
// one found in a directory left out; one that cannot be read is reported and left out.
void select(Selection& selection, FortuneSource file, std::size_t source, bool named) {
  bool text = false;
  try {
    text = aboutFile(file.path(), [&] { return file.isText(); });
  } catch (const FileError& error) {
    if (named) throw;
    std::cout.flush();
    std::cerr << "tallowmere: " << error.what() << "; left out\n";
    return;
  }
  if (!text) {
    if (named) throw FileError(file.path(), "not a text file; fortune files hold text");
    selection.skipped.push_back(file.path());
    return;
  }
  selection.files.push_back(std::move(file));
  selection.sourceOf.push_back(source);
}

Selection selectFiles(const DrawOptions& options) {
  Selection selection;
  selection.sources = parseSources(options.operands);
  FileSet files;
  std::vector<std::size_t> sourceOf;  // for each path of `files`
  std::vector<bool> named;            // for each path of `files`
  if (selection.sources.empty()) {
    // Everything of the collection, as one source without a share.
    selection.sources.push_back({"", std::nullopt});
    selection.where = collectCollection(options.kind, files).where;
  }
  for (std::size_t i = 0; i < selection.sources.size(); ++i) {
    const std::string& operand = selection.sources[i].operand;
    if (!operand.empty()) addFilesOf(operand, options.kind, files);
    sourceOf.resize(files.paths().size(), i);
    named.resize(files.paths().size(), !operand.empty() && !isDirectory(operand));
  }
  for (std::size_t k = 0; k < files.paths().size(); ++k) {
    select(selection, FortuneSource(files.paths()[k], options.delimiter, files.sizes()[k]),
           sourceOf[k], named[k]);
  }
  return selection;
}

// Whether a fortune may be drawn or matched: never an empty one, and only one of the asked
// length.
bool wanted(const DrawOptions& options, const IndexEntry& entry) {
  if (entry.stringChars <= 0) return false;
  switch (options.length) {
    case DrawOptions::Length::Short:
      return entry.stringChars <= options.lengthLimit;
    case DrawOptions::Length::Long:
      return entry.stringChars > options.lengthLimit;
    case DrawOptions::Length::Any:
      break;
  }
  return true;
}

// Whether shares or -e ask for files to be reweighted.
bool reweighted(const DrawOptions& options, const Selection& selection) {
  bool weighted = options.equal;
  for (const Source& source : selection.sources) weighted = weighted || source.percent.has_value();
  return weighted;
}

// The wanted fortunes of every file, and the share of the draws of each file: by the number of
// its wanted fortunes (every one equally likely), or as shares or -e ask.
struct Wanted {
  std::vector<std::vector<std::int64_t>> positions;  // for each file
  std::vector<double> weights;                       // for each file
};

Wanted wantedFortunes(const DrawOptions& options, Selection& selection) {
  Wanted result;
  std::vector<FileCount> counts;
  for (std::size_t i = 0; i < selection.files.size(); ++i) {
    FortuneSource& file = selection.files[i];
    std::vector<std::int64_t> positions;
    aboutFile(file.path(), [&] {
      file.read([&](OpenSource& open) {
        const std::vector<IndexEntry> entries = open.entries();
        for (std::size_t at = 0; at < entries.size(); ++at) {
          if (wanted(options, entries[at])) positions.push_back(static_cast<std::int64_t>(at));
        }
      });
    });
    counts.push_back({selection.sourceOf[i], static_cast<double>(positions.size())});
    result.weights.push_back(static_cast<double>(positions.size()));
    result.positions.push_back(std::move(positions));
  }
  if (reweighted(options, selection)) {
    result.weights = spreadShares(selection.sources, counts, options.equal);
  }
  return result;
}

// A file drawn with the given weights.
std::optional<std::size_t> drawFile(const std::vector<double>& weights, SplitMix64& generator) {
  std::vector<std::pair<float, std::size_t>> events;
  for (std::size_t i = 0; i < weights.size(); ++i) {
    events.emplace_back(static_cast<float>(weights[i]), i);
  }
  const Categorical<std::size_t> files = fromWeightedList(std::move(events));
  if (!(files.totalWeight() > 0)) return std::nullopt;
  return files.sample(generator);
}

[[noreturn]] void throwNothingToDraw(const DrawOptions& options, const Selection& selection) {
  std::string reason = "no fortune to draw";
  if (options.length == DrawOptions::Length::Short) {
    reason = "no fortune of at most " + std::to_string(options.lengthLimit) + " characters";
  } else if (options.length == DrawOptions::Length::Long) {
    reason = "no fortune longer than " + std::to_string(options.lengthLimit) + " characters";
  }
  if (selection.files.size() == 1) throw FileError(selection.files.front().path(), reason);
  throw std::runtime_error(reason + " in any of the " + std::to_string(selection.files.size()) +
                           " files");
}

using Drawn = std::pair<std::size_t, std::int64_t>;  // a file and a position in it

// The quick draw, when no file is reweighted: a fortune chosen uniformly by the fortune counts
// of the files, which reads nothing but each count and the chosen entry. If that fortune is
// not wanted there is no answer, and the caller draws from the wanted fortunes instead. Every
// wanted fortune stays equally likely: out of N fortunes of which W are wanted, each is drawn
// with probability 1/N + (N - W)/N * 1/W = 1/W.
std::optional<Drawn> drawByCounts(const DrawOptions& options, Selection& selection,
                                  SplitMix64& generator) {
  std::vector<double> counts;
  for (FortuneSource& file : selection.files) {
    counts.push_back(static_cast<double>(aboutFile(file.path(), [&] { return file.count(); })));
  }
  const std::optional<std::size_t> chosen = drawFile(counts, generator);
  if (!chosen) return std::nullopt;
  FortuneSource& file = selection.files[*chosen];
  const std::int64_t position = uniformInt64(generator, 0, file.count() - 1);
  bool ok = false;
  aboutFile(file.path(), [&] {
    file.read([&](OpenSource& open) { ok = wanted(options, open.entry(position)); });
  });
  if (!ok) return std::nullopt;
  return Drawn{*chosen, position};
}

// How long -w waits after a fortune: long enough to read it, at about 20 characters a second,
// and never less than 6 seconds.
std::chrono::seconds readingTime(const std::string& text) {
  std::int64_t chars = 0;
  for (const char c : text) chars += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return std::chrono::seconds(std::max<std::int64_t>(6, chars / 20));
}

int drawOne(const DrawOptions& options, Selection& selection) {
  SplitMix64 generator = splitGlobalGenerator();
  std::optional<Drawn> chosen;
  if (!reweighted(options, selection)) chosen = drawByCounts(options, selection, generator);
  if (!chosen) {
    const Wanted fortunes = wantedFortunes(options, selection);
    const std::optional<std::size_t> file = drawFile(fortunes.weights, generator);
    if (!file) throwNothingToDraw(options, selection);
    const std::vector<std::int64_t>& positions = fortunes.positions[*file];
    const auto at = uniformInt64(generator, 0, static_cast<std::int64_t>(positions.size()) - 1);
    chosen = Drawn{*file, positions[static_cast<std::size_t>(at)]};
  }
  FortuneSource& file = selection.files[chosen->first];
  const std::string text = aboutFile(file.path(), [&] { return fortuneOf(file, chosen->second); });
  if (options.showFile) {
    std::cout << '(' << file.path() << ")\n" << encodeUtf8(options.delimiter) << '\n';
  }
  std::cout << text << '\n';
  if (options.wait) {
    flushStandardOutput();
    std::this_thread::sleep_for(readingTime(text));
  }
  return 0;
}

int listShares(const DrawOptions& options, Selection& selection) {
  const Wanted fortunes = wantedFortunes(options, selection);
  double total = 0;
  for (const double weight : fortunes.weights) total += weight;
  for (std::size_t i = 0; i < selection.files.size(); ++i) {
    const double share = total > 0 ? 100.0 * fortunes.weights[i] / total : 0.0;
    char percent[32];
    std::snprintf(percent, sizeof percent, "%6.2f%%", share);
    std::cout << percent << ' ' << selection.files[i].path() << '\n';
  }
  for (const std::string& path : selection.skipped) {
    std::cout << " skipped " << path << " (not a text file)\n";
  }
  return 0;
}

// Every wanted fortune that matches, each followed by a delimiter line; before the first
// match of a file, its name on standard error. Exits with 1 when nothing matched, as grep does.
// Each file is read once, one fortune at a time, and the regular expression runs only on the
// fortunes that hold the literal text every match needs.
int printMatches(const DrawOptions& options, const Pattern& pattern, Selection& selection) {
  const std::string delimiterLine = encodeUtf8(options.delimiter) + '\n';
  bool any = false;
  for (FortuneSource& file : selection.files) {
    bool named = false;
    aboutFile(file.path(), [&] {
      file.forEachFortune([&](std::int64_t, std::int64_t chars, std::string_view bytes) {
        if (!wanted(options, IndexEntry{0, static_cast<std::int64_t>(bytes.size()), chars, 0}) ||
            !pattern.mayMatch(bytes)) {
          return;
        }
        if (!pattern.matches(bytes)) return;
        const std::string text = decodeUtf8Leniently(bytes);
        if (!named) {
          std::cout.flush();
          std::cerr << '(' << file.path() << ")\n" << delimiterLine;
          named = true;
        }
        std::cout << text << '\n' << delimiterLine;
        any = true;
      });
    });
  }
  return any ? 0 : 1;
}

}  // namespace

int runDraw(const DrawOptions& options) {
  // Compiled first, so that a bad pattern is reported before any file is read.
  std::optional<Pattern> pattern;
  if (options.pattern) {
    // The user's locale, so that -i folds non-ASCII letters; read only here, so that a plain
    // draw does not pay for loading it.
    std::setlocale(LC_CTYPE, "");
    const CaseMode caseMode = options.ignoreCase ? CaseMode::Insensitive : CaseMode::Sensitive;
    try {
      pattern.emplace(*options.pattern, PatternOptions{caseMode});
    } catch (const IOError& e) {
      throw BadUsage(e.what());
    }
  }
  Selection selection = selectFiles(options);
  if (selection.files.empty()) {
    if (!options.operands.empty()) throw std::runtime_error("no fortune files to read");
    throw std::runtime_error("no fortune files of the " + kindName(options.kind) +
                             " kind: looked in " + selection.where);
  }
  if (pattern) return printMatches(options, *pattern, selection);
  if (options.listFiles) return listShares(options, selection);
  return drawOne(options, selection);
}

}  // namespace tallowmere::cli
