// FunctionRef<R(Args...)>: a non-owning reference to a callable, for parameters that take a
// callback and call it before returning. It never allocates; the callable must outlive the
// call that receives it (a lambda written at the call site always does). Use it only as a
// parameter type: a FunctionRef variable initialised from a temporary lambda refers to a dead
// object after that statement. Plain functions are referred to through their address.
#pragma once

#include <concepts>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace tallowmere {

template <class Signature>
class FunctionRef;

namespace detail {
// A callable that a FunctionRef of type Self refers to: not a FunctionRef itself, and callable
// with Args giving something that converts to R.
template <class F, class Self, class R, class... Args>
concept CallableAs =
    !std::is_same_v<std::remove_cvref_t<F>, Self> && std::is_invocable_r_v<R, F&, Args...>;
}  // namespace detail

template <class R, class... Args>
class FunctionRef<R(Args...)> {
 public:
  // Implicit, so that a lambda converts where a FunctionRef is taken; the constraint leaves
  // copying a FunctionRef to the copy constructor.
  // NOLINTBEGIN(google-explicit-constructor,bugprone-forwarding-reference-overload)
  template <detail::CallableAs<FunctionRef, R, Args...> F>
  FunctionRef(F&& f) noexcept {
    using Target = std::remove_reference_t<F>;
    if constexpr (std::is_function_v<Target>) {
      target_.function = reinterpret_cast<void (*)()>(&f);
      call_ = [](Storage target, Args... args) -> R {
        return std::invoke(reinterpret_cast<Target*>(target.function), std::forward<Args>(args)...);
      };
    } else {
      target_.object = const_cast<void*>(static_cast<const void*>(std::addressof(f)));
      call_ = [](Storage target, Args... args) -> R {
        return std::invoke(*static_cast<Target*>(target.object), std::forward<Args>(args)...);
      };
    }
  }

  // NOLINTEND(google-explicit-constructor,bugprone-forwarding-reference-overload)

  R operator()(Args... args) const { return call_(target_, std::forward<Args>(args)...); }

 private:
  union Storage {
    void* object;
    void (*function)();
  };
  Storage target_;
  R (*call_)(Storage, Args...);
};

}  // namespace tallowmere
