// The cost of the call trace: the same bridge call with the service untraced (the baseline), and
// traced into a sink that drops each line or into a file. The difference is the tracer's cost
// per call; a line's size grows with the answer, so a long project list is measured too.
#include <VyrCldapi/PartialCld_Integration.h>
#include <VyrCldapi/TracingCld_Integration.h>

#include <vyr/cld/files.h>
#include <vyr/cld/projects.h>

#include "projects.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

namespace {

class Answers final : public VyrCldapi::PartialCld_Integration {
public:
    explicit Answers(int count) : projects_(vyr::cld::bench::numbered_projects(count)) {}
    void LockFile(const VyrCldapi::String&, int& responsecode) override { responsecode = 0; }
    VyrCldapi::List<VyrCldapi::Ref<VyrCldapi::Project>> GetProjectList(int& responsecode) override
    {
        responsecode = 0;
        return projects_;
    }

private:
    VyrCldapi::List<VyrCldapi::Ref<VyrCldapi::Project>> projects_;
};

enum Sink : std::int64_t { untraced, dropped, file };

// Installs the service for one benchmark, traced as its first argument says.
class Installed {
public:
    Installed(const benchmark::State& state, int projects)
    {
        auto service = std::make_shared<Answers>(projects);
        switch (state.range(0)) {
        case dropped:
            VyrCldapi::Cld_Integration::Install(std::make_shared<VyrCldapi::TracingCld_Integration>(
                service, [](std::string_view line) { benchmark::DoNotOptimize(line.data()); }));
            break;
        case file:
            path_ = std::filesystem::temp_directory_path() / "vyr-cld-trace-bench.jsonl";
            std::filesystem::remove(path_);
            VyrCldapi::Cld_Integration::Install(
                std::make_shared<VyrCldapi::TracingCld_Integration>(service, VyrCldapi::TraceFile(path_)));
            break;
        default:
            VyrCldapi::Cld_Integration::Install(service);
        }
    }
    ~Installed()
    {
        VyrCldapi::Cld_Integration::Install(nullptr);
        if (!path_.empty()) {
            std::filesystem::remove(path_);
        }
    }

private:
    std::filesystem::path path_;
};

void BM_Trace_LockFile(benchmark::State& state)
{
    const Installed installed(state, 0);
    const std::string file = "site/plan.dwg";
    int responsecode = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(VyrCldapiIntegration::LockFile(file, responsecode));
    }
}

void BM_Trace_GetProjectList(benchmark::State& state)
{
    const Installed installed(state, static_cast<int>(state.range(1)));
    int responsecode = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(VyrCldapiIntegration::GetProjectList(responsecode));
    }
}

} // namespace

// First argument: 0 untraced (the baseline), 1 traced into a sink that drops the line, 2 traced
// into a file.
BENCHMARK(BM_Trace_LockFile)->ArgName("sink")->DenseRange(untraced, file);
BENCHMARK(BM_Trace_GetProjectList)->ArgNames({"sink", "projects"})->ArgsProduct({{untraced, dropped}, {100}});
