#pragma once

#include <vyr/cld/enums.h>
#include <vyr/cld/platform.h>

#include <optional>
#include <string>
#include <vector>

/// @file
/// Online viewer model updates.
///
/// `files` reach the service in the given order, `epsgId` names the coordinate reference system,
/// and `responsecode` is written by the service alone.
namespace VyrCldapiIntegration {

/// The service's text for the update; empty both when the service answered no text and when the
/// call failed.
VYR_CLD_API std::optional<std::string> NotifyOnlineViewer2dModelUpdate(const std::vector<std::string>& files,
                                                                       int epsgId, const std::string& description,
                                                                       const std::string& logicalId, int& responsecode);
/// Empty also for a state that this enumeration does not know.
VYR_CLD_API std::optional<vyr::cld::WorkflowStatus> Get2dModelUpdateStatus(const std::string& updateId,
                                                                           int& responsecode);
/// true once the service has handled the request; the offsets are passed exactly as given.
VYR_CLD_API bool NotifyOnlineViewer3dModelUpdate(const std::vector<std::string>& files, int epsgId,
                                                 const std::string& description, const std::string& logicalId,
                                                 double offsetX, double offsetY, int& responsecode);

} // namespace VyrCldapiIntegration
