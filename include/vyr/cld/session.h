#pragma once

#include <vyr/cld/platform.h>

// Session context, sync control, filters and file lists.
namespace VyrCldapiIntegration {
} // namespace VyrCldapiIntegration
