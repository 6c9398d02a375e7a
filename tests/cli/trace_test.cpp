// vyr-cld --trace: the real program appends one JSON line per service call of each run.
#include "system.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>

namespace {

using vyr::cld::test::TempFolder;

int run(const TempFolder& temp, const std::string& arguments)
{
    const std::string command =
        "cd '" + temp.path().string() + "' && '" VYR_CLD_PROGRAM "' " + arguments + " >/dev/null 2>&1";
    return WEXITSTATUS(std::system(command.c_str()));
}

TEST(CommandLineTrace, EveryServiceCallOfEachRunIsOneJsonLine)
{
    TempFolder temp;
    ASSERT_EQ(run(temp, "init anna --store store --user anna"), 0);
    ASSERT_EQ(run(temp, "--trace calls.jsonl -C anna lock plan.txt"), 1);
    ASSERT_EQ(run(temp, "--trace calls.jsonl -C anna project create Bridge --number P-1"), 0);

    std::istringstream trace(vyr::cld::test::read_file(temp.path() / "calls.jsonl"));
    bool refused = false;
    bool created = false;
    int lines = 0;
    for (std::string line; std::getline(trace, line); ++lines) {
        const auto call = nlohmann::json::parse(line);
        ASSERT_TRUE(call.contains("time") && call.contains("thread") && call.contains("duration_ns")) << line;
        if (call["op"] == "LockFile") {
            refused =
                call["args"]["file"] == (temp.path() / "anna" / "plan.txt").string() && call["responsecode"] == 412;
        }
        created = created || (call["op"] == "CreateProject" && call["result"]["Name"] == "Bridge" &&
                              call["args"]["projectNumber"] == "P-1");
    }
    EXPECT_TRUE(refused);
    EXPECT_TRUE(created);
    EXPECT_GE(lines, 4) << "each run installs the service with its ignore filter before the command";

    EXPECT_EQ(run(temp, "--trace missing/calls.jsonl -C anna lock plan.txt"), 3)
        << "a trace that cannot be written fails the run";
}

} // namespace
