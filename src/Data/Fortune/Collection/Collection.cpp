// The collection: its files, what it keeps about them, and the draws, visits and counts.
//
// A draw runs in two stages, as the shares ask: a pool (an operand with a share, or all
// operands without one together) by its share, then a fortune of the pool. Within a pool every
// admitted fortune is equally likely (or, by file, every file with an admitted fortune, then
// every admitted fortune of it). It first tries the quick way, which reads one entry: a file by
// its number of entries, a position uniformly, kept when the filter admits it (empty fortunes
// and those of the wrong length are tried again). Repeated independent tries are uniform over
// the admitted fortunes. Only after many failed tries, when admitted fortunes are rare, are the
// pool's entries read to draw among the admitted ones exactly; a pool or a file found to hold
// none leaves the draw, which starts again without it, so that its share goes to the others.
#include <tallowmere/Data/Fortune/Collection.hpp>

#include <algorithm>
#include <set>

#include <tallowmere/Data/Fortune/Categorical.hpp>
#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include "Data/Fortune/Collection/Gather.hpp"
#include "Data/Fortune/Collection/Member.hpp"
#include "Data/Fortune/Collection/Shares.hpp"
#include "Data/Fortune/FortuneFile/Utf8.hpp"
#include "Platform/Mutex.hpp"

namespace tallowmere {

bool FortuneFilter::admits(std::int64_t characters) const noexcept {
  if (characters <= 0) return false;
  switch (length) {
    case LengthFilter::Short:
      return characters <= lengthLimit;
    case LengthFilter::Long:
      return characters > lengthLimit;
    case LengthFilter::Any:
      break;
  }
  return true;
}

std::string VisitedFortune::text() const { return detail::decodeUtf8Leniently(bytes); }

namespace {

using Clock = std::chrono::steady_clock;
using Admitted = std::shared_ptr<const std::vector<std::int64_t>>;

// The quick tries a draw makes in one pool, or one file, before it reads their entries.
constexpr int kQuickTries = 48;
// A draw that keeps finding its files changed under it gives up after this many restarts.
constexpr int kRestarts = 64;

// Which admitted lists are the same: the weighting does not change which fortunes are admitted.
std::pair<int, std::int64_t> keyOf(const FortuneFilter& filter) {
  return {static_cast<int>(filter.length),
          filter.length == LengthFilter::Any ? 0 : filter.lengthLimit};
}

IOError nothingToDraw(const FortuneFilter& filter, const std::vector<std::string>& files) {
  std::string reason = "no fortune to draw";
  if (filter.length == LengthFilter::Short) {
    reason = "no fortune of at most " + std::to_string(filter.lengthLimit) + " characters";
  } else if (filter.length == LengthFilter::Long) {
    reason = "no fortune longer than " + std::to_string(filter.lengthLimit) + " characters";
  }
  if (files.empty()) {
    return IOError::userError("no fortune files to draw from", {}, ErrorReason::NothingToDraw);
  }
  if (files.size() == 1) {
    return IOError::userError(files.front() + ": " + reason, files.front(),
                              ErrorReason::NothingToDraw);
  }
  return IOError::userError(reason + " in any of the " + std::to_string(files.size()) + " files",
                            {}, ErrorReason::NothingToDraw);
}

// Thrown inside a draw when a file changed or became unreadable: the draw starts again.
struct Restart {};

}  // namespace

// One file as the collection holds it.
struct Slot {
  std::string path;
  std::size_t source = 0;
  bool named = false;
  std::shared_ptr<const detail::Member> member;  // none once left out
  std::map<std::pair<int, std::int64_t>, Admitted> admitted;
};

struct Collection::State {
  explicit State(CollectionOptions opts) : options(std::move(opts)) {}

  CollectionOptions options;
  std::vector<ShareOperand> sources;  // at least one; the kind's collection is one without share
  std::string where;
  std::vector<std::string> binary;

  mutable detail::Mutex mutex{"collection"};
  // What the collection learns as it goes is kept even by the const operations.
  mutable std::vector<Slot> slots TM_GUARDED_BY(mutex);
  mutable Clock::time_point lastLook TM_GUARDED_BY(mutex) = Clock::now();
  // The bytes that the slots' members keep, within options.keepInMemory.
  mutable std::size_t kept TM_GUARDED_BY(mutex) = 0;

