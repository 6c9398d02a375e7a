#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Proxies on 127.0.0.1 that lose what a test needs lost.
namespace vyr::cld::test {

// A listener on 127.0.0.1 that pairs each connection it accepts with one to its upstream, and a
// thread per pair that moves the bytes as the proxy's own rule says.
class Proxy {
public:
    Proxy(const Proxy&) = delete;
    Proxy& operator=(const Proxy&) = delete;

    [[nodiscard]] unsigned short port() const { return port_; }

protected:
    Proxy();
    virtual ~Proxy() = default;
    // Derived proxies start once they are whole, and stop before they are no longer.
    void start();
    void stop();
    [[nodiscard]] bool stopping() const { return stopping_; }

    // A connection to the upstream; -1 refuses the client.
    virtual int connect_upstream() = 0;
    // Moves the bytes of one pair until either side ends or the proxy stops; closes both.
    virtual void pump(int client, int server) = 0;

private:
    void accept_loop();

    int listener_ = -1;
    unsigned short port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::vector<std::thread> threads_;
    std::thread acceptor_;
};

// Between a server process and the PostgreSQL of the environment: breaks a connection at the
// COMMIT of a write, so that a test sees what the server answers when it cannot have heard how its
// commit ended.
class CommitCutter final : public Proxy {
public:
    enum class Mode {
        pass,          // forwards everything
        after,         // forwards a COMMIT, then breaks the connection before its answer comes back
        instead,       // breaks the connection in place of forwarding a COMMIT
        afterSilenced, // as after, and closes every connection opened until the mode changes
    };

    CommitCutter();
    ~CommitCutter() override;

    // The libpq connection string that reaches the database through this proxy.
    [[nodiscard]] std::string conninfo() const;
    void set(Mode mode);
    // How many connections it broke at a COMMIT.
    [[nodiscard]] int cuts() const { return cuts_; }

private:
    int connect_upstream() override;
    void pump(int client, int server) override;

    std::atomic<Mode> mode_{Mode::pass};
    std::atomic<bool> silenced_{false};
    std::atomic<int> cuts_{0};
};

// Between a client and a server on 127.0.0.1: forwards requests, and of the first `drops`
// connections whose request begins with `prefix` ("POST /v1/..."), forwards the request but never
// the answer, and holds the connection open, as a network that lost the answer.
class AnswerDropper final : public Proxy {
public:
    AnswerDropper(unsigned short serverPort, std::string prefix, int drops);
    ~AnswerDropper() override;

    // How many requests began with the prefix.
    [[nodiscard]] int matched() const { return matched_; }

private:
    int connect_upstream() override;
    void pump(int client, int server) override;

    unsigned short serverPort_;
    std::string prefix_;
    std::atomic<int> drops_;
    std::atomic<int> matched_{0};
};

} // namespace vyr::cld::test
