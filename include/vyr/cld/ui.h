#pragma once

#include <vyr/cld/platform.h>

// The progress callback, the file-browser pane and the service's dialogs.
namespace VyrCldapiIntegration {
} // namespace VyrCldapiIntegration
