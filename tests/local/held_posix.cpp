#include "held.h"

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

namespace vyr::cld::local::test {

HeldFile::HeldFile(const std::filesystem::path& file) : handle_(::open(file.c_str(), O_RDONLY | O_CLOEXEC))
{
    held_ = handle_ >= 0 && ::flock(static_cast<int>(handle_), LOCK_EX) == 0;
}

HeldFile::~HeldFile()
{
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));
    }
}

void remove_unless_held(const std::filesystem::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        ::unlink(file.c_str());
    }
    if (fd >= 0) {
        ::close(fd);
    }
}

} // namespace vyr::cld::local::test