  Env& env() const { return *options.env; }

  void tellSkipped(const IOError& error) const {
    if (options.onSkipped) options.onSkipped(error);
  }

  // Makes the slots of the gathered files: a named file that cannot be read fails, one of a
  // directory is left out (a binary one quietly, as a directory may well hold other files).
  void load(const std::vector<detail::GatheredFile>& files) TM_EXCLUDES(mutex) {
    std::vector<Slot> made;
    std::size_t keptHere = 0;
    for (const detail::GatheredFile& file : files) {
      Slot slot{file.path, file.source, file.named, nullptr, {}};
      try {
        slot.member = detail::Member::load(env(), file.path, options.delimiter, file.source,
                                           file.status, options.keepInMemory - keptHere);
        keptHere += slot.member->keptBytes();
      } catch (const IOError& error) {
        if (file.named) throw;
        if (error.reason() == ErrorReason::NotText) {
          binary.push_back(file.path);
          continue;
        }
        tellSkipped(error);
        continue;
      }
      made.push_back(std::move(slot));
    }
    detail::MutexLock lock(mutex);
    slots = std::move(made);
    kept = keptHere;
  }

  // Reads again every file whose status changed; leaves out one that cannot be read now.
  void recheck(bool always) const TM_EXCLUDES(mutex) {
    std::vector<std::pair<std::size_t, std::shared_ptr<const detail::Member>>> current;
    {
      detail::MutexLock lock(mutex);
      const Clock::time_point now = Clock::now();
      if (!always && now - lastLook < options.recheckAfter) return;
      lastLook = now;
      for (std::size_t i = 0; i < slots.size(); ++i) {
        if (slots[i].member) current.emplace_back(i, slots[i].member);
      }
    }
    for (auto& [at, member] : current) {
      if (detail::signatureOf(env(), member->path()) == member->signature()) continue;
      reload(at, member);
    }
  }

  // Replaces the member at `at`, when it is still `old`, by the file as it is now.
  void reload(std::size_t at, const std::shared_ptr<const detail::Member>& old) const
      TM_EXCLUDES(mutex) {
    std::size_t allowance = 0;  // what is left of the budget, with what `old` gives back
    {
      detail::MutexLock lock(mutex);
      allowance = options.keepInMemory - kept + keptBy(slots[at]);
    }
    std::shared_ptr<const detail::Member> fresh;
    try {
      fresh =
          detail::Member::load(env(), old->path(), options.delimiter, old->source(), {}, allowance);
    } catch (const IOError& error) {
      tellSkipped(error);
    }
    detail::MutexLock lock(mutex);
    Slot& slot = slots[at];
    if (slot.member != old) return;  // another thread was quicker
    kept -= keptBy(slot);
    // Another file may have been kept meanwhile: this one then reads from disk.
    if (fresh && fresh->keptBytes() > options.keepInMemory - kept) fresh = fresh->withoutKept();
    slot.member = std::move(fresh);
    kept += keptBy(slot);
    slot.admitted.clear();
  }

  static std::size_t keptBy(const Slot& slot) { return slot.member ? slot.member->keptBytes() : 0; }

  // The admitted fortunes of the member at `at` (read once per filter and version of the file).
  Admitted admitted(std::size_t at, const std::shared_ptr<const detail::Member>& member,
                    const FortuneFilter& filter) const TM_EXCLUDES(mutex) {
    {
      detail::MutexLock lock(mutex);
      const Slot& slot = slots[at];
      if (slot.member == member) {
        if (const auto found = slot.admitted.find(keyOf(filter)); found != slot.admitted.end()) {
          return found->second;
        }
      }
    }
    auto numbers = std::make_shared<const std::vector<std::int64_t>>(admittedOf(*member, filter));
    detail::MutexLock lock(mutex);
    Slot& slot = slots[at];
    if (slot.member == member) slot.admitted[keyOf(filter)] = numbers;
    return numbers;
  }

  std::vector<std::int64_t> admittedOf(const detail::Member& member,
                                       const FortuneFilter& filter) const {
    // A classic table lists no empty fortune: without a length to check, every entry counts.
    if (member.format() == FileFormat::Classic && filter.length == LengthFilter::Any) {
      std::vector<std::int64_t> all(static_cast<std::size_t>(member.entries()));
      for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::int64_t>(i);
      return all;
    }
    std::vector<std::int64_t> numbers;
    member.forEachEntry(env(), filter,
                        [&](std::int64_t number, const IndexEntry&) { numbers.push_back(number); });
    return numbers;
  }

