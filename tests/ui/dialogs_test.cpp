#include "support/locales.h"
#include "support/mock_service.h"

#include <vyr/cld/ui.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vyr::cld::test {
namespace {

using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgReferee;
using ::testing::Throw;

using namespace VyrCldapiIntegration;
using HostCategory = vyr::cld::TagCategory;

Ref<VyrCldapi::FileToImport> service_file(String fileName, String vendor)
{
    return std::make_shared<VyrCldapi::FileToImport>(VyrCldapi::FileToImport{std::move(fileName), std::move(vendor)});
}

Exception service_failure()
{
    return Exception(ExceptionKind::InvalidOperation, "The dialog could not open.");
}

class DialogTest : public ServiceTest {};

// The service's truth values pass unchanged; a failure reads as false.

TEST_F(DialogTest, TheImportDialogGetsTheCategoryByNameAndTheHeader)
{
    EXPECT_CALL(service, ShowImportFilesDialog(TagCategory::Import, String(u"Import drawings")))
        .WillOnce(Return(true))
        .WillOnce(Return(false));
    EXPECT_TRUE(ShowImportFilesDialog(HostCategory::Import, "Import drawings"));
    EXPECT_FALSE(ShowImportFilesDialog(HostCategory::Import, "Import drawings"));
}

TEST_F(DialogTest, ACategoryWithoutANameNeverReachesTheService)
{
    for (const auto category : {static_cast<HostCategory>(7), static_cast<HostCategory>(-1)}) {
        EXPECT_FALSE(ShowImportFilesDialog(category, "Import drawings"));
    }
}

TEST_F(DialogTest, AHeaderThatDoesNotConvertNeverReachesTheServiceUnderAnUnusableCodesetLinuxOnly)
{
    ThreadLocale guard(unconvertible_locale);
    EXPECT_FALSE(ShowImportFilesDialog(HostCategory::Import, "Import drawings"));
}

TEST_F(DialogTest, TheIncludeFolderDialogAnswersAsTheServiceDoes)
{
    EXPECT_CALL(service, ShowIncludeFolderDialog())
        .WillOnce(Return(true))
        .WillOnce(Return(false))
        .WillOnce(Throw(service_failure()));
    EXPECT_TRUE(ShowIncludeFolderDialog());
    EXPECT_FALSE(ShowIncludeFolderDialog());
    EXPECT_FALSE(ShowIncludeFolderDialog());
}

TEST_F(DialogTest, ServiceFailuresReadAsFalseOrAreDropped)
{
    EXPECT_CALL(service, ShowImportFilesDialog(_, _)).WillOnce(Throw(service_failure()));
    EXPECT_CALL(service, AreIncludeFoldersInModel(_)).WillOnce(Throw(service_failure()));
    EXPECT_CALL(service, AddIncludeFoldersToProject(_)).WillOnce(Throw(service_failure()));
    EXPECT_FALSE(ShowImportFilesDialog(HostCategory::Export, ""));
    EXPECT_FALSE(AreIncludeFoldersInModel({"x"}));
    EXPECT_NO_THROW(AddIncludeFoldersToProject({"x"}));
}

// Include folders reach the service as a list of the same order, never null.

TEST_F(DialogTest, IncludeFoldersKeepTheirOrder)
{
    const List<String> folders{u"b", u"a", u"c"};
    EXPECT_CALL(service, AddIncludeFoldersToProject(folders));
    EXPECT_CALL(service, AreIncludeFoldersInModel(folders)).WillOnce(Return(true)).WillOnce(Return(false));
    AddIncludeFoldersToProject({"b", "a", "c"});
    EXPECT_TRUE(AreIncludeFoldersInModel({"b", "a", "c"}));
    EXPECT_FALSE(AreIncludeFoldersInModel({"b", "a", "c"}));
}

TEST_F(DialogTest, NoIncludeFoldersReachTheServiceAsAnEmptyList)
{
    const auto empty = List<String>::WithCapacity(0);
    EXPECT_CALL(service, AddIncludeFoldersToProject(empty));
    EXPECT_CALL(service, AreIncludeFoldersInModel(empty)).WillOnce(Return(true));
    AddIncludeFoldersToProject({});
    EXPECT_TRUE(AreIncludeFoldersInModel({}));
}

TEST_F(DialogTest, IncludeFoldersThatDoNotConvertNeverReachTheServiceUnderAnUnusableCodesetLinuxOnly)
{
    ThreadLocale guard(unconvertible_locale);
    AddIncludeFoldersToProject({"a"});
    EXPECT_FALSE(AreIncludeFoldersInModel({"a"}));
}

// The files-overview dialog: the layer is its answer, never its input, and it is assigned only
// once the whole list has converted.

class FilesOverviewTest : public DialogTest {
protected:
    // The service answers `files` and sets its output text to `serviceLayer`.
    void answer(List<Ref<VyrCldapi::FileToImport>> files, String serviceLayer)
    {
        EXPECT_CALL(service, ShowFilesOverviewDialog(_, _, _))
            .WillOnce(DoAll(SetArgReferee<2>(std::move(serviceLayer)), Return(std::move(files))));
    }

