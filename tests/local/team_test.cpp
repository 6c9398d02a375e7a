// What only a team store can go through: its server dies under a client.
#include "world.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <random>
#include <thread>

namespace vyr::cld::local::test {
namespace {

using namespace VyrCldapiIntegration;
using namespace std::chrono_literals;

// The server is killed (as a crash would end it) in the middle of a large upload and started
// again: the upload goes on from the chunks the server held, by the client's own retries or by
// the host's next upload, and the other user gets the file byte for byte.
TEST(TeamServer, AnUploadCutByAKilledServerIsResumed)
{
    World w;
    std::string bytes(12 << 20, '\0');
    std::mt19937_64 random(29);
    for (auto& byte : bytes) {
        byte = static_cast<char>(random());
    }
    w.write("big.bin", bytes);

    std::mutex mutex;
    std::vector<double> shares;
    std::atomic<bool> restarted{false};
    SetCallbacks([&](vyr::cld::ProgressEventType type, double share, const std::string&) {
        if (type != vyr::cld::ProgressEventType::Upload) {
            return;
        }
        {
            const std::lock_guard lock(mutex);
            shares.push_back(share);
        }
        if (!restarted) {
            std::this_thread::sleep_for(40ms); // each chunk slowly, so that the kill meets the upload
        }
    });
    int code = 0;
    std::thread upload([&] { UploadFile("big.bin", code); });
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    const auto reached = [&] {
        const std::lock_guard lock(mutex);
        return !shares.empty() && shares.back() >= 0.25;
    };
    while (!reached() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(reached()) << "the upload never got a quarter through";
    w.restart_server();
    restarted = true;
    upload.join();
    double before = 0;
    {
        const std::lock_guard lock(mutex);
        EXPECT_LT(shares.back(), 1.0 + 1e-9);
        before = shares.back();
        shares.clear();
    }
    if (code == 503) { // the client's retries ran out before the server was back: the host asks again
        UploadFile("big.bin", code);
        const std::lock_guard lock(mutex);
        ASSERT_FALSE(shares.empty());
        EXPECT_GE(shares.front(), 0.25) << "sent again from the start; it held " << before;
    }
    EXPECT_EQ(code, 201);

    w.as("bert");
    int fetched = 0;
    DownloadFile("big.bin", fetched);
    EXPECT_EQ(fetched, 200);
    EXPECT_TRUE(w.read("big.bin") == bytes);
}

} // namespace
} // namespace vyr::cld::local::test
