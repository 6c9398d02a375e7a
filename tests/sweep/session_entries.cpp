#include "sweep/entry_points.h"

#include <vyr/cld/session.h>

#include <optional>

namespace sweep {

namespace api = VyrCldapiIntegration;

namespace {

using Texts = std::vector<std::string>;

template <class Call> std::function<Outcome(int&)> returns_nothing(Call call)
{
    return [call](int& rc) {
        call(rc);
        return Outcome::Void;
    };
}

} // namespace

std::vector<EntryPoint> session_entry_points()
{
    const Texts filters{"*.dwg", "*.xml"};
    // The optional arguments are built here: converting to them inside the call would allocate
    // on the test's side of the boundary.
    const std::optional<Texts> some{filters};
    const std::optional<Texts> none;
    const std::optional<Texts> empty{Texts{}};
    return {
        {"VyrCldapiIntegration::SetProjectAndPartition",
         "SetProjectAndPartition",
         false,
         {},
         [](int&) {
             return classify(library([&] {
                                 return api::SetProjectAndPartition("p-1", "/work/p-1", "d-1", "/work/p-1/d-1",
                                                                    "/work/me", "/work/import");
                             }),
                             true);
         }},
        {"VyrCldapiIntegration::SetOnlyProjectAndPartition",
         "SetOnlyProjectAndPartition",
         false,
         {},
         [](int&) {
             return classify(
                 library([&] { return api::SetOnlyProjectAndPartition("p-1", "/work/p-1", "d-1", "/work/d-1"); }),
                 true);
         }},
        {"VyrCldapiIntegration::SetUserDirectory",
         "SetUserDirectory",
         false,
         {},
         [](int&) { return classify(library([&] { return api::SetUserDirectory("userdir-1", "/work/me"); }), true); }},
        {"VyrCldapiIntegration::SetTenantUniqueId", "SetTenantUniqueId", false, {}, returns_nothing([](int&) {
             library([&] { return api::SetTenantUniqueId("road-authority"); });
         })},
        {"VyrCldapiIntegration::SetCurrentAppLanguage", "SetCurrentAppLanguage", false, {}, returns_nothing([](int&) {
             library([&] { return api::SetCurrentAppLanguage("nb-NO"); });
         })},
        {"VyrCldapiIntegration::SetStartedInFieldMode", "SetStartedInFieldMode", false, {}, returns_nothing([](int&) {
             library([&] { return api::SetStartedInFieldMode(true); });
         })},
        {"VyrCldapiIntegration::CloseProject", "CloseProject", false, {}, returns_nothing([](int&) {
             library([&] { return api::CloseProject(); });
         })},
        {"VyrCldapiIntegration::Logout", "Logout", false, {}, returns_nothing([](int&) {
             library([&] { return api::Logout(); });
         })},
        {"VyrCldapiIntegration::StartSyncDir", "StartSyncDir", false, {}, returns_nothing([](int&) {
             library([&] { return api::StartSyncDir(); });
         })},
        {"VyrCldapiIntegration::StopSyncDir", "StopSyncDir", false, {}, returns_nothing([](int&) {
             library([&] { return api::StopSyncDir(); });
         })},
        {"VyrCldapiIntegration::StartProjectsAndPartitionsTask",
         "StartProjectsAndPartitionsTask",
         false,
         {},
         returns_nothing([](int&) { library([&] { return api::StartProjectsAndPartitionsTask(); }); })},
        {"VyrCldapiIntegration::AbortProjectsAndPartitionsTask",
         "AbortProjectsAndPartitionsTask",
         false,
         {},
         returns_nothing([](int&) { library([&] { return api::AbortProjectsAndPartitionsTask(); }); })},
        {"VyrCldapiIntegration::WaitForAllTasks", "WaitForAllTasks", true, answering(std::int32_t{3}),
         [](int& rc) {
             return classify(library([&] { return api::WaitForAllTasks(std::chrono::milliseconds(20), rc); }), 3);
         }},
        {"VyrCldapiIntegration::SetDownloadFilters",
         "SetDownloadFilters",
         false,
         {},
         returns_nothing(
             [some, none, empty](int&) { library([&] { return api::SetDownloadFilters(some, none, empty); }); })},
        {"VyrCldapiIntegration::SetFileIgnoreFilter",
         "SetFileIgnoreFilter",
         false,
         {},
         returns_nothing([filters](int&) { library([&] { return api::SetFileIgnoreFilter(filters); }); })},
        {"VyrCldapiIntegration::SetDirectoryIgnoreFilter",
         "SetDirectoryIgnoreFilter",
         false,
         {},
         returns_nothing([filters](int&) { library([&] { return api::SetDirectoryIgnoreFilter(filters); }); })},
        {"VyrCldapiIntegration::GetProjectFiles", "GetProjectFiles", false, answering(true),
         [some, none](int&) { return classify(library([&] { return api::GetProjectFiles(some, none); }), true); }},
        {"VyrCldapiIntegration::GetUserDirectoryFiles", "GetUserDirectoryFiles", false, answering(true),
         [some, none](int&) {
             return classify(library([&] { return api::GetUserDirectoryFiles(none, some); }), true);
         }},
    };
}

} // namespace sweep
