#include <vyr/cld/files.h>

#include "frame/contain.h"
#include "frame/enums.h"
#include "frame/text.h"

#include <VyrCldapi/Cld_Integration.h>

using vyr::cld::bridge::contain;
using vyr::cld::bridge::marshal_as;
using vyr::cld::bridge::read_host_encoding;
using VyrCldapi::Cld_Integration;
using VyrCldapi::List;
using VyrCldapi::String;
using ServiceTagCategory = VyrCldapi::ApiModels::TagCategory;

// Each function makes one service call for the whole set of files.
namespace VyrCldapiIntegration {

std::vector<std::string> LockFiles(const std::vector<std::string>& filesToLock, int& responsecode)
{
    return contain([&] {
        return marshal_as<std::vector<std::string>>(
            Cld_Integration::LockFiles(marshal_as<List<String>>(filesToLock), responsecode));
    });
}

void UnlockFiles(const std::vector<std::string>& filesToUnlock, bool uploadChanges, int& responsecode)
{
    contain(
        [&] { Cld_Integration::UnlockFiles(marshal_as<List<String>>(filesToUnlock), uploadChanges, responsecode); });
}

std::vector<std::string> UploadNewFiles(const std::vector<std::string>& files, int& responsecode)
{
    return contain([&] {
        return marshal_as<std::vector<std::string>>(
            Cld_Integration::UploadNewFiles(marshal_as<List<String>>(files), responsecode));
    });
}

bool TagFiles(const std::vector<std::string>& filesToTag, const std::string& projectId, vyr::cld::TagCategory category,
              const std::string& tagName, int& responsecode)
{
    return contain([&] {
        const auto host = read_host_encoding();
        Cld_Integration::TagFiles(marshal_as<List<String>>(filesToTag, host), marshal_as<String>(projectId, host),
                                  marshal_as<ServiceTagCategory>(category, host), marshal_as<String>(tagName, host),
                                  responsecode);
        return true;
    });
}

} // namespace VyrCldapiIntegration
