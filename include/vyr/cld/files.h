#pragma once

#include <vyr/cld/platform.h>

#include <string>

// File operations: one file at a time.
//
// Each function returns true once the service has handled the request; the outcome of the action
// itself is in `responsecode`, which only the service writes. false means the request failed
// before or inside the service, and then `responsecode` holds whatever the service last wrote.
namespace VyrCldapiIntegration {

VYR_CLD_API bool LockFile(const std::string& file, int& responsecode);
VYR_CLD_API bool UnlockFile(const std::string& file, bool uploadchanges, int& responsecode);
VYR_CLD_API bool UnlockFileForced(const std::string& file, int& responsecode);
VYR_CLD_API void UnlockAllFilesLockedByMe(int& responsecode);
VYR_CLD_API bool UploadFile(const std::string& file, int& responsecode);
VYR_CLD_API bool DownloadFile(const std::string& file, int& responsecode);
VYR_CLD_API bool RemoveFile(const std::string& file, int& responsecode);
VYR_CLD_API bool RenameFile(const std::string& originalFile, const std::string& renamedFile, int& responsecode);

} // namespace VyrCldapiIntegration
