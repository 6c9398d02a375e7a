// A working copy another program holds open, as a CAD application keeps its drawing: opened with
// CreateFileW for writing, shared for reading only.
#include "../local/world.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <thread>

namespace vyr::cld::local::test {
namespace {

using namespace VyrCldapiIntegration;
using namespace std::chrono_literals;
using vyr::cld::StatusEvent;
using vyr::cld::StatusEventType;

// The file opened as a CAD application opens its drawing, closed at the end of the scope.
class Holder {
public:
    explicit Holder(const fs::path& file)
        : handle_(CreateFileW(file.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }
    ~Holder() { close(); }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    [[nodiscard]] bool holds() const { return handle_ != INVALID_HANDLE_VALUE; }
    void close()
    {
        if (holds()) {
            CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
    }

private:
    HANDLE handle_;
};

// The events told until `done` holds of them, or the time is up.
std::vector<StatusEvent> events_until(const std::function<bool(const std::vector<StatusEvent>&)>& done,
                                      std::chrono::milliseconds limit)
{
    std::vector<StatusEvent> all;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done(all) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
        for (auto& event : GetStatusEvents()) {
            all.push_back(std::move(event));
        }
    }
    return all;
}

bool told(const std::vector<StatusEvent>& events, StatusEventType type, int status)
{
    return std::count(events.begin(), events.end(), StatusEvent{type, status, "plan.dwg"}) > 0;
}

std::size_t files_in(const fs::path& folder)
{
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// The sync worker meets bert's drawing held open: nothing is written, not even a part, bert's
// host is told once by a Download event of status 423, and the new revision arrives soon after
// the drawing is closed. A download asked for meanwhile answers 423 as well.
TEST(HeldOpen, ASyncWaitsForTheHolderAndTellsOnce)
{
    World w;
    w.stored("plan.dwg", "revision 1");
    w.as("bert");
    int code = 0;
    DownloadFile("plan.dwg", code);
    ASSERT_EQ(code, 200);
    Holder cad(w.folder() / "plan.dwg");
    ASSERT_TRUE(cad.holds());

    w.as("anna");
    w.stored("plan.dwg", "revision 2, a longer one");
    w.as("bert");
    static_cast<void>(GetStatusEvents());
    StartSyncDir();
    const auto held = events_until(
        [](const auto& events) { return told(events, StatusEventType::Download, 423); }, 20s);
    EXPECT_TRUE(told(held, StatusEventType::Download, 423));
    DownloadFile("plan.dwg", code);
    EXPECT_EQ(code, 423);
    std::this_thread::sleep_for(1500ms); // passes go on meanwhile, and back off
    EXPECT_FALSE(told(events_until([](const auto&) { return false; }, 200ms), StatusEventType::Download, 423))
        << "told once";
    EXPECT_EQ(w.read("plan.dwg"), "revision 1");
    EXPECT_EQ(files_in(w.folder()), 1U) << "no temporary file waits beside it";

    cad.close();
    const auto arrived = events_until(
        [](const auto& events) { return told(events, StatusEventType::Download, 200); }, 20s);
    StopSyncDir();
    EXPECT_TRUE(told(arrived, StatusEventType::Download, 200));
    EXPECT_EQ(w.read("plan.dwg"), "revision 2, a longer one");
}

// An upload reads the file as one consistent copy: while another program has it open for writing
// it is refused with 423 and nothing is stored; closed, it is uploaded.
TEST(HeldOpen, AnUploadOfAFileBeingWrittenIsRefusedClearly)
{
    World w;
    w.stored("plan.dwg", "revision 1");
    w.write("plan.dwg", "revision 2, being saved");
    int code = 0;
    {
        const Holder cad(w.folder() / "plan.dwg");
        ASSERT_TRUE(cad.holds());
        UploadFile("plan.dwg", code);
        EXPECT_EQ(code, 423);
        EXPECT_EQ(GetFileRevision("plan.dwg"), 1U);
    }
    UploadFile("plan.dwg", code);
    EXPECT_EQ(code, 200);
    EXPECT_EQ(GetFileRevision("plan.dwg"), 2U);
}

} // namespace
} // namespace vyr::cld::local::test
