#pragma once

#include "frame/failures.h"

#include <VyrCldapi/Callbacks.h>

#include <concepts>
#include <memory>
#include <utility>

// Service callback objects built around copyable callables. The service calls back through a
// Delegate bound to a heap copy of the callable; from then on the service alone decides how long
// that copy lives.
namespace via {

namespace detail {

// The target of one callback object, owning the only copy of the callable that the bridge keeps.
// It follows the service's release rules: Dispose destroys the callable at once, and the
// destructor (the finaliser) destroys it only if Dispose never ran. A second Dispose does nothing.
template <class L> class LambdaWrapper final : public VyrCldapi::IDisposable {
public:
    explicit LambdaWrapper(L lambda) : lambda_(std::make_unique<L>(std::move(lambda))) {}

    LambdaWrapper(const LambdaWrapper&) = delete;
    LambdaWrapper& operator=(const LambdaWrapper&) = delete;
    ~LambdaWrapper() override = default;

    // The arguments reach the callable exactly as the service passed them; whatever the callable
    // raises goes back to the service's call.
    template <class R, class... Args> R Call(Args... args)
    {
        if (!lambda_) {
            // Called after the service released it: refuse rather than touch what was destroyed.
            vyr::cld::bridge::raise_released();
        }
        return (*lambda_)(std::forward<Args>(args)...);
    }

    void Dispose() override { lambda_.reset(); }

private:
    std::unique_ptr<L> lambda_;
};

// Reads the result and parameter types off the type of a call operator, and binds a delegate of
// exactly that signature to a new wrapper.
template <class CallOperator> struct CreateDelegateHelper;

template <class C, class R, class... Args> struct CreateDelegateHelper<R (C::*)(Args...)> {
    using delegate_type = VyrCldapi::Delegate<R(Args...)>;

    template <class L> [[nodiscard]] static delegate_type Create(L lambda)
    {
        return delegate_type::template Bind<&LambdaWrapper<L>::template Call<R, Args...>>(
            std::make_shared<LambdaWrapper<L>>(std::move(lambda)));
    }
};

template <class C, class R, class... Args>
struct CreateDelegateHelper<R (C::*)(Args...) const> : CreateDelegateHelper<R (C::*)(Args...)> {
};

template <class C, class R, class... Args>
struct CreateDelegateHelper<R (C::*)(Args...) noexcept> : CreateDelegateHelper<R (C::*)(Args...)> {
};

template <class C, class R, class... Args>
struct CreateDelegateHelper<R (C::*)(Args...) const noexcept> : CreateDelegateHelper<R (C::*)(Args...)> {
};

template <class L> using helper_for = CreateDelegateHelper<decltype(&L::operator())>;

} // namespace detail

// A new callback object of type `Callback` that calls a copy of `lambda`. The callable's call
// operator must have the very signature the callback type is invoked with.
template <class Callback, class L>
requires std::same_as<Callback, typename detail::helper_for<L>::delegate_type>
[[nodiscard]] Callback CreateDelegate(L lambda)
{
    return detail::helper_for<L>::Create(std::move(lambda));
}

} // namespace via
