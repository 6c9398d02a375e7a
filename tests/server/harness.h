#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

// Real processes and raw connections for the team server's system tests.
namespace vyr::cld::test {

// A child process, killed with SIGKILL when the object goes (or when the test process dies).
class Child {
public:
    Child(const std::vector<std::string>& arguments, bool captureOutput);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The next line of its output, waiting at most `limit`; nothing on time-out or end.
    std::optional<std::string> line(std::chrono::milliseconds limit);
    void kill();
    void terminate(); // SIGTERM
    [[nodiscard]] pid_t pid() const { return pid_; }
    // Its exit status once it ended, waiting at most `limit`.
    std::optional<int> wait(std::chrono::milliseconds limit);

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string pending_;
};

// Runs a program to its end (bounded) and answers its exit status and standard output.
struct Ran {
    int status = -1;
    std::string output;
};
Ran run(const std::vector<std::string>& arguments, std::chrono::milliseconds limit = std::chrono::seconds(60));

// A blocking TCP connection to 127.0.0.1 with bounded reads, from a source address of the
// loopback network (127.0.0.2 is another client than 127.0.0.1).
class Socket {
public:
    explicit Socket(unsigned short port, const std::string& from = "127.0.0.1");
    ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool send(std::string_view bytes);
    // Everything until the peer closes or `limit` passes.
    std::string receive_all(std::chrono::milliseconds limit);
    // One HTTP response (header and a Content-Length body), at most `limit`.
    std::string receive_response(std::chrono::milliseconds limit);
    // Whether the peer closed the connection within `limit`.
    bool closed_within(std::chrono::milliseconds limit);

private:
    int fd_ = -1;
    std::string pending_;
};

// The status code of a raw HTTP response; 0 for none.
int status_of(const std::string& response);

// The resident memory of a process in KiB, as /proc tells it; nothing when it is gone.
std::optional<long> resident_kib(pid_t pid);

} // namespace vyr::cld::test
