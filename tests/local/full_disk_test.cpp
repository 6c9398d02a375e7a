// A full disk, made by lowering the process's file-size limit, which POSIX systems have and Windows
// has not.
#include "world.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace vyr::cld::local::test {
namespace {

using namespace VyrCldapiIntegration;

// Lowers the process's file-size limit for its scope; a write past it fails with EFBIG instead
// of ending the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lower = saved_;
        lower.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

TEST(FullDisk, AnUploadAnswers507AndLeavesTheStoreAsItWas)
{
    if (World::team) {
        GTEST_SKIP() << "a team store's disk is the server's";
    }
    World w;
    w.write("big.bin", std::string(2 << 20, 'x'));
    int code = 0;
    {
        const FileSizeLimit limit(1 << 20);
        UploadFile("big.bin", code);
    }
    EXPECT_EQ(code, 507);
    EXPECT_FALSE(FileExistsInProject("big.bin"));
    EXPECT_TRUE(fs::is_empty(w.store_ / "blobs" / "tmp"));
    UploadFile("big.bin", code);
    EXPECT_EQ(code, 201);
}

} // namespace
} // namespace vyr::cld::local::test
