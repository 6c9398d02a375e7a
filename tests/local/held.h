#pragma once

#include <cstdint>
#include <filesystem>

// How a live writer holds a transfer's temporary against a sweep, and how a process opening the
// store sweeps one, one source per platform: flock outside Windows, a handle that refuses deletion
// on it.
namespace vyr::cld::local::test {

// Holds `file` as its writer would, until the end of its scope.
class HeldFile {
public:
    explicit HeldFile(const std::filesystem::path& file);
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    [[nodiscard]] bool held() const noexcept { return held_; }

private:
    std::intptr_t handle_;
    bool held_ = false;
};

// Removes `file` when no writer holds it, as a process opening the store does.
void remove_unless_held(const std::filesystem::path& file);

} // namespace vyr::cld::local::test
