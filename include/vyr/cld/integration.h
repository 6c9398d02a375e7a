#pragma once

// The whole boundary of VyrCldapiIntegration.
//
// Host text is bytes in the calling thread's locale encoding (UTF-8 under the "C" locale).
// No function lets a failure reach the caller: each returns the neutral value of its result
// type instead (false, 0, an empty optional or vector, LockStatus::Unknown, an empty
// FileBrowserUi), and `responsecode`, where a function has one, is written by the service alone.

#include <vyr/cld/enums.h>
#include <vyr/cld/files.h>
#include <vyr/cld/platform.h>
#include <vyr/cld/projects.h>
#include <vyr/cld/publishing.h>
#include <vyr/cld/session.h>
#include <vyr/cld/time.h>
#include <vyr/cld/ui.h>
