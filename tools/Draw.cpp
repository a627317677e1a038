#include "Draw.hpp"

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <thread>

#include <tallowmere/Data/Fortune/Collection.hpp>
#include <tallowmere/Data/Fortune/Utf8.hpp>
#include <tallowmere/Platform/Env.hpp>
#include "CommandLine.hpp"
#include "Fresh.hpp"
#include "Json.hpp"
#include "Report.hpp"
#include "Today.hpp"

namespace tallowmere::cli {

std::string identityOf(const DrawOptions& options, const FortuneFilter& filter,
                       const Collection& collection) {
  std::vector<ShareOperand> shares;
  if (!options.operands.empty()) shares = parseShares(options.operands);
  std::string identity = kindName(options.kind) + '\n' + encodeUtf8(options.delimiter);
  identity += filter.weighting == Weighting::ByFile ? "\nequal" : "\nfortune";
  if (filter.length != LengthFilter::Any) {
    identity += (filter.length == LengthFilter::Short ? "\nshort " : "\nlong ") +
                std::to_string(filter.lengthLimit);
  }
  for (const CollectionFile& file : collection.files()) {
    identity += '\n' + file.path;
    if (file.source < shares.size() && shares[file.source].percent) {
      identity += '\n' + showPercent(*shares[file.source].percent);
    }
  }
  return identity;
}

FortuneFilter filterOf(const DrawOptions& options) {
  FortuneFilter filter;
  filter.length = options.length == DrawOptions::Length::Short  ? LengthFilter::Short
                  : options.length == DrawOptions::Length::Long ? LengthFilter::Long
                                                                : LengthFilter::Any;
  filter.lengthLimit = options.lengthLimit;
  filter.weighting = options.equal ? Weighting::ByFile : Weighting::ByFortune;
  return filter;
}

Collection openCollection(const DrawOptions& options, std::size_t keepInMemory) {
  CollectionOptions collection;
  collection.keepInMemory = keepInMemory;
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

// What ends a round of --fresh early: files whose size or number of fortunes changed.
std::uint64_t contentsFingerprint(const std::string& identity,
                                  const std::vector<FileShare>& counts) {
  std::string contents = identity;
  for (const FileShare& file : counts) {
    contents += '\n' + std::to_string(Env::disk().status(file.path).size) + ' ' +
                std::to_string(file.count);
  }
  return hashBytes(contents);
}

// A fortune not shown by an earlier --fresh draw of this round, numbered across the files in
// order; without a state to keep, any fortune, each equally likely.
DrawnFortune drawFresh(const DrawOptions& options, const Collection& collection) {
  const FortuneFilter filter = filterOf(options);
  const std::vector<FileShare> counts = collection.shares(filter);
  std::int64_t total = 0;
  for (const FileShare& file : counts) total += file.count;
  if (total == 0) return collection.draw(filter);  // fails as a draw does, naming the files
  std::optional<std::int64_t> number;
  if (const std::optional<std::string> directory = freshStateDirectory()) {
    const std::string identity = identityOf(options, filterOf(options), collection);
    number = takeFreshNumber(*directory, hashBytes(identity), contentsFingerprint(identity, counts),
                             total);
  }
  if (!number) {
    SplitMix64 generator = splitGlobalGenerator();
    number = uniformInt64(generator, 0, total - 1);
  }
  try {
    return collection.fortuneAt(*number, filter);
  } catch (const IOError& error) {
    // A file lost fortunes since they were counted: the next draw sees that its round no
    // longer fits and starts another; this one draws at random.
    if (error.reason() != ErrorReason::OutOfRange) throw;
    return collection.draw(filter);
  }
}

DrawnFortune drawAsAsked(const DrawOptions& options, const Collection& collection) {
  switch (options.pick) {
    case DrawOptions::Pick::Today: {
      SplitMix64 generator =
          dayGenerator(today(), identityOf(options, filterOf(options), collection));
      return collection.draw(filterOf(options), generator);
    }
    case DrawOptions::Pick::Fresh:
      return drawFresh(options, collection);
    case DrawOptions::Pick::Random:
      break;
  }
  return collection.draw(filterOf(options));
}

void printJsonLine(const JsonWriter& json) { std::cout << json.text() << '\n'; }

int drawOne(const DrawOptions& options, const Collection& collection) {
  const DrawnFortune drawn = drawAsAsked(options, collection);
  if (options.json) {
    JsonWriter json;
    writeFortune(json, drawn.path, drawn.number, drawn.text);
    printJsonLine(json);
  } else {
    if (options.showFile) {
      std::cout << '(' << drawn.path << ")\n" << encodeUtf8(options.delimiter) << '\n';
    }
    std::cout << drawn.text << '\n';
  }
  if (options.wait) {
    flushStandardOutput();
    std::this_thread::sleep_for(readingTime(drawn.text));
  }
  return 0;
}

// {"file", "percent", "count"} per file, then {"file", "skipped"} per binary file left out.
int listSharesAsJson(const DrawOptions& options, const Collection& collection) {
  for (const FileShare& share : collection.shares(filterOf(options))) {
    JsonWriter json;
    json.beginObject()
        .member("file", share.path)
        .member("percent", share.percent)
        .member("count", share.count)
        .endObject();
    printJsonLine(json);
  }
  for (const std::string& path : collection.binaryFiles()) {
    JsonWriter json;
    json.beginObject().member("file", path).member("skipped", "not a text file").endObject();
    printJsonLine(json);
  }
  return 0;
}

int listShares(const DrawOptions& options, const Collection& collection) {
  if (options.json) return listSharesAsJson(options, collection);
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
// match of a file, its name on standard error; with --json, one object per match and nothing
// else. Exits with 1 when nothing matched, as grep does.
int printMatches(const DrawOptions& options, const Pattern& pattern, const Collection& collection) {
  const std::string delimiterLine = encodeUtf8(options.delimiter) + '\n';
  const std::string* named = nullptr;
  bool any = false;
  collection.visitMatches(
      pattern,
      [&](const VisitedFortune& fortune) {
        any = true;
        if (options.json) {
          JsonWriter json;
          writeFortune(json, fortune.path, fortune.number, fortune.text());
          printJsonLine(json);
          return Visit::Continue;
        }
        if (named == nullptr || *named != fortune.path) {
          std::cout.flush();
          std::cerr << '(' << fortune.path << ")\n" << delimiterLine;
          named = &fortune.path;
        }
        std::cout << fortune.text() << '\n' << delimiterLine;
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

// --today and --fresh choose among the draws of a plain draw, and --fresh shows each fortune once
// a round, which neither -e nor shares can weigh.
void checkPick(const DrawOptions& options) {
  if (options.pick == DrawOptions::Pick::Random) return;
  const std::string name = options.pick == DrawOptions::Pick::Today ? "--today" : "--fresh";
  if (options.pattern || options.listFiles) {
    throw BadUsage(name + " chooses a fortune to draw; it cannot be used with -m or -f");
  }
  if (options.pick != DrawOptions::Pick::Fresh) return;
  const bool shared =
      !options.operands.empty() &&
      std::ranges::any_of(parseShares(options.operands),
                          [](const ShareOperand& share) { return share.percent.has_value(); });
  if (options.equal || shared) {
    throw BadUsage("--fresh shows every fortune once a round; it cannot be used with -e or shares");
  }
}

int runDraw(const DrawOptions& options) {
  try {
    checkPick(options);
  } catch (const IOError& error) {
    throw BadUsage(error.what());  // bad shares
  }
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
