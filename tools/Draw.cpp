#include "Draw.hpp"

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <thread>

#include <tallowmere/Data/Fortune/Collection.hpp>
#include <tallowmere/Data/Fortune/Utf8.hpp>
#include "CommandLine.hpp"
#include "Report.hpp"

namespace tallowmere::cli {

FortuneFilter filterOf(const DrawOptions& options) {
  FortuneFilter filter;
  filter.length = options.length == DrawOptions::Length::Short  ? LengthFilter::Short
                  : options.length == DrawOptions::Length::Long ? LengthFilter::Long
                                                                : LengthFilter::Any;
  filter.lengthLimit = options.lengthLimit;
  filter.weighting = options.equal ? Weighting::ByFile : Weighting::ByFortune;
  return filter;
}

Collection openCollection(const DrawOptions& options) {
  CollectionOptions collection;
  collection.kind = options.kind;
  collection.delimiter = options.delimiter;
  collection.onSkipped = reportSkipped;
  try {
    return Collection::ofOperands(options.operands, collection);
  } catch (const IOError& error) {
    if (error.reason() == ErrorReason::BadArgument) throw BadUsage(error.what());
    throw;
  }
}

namespace {

// How long -w waits after a fortune: long enough to read it, at about 20 characters a second,
// and never less than 6 seconds.
std::chrono::seconds readingTime(const std::string& text) {
  return std::chrono::seconds(std::max<std::int64_t>(6, countUtf8Chars(text) / 20));
}

int drawOne(const DrawOptions& options, const Collection& collection) {
  const DrawnFortune drawn = collection.draw(filterOf(options));
  if (options.showFile) {
    std::cout << '(' << drawn.path << ")\n" << encodeUtf8(options.delimiter) << '\n';
  }
  std::cout << drawn.text << '\n';
  if (options.wait) {
    flushStandardOutput();
    std::this_thread::sleep_for(readingTime(drawn.text));
  }
  return 0;
}

int listShares(const DrawOptions& options, const Collection& collection) {
  for (const FileShare& share : collection.shares(filterOf(options))) {
    char percent[32];
    std::snprintf(percent, sizeof percent, "%6.2f%%", share.percent);
    std::cout << percent << ' ' << share.path << '\n';
  }
  for (const std::string& path : collection.binaryFiles()) {
    std::cout << " skipped " << path << " (not a text file)\n";
  }
  return 0;
}

// Every admitted fortune that matches, each followed by a delimiter line; before the first
// match of a file, its name on standard error. Exits with 1 when nothing matched, as grep does.
int printMatches(const DrawOptions& options, const Pattern& pattern, const Collection& collection) {
  const std::string delimiterLine = encodeUtf8(options.delimiter) + '\n';
  const std::string* named = nullptr;
  bool any = false;
  collection.visitMatches(
      pattern,
      [&](const VisitedFortune& fortune) {
        if (named == nullptr || *named != fortune.path) {
          std::cout.flush();
          std::cerr << '(' << fortune.path << ")\n" << delimiterLine;
          named = &fortune.path;
        }
        std::cout << fortune.text() << '\n' << delimiterLine;
        any = true;
        return Visit::Continue;
      },
      filterOf(options));
  return any ? 0 : 1;
}

Pattern compile(const DrawOptions& options) {
  // Regular expressions follow the user's locale, so that -i folds the case of non-ASCII
  // letters in a UTF-8 locale. Loaded here, as only patterns need it: a plain draw does not
  // pay for reading the locale files.
  std::setlocale(LC_CTYPE, "");
  try {
    return Pattern(*options.pattern,
                   {options.ignoreCase ? CaseMode::Insensitive : CaseMode::Sensitive});
  } catch (const IOError& error) {
    throw BadUsage(error.what());
  }
}

}  // namespace

int runDraw(const DrawOptions& options) {
  // Compiled first, so that a bad pattern is reported before any file is read.
  std::optional<Pattern> pattern;
  if (options.pattern) pattern.emplace(compile(options));
  const Collection collection = openCollection(options);
  if (collection.empty()) {
    if (!options.operands.empty()) throw std::runtime_error("no fortune files to read");
    throw std::runtime_error("no fortune files of the " + kindName(options.kind) +
                             " kind: looked in " + collection.where());
  }
  if (pattern) return printMatches(options, *pattern, collection);
  if (options.listFiles) return listShares(options, collection);
  return drawOne(options, collection);
}

}  // namespace tallowmere::cli
