// Random variables and finite weighted distributions.
//
// RVar<T> describes a draw: sampling it with a generator yields a T and advances the
// generator. Categorical<T> is a finite distribution whose events are values with 32-bit float
// weights; it is itself a random variable (it converts to RVar<T>). Sampling picks an event
// with probability weight / total weight by one uniform 32-bit float draw, so events of weight
// 0 are never picked.
//
//   fromWeightedList(pairs)   one event per (weight, value) pair, in order
//   fromObservations(values)  one event per distinct value (==), in order of first occurrence,
//                             weighted by the number of times it occurs
//   numEvents(c)              the number of events, zero-weight ones included
//   sampleFrom(generator, v)  one draw of a random variable or distribution
#pragma once

#include <algorithm>
#include <cmath>
#include <concepts>
#include <cstddef>
#include <functional>
#include <map>
#include <type_traits>
#include <utility>
#include <vector>

#include <tallowmere/Platform/Errors.hpp>
#include <tallowmere/Platform/Random.hpp>

namespace tallowmere {

template <class T>
class RVar {
 public:
  // Any callable that draws a T from a generator.
  template <class F>
  requires(!std::same_as<std::remove_cvref_t<F>, RVar> && std::is_invocable_r_v<T, F&, SplitMix64&>)
      RVar(F f)  // NOLINT(google-explicit-constructor): distributions convert implicitly
      : draw_(std::move(f)) {}

  [[nodiscard]] T operator()(SplitMix64& generator) const { return draw_(generator); }

 private:
  std::function<T(SplitMix64&)> draw_;
};

template <class T>
class Categorical {
 public:
  using Event = std::pair<float, T>;

  // No events; sampling it fails.
  Categorical() = default;

  // Throws UsageError for a negative, infinite or NaN weight: such a list is no distribution.
  explicit Categorical(std::vector<Event> events) : events_(std::move(events)) {
    cumulative_.reserve(events_.size());
    double total = 0;
    for (const Event& event : events_) {
      if (!(event.first >= 0) || std::isinf(event.first)) {
        throw UsageError("Categorical: weights must be finite and not negative");
      }
      total += static_cast<double>(event.first);
      cumulative_.push_back(total);
    }
  }

  [[nodiscard]] const std::vector<Event>& events() const noexcept { return events_; }
  [[nodiscard]] std::size_t numEvents() const noexcept { return events_.size(); }
  [[nodiscard]] double totalWeight() const noexcept {
    return cumulative_.empty() ? 0.0 : cumulative_.back();
  }

  // One event's value. With no events, or a total weight of 0, nothing can be drawn: throws
  // an IOError of the user-error kind saying which, and consumes nothing from the generator.
  [[nodiscard]] const T& sample(SplitMix64& generator) const {
    if (events_.empty()) {
      throw IOError::userError("Categorical: cannot sample a distribution with no events", {},
                               ErrorReason::NothingToDraw);
    }
    if (totalWeight() <= 0) {
      throw IOError::userError("Categorical: cannot sample a distribution whose total weight is 0",
                               {}, ErrorReason::NothingToDraw);
    }
    // The target lies below the total, so some running sum exceeds it; the first that does
    // belongs to an event of positive weight.
    const double target = static_cast<double>(uniformFloat(generator)) * totalWeight();
    const auto chosen = std::upper_bound(cumulative_.begin(), cumulative_.end(), target);
    return events_[static_cast<std::size_t>(chosen - cumulative_.begin())].second;
  }

  [[nodiscard]] T operator()(SplitMix64& generator) const { return sample(generator); }

 private:
  std::vector<Event> events_;
  std::vector<double> cumulative_;  // running sums of the weights, summed exactly
};

template <class T>
[[nodiscard]] Categorical<T> fromWeightedList(std::vector<std::pair<float, T>> pairs) {
  return Categorical<T>(std::move(pairs));
}

template <std::equality_comparable T>
[[nodiscard]] Categorical<T> fromObservations(const std::vector<T>& values) {
  std::vector<std::pair<float, T>> events;
  const auto count = [&events](std::size_t event) { events[event].first += 1.0f; };
  if constexpr (std::totally_ordered<T>) {
    std::map<T, std::size_t> seen;  // value -> its event
    for (const T& value : values) {
      const auto [at, fresh] = seen.try_emplace(value, events.size());
      if (fresh) events.emplace_back(0.0f, value);
      count(at->second);
    }
  } else {
    for (const T& value : values) {
      const auto at = std::find_if(events.begin(), events.end(),
                                   [&value](const auto& event) { return event.second == value; });
      const auto event = static_cast<std::size_t>(at - events.begin());
      if (event == events.size()) events.emplace_back(0.0f, value);
      count(event);
    }
  }
  return Categorical<T>(std::move(events));
}

template <class T>
[[nodiscard]] std::size_t numEvents(const Categorical<T>& distribution) noexcept {
  return distribution.numEvents();
}

template <class T>
[[nodiscard]] T sampleFrom(SplitMix64& generator, const RVar<T>& variable) {
  return variable(generator);
}

template <class T>
[[nodiscard]] T sampleFrom(SplitMix64& generator, const Categorical<T>& distribution) {
  return distribution.sample(generator);
}

}  // namespace tallowmere