    std::vector<vyr::cld::FileToImport> show() { return ShowFilesOverviewDialog({"model.dwg"}, {"0"}, layer); }

    std::string layer = "the host's layer";
};

TEST_F(FilesOverviewTest, TheListsReachTheServiceInOrderAndTheLayerAlwaysAsNull)
{
    EXPECT_CALL(service, ShowFilesOverviewDialog(List<String>{u"a.dwg", u"b.dwg"}, List<String>{u"1", u"0"},
                                                 ::testing::Eq(String(nullptr))))
        .WillOnce(Return(nullptr));
    ShowFilesOverviewDialog({"a.dwg", "b.dwg"}, {"1", "0"}, layer);
}

TEST_F(FilesOverviewTest, RecordsKeepServiceOrderAndTellANullVendorFromAnEmptyOne)
{
    answer({service_file(u"a.dwg", nullptr), service_file(u"b.dwg", u"")}, nullptr);
    const auto files = show();

    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].fileName, "a.dwg");
    EXPECT_EQ(files[0].vendor, std::nullopt);
    EXPECT_EQ(files[1].fileName, "b.dwg");
    EXPECT_EQ(files[1].vendor, std::optional<std::string>(""));
    EXPECT_EQ(layer, "") << "a null layer reads as empty text";
}

TEST_F(FilesOverviewTest, AVendorReachesTheHost)
{
    answer({service_file(u"a.dwg", u"Vendor")}, u"2");
    const auto files = show();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].vendor, std::optional<std::string>("Vendor"));
    EXPECT_EQ(layer, "2");
}

TEST_F(FilesOverviewTest, ANullListIsNoFilesAndTheLayerIsStillAssigned)
{
    answer(nullptr, u"imports");
    EXPECT_TRUE(show().empty());
    EXPECT_EQ(layer, "imports");
}

TEST_F(FilesOverviewTest, AnEmptyListIsNoFilesAndTheLayerIsStillAssigned)
{
    answer(List<Ref<VyrCldapi::FileToImport>>::WithCapacity(0), u"imports");
    EXPECT_TRUE(show().empty());
    EXPECT_EQ(layer, "imports");
}

struct BadAnswer {
    const char* name;
    std::function<List<Ref<VyrCldapi::FileToImport>>()> files;
};

void PrintTo(const BadAnswer& answer, std::ostream* out)
{
    *out << answer.name;
}

class FilesOverviewBadRecords : public FilesOverviewTest, public ::testing::WithParamInterface<BadAnswer> {};

TEST_P(FilesOverviewBadRecords, EmptyTheWholeResultAndLeaveTheLayerAlone)
{
    answer(GetParam().files(), u"imports");
    EXPECT_TRUE(show().empty());
    EXPECT_EQ(layer, "the host's layer");
}

INSTANTIATE_TEST_SUITE_P(
    Each, FilesOverviewBadRecords,
    ::testing::Values(
        BadAnswer{
            "NullFileName",
            [] {
                return List<Ref<VyrCldapi::FileToImport>>{service_file(u"a.dwg", u"v"), service_file(nullptr, u"v")};
            }},
        BadAnswer{"NullRecord",
                  [] {
                      return List<Ref<VyrCldapi::FileToImport>>{service_file(u"a.dwg", u"v"), nullptr};
                  }}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(FilesOverviewTest, AServiceFailureAfterSettingTheLayerLeavesTheHostsLayer)
{
    EXPECT_CALL(service, ShowFilesOverviewDialog(_, _, _))
        .WillOnce(DoAll(SetArgReferee<2>(String(u"imports")), Throw(service_failure())));
    EXPECT_TRUE(show().empty());
    EXPECT_EQ(layer, "the host's layer");
}

TEST_F(FilesOverviewTest, ALayerThatDoesNotConvertLeavesTheHostsLayerUnderAnUnusableCodesetLinuxOnly)
{
    EXPECT_CALL(service, ShowFilesOverviewDialog(_, _, _))
        .WillOnce(DoAll(SetArgReferee<2>(String(u"imports")), Return(nullptr)));
    ThreadLocale guard(unconvertible_locale);
    EXPECT_TRUE(ShowFilesOverviewDialog({}, {}, layer).empty());
    EXPECT_EQ(layer, "the host's layer");
}

TEST_F(FilesOverviewTest, ListsThatDoNotConvertNeverReachTheServiceUnderAnUnusableCodesetLinuxOnly)
{
    ThreadLocale guard(unconvertible_locale);
    EXPECT_TRUE(show().empty());
    EXPECT_EQ(layer, "the host's layer");
}

} // namespace
} // namespace vyr::cld::test
