#include "sweep/entry_points.h"

#include <vyr/cld/files.h>

namespace vyr::cld::sweep {

namespace api = VyrCldapiIntegration;

std::vector<EntryPoint> file_entry_points()
{
    return {
        {"VyrCldapiIntegration::LockFile",
         "LockFile",
         true,
         {},
         [](int& rc) { return classify(api::LockFile("site/a.dwg", rc), true); }},
        {"VyrCldapiIntegration::UnlockFile",
         "UnlockFile",
         true,
         {},
         [](int& rc) { return classify(api::UnlockFile("site/a.dwg", true, rc), true); }},
        {"VyrCldapiIntegration::UnlockFileForced",
         "UnlockFileForced",
         true,
         {},
         [](int& rc) { return classify(api::UnlockFileForced("site/a.dwg", rc), true); }},
        {"VyrCldapiIntegration::UnlockAllFilesLockedByMe",
         "UnlockAllFilesLockedByMe",
         true,
         {},
         [](int& rc) {
             api::UnlockAllFilesLockedByMe(rc);
             return Outcome::Void;
         }},
        {"VyrCldapiIntegration::UploadFile",
         "UploadFile",
         true,
         {},
         [](int& rc) { return classify(api::UploadFile("site/a.dwg", rc), true); }},
        {"VyrCldapiIntegration::DownloadFile",
         "DownloadFile",
         true,
         {},
         [](int& rc) { return classify(api::DownloadFile("site/a.dwg", rc), true); }},
        {"VyrCldapiIntegration::RemoveFile",
         "DeleteFile",
         true,
         {},
         [](int& rc) { return classify(api::RemoveFile("site/a.dwg", rc), true); }},
        {"VyrCldapiIntegration::RenameFile",
         "RenameFile",
         true,
         {},
         [](int& rc) { return classify(api::RenameFile("site/a.dwg", "site/b.dwg", rc), true); }},
    };
}

} // namespace vyr::cld::sweep
