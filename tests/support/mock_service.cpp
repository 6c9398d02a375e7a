#include "support/mock_service.h"

namespace vyr::cld::test {

MockService::MockService() = default;
MockService::~MockService() = default;

ServiceTest::ServiceTest()
    : service_(std::make_shared<::testing::StrictMock<MockService>>()), service(*service_)
{
}

ServiceTest::~ServiceTest() = default;

void ServiceTest::SetUp()
{
    Cld_Integration::Install(service_);
}

void ServiceTest::TearDown()
{
    Cld_Integration::Install(nullptr);
}

} // namespace vyr::cld::test
