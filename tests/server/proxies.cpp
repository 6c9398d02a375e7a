#include "proxies.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace vyr::cld::test {
namespace {

std::string environment(const char* name, const char* otherwise)
{
    const char* value = std::getenv(name);
    return value && *value ? value : otherwise;
}

std::uint32_t big_endian(const char* bytes)
{
    std::uint32_t out = 0;
    for (int i = 0; i < 4; ++i) {
        out = (out << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return out;
}

bool write_all(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const auto wrote = ::send(fd, data, size, MSG_NOSIGNAL);
        if (wrote <= 0) {
            return false;
        }
        data += wrote;
        size -= static_cast<std::size_t>(wrote);
    }
    return true;
}

// The statement of a frontend message that carries one: a simple query, or a statement parsed for
// the extended protocol; in upper case.
std::string statement(char type, const std::string& payload)
{
    std::string text;
    if (type == 'Q') {
        text = payload.substr(0, payload.find('\0'));
    } else if (type == 'P') {
        const auto name = payload.find('\0');
        if (name == std::string::npos) {
            return {};
        }
        text = payload.substr(name + 1, payload.find('\0', name + 1) - name - 1);
    }
    const auto start = text.find_first_not_of(" \t\r\n");
    text.erase(0, start == std::string::npos ? text.size() : start);
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

// A listening socket on 127.0.0.1 and a port of its own.
int listen_on_loopback(unsigned short& port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 64) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("the proxy cannot listen");
    }
    port = ntohs(address.sin_port);
    return fd;
}

int connect_to_loopback(unsigned short port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        return fd;
    }
    if (fd >= 0) {
        close(fd);
    }
    return -1;
}

} // namespace

Proxy::Proxy()
{
    listener_ = listen_on_loopback(port_);
}

void Proxy::start()
{
    acceptor_ = std::thread([this] { accept_loop(); });
}

void Proxy::stop()
{
    stopping_ = true;
    if (acceptor_.joinable()) {
        acceptor_.join();
    }
    close(listener_);
    const std::lock_guard lock(mutex_);
    for (auto& thread : threads_) {
        thread.join();
    }
}

void Proxy::accept_loop()
{
    while (!stopping_) {
        pollfd waiting{listener_, POLLIN, 0};
        if (poll(&waiting, 1, 100) <= 0) {
            continue;
        }
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        const int server = connect_upstream();
        if (server < 0) {
            close(client);
            continue;
        }
        const std::lock_guard lock(mutex_);
        threads_.emplace_back([this, client, server] { pump(client, server); });
    }
}

CommitCutter::CommitCutter()
{
    start();
}

CommitCutter::~CommitCutter()
{
    stop();
}

std::string CommitCutter::conninfo() const
{
    // In plain text, so that the proxy reads the statements.
    return "host=127.0.0.1 port=" + std::to_string(port()) + " sslmode=disable gssencmode=disable";
}

void CommitCutter::set(Mode mode)
{
    silenced_ = false;
    mode_ = mode;
}

int CommitCutter::connect_upstream()
{
    if (silenced_) {
        return -1;
    }
    const auto host = environment("PGHOST", "/var/run/postgresql");
    const auto port = environment("PGPORT", "5432");
    int fd = -1;
    if (host.front() == '/') {
        fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const auto path = host + "/.s.PGSQL." + port;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            return fd;
        }
    } else {
        // The test database is on this host: only loopback is reached.
        return connect_to_loopback(static_cast<unsigned short>(std::stoi(port)));
    }
    if (fd >= 0) {
        close(fd);
    }
    return -1;
}

