// The world on a team server for a Windows program under Wine, which can neither reach
// PostgreSQL's client library nor start Linux programs: a native keeper (team_keeper.cpp, at the
// address VYR_CLD_KEEPER names) makes the world's database, server, users and grants, and this
// program reaches the server through the Windows remote service.
#include "../local/world.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <mutex>
#include <sstream>
#include <stdexcept>

namespace vyr::cld::local::test {

const bool World::team = true;

namespace {

// One connection to the keeper for the whole program; the keeper drops what it kept for it when
// it closes, however the program ends.
class Keeper {
public:
    static Keeper& connection()
    {
        static Keeper keeper;
        return keeper;
    }

    // The keeper's answer after "ok"; a refusal raises.
    std::string ask(const std::string& line)
    {
        const std::lock_guard lock(mutex_);
        const auto request = line + "\n";
        if (send(socket_, request.data(), static_cast<int>(request.size()), 0) != static_cast<int>(request.size())) {
            throw std::runtime_error("the keeper is gone");
        }
        std::string::size_type end;
        while ((end = pending_.find('\n')) == std::string::npos) {
            char buffer[1024];
            const int got = recv(socket_, buffer, sizeof buffer, 0);
            if (got <= 0) {
                throw std::runtime_error("the keeper did not answer " + line);
            }
            pending_.append(buffer, static_cast<std::size_t>(got));
        }
        auto answer = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (answer.rfind("ok", 0) != 0) {
            throw std::runtime_error("the keeper refused " + line + ": " + answer);
        }
        return answer.size() > 3 ? answer.substr(3) : std::string();
    }

private:
    Keeper()
    {
        const char* address = std::getenv("VYR_CLD_KEEPER");
        const std::string text = address ? address : "";
        const auto colon = text.rfind(':');
        WSADATA data{};
        if (colon == std::string::npos || WSAStartup(MAKEWORD(2, 2), &data) != 0) {
            throw std::runtime_error("VYR_CLD_KEEPER names no keeper (tests/windows/with_keeper.sh)");
        }
        sockaddr_in keeper{};
        keeper.sin_family = AF_INET;
        keeper.sin_port = htons(static_cast<u_short>(std::stoi(text.substr(colon + 1))));
        inet_pton(AF_INET, text.substr(0, colon).c_str(), &keeper.sin_addr);
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        // Bounded: a world is made in a second or two, a server started again in a few.
        const DWORD limit = 120000;
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
        if (socket_ == INVALID_SOCKET ||
            connect(socket_, reinterpret_cast<const sockaddr*>(&keeper), sizeof keeper) != 0) {
            throw std::runtime_error("the keeper at " + text + " cannot be reached");
        }
    }
    ~Keeper() { closesocket(socket_); }

    std::mutex mutex_;
    SOCKET socket_ = INVALID_SOCKET;
    std::string pending_;
};

} // namespace

struct World::Team {
    std::string id;
    std::string url;
    std::map<std::string, std::string> tokens; // by user

    Team()
    {
        std::istringstream answer(Keeper::connection().ask("world"));
        answer >> id >> url;
    }
    ~Team()
    {
        try {
            Keeper::connection().ask("drop " + id);
        } catch (const std::exception&) {
            // The keeper drops it when this program's connection ends.
        }
    }
};

void World::open_store()
{
    team_ = std::make_shared<Team>();
}

void World::share_project()
{
    for (const auto& [user, token] : team_->tokens) {
        Keeper::connection().ask("grant " + team_->id + " " + user + " " + projectId);
    }
}

std::shared_ptr<VyrCldapi::ICld_Integration> World::open(const std::string& user, const DialogAnswers& dialogs)
{
    auto& token = team_->tokens[user];
    if (token.empty()) {
        token = Keeper::connection().ask("user " + team_->id + " " + user);
        if (!projectId.empty()) {
            Keeper::connection().ask("grant " + team_->id + " " + user + " " + projectId);
        }
    }
    return open_remote(team_->url, token, dialogs);
}

void World::add_road_contract(const std::string& id, const std::string& name)
{
    Keeper::connection().ask("contract " + team_->id + " " + projectId + " " + id + " " + name);
}

void World::restart_server()
{
    team_->url = Keeper::connection().ask("restart " + team_->id);
}

} // namespace vyr::cld::local::test
