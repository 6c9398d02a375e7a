#pragma once

#include <vyr/cld/platform.h>

// Online viewer model updates.
namespace VyrCldapiIntegration {
} // namespace VyrCldapiIntegration
