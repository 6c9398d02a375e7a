// Keeps team test worlds for a test program that cannot keep them itself: a Windows program under
// Wine can neither reach PostgreSQL's client library nor start Linux programs. Runs on Linux in
// the PostgreSQL cluster of its environment, listens on 127.0.0.1 (its first line of output:
// "listening on 127.0.0.1:PORT"), and answers one line per line asked:
//
//   world                        -> ok N URL     a database, its tenant, a server on 127.0.0.1
//   user N NAME                  -> ok TOKEN     NAME known as NAME-id, with a fresh token
//   grant N NAME PROJECT         -> ok           NAME an admin of the project
//   contract N PROJECT ID NAME…  -> ok           a road database contract of the project
//   restart N                    -> ok URL       the server killed and started on the same port
//   drop N                       -> ok           the world's server and database gone
//
// and "error TEXT" for anything it cannot do. A connection's worlds go when it closes; every
// server goes when the keeper ends (SIGTERM, SIGINT, or killed: its servers die with it).
// A test tool on loopback: lines are bounded, names checked, nothing from a line reaches SQL or
// a command line unchecked.
#include "../local/team_store.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using vyr::cld::test::TeamStore;

constexpr std::size_t longest_line = 4096;

int stop_pipe[2] = {-1, -1};

void on_signal(int)
{
    const char byte = 1;
    static_cast<void>(::write(stop_pipe[1], &byte, 1));
}

// Names a database, a user or an id may take here: letters, digits, '-' and '_'.
bool plain(const std::string& word)
{
    return !word.empty() && word.size() <= 64 && std::all_of(word.begin(), word.end(), [](unsigned char c) {
        return std::isalnum(c) != 0 || c == '-' || c == '_';
    });
}

struct Client {
    int fd = -1;
    std::string pending;
    std::map<int, std::unique_ptr<TeamStore>> worlds;
};

class Keeper {
public:
    explicit Keeper(std::string serverProgram) : program_(std::move(serverProgram)) {}

    std::string answer(Client& client, const std::string& line)
    {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "world") {
            const int id = next_++;
            auto store = std::make_unique<TeamStore>(
                program_, "keeper_" + std::to_string(::getpid()) + "_" + std::to_string(id));
            const auto url = store->url();
            client.worlds.emplace(id, std::move(store));
            return "ok " + std::to_string(id) + " " + url;
        }
        static const std::set<std::string> known{"user", "grant", "contract", "restart", "drop"};
        if (!known.contains(command)) {
            return "error not understood";
        }
        int id = -1;
        words >> id;
        const auto found = client.worlds.find(id);
        if (found == client.worlds.end()) {
            return "error no such world";
        }
        auto& store = *found->second;
        std::string first, second;
        if (command == "user" && words >> first && plain(first)) {
            return "ok " + store.add_user(first);
        }
        if (command == "grant" && words >> first >> second && plain(first) && plain(second)) {
            store.grant_admin(first, second);
            return "ok";
        }
        if (command == "contract" && words >> first >> second && plain(first) && plain(second)) {
            std::string name;
            std::getline(words >> std::ws, name);
            store.add_road_contract(first, second, name);
            return "ok";
        }
        if (command == "restart") {
            store.restart_server();
            return "ok " + store.url();
        }
        if (command == "drop") {
            client.worlds.erase(found);
            return "ok";
        }
        return "error not understood";
    }

    // Reads what arrived and answers every whole line; false when the client is done with.
    bool serve(Client& client)
    {
        char buffer[4096];
        const auto got = ::read(client.fd, buffer, sizeof buffer);
        if (got <= 0) {
            return false;
        }
        client.pending.append(buffer, static_cast<std::size_t>(got));
        for (auto end = client.pending.find('\n'); end != std::string::npos; end = client.pending.find('\n')) {
            auto line = client.pending.substr(0, end);
            client.pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            std::string reply;
            try {
                reply = answer(client, line);
            } catch (const std::exception& e) {
                reply = std::string("error ") + e.what();
            }
            std::replace(reply.begin(), reply.end(), '\n', ' ');
            reply += '\n';
            for (std::string_view rest = reply; !rest.empty();) {
                const auto sent = ::send(client.fd, rest.data(), rest.size(), MSG_NOSIGNAL);
                if (sent <= 0) {
                    return false;
                }
                rest.remove_prefix(static_cast<std::size_t>(sent));
            }
        }
        return client.pending.size() <= longest_line;
    }

private:
    std::string program_;
    int next_ = 1;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: team_keeper SERVER-PROGRAM\n";
        return 2;
    }
    if (::pipe(stop_pipe) != 0) {
        return 1;
    }
    std::signal(SIGTERM, on_signal);
    std::signal(SIGINT, on_signal);
    std::signal(SIGPIPE, SIG_IGN);

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 8) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("team_keeper");
        return 1;
    }
    std::cout << "listening on 127.0.0.1:" << ntohs(address.sin_port) << std::endl;

    Keeper keeper(argv[1]);
    std::vector<std::unique_ptr<Client>> clients;
    for (;;) {
        std::vector<pollfd> waiting{{stop_pipe[0], POLLIN, 0}, {listener, POLLIN, 0}};
        for (const auto& client : clients) {
            waiting.push_back({client->fd, POLLIN, 0});
        }
        if (::poll(waiting.data(), waiting.size(), -1) < 0) {
            continue; // a signal: its byte is in the pipe
        }
        if (waiting[0].revents != 0) {
            break;
        }
        if ((waiting[1].revents & POLLIN) != 0) {
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                clients.push_back(std::make_unique<Client>());
                clients.back()->fd = fd;
            }
        }
        for (std::size_t i = 2; i < waiting.size(); ++i) {
            auto& client = *clients[i - 2];
            if (waiting[i].revents != 0 && !keeper.serve(client)) {
                ::close(client.fd);
                client.fd = -1; // its worlds go below
            }
        }
        std::erase_if(clients, [](const auto& client) { return client->fd < 0; });
    }
    // The worlds' destructors stop their servers and drop their databases.
    clients.clear();
    return 0;
}
