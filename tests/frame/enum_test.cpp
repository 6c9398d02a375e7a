#include "frame/enums.h"

#include "support/failure.h"

#include <gtest/gtest.h>

#include <optional>

namespace vyr::cld::test {
namespace {

using bridge::enum_from_name;
using bridge::marshal_as;
using bridge::name_of;
namespace service = VyrCldapi;
using ServiceTagCategory = VyrCldapi::ApiModels::TagCategory;
using ServiceWorkflowStatus = VyrCldapi::ApiModels::WorkflowStatus;

// Every boundary value is reached from the service member of the same name, although the
// service numbers its members differently.
TEST(EnumMapping, ServiceValuesMapByNameNotByNumber)
{
    EXPECT_EQ(marshal_as<LockStatus>(service::LockStatus::NotLocked), LockStatus::NotLocked);
    EXPECT_EQ(marshal_as<LockStatus>(service::LockStatus::LockedByMe), LockStatus::LockedByMe);
    EXPECT_EQ(marshal_as<LockStatus>(service::LockStatus::LockedByOther), LockStatus::LockedByOther);
    EXPECT_EQ(marshal_as<LockStatus>(service::LockStatus::NotInProject), LockStatus::NotInProject);
    EXPECT_EQ(marshal_as<LockStatus>(service::LockStatus::Unknown), LockStatus::Unknown);

    EXPECT_EQ(marshal_as<std::optional<StatusEventType>>(service::StatusEventType::CorruptFile),
              StatusEventType::CorruptFile);
    EXPECT_EQ(marshal_as<std::optional<StatusEventType>>(service::StatusEventType::DirModelReloaded),
              StatusEventType::DirModelReloaded);
    EXPECT_EQ(marshal_as<std::optional<StatusEventType>>(service::StatusEventType::HandlePendingTasks),
              StatusEventType::HandlePendingTasks);
    EXPECT_EQ(marshal_as<std::optional<WorkflowStatus>>(ServiceWorkflowStatus::InProgress),
              WorkflowStatus::InProgress);
    EXPECT_EQ(marshal_as<std::optional<WorkflowStatus>>(ServiceWorkflowStatus::Scheduled), WorkflowStatus::Scheduled);
    // "Download" is in two enumerations; each is looked up only in its own table.
    EXPECT_EQ(marshal_as<std::optional<ProgressEventType>>(service::ProgressEventType::Download),
              ProgressEventType::Download);
    EXPECT_EQ(marshal_as<std::optional<StatusEventType>>(service::StatusEventType::Download),
              StatusEventType::Download);
    EXPECT_EQ(marshal_as<std::optional<ProgressEventType>>(service::ProgressEventType::DeleteProgressBar),
              ProgressEventType::DeleteProgressBar);
}

TEST(EnumMapping, NamesWithoutCounterpartGiveEmptyOrUnknown)
{
    // A member the boundary lacks, and an undeclared number (whose name is its digits).
    EXPECT_EQ(marshal_as<LockStatus>(service::LockStatus::LockedOffline), LockStatus::Unknown);
    EXPECT_EQ(marshal_as<LockStatus>(static_cast<service::LockStatus>(2)), LockStatus::Unknown);
    EXPECT_EQ(marshal_as<std::optional<WorkflowStatus>>(ServiceWorkflowStatus::Cancelled), std::nullopt);
    EXPECT_EQ(marshal_as<std::optional<WorkflowStatus>>(static_cast<ServiceWorkflowStatus>(0)), std::nullopt);
    EXPECT_EQ(marshal_as<std::optional<StatusEventType>>(service::StatusEventType::Heartbeat), std::nullopt);
    EXPECT_EQ(marshal_as<std::optional<ProgressEventType>>(service::ProgressEventType::Indeterminate), std::nullopt);
}

TEST(EnumMapping, LookupIsExactOverTheWholeName)
{
    EXPECT_EQ(enum_from_name<StatusEventType>("Swap"), StatusEventType::Swap);
    for (const auto* near_miss : {"swap", "SWAP", " Swap", "Swap ", "Swa", "Swapped", "7", ""}) {
        EXPECT_EQ(enum_from_name<StatusEventType>(near_miss), std::nullopt) << '"' << near_miss << '"';
    }
}

TEST(EnumMapping, NameTablesFollowTheBoundaryNumbers)
{
    EXPECT_EQ(name_of(LockStatus::Unknown), "Unknown");
    EXPECT_EQ(name_of(StatusEventType::DirModelReloaded), "DirModelReloaded");
    EXPECT_EQ(name_of(ProgressEventType::Upload), "Upload");
    EXPECT_EQ(name_of(WorkflowStatus::Failed), "Failed");
    EXPECT_EQ(name_of(TagCategory::UserDir), "UserDir");
    EXPECT_EQ(name_of(static_cast<TagCategory>(7)), "");
    EXPECT_EQ(name_of(static_cast<TagCategory>(-1)), "");
}

TEST(EnumMapping, TagCategoryReachesTheServiceByName)
{
    EXPECT_EQ(marshal_as<ServiceTagCategory>(TagCategory::Partition), ServiceTagCategory::Partition);
    EXPECT_EQ(marshal_as<ServiceTagCategory>(TagCategory::UserDir), ServiceTagCategory::UserDir);
    EXPECT_EQ(marshal_as<ServiceTagCategory>(TagCategory::Export), ServiceTagCategory::Export);
    for (const int undeclared : {7, -1}) {
        EXPECT_EQ(failure_of([&] { (void)marshal_as<ServiceTagCategory>(static_cast<TagCategory>(undeclared)); })
                      .Kind(),
                  VyrCldapi::ExceptionKind::Argument);
    }
}

} // namespace
} // namespace vyr::cld::test