void CommitCutter::pump(int client, int server)
{
    // The client's bytes are forwarded message by message, so that a COMMIT is seen whole; the
    // first messages (the startup packet, and requests for TLS or GSS encryption) carry no type.
    std::string pending;
    bool started = false;
    bool readOnly = false;
    bool open = true;
    while (open && !stopping()) {
        pollfd waiting[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        if (poll(waiting, 2, 100) <= 0) {
            continue;
        }
        char buffer[65536];
        if (waiting[1].revents) {
            const auto got = ::read(server, buffer, sizeof buffer);
            open = got > 0 && write_all(client, buffer, static_cast<std::size_t>(got));
        }
        if (open && waiting[0].revents) {
            const auto got = ::read(client, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            pending.append(buffer, static_cast<std::size_t>(got));
            for (;;) {
                const std::size_t head = started ? 5 : 4;
                if (pending.size() < head) {
                    break;
                }
                const auto length = big_endian(pending.data() + head - 4);
                const auto whole = head - 4 + static_cast<std::size_t>(length);
                if (length < 4 || pending.size() < whole) {
                    break;
                }
                const auto message = pending.substr(0, whole);
                pending.erase(0, whole);
                if (!started) {
                    // The startup packet names protocol 3.0; the encryption requests do not.
                    started = length > 8 && big_endian(message.data() + 4) == 0x00030000U;
                    open = write_all(server, message.data(), message.size());
                    continue;
                }
                // Only a COMMIT of a transaction that may have written is cut: a read's commit
                // decides nothing.
                const auto text = statement(message[0], message.substr(5));
                if (text.rfind("BEGIN", 0) == 0 || text.rfind("START TRANSACTION", 0) == 0) {
                    readOnly = text.find("READ ONLY") != std::string::npos;
                }
                const auto mode = mode_.load();
                if (mode != Mode::pass && !readOnly && text.rfind("COMMIT", 0) == 0) {
                    if (mode != Mode::instead) {
                        write_all(server, message.data(), message.size());
                        if (mode == Mode::afterSilenced) {
                            silenced_ = true;
                        }
                    }
                    ++cuts_;
                    open = false;
                    break;
                }
                open = write_all(server, message.data(), message.size());
                if (!open) {
                    break;
                }
            }
        }
    }
    // The client learns nothing more. A COMMIT forwarded is delivered before the end of the stream,
    // and the database's answer is read and dropped until it closes: closing a socket with unread
    // bytes resets the connection, which could drop the COMMIT before the database read it.
    close(client);
    shutdown(server, SHUT_WR);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < until) {
        pollfd waiting{server, POLLIN, 0};
        char buffer[4096];
        if (poll(&waiting, 1, 100) > 0 && ::read(server, buffer, sizeof buffer) <= 0) {
            break;
        }
    }
    close(server);
}

AnswerDropper::AnswerDropper(unsigned short serverPort, std::string prefix, int drops)
    : serverPort_(serverPort), prefix_(std::move(prefix)), drops_(drops)
{
    start();
}

AnswerDropper::~AnswerDropper()
{
    stop();
}

int AnswerDropper::connect_upstream()
{
    return connect_to_loopback(serverPort_);
}

void AnswerDropper::pump(int client, int server)
{
    bool dropping = false;
    bool open = true;
    while (open && !stopping()) {
        pollfd waiting[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        if (poll(waiting, 2, 100) <= 0) {
            continue;
        }
        char buffer[65536];
        if (waiting[1].revents) {
            const auto got = ::read(server, buffer, sizeof buffer);
            // A lost answer: the client keeps waiting on an open connection.
            open = got > 0 && (dropping || write_all(client, buffer, static_cast<std::size_t>(got)));
        }
        if (open && waiting[0].revents) {
            const auto got = ::read(client, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            // A request's header comes in one piece from the clients of these tests.
            if (std::string_view(buffer, static_cast<std::size_t>(got)).starts_with(prefix_)) {
                ++matched_;
                if (drops_ > 0) {
                    --drops_;
                    dropping = true;
                }
            }
            open = write_all(server, buffer, static_cast<std::size_t>(got));
        }
    }
    close(client);
    close(server);
}

} // namespace vyr::cld::test
