#include "world.h"

namespace vyr::cld::local::test {

bool link_folder(const fs::path& target, const fs::path& link)
{
    fs::create_directory_symlink(target, link);
    return true;
}

} // namespace vyr::cld::local::test
