// The XDG desktop, outside Windows.
#include "desktop.h"

#include <array>
#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vyr::cld::remote::desktop {

std::optional<std::filesystem::path> state_home()
{
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/') {
        return std::filesystem::path(state);
    }
    if (const char* home = std::getenv("HOME"); home && *home == '/') {
        return std::filesystem::path(home) / ".local" / "state";
    }
    return std::nullopt;
}

// `xdg-open url`: a shell starts it in the background and ends at once, so the caller waits only
// for the shell and the opener, left to init, is never the host's child to reap: no thread
// outlives the call, and no zombie is left. The address reaches the opener as an argument ("$1"),
// never as shell text.
void open_in_browser(const std::string& url)
{
    if (url.rfind("https://", 0) != 0 && url.rfind("http://", 0) != 0) {
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    // Its own session, and nothing of the host's terminal: the browser outlives the call.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
    }
    std::string shell = "/bin/sh", command = "-c", script = "xdg-open \"$1\" &", name = "sh";
    auto address = url;
    std::array<char*, 6> argv{shell.data(), command.data(), script.data(), name.data(), address.data(), nullptr};
    pid_t pid = 0;
    const bool started = posix_spawn(&pid, shell.c_str(), &actions, &attributes, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (started) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

} // namespace vyr::cld::remote::desktop
