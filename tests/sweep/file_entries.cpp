#include "sweep/entry_points.h"

#include <vyr/cld/files.h>

#include <array>
#include <optional>
#include <string>

namespace sweep {

namespace api = VyrCldapiIntegration;

namespace {

using Texts = std::vector<std::string>;
using Holder = std::array<std::string, 4>;

const Holder host_texts{"host 1", "host 2", "host 3", "host 4"};
const Holder holder_texts{"anna", "Anna Berg", "anna@example.org", "2026-12-07T08:00:00Z"};
const std::vector<String> holder_answer{u"anna", u"Anna Berg", u"anna@example.org", u"2026-12-07T08:00:00Z"};

// The lock status with its four texts: the valid answer fills them all; the failure value leaves
// the caller's.
Outcome lock_status(const std::string& file, const Holder& expected_texts)
{
    Holder texts = host_texts;
    const auto status = library([&] { return api::GetLockStatus(file, texts[0], texts[1], texts[2], texts[3]); });
    if (status == cld::LockStatus::LockedByOther && texts == expected_texts) {
        return Outcome::Success;
    }
    return status == cld::LockStatus::Unknown && texts == host_texts ? Outcome::FailureValue : Outcome::Wrong;
}

Ref<StatusEvent> event(StatusEventType type, String responseId)
{
    return std::make_shared<StatusEvent>(StatusEvent{type, 3, std::move(responseId)});
}

const List<String> answered_paths{u"site/b.dwg", u"site/a.dwg"};
const Texts answered_texts{"site/b.dwg", "site/a.dwg"};
const List<String> path_with_null{u"site/b.dwg", String()};

std::vector<BadAnswer> bad_path_lists()
{
    return {{"null list", answering(List<String>())}, {"null element", answering(path_with_null)}};
}

} // namespace

std::vector<EntryPoint> file_entry_points()
{
    const Texts files{"site/a.dwg", "site/b.dwg"};
    return {
        {"VyrCldapiIntegration::LockFile",
         "LockFile",
         true,
         {},
         [](int& rc) { return classify(library([&] { return api::LockFile("site/a.dwg", rc); }), true); }},
        {"VyrCldapiIntegration::UnlockFile",
         "UnlockFile",
         true,
         {},
         [](int& rc) { return classify(library([&] { return api::UnlockFile("site/a.dwg", true, rc); }), true); }},
        {"VyrCldapiIntegration::UnlockFileForced",
         "UnlockFileForced",
         true,
         {},
         [](int& rc) { return classify(library([&] { return api::UnlockFileForced("site/a.dwg", rc); }), true); }},
        {"VyrCldapiIntegration::UnlockAllFilesLockedByMe",
         "UnlockAllFilesLockedByMe",
         true,
         {},
         [](int& rc) {
             library([&] { return api::UnlockAllFilesLockedByMe(rc); });
             return Outcome::Void;
         }},
        {"VyrCldapiIntegration::UploadFile",
         "UploadFile",
         true,
         {},
         [](int& rc) { return classify(library([&] { return api::UploadFile("site/a.dwg", rc); }), true); }},
        {"VyrCldapiIntegration::DownloadFile",
         "DownloadFile",
         true,
         {},
         [](int& rc) { return classify(library([&] { return api::DownloadFile("site/a.dwg", rc); }), true); }},
        {"VyrCldapiIntegration::RemoveFile",
         "DeleteFile",
         true,
         {},
         [](int& rc) { return classify(library([&] { return api::RemoveFile("site/a.dwg", rc); }), true); }},
        {"VyrCldapiIntegration::RenameFile",
         "RenameFile",
         true,
         {},
         [](int& rc) {
             return classify(library([&] { return api::RenameFile("site/a.dwg", "site/b.dwg", rc); }), true);
         }},
        {"VyrCldapiIntegration::GetLockStatus",
         "GetLockStatus",
         false,
         answering(VyrCldapi::LockStatus::LockedByOther, holder_answer),
         [](int&) { return lock_status("site/a.dwg", holder_texts); },
         {{"null texts", answering(VyrCldapi::LockStatus::LockedByOther), Outcome::Success,
           [](int&) { return lock_status("site/a.dwg", Holder{}); }},
          {"a status without a boundary name", answering(VyrCldapi::LockStatus::LockedOffline, holder_answer),
           Outcome::Success,
           [](int&) {
               Holder texts = host_texts;
               const auto status =
                   library([&] { return api::GetLockStatus("site/a.dwg", texts[0], texts[1], texts[2], texts[3]); });
               return status == cld::LockStatus::Unknown && texts == holder_texts ? Outcome::Success : Outcome::Wrong;
           }}}},
        {"VyrCldapiIntegration::LockFiles", "LockFiles", true, answering(answered_paths),
         [files](int& rc) { return classify(library([&] { return api::LockFiles(files, rc); }), answered_texts); },
         bad_path_lists()},
        {"VyrCldapiIntegration::UnlockFiles",
         "UnlockFiles",
         true,
         {},
         [files](int& rc) {
             library([&] { return api::UnlockFiles(files, true, rc); });
             return Outcome::Void;
         }},
        {"VyrCldapiIntegration::UploadNewFiles", "UploadNewFiles", true, answering(answered_paths),
         [files](int& rc) { return classify(library([&] { return api::UploadNewFiles(files, rc); }), answered_texts); },
         bad_path_lists()},
        {"VyrCldapiIntegration::TagFiles",
         "TagFiles",
         true,
         {},
         [files](int& rc) {
             return classify(
                 library([&] { return api::TagFiles(files, "p-1", cld::TagCategory::Export, "survey", rc); }), true);
         }},
        {"VyrCldapiIntegration::GetFileId",
         "GetFileId",
         false,
         answering(String(u"id-1")),
         [](int&) {
             return classify(library([&] { return api::GetFileId("site/a.dwg"); }), std::optional<std::string>("id-1"));
         },
         {{"null id", answering(String())}}},
        {"VyrCldapiIntegration::GetFileRevision",
         "GetFileRevision",
         false,
         answering(Nullable<std::uint64_t>(7)),
         [](int&) {
             return classify(library([&] { return api::GetFileRevision("site/a.dwg"); }),
                             std::optional<std::uint64_t>(7));
         },
         {{"absent revision", answering(Nullable<std::uint64_t>())}}},
        {"VyrCldapiIntegration::FileExistsInProject", "FileExistsInProject", false, answering(true),
         [](int&) { return classify(library([&] { return api::FileExistsInProject("site/a.dwg"); }), true); }},
        {"VyrCldapiIntegration::FindFileInWebApp",
         "FindFileInWebApp",
         false,
         {},
         [](int&) { return classify(library([&] { return api::FindFileInWebApp("site/a.dwg"); }), true); }},
        {"VyrCldapiIntegration::GetFileSyncStatus",
         "GetFileSyncStatus",
         false,
         answering(std::make_shared<FileSyncStatus>(FileSyncStatus{-1, 5'000'000'000, 2, 7})),
         [](int&) {
             return classify(library([&] { return api::GetFileSyncStatus(); }),
                             cld::FileSyncStatus{-1, 5'000'000'000, 2, 7});
         },
         {{"null status", answering(Ref<FileSyncStatus>())}}},
        {"VyrCldapiIntegration::GetInfoForDownloadCopy",
         "GetInfoForDownloadCopy",
         true,
         answering(std::make_shared<InfoForDownloadCopy>(InfoForDownloadCopy{10, 3, 1})),
         [](int& rc) {
             return classify(library([&] { return api::GetInfoForDownloadCopy("p-1", "d-1", rc); }),
                             std::optional(cld::InfoForDownloadCopy{10, 3, 1}));
         },
         {{"null info", answering(Ref<InfoForDownloadCopy>())}}},
        {"VyrCldapiIntegration::CheckPathTooLongExceptions", "CheckPathTooLongExceptions", false,
         answering(answered_paths),
         [](int&) { return classify(library([&] { return api::CheckPathTooLongExceptions(); }), answered_texts); },
         bad_path_lists()},
        {"VyrCldapiIntegration::CheckDownSyncFileExceptions", "CheckDownSyncFileExceptions", false,
         answering(answered_paths),
         [](int&) { return classify(library([&] { return api::CheckDownSyncFileExceptions(); }), answered_texts); },
         bad_path_lists()},
        {"VyrCldapiIntegration::GetStatusEvents",
         "GetStatusEvents",
         false,
         answering(
             List<Ref<StatusEvent>>{event(StatusEventType::Locked, u"r-1"), event(StatusEventType::Deleted, u"r-2")}),
         [](int&) {
             return classify(library([&] { return api::GetStatusEvents(); }),
                             std::vector<cld::StatusEvent>{{cld::StatusEventType::Locked, 3, "r-1"},
                                                           {cld::StatusEventType::Deleted, 3, "r-2"}});
         },
         {{"null list", answering(List<Ref<StatusEvent>>())},
          {"null event", answering(List<Ref<StatusEvent>>{event(StatusEventType::Locked, u"r-1"), nullptr})},
          {"a kind without a boundary name",
           answering(List<Ref<StatusEvent>>{event(StatusEventType::Heartbeat, u"r-1")})},
          {"null response id", answering(List<Ref<StatusEvent>>{event(StatusEventType::Locked, String())})}}},
    };
}

} // namespace sweep
