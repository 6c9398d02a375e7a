#pragma once

#include <vyr/cld/platform.h>

// Projects, tenants, project metadata, partitions and tags, road database contracts.
namespace VyrCldapiIntegration {
} // namespace VyrCldapiIntegration
