#include "../local/world.h"

#include <windows.h>

namespace vyr::cld::local::test {

bool link_folder(const fs::path& target, const fs::path& link)
{
    // Wine 8 answers success and makes nothing, and refuses junctions: the link is looked for.
    constexpr DWORD unprivileged = 0x2; // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    CreateSymbolicLinkW(link.wstring().c_str(), target.wstring().c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY | unprivileged);
    const auto attributes = GetFileAttributesW(link.wstring().c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

} // namespace vyr::cld::local::test
