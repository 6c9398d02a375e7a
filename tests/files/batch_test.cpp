#include "support/allocation_faults.h"
#include "support/locales.h"
#include "support/mock_service.h"
#include "support/service_values.h"

#include <vyr/cld/files.h>
#include <vyr/cld/projects.h>

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace vyr::cld::test {
namespace {

namespace api = VyrCldapiIntegration;
using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgReferee;
using ::testing::Throw;
using ServiceCategory = VyrCldapi::ApiModels::TagCategory;
using Texts = std::vector<std::string>;
using ListMatcher = ::testing::Matcher<const List<String>&>;

const Exception service_failure{ExceptionKind::InvalidOperation, "the service failed"};

// One row per batch operation: an expectation on the file list it hands the service, and the
// exported call with a file list and the host's response code.
struct BatchCall {
    const char* name;
    void (*expect)(MockService&, ListMatcher files);
    void (*call)(const Texts& files, int& responsecode);
};

const std::array<BatchCall, 4> batch_calls{{
    {"LockFiles",
     [](MockService& s, ListMatcher files) { EXPECT_CALL(s, LockFiles(files, _)).WillOnce(Return(service_list({}))); },
     [](const Texts& files, int& code) { (void)api::LockFiles(files, code); }},
    {"UnlockFiles", [](MockService& s, ListMatcher files) { EXPECT_CALL(s, UnlockFiles(files, true, _)); },
     [](const Texts& files, int& code) { api::UnlockFiles(files, true, code); }},
    {"UploadNewFiles",
     [](MockService& s, ListMatcher files) {
         EXPECT_CALL(s, UploadNewFiles(files, _)).WillOnce(Return(service_list({})));
     },
     [](const Texts& files, int& code) { (void)api::UploadNewFiles(files, code); }},
    {"TagFiles",
     [](MockService& s, ListMatcher files) { EXPECT_CALL(s, TagFiles(files, _, ServiceCategory::Export, _, _)); },
     [](const Texts& files, int& code) {
         (void)api::TagFiles(files, "prj", vyr::cld::TagCategory::Export, "tag", code);
     }},
}};

using BatchOperations = ServiceTest;

TEST_F(BatchOperations, TheWholeSetGoesToTheServiceInOneListInTheHostsOrder)
{
    for (const auto& batch : batch_calls) {
        SCOPED_TRACE(batch.name);
        int responsecode = 0;
        // Duplicates and order are the host's; the list has room for exactly these elements.
        batch.expect(service, IsExactList(service_list({u"C:\\p\\c.dgn", u"C:\\p\\ø.dgn", u"C:\\p\\c.dgn"})));
        batch.call({"C:\\p\\c.dgn", "C:\\p\\ø.dgn", "C:\\p\\c.dgn"}, responsecode);
        ::testing::Mock::VerifyAndClearExpectations(&service);
    }
}

TEST_F(BatchOperations, AnEmptySetStillReachesTheServiceAsAnEmptyListNotNull)
{
    for (const auto& batch : batch_calls) {
        SCOPED_TRACE(batch.name);
        int responsecode = 0;
        batch.expect(service, IsExactList(service_list({})));
        batch.call({}, responsecode);
        ::testing::Mock::VerifyAndClearExpectations(&service);
    }
}

// A path too large to convert under an armed allocation failure; a failing locale would not do
// for TagFiles, whose category name would fail under it as well.
constexpr std::size_t large = std::size_t{1} << 20;

TEST_F(BatchOperations, APathThatDoesNotConvertKeepsTheWholeSetFromTheService)
{
    const Texts files{"a", std::string(large, 'x')};
    for (const auto& batch : batch_calls) {
        SCOPED_TRACE(batch.name);
        int responsecode = 99;
        LargeAllocationFailure failure;
        failure.arm(large);
        batch.call(files, responsecode);
        EXPECT_EQ(failure.refused(), 1);
        EXPECT_EQ(responsecode, 99);
    }
}

// LockFiles and UploadNewFiles answer with a list of paths.
struct AnsweringCall {
    const char* name;
    void (*answer)(MockService&, ::testing::Action<List<String>(const List<String>&, int&)> action);
    std::vector<std::string> (*call)(const Texts& files, int& responsecode);
};

const std::array<AnsweringCall, 2> answering_calls{{
    {"LockFiles",
     [](MockService& s, ::testing::Action<List<String>(const List<String>&, int&)> action) {
         EXPECT_CALL(s, LockFiles).WillOnce(action);
     },
     &api::LockFiles},
    {"UploadNewFiles",
     [](MockService& s, ::testing::Action<List<String>(const List<String>&, int&)> action) {
         EXPECT_CALL(s, UploadNewFiles).WillOnce(action);
     },
     &api::UploadNewFiles},
}};

TEST_F(BatchOperations, TheAnswerListComesBackInTheServicesOrder)
{
    for (const auto& answering : answering_calls) {
        SCOPED_TRACE(answering.name);
        int responsecode = 0;
        answering.answer(service, Return(service_list({u"B", u"A", u"Å"})));
        const auto answer = answering.call({"A", "B"}, responsecode);
        EXPECT_EQ(answer, (Texts{"B", "A", "Å"}));
        // Reserved to the answer's count, not grown element by element.
        EXPECT_EQ(answer.capacity(), 3u);
        ::testing::Mock::VerifyAndClearExpectations(&service);
    }
}

TEST_F(BatchOperations, ANullAnswerOrANullEntryGivesAnEmptyVector)
{
    for (const auto& answering : answering_calls) {
        SCOPED_TRACE(answering.name);
        int responsecode = 0;
        answering.answer(service, Return(List<String>(nullptr)));
        EXPECT_TRUE(answering.call({"A"}, responsecode).empty());

        // The valid first entry is lost with the null second one.
        answering.answer(service, Return(List<String>{String(u"A"), String(nullptr), String(u"C")}));
        EXPECT_TRUE(answering.call({"A"}, responsecode).empty());

        answering.answer(service, Throw(service_failure));
        EXPECT_TRUE(answering.call({"A"}, responsecode).empty());
        ::testing::Mock::VerifyAndClearExpectations(&service);
    }
}

TEST_F(BatchOperations, TheResponseCodeIsTheHostsOwnVariable)
{
    for (const auto& answering : answering_calls) {
        SCOPED_TRACE(answering.name);
        int responsecode = -1;
        answering.answer(service, [&](const List<String>&, int& code) {
            EXPECT_EQ(&code, &responsecode);
            EXPECT_EQ(code, -1);
            code = 7;
            return service_list({u"A"});
        });
        EXPECT_EQ(answering.call({"A"}, responsecode), Texts{"A"});
        EXPECT_EQ(responsecode, 7);

        // A failure after the service wrote the code keeps what it wrote.
        answering.answer(service, DoAll(SetArgReferee<1>(8), Throw(service_failure)));
        EXPECT_TRUE(answering.call({"A"}, responsecode).empty());
        EXPECT_EQ(responsecode, 8);
        ::testing::Mock::VerifyAndClearExpectations(&service);
    }

    int responsecode = -1;
    EXPECT_CALL(service, UnlockFiles).WillOnce(DoAll(SetArgReferee<2>(9), Throw(service_failure)));
    api::UnlockFiles({"A"}, false, responsecode);
    EXPECT_EQ(responsecode, 9);

    EXPECT_CALL(service, TagFiles)
        .WillOnce([&](const List<String>&, const String&, ServiceCategory, const String&, int& code) {
            EXPECT_EQ(&code, &responsecode);
            code = 10;
        });
    // true means only that the service returned; its verdict is in the code.
    EXPECT_TRUE(api::TagFiles({"A"}, "prj", vyr::cld::TagCategory::Import, "tag", responsecode));
    EXPECT_EQ(responsecode, 10);

    EXPECT_CALL(service, TagFiles).WillOnce(DoAll(SetArgReferee<4>(11), Throw(service_failure)));
    EXPECT_FALSE(api::TagFiles({"A"}, "prj", vyr::cld::TagCategory::Import, "tag", responsecode));
    EXPECT_EQ(responsecode, 11);
}

TEST_F(BatchOperations, UnlockFilesPassesTheUploadFlagUnchanged)
{
    int responsecode = 0;
    for (const bool uploadChanges : {false, true}) {
        EXPECT_CALL(service, UnlockFiles(IsExactList(service_list({u"A"})), uploadChanges, _));
        api::UnlockFiles({"A"}, uploadChanges, responsecode);
        ::testing::Mock::VerifyAndClearExpectations(&service);
    }
}

TEST_F(BatchOperations, TagFilesPassesFilesProjectCategoryAndTagNameInThatOrder)
{
    int responsecode = 0;
    EXPECT_CALL(service, TagFiles(IsExactList(service_list({u"a.dgn", u"b.dgn"})), String(u"prj-1"),
                                  ServiceCategory::DataCollection, String(u"Målinger"), _));
    EXPECT_TRUE(
        api::TagFiles({"a.dgn", "b.dgn"}, "prj-1", vyr::cld::TagCategory::DataCollection, "Målinger", responsecode));
}

TEST_F(BatchOperations, TagFilesMapsTheCategoryByName)
{
    struct Row {
        vyr::cld::TagCategory host;
        ServiceCategory service;
    };
    // The service numbers its members in another order, so only a mapping by name passes.
    const std::array<Row, 7> rows{{
        {vyr::cld::TagCategory::Partition, ServiceCategory::Partition},
        {vyr::cld::TagCategory::FieldPackage, ServiceCategory::FieldPackage},
        {vyr::cld::TagCategory::Import, ServiceCategory::Import},
        {vyr::cld::TagCategory::Export, ServiceCategory::Export},
        {vyr::cld::TagCategory::DataCollection, ServiceCategory::DataCollection},
        {vyr::cld::TagCategory::SpecialPurpose, ServiceCategory::SpecialPurpose},
        {vyr::cld::TagCategory::UserDir, ServiceCategory::UserDir},
    }};
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.host));
        int responsecode = 0;
        EXPECT_CALL(service, TagFiles(_, _, row.service, _, _));
        EXPECT_TRUE(api::TagFiles({"a"}, "prj", row.host, "tag", responsecode));
        ::testing::Mock::VerifyAndClearExpectations(&service);
    }
}

