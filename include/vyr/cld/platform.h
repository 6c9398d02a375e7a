#pragma once

// Export mechanism and platform types of the boundary.

#if defined(_WIN32)
// Marked entry points are what a DLL exports; hosts import them. The test archive, which holds
// the same objects, is linked statically and takes neither.
#if defined(VYR_CLD_BUILDING)
#define VYR_CLD_API __declspec(dllexport)
#elif defined(VYR_CLD_STATIC)
#define VYR_CLD_API
#else
#define VYR_CLD_API __declspec(dllimport)
#endif
#else
#define VYR_CLD_API __attribute__((visibility("default")))
#endif

/// A window handle: opaque, compared and passed on, never dereferenced. Declared exactly as
/// <windows.h> declares it, so a host that includes both sees one type; this header does not
/// include <windows.h> itself, whose macros (DeleteFile among them) would rename service operations.
struct HWND__;
typedef HWND__* HWND;
