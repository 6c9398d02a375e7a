#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Proxies on 127.0.0.1 that lose what a test needs lost.
namespace vyr::cld::test {

// Between a server process and the PostgreSQL of the environment: breaks a connection at the
// COMMIT of a write, so that a test sees what the server answers when it cannot have heard how its
// commit ended.
class CommitCutter {
public:
    enum class Mode {
        pass,          // forwards everything
        after,         // forwards a COMMIT, then breaks the connection before its answer comes back
        instead,       // breaks the connection in place of forwarding a COMMIT
        afterSilenced, // as after, and closes every connection opened until the mode changes
    };

    CommitCutter();
    ~CommitCutter();
    CommitCutter(const CommitCutter&) = delete;
    CommitCutter& operator=(const CommitCutter&) = delete;

    // The libpq connection string that reaches the database through this proxy.
    [[nodiscard]] std::string conninfo() const;
    void set(Mode mode);
    // How many connections it broke at a COMMIT.
    [[nodiscard]] int cuts() const { return cuts_; }

private:
    void accept_loop();
    void pump(int client, int server);
    int connect_to_database() const;

    int listener_ = -1;
    unsigned short port_ = 0;
    std::atomic<Mode> mode_{Mode::pass};
    std::atomic<bool> silenced_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<int> cuts_{0};
    std::mutex mutex_;
    std::vector<std::thread> threads_;
    std::thread acceptor_;
};

// Between a client and a server on 127.0.0.1: forwards requests, and of the first `drops`
// connections whose request begins with `prefix` ("POST /v1/..."), forwards the request but never
// the answer, and holds the connection open, as a network that lost the answer.
class AnswerDropper {
public:
    AnswerDropper(unsigned short serverPort, std::string prefix, int drops);
    ~AnswerDropper();
    AnswerDropper(const AnswerDropper&) = delete;
    AnswerDropper& operator=(const AnswerDropper&) = delete;

    [[nodiscard]] unsigned short port() const { return port_; }
    // How many requests began with the prefix.
    [[nodiscard]] int matched() const { return matched_; }

private:
    void accept_loop();
    void pump(int client, int server);

    unsigned short serverPort_;
    std::string prefix_;
    std::atomic<int> drops_;
    std::atomic<int> matched_{0};
    int listener_ = -1;
    unsigned short port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::vector<std::thread> threads_;
    std::thread acceptor_;
};

} // namespace vyr::cld::test
