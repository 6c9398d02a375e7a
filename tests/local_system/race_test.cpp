// Several processes, each its own user on one store, race to lock the same file, round after
// round: exactly one wins each round, and every loser is told who won.
#include "system.h"

#include <vyr/cld/integration.h>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <iostream>
#include <map>

namespace {

namespace api = VyrCldapiIntegration;
using namespace vyr::cld::test;

constexpr std::size_t racers = 4;
constexpr int rounds = 40;

// One racer's answer for one round; small enough that a pipe write of it is atomic.
struct Answer {
    int racer = 0;
    int round = 0;
    int responsecode = 0;
    vyr::cld::LockStatus status{};
    std::array<char, 32> holder{};
};

std::string round_file(int round) { return "round-" + std::to_string(round) + ".txt"; }

void read_exactly(int fd, void* data, std::size_t size)
{
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t got = read(fd, bytes, size);
        if (got <= 0) {
            throw std::runtime_error("pipe closed");
        }
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
}

TEST(LockRace, ExactlyOneProcessWinsEachRoundAndTheOthersSeeTheWinner)
{
    TempFolder temp;
    const auto store = temp.path() / "store";
    std::vector<std::pair<std::string, std::string>> files;
    for (int round = 0; round < rounds; ++round) {
        files.emplace_back(round_file(round), "round " + std::to_string(round));
    }
    ASSERT_EQ(seed_project(store, "setup", "Race", temp.path() / "setup", files), "");

    int answers[2];
    ASSERT_EQ(pipe(answers), 0);
    std::array<std::array<int, 2>, racers> go{};
    std::vector<pid_t> children;
    for (std::size_t racer = 0; racer < racers; ++racer) {
        ASSERT_EQ(pipe(go[racer].data()), 0);
        children.push_back(start_child([&, racer] {
            close(answers[0]);
            const std::string user = "racer" + std::to_string(racer);
            Installed service(store, user);
            select_project("Race", temp.path() / user);
            for (int round = 0; round < rounds; ++round) {
                char signal = 0;
                read_exactly(go[racer][0], &signal, 1);
                Answer answer{.racer = static_cast<int>(racer), .round = round};
                api::LockFile(round_file(round), answer.responsecode);
                std::string id, display, principal, since;
                answer.status = api::GetLockStatus(round_file(round), id, display, principal, since);
                std::strncpy(answer.holder.data(), id.c_str(), answer.holder.size() - 1);
                if (write(answers[1], &answer, sizeof answer) != sizeof answer) {
                    throw std::runtime_error("answer lost");
                }
            }
        }));
        close(go[racer][0]);
    }
    close(answers[1]);

    std::map<std::string, int> wins;
    for (int round = 0; round < rounds; ++round) {
        // Release every racer at once; they have opened the store and wait only for this byte.
        // Who is released first changes each round, so that the order of release decides nothing.
        for (std::size_t i = 0; i < racers; ++i) {
            ASSERT_EQ(write(go[(static_cast<std::size_t>(round) + i) % racers][1], "g", 1), 1);
        }
        std::vector<Answer> round_answers(racers);
        for (Answer& answer : round_answers) {
            read_exactly(answers[0], &answer, sizeof answer);
            ASSERT_EQ(answer.round, round);
        }
        int winners = 0;
        std::string winner;
        for (const Answer& answer : round_answers) {
            if (answer.responsecode == 200) {
                ++winners;
                winner = "racer" + std::to_string(answer.racer);
                EXPECT_EQ(answer.status, vyr::cld::LockStatus::LockedByMe);
            }
        }
        ASSERT_EQ(winners, 1) << "round " << round;
        ++wins[winner];
        for (const Answer& answer : round_answers) {
            EXPECT_EQ(std::string(answer.holder.data()), winner) << "round " << round << " racer " << answer.racer;
            if (answer.responsecode != 200) {
                EXPECT_EQ(answer.responsecode, 409) << "round " << round;
                EXPECT_EQ(answer.status, vyr::cld::LockStatus::LockedByOther) << "round " << round;
            }
        }
    }
    for (const auto& racer : go) {
        close(racer[1]);
    }
    close(answers[0]);
    for (const pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::cout << "lock race: " << racers << " processes, " << rounds << " rounds, one winner in each; wins:";
    for (const auto& [user, count] : wins) {
        std::cout << ' ' << user << '=' << count;
    }
    std::cout << '\n';
}

} // namespace
