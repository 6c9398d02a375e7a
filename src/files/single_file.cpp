#include <vyr/cld/files.h>

#include "frame/contain.h"
#include "frame/text.h"

#include <VyrCldapi/Cld_Integration.h>

using vyr::cld::bridge::contain;
using vyr::cld::bridge::marshal_as;
using vyr::cld::bridge::read_host_encoding;
using VyrCldapi::Cld_Integration;
using VyrCldapi::String;

namespace VyrCldapiIntegration {

bool LockFile(const std::string& file, int& responsecode)
{
    return contain([&] {
        Cld_Integration::LockFile(marshal_as<String>(file), responsecode);
        return true;
    });
}

bool UnlockFile(const std::string& file, bool uploadchanges, int& responsecode)
{
    return contain([&] {
        Cld_Integration::UnlockFile(marshal_as<String>(file), uploadchanges, responsecode);
        return true;
    });
}

bool UnlockFileForced(const std::string& file, int& responsecode)
{
    return contain([&] {
        Cld_Integration::UnlockFileForced(marshal_as<String>(file), responsecode);
        return true;
    });
}

void UnlockAllFilesLockedByMe(int& responsecode)
{
    contain([&] { Cld_Integration::UnlockAllFilesLockedByMe(responsecode); });
}

bool UploadFile(const std::string& file, int& responsecode)
{
    return contain([&] {
        Cld_Integration::UploadFile(marshal_as<String>(file), responsecode);
        return true;
    });
}

bool DownloadFile(const std::string& file, int& responsecode)
{
    return contain([&] {
        Cld_Integration::DownloadFile(marshal_as<String>(file), responsecode);
        return true;
    });
}

bool RemoveFile(const std::string& file, int& responsecode)
{
    return contain([&] {
        Cld_Integration::DeleteFile(marshal_as<String>(file), responsecode);
        return true;
    });
}

bool RenameFile(const std::string& originalFile, const std::string& renamedFile, int& responsecode)
{
    return contain([&] {
        const auto host = read_host_encoding();
        Cld_Integration::RenameFile(marshal_as<String>(originalFile, host), marshal_as<String>(renamedFile, host),
                                    responsecode);
        return true;
    });
}

} // namespace VyrCldapiIntegration