TEST_F(BatchOperations, TagFilesWithACategoryWithoutANameFailsWithoutCallingTheService)
{
    for (const int value : {7, -1, 100}) {
        SCOPED_TRACE(value);
        int responsecode = 99;
        EXPECT_FALSE(api::TagFiles({"a"}, "prj", static_cast<vyr::cld::TagCategory>(value), "tag", responsecode));
        EXPECT_EQ(responsecode, 99);
    }
}

TEST_F(BatchOperations, TagFilesWithATextThatDoesNotConvertFailsWithoutCallingTheService)
{
    const std::string huge(large, 'x');
    struct Row {
        const char* name;
        Texts files;
        std::string projectId;
        std::string tagName;
    };
    const std::array<Row, 3> rows{{
        {"a file", {"a", huge}, "prj", "tag"},
        {"projectId", {"a"}, huge, "tag"},
        {"tagName", {"a"}, "prj", huge},
    }};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        int responsecode = 99;
        LargeAllocationFailure failure;
        failure.arm(large);
        EXPECT_FALSE(api::TagFiles(row.files, row.projectId, vyr::cld::TagCategory::Export, row.tagName, responsecode));
        EXPECT_EQ(failure.refused(), 1);
        EXPECT_EQ(responsecode, 99);
    }
}

