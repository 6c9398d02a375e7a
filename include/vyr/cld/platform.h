#pragma once

// Export mechanism and platform types of the boundary.

#if defined(_WIN32)
#include <windows.h>
#if defined(VYR_CLD_BUILDING)
#define VYR_CLD_API __declspec(dllexport)
#else
#define VYR_CLD_API __declspec(dllimport)
#endif
#else
#define VYR_CLD_API __attribute__((visibility("default")))

/// A window handle: opaque, compared and passed on, never dereferenced.
struct HWND__;
using HWND = HWND__*;
#endif
