#include "ui/dialogs.h"

#include "frame/contain.h"
#include "frame/enums.h"
#include "frame/records.h"

#include <VyrCldapi/Cld_Integration.h>

#include <vector>

using vyr::cld::bridge::contain;
using vyr::cld::bridge::marshal_as;
using vyr::cld::bridge::read_host_encoding;
using vyr::cld::bridge::text_or_empty;
using VyrCldapi::Cld_Integration;
using VyrCldapi::List;
using VyrCldapi::String;

namespace VyrCldapiIntegration {

bool ShowImportFilesDialog(vyr::cld::TagCategory tagCategory, const std::string& header)
{
    return contain([&] {
        const auto host = read_host_encoding();
        return Cld_Integration::ShowImportFilesDialog(marshal_as<VyrCldapi::ApiModels::TagCategory>(tagCategory, host),
                                                      marshal_as<String>(header, host));
    });
}

bool ShowIncludeFolderDialog()
{
    return contain([] { return Cld_Integration::ShowIncludeFolderDialog(); });
}

std::vector<vyr::cld::FileToImport> ShowFilesOverviewDialog(const std::vector<std::string>& filesInCurrentModel,
                                                            const std::vector<std::string>& resultApplayers,
                                                            std::string& importToThisLayer)
{
    return contain([&] {
        // Null, not the host's value: the layer is the dialog's answer, never its input.
        String layer;
        const auto arguments = read_host_encoding();
        const auto answer =
            Cld_Integration::ShowFilesOverviewDialog(marshal_as<List<String>>(filesInCurrentModel, arguments),
                                                     marshal_as<List<String>>(resultApplayers, arguments), layer);
        // The dialog may have switched the thread's encoding; the answer converts as it left it.
        const auto host = read_host_encoding();
        auto files = marshal_as<std::vector<vyr::cld::FileToImport>>(answer, host);
        // Only once every record converted, so that a failure leaves the host's value alone.
        importToThisLayer = text_or_empty(layer, host);
        return files;
    });
}

void AddIncludeFoldersToProject(const std::vector<std::string>& includeFolders)
{
    contain([&] { Cld_Integration::AddIncludeFoldersToProject(marshal_as<List<String>>(includeFolders)); });
}

bool AreIncludeFoldersInModel(const std::vector<std::string>& includeFolders)
{
    return contain([&] { return Cld_Integration::AreIncludeFoldersInModel(marshal_as<List<String>>(includeFolders)); });
}

} // namespace VyrCldapiIntegration