// The thread's encoding switches from UTF-8 to a single-byte one at one allocation, each in turn,
// from the arguments' conversion to the result's. Whichever it falls on, each list, record list
// and set of arguments converts in one encoding: it is read once for all of them, not per text.
std::optional<ThreadLocale> switched;
std::optional<Locale> single_byte;

void switch_encoding()
{
    switched.emplace(*single_byte);
}

template <class Call> void at_every_allocation(Call&& call)
{
    single_byte = named_locale(single_byte_locale);
    const ThreadLocale utf8("C.UTF-8");
    for (int n = 0;; ++n) {
        SCOPED_TRACE(n);
        bool fired = false;
        {
            ActionAtAllocation switching(n, switch_encoding);
            call();
            fired = switching.fired();
        }
        switched.reset();
        if (!fired) {
            break;
        }
    }
}

// Long enough to be allocated on both sides, with a character the two encodings write apart.
constexpr const char16_t* wide_name = u"Bj\u00F8rnstad-section.dgn";
const std::string utf8_name = "Bj\xC3\xB8rnstad-section.dgn";

template <class Texts> void expect_all_alike(const Texts& texts)
{
    ASSERT_FALSE(texts.empty());
    for (const auto& text : texts) {
        EXPECT_EQ(text, texts.front());
    }
}

List<String> names_received;

TEST_F(BatchOperations, ListsAndArgumentsConvertInTheEncodingReadOnceForEach)
{
    at_every_allocation([&] {
        EXPECT_CALL(service, LockFiles(_, _))
            .WillOnce(
                DoAll(::testing::SaveArg<0>(&names_received), Return(service_list({wide_name, wide_name, wide_name}))));
        int responsecode = 0;
        expect_all_alike(api::LockFiles({utf8_name, utf8_name, utf8_name}, responsecode));
        expect_all_alike(std::vector<String>(names_received.begin(), names_received.end()));

        EXPECT_CALL(service, RenameFile(_, _, _)).WillOnce([](const String& from, const String& to, int&) {
            EXPECT_EQ(from, to);
        });
        EXPECT_TRUE(api::RenameFile(utf8_name, utf8_name, responsecode));

        auto project = std::make_shared<VyrProAdmModule::ApiModels::Project>();
        project->Name = project->ProjectNumber = project->Id = wide_name;
        EXPECT_CALL(service, GetProjectList(_))
            .WillOnce(Return(List<Ref<VyrProAdmModule::ApiModels::Project>>{project, project}));
        const auto projects = api::GetProjectList(responsecode);
        ASSERT_TRUE(projects);
        std::vector<std::string> fields;
        for (const auto& record : *projects) {
            fields.insert(fields.end(), {record.name, record.projectNumber, record.id});
        }
        expect_all_alike(fields);
        ::testing::Mock::VerifyAndClearExpectations(&service);
    });
}

} // namespace
} // namespace vyr::cld::test
