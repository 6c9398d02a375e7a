#include "support/census.h"

#include "support/failure.h"
#include "via/delegate.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace vyr::cld::test {
namespace {

using VyrCldapi::Delegate;
using VyrCldapi::Exception;
using VyrCldapi::ExceptionKind;
using VyrCldapi::String;

template <class Callback, class L>
concept creatable = requires(L lambda)
{
    via::CreateDelegate<Callback>(lambda);
};

// The signature is read off the call operator, and has to be the callback type's exactly.
struct TakesInt {
    void operator()(int) const {}
};
struct TakesTextByValue {
    void operator()(String) const {}
};
struct TakesAnything {
    template <class T> void operator()(T) const {}
};
static_assert(creatable<Delegate<void(int)>, TakesInt>);
static_assert(!creatable<Delegate<void(long)>, TakesInt>);
static_assert(!creatable<Delegate<int(int)>, TakesInt>);
static_assert(!creatable<Delegate<void(const String&)>, TakesTextByValue>);
static_assert(!creatable<Delegate<void(int)>, TakesAnything>);

// A call object written by hand, as the bridge's own capture records are.
struct Adder {
    int base;
    int operator()(int value) const noexcept { return base + value; }
};

TEST(CreateDelegate, ResultAndParametersComeFromTheCallOperator)
{
    const auto length = via::CreateDelegate<Delegate<std::size_t(int, const String&)>>(
        [](int extra, const String& text) { return text.Length() + static_cast<std::size_t>(extra); });
    EXPECT_EQ(length(2, u"abc"), 5u);

    const auto add = via::CreateDelegate<Delegate<int(int)>>(Adder{40});
    EXPECT_EQ(add(2), 42);
}

TEST(CreateDelegate, ArgumentsReachTheCallableUnchanged)
{
    const String* seen = nullptr;
    const auto observe =
        via::CreateDelegate<Delegate<void(const String&, int&)>>([&seen](const String& text, int& out) {
            seen = &text;
            out = 7;
        });

    const String text = u"title";
    int out = 0;
    observe(text, out);
    EXPECT_EQ(seen, &text);
    EXPECT_EQ(out, 7);
}

TEST(CreateDelegate, OneHeapCopyServesEveryCallAndEveryCopyOfTheDelegate)
{
    auto count = via::CreateDelegate<Delegate<int()>>([calls = 0]() mutable { return ++calls; });
    const auto copy = count;
    EXPECT_EQ(count(), 1);
    EXPECT_EQ(copy(), 2);
}

TEST(CreateDelegate, FailuresOfTheCallableGoBackToTheCaller)
{
    const auto fail = via::CreateDelegate<Delegate<void()>>([] { throw std::runtime_error("host"); });
    EXPECT_THROW(fail(), std::runtime_error);
}

// A callable that enters its copies in a census.
struct CountedCall {
    Counted counted;
    void operator()() const {}
};

TEST(LambdaWrapperLifetime, TheDelegateOwnsTheOnlyCopyUntilItsLastReferenceGoes)
{
    Census census;
    std::optional<Delegate<void()>> delegate;
    {
        CountedCall source{Counted(census)};
        delegate = via::CreateDelegate<Delegate<void()>>(source);
    }
    EXPECT_EQ(census.live(), 1);

    auto copy = *delegate;
    delegate.reset();
    EXPECT_EQ(census.live(), 1) << "a copy of the delegate still references the wrapper";
    copy();

    copy = {};
    EXPECT_EQ(census.live(), 0);
    EXPECT_EQ(census.destroyed, census.created);
}

TEST(LambdaWrapperLifetime, AnExplicitReleaseDestroysTheCallableOnceAndAtOnce)
{
    Census census;
    auto delegate = via::CreateDelegate<Delegate<void()>>(CountedCall{Counted(census)});
    ASSERT_EQ(census.live(), 1);

    delegate.DisposeTarget();
    EXPECT_EQ(census.live(), 0) << "released while the delegate is still referenced";
    const int destroyed = census.destroyed;

    delegate.DisposeTarget();
    delegate = {};
    EXPECT_EQ(census.destroyed, destroyed) << "neither a second release nor the finaliser destroys it again";
}

TEST(LambdaWrapperLifetime, ACallAfterTheReleaseFailsInsteadOfReachingTheDestroyedCallable)
{
    Census census;
    auto delegate = via::CreateDelegate<Delegate<int()>>([counted = Counted(census)] { return 1; });
    delegate.DisposeTarget();
    EXPECT_EQ(failure_of([&] { delegate(); }).Kind(), ExceptionKind::InvalidOperation);
}

// A call object that adds to a base and enters its copies in a census.
struct CountedAdder {
    Counted counted;
    int base;
    int operator()(int value) const { return base + value; }
};

TEST(LambdaWrapperLifetime, TheWrapperCallsItsOwnCopyAndReleasesItOnce)
{
    Census census;
    {
        via::detail::LambdaWrapper<CountedAdder> wrapper(CountedAdder{Counted(census), 1});
        EXPECT_EQ(census.live(), 1);
        EXPECT_EQ((wrapper.Call<int, int>(2)), 3);

        wrapper.Dispose();
        EXPECT_EQ(census.live(), 0);
        EXPECT_THROW((wrapper.Call<int, int>(2)), Exception);
        wrapper.Dispose();
    }
    EXPECT_EQ(census.destroyed, census.created);
}

TEST(LambdaWrapperLifetime, TheFinaliserReleasesWhatNoDisposeReleased)
{
    Census census;
    {
        via::detail::LambdaWrapper<CountedAdder> wrapper(CountedAdder{Counted(census), 1});
        EXPECT_EQ(census.live(), 1);
    }
    EXPECT_EQ(census.live(), 0);
}

} // namespace
} // namespace vyr::cld::test
