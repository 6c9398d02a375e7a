#include <VyrCldapi/PartialCld_Integration.h>

#include "operations.h"

#include <vyr/cld/integration.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace vyr::cld::test {
namespace {

namespace api = VyrCldapiIntegration;
using namespace VyrCldapi;

// Serves the single-file family and nothing else; a test double needs no more than this.
class FileLocks final : public PartialCld_Integration {
public:
    void LockFile(const String& file, int& responsecode) override { responsecode = file == u"plan.dwg" ? 0 : 404; }
    void UnlockFile(const String&, bool uploadchanges, int& responsecode) override
    {
        responsecode = uploadchanges ? 1 : 2;
    }
};

TEST(PartialService, EveryOperationRefusesWithAnInvalidOperationThatNamesIt)
{
    const auto operations = every_operation();
    std::set<std::string> names;
    for (const auto& operation : operations) {
        names.insert(operation.name);
    }
    ASSERT_EQ(names.size(), 67U) << "one row per operation of the interface";

    PartialCld_Integration service;
    for (const auto& operation : operations) {
        SCOPED_TRACE(operation.name);
        try {
            operation.call(service);
            ADD_FAILURE() << "returned normally";
        }
        catch (const Exception& failure) {
            EXPECT_EQ(failure.Kind(), ExceptionKind::InvalidOperation);
            EXPECT_EQ(failure.what(), "The operation " + std::string(operation.name) + " is not supported.");
        }
    }
}

TEST(PartialService, TheMessageHasOneFixedShape)
{
    EXPECT_EQ(PartialCld_Integration::UnsupportedMessage("LockFile"), "The operation LockFile is not supported.");
}

// Through the bridge, an operation the service serves answers as usual and an unserved one gives
// the failure value of its function, with the error code left as the host set it.
TEST(PartialService, AOneFamilyServiceAnswersItsFamilyAndTheBridgeContainsTheRest)
{
    struct Row {
        const char* what;
        std::function<bool(int&)> call; // whether the host saw success
        bool succeeds;
        int responsecode;
    };
    const std::vector<Row> rows{
        {"LockFile served", [](int& rc) { return api::LockFile("plan.dwg", rc); }, true, 0},
        {"LockFile served, service's code", [](int& rc) { return api::LockFile("other.dwg", rc); }, true, 404},
        {"UnlockFile served", [](int& rc) { return api::UnlockFile("plan.dwg", false, rc); }, true, 2},
        {"RemoveFile unserved", [](int& rc) { return api::RemoveFile("plan.dwg", rc); }, false, -7},
        {"GetProjectList unserved", [](int& rc) { return api::GetProjectList(rc).has_value(); }, false, -7},
        {"WaitForAllTasks unserved", [](int& rc) { return api::WaitForAllTasks(Ticks(10), rc) != 0; }, false, -7},
        {"GetStatusEvents unserved", [](int&) { return !api::GetStatusEvents().empty(); }, false, -7},
    };
    Cld_Integration::Install(std::make_shared<FileLocks>());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        int responsecode = -7;
        EXPECT_EQ(row.call(responsecode), row.succeeds);
        EXPECT_EQ(responsecode, row.responsecode);
    }
    Cld_Integration::Install(nullptr);
}

} // namespace
} // namespace vyr::cld::test