  struct Live {
    std::size_t at;
    std::shared_ptr<const detail::Member> member;
  };

  std::vector<Live> live() const TM_EXCLUDES(mutex) {
    detail::MutexLock lock(mutex);
    std::vector<Live> result;
    for (std::size_t i = 0; i < slots.size(); ++i) {
      if (slots[i].member) result.push_back({i, slots[i].member});
    }
    return result;
  }

  std::shared_ptr<const detail::Member> slotMember(std::size_t at) const TM_EXCLUDES(mutex) {
    detail::MutexLock lock(mutex);
    return slots[at].member;
  }

  bool named(std::size_t at) const TM_EXCLUDES(mutex) {
    detail::MutexLock lock(mutex);
    return slots[at].named;
  }

  // Runs a read of the member at `at`: a file that changed meanwhile is read again and the
  // caller starts over (Restart); one that cannot be read is left out, unless it was named.
  template <class Read>
  auto guarded(const Live& file, Read&& read) const {
    try {
      return read();
    } catch (const IOError& error) {
      const ErrorReason reason = error.reason();
      if (reason == ErrorReason::OutOfRange || reason == ErrorReason::StaleIndex) {
        reload(file.at, file.member);
        throw Restart{};
      }
      if (named(file.at)) throw;
      tellSkipped(error);
      dropSlot(file);
      throw Restart{};
    } catch (const IndexProblemError&) {
      reload(file.at, file.member);
      throw Restart{};
    }
  }

  void dropSlot(const Live& file) const TM_EXCLUDES(mutex) {
    detail::MutexLock lock(mutex);
    Slot& slot = slots[file.at];
    if (slot.member != file.member) return;
    kept -= keptBy(slot);
    slot.member.reset();
  }

  std::size_t poolOf(std::size_t source) const {
    return sources[source].percent ? source : sources.size();  // the pool of the unshared
  }
  double poolShare(std::size_t pool) const {
    if (pool < sources.size()) return *sources[pool].percent;
    double rest = 100;
    for (const ShareOperand& source : sources) rest -= source.percent.value_or(0);
    return rest;
  }

  // Runs `visitFile(member, each)` over every file in turn, handing what it visits to
  // `visitor`. A file that changed under the visit is read again as it is now, unless some of
  // its fortunes were visited already (they would be visited twice).
  template <class VisitFile>
  Visit visitEach(FunctionRef<Visit(const VisitedFortune&)> visitor, VisitFile&& visitFile) const {
    recheck(false);
    for (Live file : live()) {
      for (int attempt = 0;; ++attempt) {
        bool visited = false;
        Visit result = Visit::Continue;
        try {
          result = guarded(file, [&] {
            return visitFile(*file.member, [&](std::int64_t number, std::string_view bytes) {
              visited = true;
              return visitor(VisitedFortune{file.member->path(), number, bytes});
            });
          });
        } catch (const Restart&) {
          const auto again = slotMember(file.at);
          if (visited || !again || attempt == kRestarts) break;
          file.member = again;
          continue;
        }
        if (result == Visit::Stop) return Visit::Stop;
        break;
      }
    }
    return Visit::Continue;
  }

  std::optional<DrawnFortune> drawOnce(const FortuneFilter& filter, SplitMix64& generator,
                                       std::set<std::size_t>& emptyPools,
                                       std::set<std::size_t>& emptyFiles) const;
  std::optional<DrawnFortune> drawInPool(const std::vector<Live>& files,
                                         const FortuneFilter& filter, SplitMix64& generator,
                                         std::set<std::size_t>& emptyFiles, bool& poolEmpty) const;
  DrawnFortune readChosen(const Live& file, std::int64_t number, const FortuneFilter& filter) const;
};

namespace {

template <class T>
std::optional<std::size_t> chooseWeighted(const std::vector<T>& items, SplitMix64& generator,
                                          auto weightOf) {
  std::vector<std::pair<float, std::size_t>> events;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const double weight = weightOf(items[i]);
    if (weight > 0) events.emplace_back(static_cast<float>(weight), i);
  }
  if (events.empty()) return std::nullopt;
  const Categorical<std::size_t> choice = fromWeightedList(std::move(events));
  return choice.sample(generator);
}

}  // namespace

