#include "projects/records.h"
#include "projects/service_objects.h"

namespace vyr::cld::test {
namespace {

using bridge::marshal_as;
using ::testing::_;
using ::testing::Return;
namespace api = VyrCldapiIntegration;

using Contracts = List<Ref<svc::NvdbContract>>;

Ref<svc::NvdbContracts> wrapped(Contracts contracts)
{
    auto object = std::make_shared<svc::NvdbContracts>();
    object->nvdbContracts = std::move(contracts);
    return object;
}

class RoadContracts : public ServiceTest {
protected:
    std::vector<NvdbProject> call_with(Ref<svc::NvdbContracts> answer)
    {
        EXPECT_CALL(service, GetNvdbProjects(_)).WillOnce(Return(std::move(answer)));
        int responsecode = 0;
        return api::GetNvdbProjects(responsecode);
    }
};

TEST_F(RoadContracts, KeepServiceOrderWithNameAndIdInTheirOwnFields)
{
    const auto contracts = call_with(wrapped(
        {contract(u("Ring road"), u("c-2")), contract(u("Bridge"), u("c-1")), contract(u("Ring road"), u("c-2"))}));
    EXPECT_EQ(fields(contracts),
              (std::vector<fields_of<NvdbProject>>{{"Ring road", "c-2"}, {"Bridge", "c-1"}, {"Ring road", "c-2"}}));
}

TEST_F(RoadContracts, EmptyNameIsKept)
{
    EXPECT_EQ(fields(call_with(wrapped({contract(u(""), u("c-1"))}))),
              (std::vector<fields_of<NvdbProject>>{{"", "c-1"}}));
}

// No contracts, no answer and a broken answer all come back as an empty vector.
TEST_F(RoadContracts, EmptyNullAndBrokenAnswersGiveAnEmptyVector)
{
    const auto valid = contract(u("Bridge"), u("c-1"));
    const std::vector<std::pair<const char*, Ref<svc::NvdbContracts>>> answers{
        {"empty list", wrapped(empty_list<Ref<svc::NvdbContract>>())},
        {"null wrapper", nullptr},
        {"null list in wrapper", wrapped(nullptr)},
        {"null element", wrapped({valid, nullptr})},
        {"null name", wrapped({valid, contract(nullptr, u("c-2"))})},
        {"null id", wrapped({contract(u("Tunnel"), nullptr), valid})},
    };
    for (const auto& [what, answer] : answers) {
        SCOPED_TRACE(what);
        EXPECT_TRUE(call_with(answer).empty());
    }
}

// Behind the same empty vector: a missing wrapper is no contracts, a wrapper without its list
// is a failure.
TEST(RoadContractConversion, NullWrapperIsEmptyButNullListInsideFails)
{
    EXPECT_TRUE(marshal_as<std::vector<NvdbProject>>(Ref<svc::NvdbContracts>()).empty());
    EXPECT_THROW((void)marshal_as<std::vector<NvdbProject>>(wrapped(nullptr)), VyrCldapi::Exception);
}

using RoadContract = ServiceTest;

TEST_F(RoadContract, SingleContractOrAbsence)
{
    int responsecode = 0;
    EXPECT_CALL(service, GetNvdbProject(_))
        .WillOnce(Return(contract(u("Bridge"), u("c-1"))))
        .WillOnce(Return(nullptr))
        .WillOnce(Return(contract(u("Bridge"), nullptr)));
    EXPECT_EQ(fields(api::GetNvdbProject(responsecode).value()), std::tuple("Bridge", "c-1"));
    EXPECT_FALSE(api::GetNvdbProject(responsecode).has_value());
    EXPECT_FALSE(api::GetNvdbProject(responsecode).has_value());
}

} // namespace
} // namespace vyr::cld::test
