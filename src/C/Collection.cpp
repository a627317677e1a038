// The C interface to collections: tm_collection over tallowmere::Collection.
#include <memory>
#include <string>
#include <vector>

#include <tallowmere/Platform/Random.hpp>
#include "C/Guard.hpp"

namespace tallowmere::detail {
namespace {

FortuneType toKind(tm_kind kind) {
  switch (kind) {
    case TM_KIND_ALL:
      return FortuneType::All;
    case TM_KIND_NORMAL:
      return FortuneType::Normal;
    case TM_KIND_OFFENSIVE:
      return FortuneType::Offensive;
  }
  throw UsageError("tm_collection_open: kind is not a tm_kind");
}

tm_collection* adopt(Collection collection) { return new tm_collection{std::move(collection)}; }

// A C caller's visitor as the collection calls it: each fortune as a tm_fortune that lives
// during the call.
struct CVisitor {
  tm_visitor visitor;
  void* context;

  Visit operator()(const VisitedFortune& visited) const {
    const std::string text = visited.text();
    const tm_fortune fortune{visited.path.c_str(), visited.number, text.c_str(), text.size()};
    return visitor(&fortune, context) == TM_VISIT_STOP ? Visit::Stop : Visit::Continue;
  }
};

void report(Visit outcome, tm_visit* stopped) noexcept {
  if (stopped != nullptr) *stopped = outcome == Visit::Stop ? TM_VISIT_STOP : TM_VISIT_CONTINUE;
}
}  // namespace
}  // namespace tallowmere::detail

using namespace tallowmere;
using namespace tallowmere::detail;

extern "C" {

tm_status tm_collection_open(tm_kind kind, tm_collection** collection) {
  return tm_collection_open_operands(kind, nullptr, 0, collection);
}

tm_status tm_collection_open_operands(tm_kind kind, const char* const* operands, size_t count,
                                      tm_collection** collection) {
  return guarded([&] {
    require(collection, "tm_collection_open", "collection");
    if (count > 0) require(operands, "tm_collection_open_operands", "operands");
    std::vector<std::string> words;
    words.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      require(operands[i], "tm_collection_open_operands", "an operand");
      words.emplace_back(operands[i]);
    }
    CollectionOptions options;
    options.kind = toKind(kind);
    *collection = adopt(Collection::ofOperands(words, options));
  });
}

void tm_collection_close(tm_collection* collection) { delete collection; }

tm_status tm_collection_file_count(const tm_collection* collection, size_t* count) {
  return guarded([&] {
    require(collection, "tm_collection_file_count", "collection");
    require(count, "tm_collection_file_count", "count");
    *count = collection->collection.files().size();
  });
}

tm_status tm_collection_draw(const tm_collection* collection, const tm_filter* filter,
                             const uint64_t* seed, tm_fortune** fortune) {
  return guarded([&] {
    require(collection, "tm_collection_draw", "collection");
    require(fortune, "tm_collection_draw", "fortune");
    const FortuneFilter admitted = toFilter(filter);
    DrawnFortune drawn;
    if (seed != nullptr) {
      SplitMix64 generator(*seed);
      drawn = collection->collection.draw(admitted, generator);
    } else {
      drawn = collection->collection.draw(admitted);
    }
    *fortune = makeFortune(drawn.path, drawn.number, drawn.text);
  });
}

tm_status tm_collection_read(const tm_collection* collection, const char* path, int64_t number,
                             tm_fortune** fortune) {
  return guarded([&] {
    require(collection, "tm_collection_read", "collection");
    require(path, "tm_collection_read", "path");
    require(fortune, "tm_collection_read", "fortune");
    const DrawnFortune read = collection->collection.read(path, number);
    *fortune = makeFortune(read.path, read.number, read.text);
  });
}

tm_status tm_collection_count(const tm_collection* collection, const tm_filter* filter,
                              int64_t* count) {
  return guarded([&] {
    require(collection, "tm_collection_count", "collection");
    require(count, "tm_collection_count", "count");
    *count = collection->collection.count(toFilter(filter));
  });
}

tm_status tm_collection_visit(const tm_collection* collection, const tm_filter* filter,
                              tm_visitor visitor, void* context, tm_visit* stopped) {
  return guarded([&] {
    require(collection, "tm_collection_visit", "collection");
    if (visitor == nullptr) usageFault("tm_collection_visit", "visitor");
    const CVisitor call{visitor, context};
    report(collection->collection.visit(call, toFilter(filter)), stopped);
  });
}

tm_status tm_collection_visit_matches(const tm_collection* collection, const char* pattern,
                                      tm_case case_mode, const tm_filter* filter,
                                      tm_visitor visitor, void* context, tm_visit* stopped) {
  return guarded([&] {
    require(collection, "tm_collection_visit_matches", "collection");
    require(pattern, "tm_collection_visit_matches", "pattern");
    if (visitor == nullptr) usageFault("tm_collection_visit_matches", "visitor");
    PatternOptions options;
    switch (case_mode) {
      case TM_CASE_SENSITIVE:
        options.caseMode = CaseMode::Sensitive;
        break;
      case TM_CASE_INSENSITIVE:
        options.caseMode = CaseMode::Insensitive;
        break;
      default:
        throw UsageError("tm_collection_visit_matches: case_mode is not a tm_case");
    }
    const Pattern compiled(pattern, options);
    const CVisitor call{visitor, context};
    report(collection->collection.visitMatches(compiled, call, toFilter(filter)), stopped);
  });
}

}  // extern "C"
