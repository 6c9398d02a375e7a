#include "frame/contain.h"

#include <vyr/cld/enums.h>

#include <VyrCldapi/Values.h>

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vyr::cld::test {
namespace {

using bridge::contain;

struct NotAnException {
    int code;
};

// Each kind of failure a body can raise.
const std::vector<std::function<void()>> raisers{
    [] { throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::ArgumentNull, "null"); },
    [] { throw std::bad_alloc(); },
    [] { throw std::bad_optional_access(); },
    [] { throw std::runtime_error("standard"); },
    [] { throw NotAnException{42}; },
    [] { throw 7; },
};

TEST(CallFrame, EveryFailureBecomesTheFailureValueOfTheShape)
{
    for (const auto& raise : raisers) {
        EXPECT_FALSE(contain([&] {
            raise();
            return true;
        }));
        EXPECT_EQ(contain([&] {
                      raise();
                      return 5;
                  }),
                  0);
        EXPECT_EQ(contain([&] {
                      raise();
                      return std::optional<std::string>("x");
                  }),
                  std::nullopt);
        EXPECT_TRUE(contain([&] {
                        raise();
                        return std::vector<int>{1};
                    }).empty());
        EXPECT_EQ(contain(
                      [&] {
                          raise();
                          return LockStatus::LockedByMe;
                      },
                      LockStatus::Unknown),
                  LockStatus::Unknown);
        EXPECT_NO_THROW(contain([&] { raise(); }));
    }
}

TEST(CallFrame, ASuccessfulBodyReturnsItsOwnValue)
{
    EXPECT_EQ(contain([] { return std::optional<std::string>("x"); }), "x");
    EXPECT_EQ(contain([] { return LockStatus::NotLocked; }, LockStatus::Unknown), LockStatus::NotLocked);
    int calls = 0;
    contain([&] { ++calls; });
    EXPECT_EQ(calls, 1);
}

TEST(CallFrame, WritesMadeBeforeTheFailureStand)
{
    int responsecode = 1;
    EXPECT_FALSE(contain([&] {
        responsecode = 42;
        throw std::bad_alloc();
        return true;
    }));
    EXPECT_EQ(responsecode, 42);
}

} // namespace
} // namespace vyr::cld::test
