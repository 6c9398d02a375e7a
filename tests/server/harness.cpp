#include "harness.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <fstream>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace vyr::cld::test {
namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(0, left));
}

// Reads what is there within the deadline; false at the end of the stream or on time-out.
bool read_some(int fd, std::string& into, Clock::time_point deadline)
{
    pollfd waiting{fd, POLLIN, 0};
    if (poll(&waiting, 1, remaining_ms(deadline)) <= 0) {
        return false;
    }
    char buffer[65536];
    const auto got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) {
        return false;
    }
    into.append(buffer, static_cast<std::size_t>(got));
    return true;
}

} // namespace

Child::Child(const std::vector<std::string>& arguments, bool captureOutput)
{
    int pipeFds[2] = {-1, -1};
    if (captureOutput && pipe2(pipeFds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    const auto parent = getpid();
    pid_ = fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork");
    }
    if (pid_ == 0) {
        // A test that dies takes its servers with it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        if (captureOutput) {
            dup2(pipeFds[1], STDOUT_FILENO);
        }
        std::vector<char*> argv;
        for (const auto& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (captureOutput) {
        close(pipeFds[1]);
        output_ = pipeFds[0];
    }
}

Child::~Child()
{
    kill();
    wait(std::chrono::seconds(10));
    if (output_ >= 0) {
        close(output_);
    }
}

std::optional<std::string> Child::line(std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    for (;;) {
        if (const auto end = pending_.find('\n'); end != std::string::npos) {
            auto out = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return out;
        }
        if (output_ < 0 || !read_some(output_, pending_, deadline)) {
            return std::nullopt;
        }
    }
}

void Child::kill()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
    }
}

void Child::terminate()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
    }
}

std::optional<int> Child::wait(std::chrono::milliseconds limit)
{
    if (pid_ <= 0) {
        return std::nullopt;
    }
    const auto deadline = Clock::now() + limit;
    for (;;) {
        int status = 0;
        const auto done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

Ran run(const std::vector<std::string>& arguments, std::chrono::milliseconds limit)
{
    Child child(arguments, true);
    Ran out;
    const auto deadline = Clock::now() + limit;
    while (auto line = child.line(std::chrono::milliseconds(remaining_ms(deadline)))) {
        out.output += *line + '\n';
    }
    out.status = child.wait(std::chrono::milliseconds(remaining_ms(deadline))).value_or(-1);
    return out;
}

Socket::Socket(unsigned short port, const std::string& from)
{
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in source{};
    source.sin_family = AF_INET;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || inet_pton(AF_INET, from.c_str(), &source.sin_addr) != 1 ||
        bind(fd_, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0 ||
        connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd_ >= 0) {
            close(fd_);
        }
        throw std::runtime_error("connect");
    }
}

Socket::~Socket()
{
    close(fd_);
}

bool Socket::send(std::string_view bytes)
{
    while (!bytes.empty()) {
        const auto sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

std::string Socket::receive_all(std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    while (read_some(fd_, pending_, deadline)) {
    }
    return std::exchange(pending_, {});
}

std::string Socket::receive_response(std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const auto end = pending_.find("\r\n\r\n");
        if (end != std::string::npos) {
            std::size_t length = 0;
            auto header = pending_.substr(0, end);
            for (auto& c : header) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            if (const auto at = header.find("content-length:"); at != std::string::npos) {
                length = std::stoul(header.substr(at + 15));
            }
            if (pending_.size() >= end + 4 + length) {
                auto out = pending_.substr(0, end + 4 + length);
                pending_.erase(0, end + 4 + length);
                return out;
            }
        }
        if (!read_some(fd_, pending_, deadline)) {
            return std::exchange(pending_, {});
        }
    }
}

bool Socket::closed_within(std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    for (;;) {
        pollfd waiting{fd_, POLLIN, 0};
        if (poll(&waiting, 1, remaining_ms(deadline)) <= 0) {
            return false;
        }
        char buffer[4096];
        const auto got = ::read(fd_, buffer, sizeof buffer);
        if (got <= 0) {
            return true;
        }
    }
}

int status_of(const std::string& response)
{
    if (response.rfind("HTTP/1.1 ", 0) != 0 || response.size() < 12) {
        return 0;
    }
    return std::stoi(response.substr(9, 3));
}

std::optional<long> resident_kib(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return std::nullopt;
}

} // namespace vyr::cld::test
