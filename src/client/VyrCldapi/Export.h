#pragma once

// The service client is a shared library of its own; its types cross into the bridge and the
// service implementation, so they keep default visibility.
#if defined(_WIN32)
#if defined(VYRCLDAPI_BUILDING)
#define VYRCLDAPI_EXPORT __declspec(dllexport)
#else
#define VYRCLDAPI_EXPORT __declspec(dllimport)
#endif
#else
#define VYRCLDAPI_EXPORT __attribute__((visibility("default")))
#endif