DrawnFortune Collection::State::readChosen(const Live& file, std::int64_t number,
                                           const FortuneFilter& filter) const {
  const std::optional<detail::ReadFortune> read =
      guarded(file, [&] { return file.member->readIfAdmitted(env(), number, filter); });
  // An admitted fortune that no longer is: the file changed between reading its entries and
  // now.
  if (!read) {
    reload(file.at, file.member);
    throw Restart{};
  }
  return {file.member->path(), number, detail::decodeUtf8Leniently(read->bytes)};
}

std::optional<DrawnFortune> Collection::State::drawInPool(const std::vector<Live>& files,
                                                          const FortuneFilter& filter,
                                                          SplitMix64& generator,
                                                          std::set<std::size_t>& emptyFiles,
                                                          bool& poolEmpty) const {
  const auto entriesOf = [&](const Live& file) -> double {
    return emptyFiles.count(file.at) != 0 ? 0.0 : static_cast<double>(file.member->entries());
  };
  const auto tryAt = [&](const Live& file,
                         std::int64_t number) -> std::optional<detail::ReadFortune> {
    return guarded(file, [&] { return file.member->readIfAdmitted(env(), number, filter); });
  };
  if (filter.weighting == Weighting::ByFile) {
    const auto chosen = chooseWeighted(
        files, generator, [&](const Live& file) { return entriesOf(file) > 0 ? 1.0 : 0.0; });
    if (!chosen) {
      poolEmpty = true;
      return std::nullopt;
    }
    const Live& file = files[*chosen];
    for (int attempt = 0; attempt < kQuickTries; ++attempt) {
      const std::int64_t number = uniformInt64(generator, 0, file.member->entries() - 1);
      if (auto read = tryAt(file, number)) {
        return DrawnFortune{file.member->path(), number, detail::decodeUtf8Leniently(read->bytes)};
      }
    }
    const Admitted numbers = admitted(file.at, file.member, filter);
    if (numbers->empty()) {
      emptyFiles.insert(file.at);
      return std::nullopt;
    }
    const auto pick = uniformInt64(generator, 0, static_cast<std::int64_t>(numbers->size()) - 1);
    return readChosen(file, (*numbers)[static_cast<std::size_t>(pick)], filter);
  }
  for (int attempt = 0; attempt < kQuickTries; ++attempt) {
    const auto chosen = chooseWeighted(files, generator, entriesOf);
    if (!chosen) {
      poolEmpty = true;
      return std::nullopt;
    }
    const Live& file = files[*chosen];
    const std::int64_t number = uniformInt64(generator, 0, file.member->entries() - 1);
    if (auto read = tryAt(file, number)) {
      return DrawnFortune{file.member->path(), number, detail::decodeUtf8Leniently(read->bytes)};
    }
  }
  // Admitted fortunes are rare here: draw among them exactly.
  std::vector<Admitted> lists;
  lists.reserve(files.size());
  for (const Live& file : files) lists.push_back(admitted(file.at, file.member, filter));
  std::vector<std::size_t> order(files.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  const auto chosen = chooseWeighted(
      order, generator, [&](std::size_t i) { return static_cast<double>(lists[i]->size()); });
  if (!chosen) {
    poolEmpty = true;
    return std::nullopt;
  }
  const std::vector<std::int64_t>& numbers = *lists[*chosen];
  const auto pick = uniformInt64(generator, 0, static_cast<std::int64_t>(numbers.size()) - 1);
  return readChosen(files[*chosen], numbers[static_cast<std::size_t>(pick)], filter);
}

std::optional<DrawnFortune> Collection::State::drawOnce(const FortuneFilter& filter,
                                                        SplitMix64& generator,
                                                        std::set<std::size_t>& emptyPools,
                                                        std::set<std::size_t>& emptyFiles) const {
  const std::vector<Live> files = live();
  std::map<std::size_t, std::vector<Live>> pools;
  for (const Live& file : files) {
    if (file.member->entries() > 0) pools[poolOf(file.member->source())].push_back(file);
  }
  std::erase_if(pools, [&](const auto& pool) { return emptyPools.count(pool.first) != 0; });
  std::vector<std::size_t> poolIds;
  poolIds.reserve(pools.size());
  for (const auto& [id, members] : pools) poolIds.push_back(id);
  const auto pool =
      chooseWeighted(poolIds, generator, [&](std::size_t id) { return poolShare(id); });
  if (!pool) {
    std::vector<std::string> paths;
    paths.reserve(files.size());
    for (const Live& file : files) paths.push_back(file.member->path());
    throw nothingToDraw(filter, paths);
  }
  bool poolEmpty = false;
  auto drawn = drawInPool(pools[poolIds[*pool]], filter, generator, emptyFiles, poolEmpty);
  if (poolEmpty) emptyPools.insert(poolIds[*pool]);
  return drawn;
}

Collection Collection::ofKind(const CollectionOptions& options) {
  auto state = std::make_shared<State>(options);
  detail::FileGathering files(state->options);
  state->where = detail::gatherKind(options.kind, files);
  state->sources = {{"", std::nullopt}};
  state->load(files.files());
  return Collection(std::move(state));
}

Collection Collection::ofFiles(std::span<const std::string> paths,
                               const CollectionOptions& options) {
  auto state = std::make_shared<State>(options);
  detail::FileGathering files(state->options);
  for (const std::string& path : paths) {
    // The same failure as opening it as a fortune file, for a path that is not a file.
    (void)openFortuneFile(options.delimiter, false, path, FortuneFileOptions{.env = options.env});
    files.addFile(path, 0);
  }
  state->sources = {{"", std::nullopt}};
  state->load(files.files());
  return Collection(std::move(state));
}

Collection Collection::ofOperands(std::span<const std::string> operands,
                                  const CollectionOptions& options) {
  if (operands.empty()) return ofKind(options);
  auto state = std::make_shared<State>(options);
  state->sources = parseShares(operands);
  detail::FileGathering files(state->options);
  for (std::size_t i = 0; i < state->sources.size(); ++i) {
    detail::gatherOperand(state->sources[i].operand, i, files, state->options);
  }
  state->load(files.files());
  return Collection(std::move(state));
}

std::vector<CollectionFile> Collection::files() const {
  std::vector<CollectionFile> result;
  for (const State::Live& file : state_->live()) {
    result.push_back({file.member->path(), file.member->format(), file.member->source()});
  }
  return result;
}

bool Collection::empty() const { return state_->live().empty(); }
std::vector<std::string> Collection::binaryFiles() const { return state_->binary; }
std::string Collection::where() const { return state_->where; }

DrawnFortune Collection::draw(const FortuneFilter& filter) const {
  SplitMix64 generator = splitGlobalGenerator();
  return draw(filter, generator);
}

DrawnFortune Collection::draw(const FortuneFilter& filter, SplitMix64& generator) const {
  state_->recheck(false);
  std::set<std::size_t> emptyPools;
  std::set<std::size_t> emptyFiles;
  for (int restart = 0; restart < kRestarts; ++restart) {
    try {
      if (auto drawn = state_->drawOnce(filter, generator, emptyPools, emptyFiles)) return *drawn;
    } catch (const Restart&) {
    }
  }
  throw IOError::userError("the fortune files keep changing while a fortune is drawn", {},
                           ErrorReason::StaleIndex);
}

std::vector<FileShare> Collection::shares(const FortuneFilter& filter) const {
  state_->recheck(false);
  for (int restart = 0;; ++restart) {
    try {
      const std::vector<State::Live> files = state_->live();
      std::vector<detail::FileCount> counts;
      std::vector<FileShare> result;
      for (const State::Live& file : files) {
        const auto numbers =
            state_->guarded(file, [&] { return state_->admitted(file.at, file.member, filter); });
        counts.push_back({file.member->source(), static_cast<double>(numbers->size())});
        result.push_back({file.member->path(), 0.0, static_cast<std::int64_t>(numbers->size())});
      }
      const std::vector<double> percents =
          detail::spreadShares(state_->sources, counts, filter.weighting == Weighting::ByFile);
      for (std::size_t i = 0; i < result.size(); ++i) result[i].percent = percents[i];
      return result;
    } catch (const Restart&) {
      if (restart == kRestarts) throw;
    }
  }
}

std::int64_t Collection::count(const FortuneFilter& filter) const {
  std::int64_t total = 0;
  for (const FileShare& share : shares(filter)) total += share.count;
  return total;
}

Visit Collection::visit(FunctionRef<Visit(const VisitedFortune&)> visitor,
                        const FortuneFilter& filter) const {
  return state_->visitEach(visitor, [&](const detail::Member& member, auto&& each) {
    return member.visit(state_->env(), filter, each);
  });
}

Visit Collection::visitMatches(const Pattern& pattern,
                               FunctionRef<Visit(const VisitedFortune&)> visitor,
                               const FortuneFilter& filter) const {
  detail::ReadBuffer buffer;  // for every text in turn
  return state_->visitEach(visitor, [&](const detail::Member& member, auto&& each) {
    return member.visitMatches(state_->env(), filter, pattern, buffer, each);
  });
}

FortuneStats Collection::stats(const FortuneFilter& filter) const {
  state_->recheck(false);
  FortuneStats total = FortuneStats::mempty;
  for (const State::Live& file : state_->live()) {
    try {
      state_->guarded(file, [&] {
        file.member->forEachEntry(
            state_->env(), filter,
            [&](std::int64_t, const IndexEntry& entry) { total += indexEntryStats(entry); });
        return 0;
      });
    } catch (const Restart&) {
      return stats(filter);  // a file changed: count again as the files are now
    }
  }
  return total;
}

DrawnFortune Collection::fortuneAt(std::int64_t position, const FortuneFilter& filter) const {
  state_->recheck(false);
  for (int restart = 0; restart < kRestarts; ++restart) {
    try {
      std::int64_t before = 0;  // the admitted fortunes of the files before this one
      for (const State::Live& file : state_->live()) {
        const Admitted numbers =
            state_->guarded(file, [&] { return state_->admitted(file.at, file.member, filter); });
        const auto held = static_cast<std::int64_t>(numbers->size());
        if (position >= before && position - before < held) {
          return state_->readChosen(file, (*numbers)[static_cast<std::size_t>(position - before)],
                                    filter);
        }
        before += held;
      }
      throw IOError::userError("no fortune at position " + std::to_string(position) +
                                   ": the collection admits " + std::to_string(before),
                               {}, ErrorReason::OutOfRange);
    } catch (const Restart&) {
    }
  }
  throw IOError::userError("the fortune files keep changing while a fortune is read", {},
                           ErrorReason::StaleIndex);
}

DrawnFortune Collection::read(const std::string& path, std::int64_t number) const {
  state_->recheck(false);
  const FortuneFilter any;
  for (int restart = 0; restart < kRestarts; ++restart) {
    const std::vector<State::Live> files = state_->live();
    const auto file = std::find_if(files.begin(), files.end(), [&](const State::Live& live) {
      return live.member->path() == path;
    });
    if (file == files.end()) {
      throw IOError::userError(path + ": not a fortune file of this collection", path,
                               ErrorReason::NotFound);
    }
    std::optional<detail::ReadFortune> read;
    if (number >= 0 && number < file->member->entries()) {
      try {
        read = state_->guarded(
            *file, [&] { return file->member->readIfAdmitted(state_->env(), number, any); });
      } catch (const Restart&) {
        continue;  // the file changed: asked again as it is now
      }
    }
    if (read) return {path, number, detail::decodeUtf8Leniently(read->bytes)};
    // Out of range, or empty: say how the file's fortunes are numbered.
    const std::int64_t count =
        static_cast<std::int64_t>(state_->admitted(file->at, file->member, any)->size());
    const auto fortunes = [](std::int64_t n) {
      return std::to_string(n) + (n == 1 ? " fortune" : " fortunes");
    };
    const std::string held = count == 0 ? "the file holds none"
                                        : "the file holds " + fortunes(count) + ", numbered 0 to " +
                                              std::to_string(count - 1);
    std::string what = path + ": ";
    if (number >= 0 && number < count) {
      what += "fortune number " + std::to_string(number) + " is empty";
    } else {
      what += "no fortune number " + std::to_string(number) + ": ";
      what += held;
    }
    throw IOError::userError(what, path, ErrorReason::OutOfRange);
  }
  throw IOError::userError(path + ": the file keeps changing while it is read", path,
                           ErrorReason::StaleIndex);
}

void Collection::refresh() const { state_->recheck(true); }

}  // namespace tallowmere
