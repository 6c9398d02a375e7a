#include "held.h"

#include <windows.h>

namespace vyr::cld::local::test {

// A writer's handle shares reading only: deleting the file is refused while it is open.
HeldFile::HeldFile(const std::filesystem::path& file)
    : handle_(reinterpret_cast<std::intptr_t>(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)))
{
    held_ = reinterpret_cast<HANDLE>(handle_) != INVALID_HANDLE_VALUE;
}

HeldFile::~HeldFile()
{
    if (held_) {
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
    }
}

void remove_unless_held(const std::filesystem::path& file)
{
    DeleteFileW(file.c_str());
}

} // namespace vyr::cld::local::test
