#include "projects/service_objects.h"

#include <functional>

// The list queries share one set of rules whatever the record: null and empty lists differ,
// order and duplicates are kept, and one bad element loses the whole list.
namespace vyr::cld::test {
namespace {

using ::testing::_;
using ::testing::Return;
namespace api = VyrCldapiIntegration;

std::string text(const char* prefix, int i)
{
    return prefix + std::to_string(i);
}

// Each list query: a valid service object numbered i, the record it must give, the ways to
// null one of its texts, and the call itself.
struct ProjectList {
    using Object = adm::Project;
    static Ref<Object> make(int i) { return project(u(text("name", i)), u(text("number", i)), u(text("id", i))); }
    static auto expected(int i) { return std::tuple(text("name", i), text("number", i), text("id", i)); }
    static std::vector<std::function<void(Object&)>> null_texts()
    {
        return {[](Object& o) { o.Name = nullptr; }, [](Object& o) { o.ProjectNumber = nullptr; },
                [](Object& o) { o.Id = nullptr; }};
    }
    static void expect(MockService& s, List<Ref<Object>> answer)
    {
        EXPECT_CALL(s, GetProjectList(_)).WillOnce(Return(answer));
    }
    static auto call(int& rc) { return api::GetProjectList(rc); }
};

struct TenantList {
    using Object = adm::Tenant;
    static Ref<Object> make(int i)
    {
        return tenant(u(text("display", i)), i % 2 == 0, u(text("provider", i)), u(text("organization", i)),
                      u(text("unique", i)));
    }
    static auto expected(int i)
    {
        return std::tuple(text("display", i), i % 2 == 0, text("provider", i), text("organization", i),
                          text("unique", i));
    }
    static std::vector<std::function<void(Object&)>> null_texts()
    {
        return {[](Object& o) { o.tenantDisplayName = nullptr; },
                [](Object& o) { o.providerSpecificTenantId = nullptr; }, [](Object& o) { o.organizationId = nullptr; },
                [](Object& o) { o.tenantUniqueId = nullptr; }};
    }
    static void expect(MockService& s, List<Ref<Object>> answer)
    {
        EXPECT_CALL(s, GetTenants(_)).WillOnce(Return(answer));
    }
    static auto call(int& rc) { return api::GetTenants(rc); }
};

struct PartitionList {
    using Object = svc::PartitionTag;
    static Ref<Object> make(int i) { return partition_tag(u(text("display", i)), u(text("id", i)), i * 10); }
    static auto expected(int i) { return std::tuple(text("display", i), text("id", i), i * 10); }
    static std::vector<std::function<void(Object&)>> null_texts()
    {
        return {[](Object& o) { o.displayName = nullptr; }, [](Object& o) { o.id = nullptr; }};
    }
    static void expect(MockService& s, List<Ref<Object>> answer)
    {
        EXPECT_CALL(s, GetProjectPartitionTags(_, _)).WillOnce(Return(answer));
    }
    static auto call(int& rc) { return api::GetProjectPartitionTags("project", rc); }
};

struct UserDirectoryTagList {
    using Object = svc::Tag;
    static Ref<Object> make(int i) { return tag(u(text("display", i)), u(text("id", i))); }
    static auto expected(int i) { return std::tuple(text("display", i), text("id", i)); }
    static std::vector<std::function<void(Object&)>> null_texts()
    {
        return {[](Object& o) { o.displayName = nullptr; }, [](Object& o) { o.id = nullptr; }};
    }
    static void expect(MockService& s, List<Ref<Object>> answer)
    {
        EXPECT_CALL(s, GetUserDirectoryTags(_)).WillOnce(Return(answer));
    }
    static auto call(int& rc) { return api::GetUserDirectoryTags(rc); }
};

template <class Query> class ListQuery : public ServiceTest {
protected:
    using Object = typename Query::Object;

    auto call_with(List<Ref<Object>> answer)
    {
        Query::expect(service, std::move(answer));
        int responsecode = 0;
        return Query::call(responsecode);
    }
};

using Queries = ::testing::Types<ProjectList, TenantList, PartitionList, UserDirectoryTagList>;
TYPED_TEST_SUITE(ListQuery, Queries);

TYPED_TEST(ListQuery, NullListIsAbsentButEmptyListIsAnEmptyVector)
{
    EXPECT_FALSE(this->call_with(nullptr).has_value());

    const auto empty = this->call_with(empty_list<Ref<typename TypeParam::Object>>());
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
}

TYPED_TEST(ListQuery, KeepsServiceOrderAndDuplicates)
{
    const auto records = this->call_with({TypeParam::make(3), TypeParam::make(2), TypeParam::make(3)});
    ASSERT_TRUE(records.has_value());
    EXPECT_EQ(fields(*records), (std::vector{TypeParam::expected(3), TypeParam::expected(2), TypeParam::expected(3)}));
}

TYPED_TEST(ListQuery, OneNullElementLosesTheWholeList)
{
    EXPECT_FALSE(this->call_with({TypeParam::make(1), nullptr, TypeParam::make(2)}).has_value());
    EXPECT_FALSE(this->call_with({nullptr}).has_value());
}

TYPED_TEST(ListQuery, OneNullTextAnywhereLosesTheWholeList)
{
    const auto setters = TypeParam::null_texts();
    for (std::size_t field = 0; field < setters.size(); ++field) {
        SCOPED_TRACE("text field " + std::to_string(field));
        auto broken = TypeParam::make(2);
        setters[field](*broken);
        EXPECT_FALSE(this->call_with({TypeParam::make(1), broken, TypeParam::make(3)}).has_value());
    }
}

// Empty text is a value, unlike null.
using EmptyTexts = ServiceTest;

TEST_F(EmptyTexts, ConvertToEmptyFields)
{
    int responsecode = 0;
    EXPECT_CALL(service, GetProjectList(_)).WillOnce(Return(List<Ref<adm::Project>>{project(u("n"), u(""), u("i"))}));
    EXPECT_CALL(service, GetTenants(_))
        .WillOnce(Return(List<Ref<adm::Tenant>>{tenant(u(""), false, u(""), u(""), u(""))}));

    const auto projects = api::GetProjectList(responsecode);
    ASSERT_TRUE(projects);
    EXPECT_EQ(fields(*projects), (std::vector<fields_of<Project>>{{"n", "", "i"}}));

    const auto tenants = api::GetTenants(responsecode);
    ASSERT_TRUE(tenants);
    EXPECT_EQ(fields(*tenants), (std::vector<fields_of<Tenant>>{{"", false, "", "", ""}}));
}

using SingleRecords = ServiceTest;

TEST_F(SingleRecords, CarryEveryFieldFromItsOwnProperty)
{
    int responsecode = 0;
    EXPECT_CALL(service, GetProjectInfo(_, _)).WillOnce(Return(project(u("name"), u("number"), u("id"))));
    EXPECT_CALL(service, GetTenantInfo(_)).WillOnce(Return(tenant(u("d"), true, u("p"), u("o"), u("t"))));
    EXPECT_CALL(service, GetUserDirectoryTagInfo(_, _)).WillOnce(Return(tag(u("dir"), u("tag-id"))));

    EXPECT_EQ(fields(api::GetProjectInfo("id", responsecode).value()), std::tuple("name", "number", "id"));
    EXPECT_EQ(fields(api::GetTenantInfo(responsecode).value()), std::tuple("d", true, "p", "o", "t"));
    EXPECT_EQ(fields(api::GetUserDirectoryTagInfo(1, responsecode).value()), std::tuple("dir", "tag-id"));
}

TEST_F(SingleRecords, NullTextGivesAnEmptyOptional)
{
    int responsecode = 0;
    EXPECT_CALL(service, GetProjectInfo(_, _)).WillOnce(Return(project(u("n"), nullptr, u("i"))));
    EXPECT_CALL(service, GetTenantInfo(_)).WillOnce(Return(tenant(u("d"), true, u("p"), u("o"), nullptr)));
    EXPECT_CALL(service, CreateUserDirectoryTag(_, _)).WillOnce(Return(tag(nullptr, u("i"))));
    EXPECT_CALL(service, GetPartitionInfo(_, _, _)).WillOnce(Return(partition_tag(u("d"), nullptr, 1)));

    EXPECT_FALSE(api::GetProjectInfo("i", responsecode));
    EXPECT_FALSE(api::GetTenantInfo(responsecode));
    EXPECT_FALSE(api::CreateUserDirectoryTag(1, responsecode));
    EXPECT_FALSE(api::GetPartitionInfo("p", "q", responsecode));
}

} // namespace
} // namespace vyr::cld::test
