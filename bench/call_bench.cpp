// The cost of the bridge around one service call: the same service operation called directly
// with ready service values (the baseline), and through the exported function.
#include <vyr/cld/files.h>
#include <vyr/cld/projects.h>

#include "demo_service.h"
#include "projects.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

namespace {

class Installed {
public:
    Installed() { VyrCldapi::Cld_Integration::Install(std::make_shared<demo::DemoService>()); }
    ~Installed() { VyrCldapi::Cld_Integration::Install(nullptr); }
};

void BM_Baseline_ServiceLockFile(benchmark::State& state)
{
    const Installed installed;
    const VyrCldapi::String file(u"site/plan.dwg");
    int responsecode = 0;
    for (auto _ : state) {
        VyrCldapi::Cld_Integration::LockFile(file, responsecode);
        benchmark::DoNotOptimize(responsecode);
    }
}

void BM_Bridge_LockFile(benchmark::State& state)
{
    const Installed installed;
    const std::string file = "site/plan.dwg";
    int responsecode = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(VyrCldapiIntegration::LockFile(file, responsecode));
    }
}

void BM_Bridge_LockFileWithoutService(benchmark::State& state)
{
    const std::string file = "site/plan.dwg";
    int responsecode = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(VyrCldapiIntegration::LockFile(file, responsecode));
    }
}

} // namespace

BENCHMARK(BM_Baseline_ServiceLockFile);
BENCHMARK(BM_Bridge_LockFile);
BENCHMARK(BM_Bridge_LockFileWithoutService);

namespace {

// The demo service with a long project list, for the cost of converting records.
class ManyProjects final : public demo::DemoService {
public:
    explicit ManyProjects(int count) : projects_(vyr::cld::bench::numbered_projects(count)) {}

    VyrCldapi::List<VyrCldapi::Ref<VyrCldapi::Project>> GetProjectList(int& responsecode) override
    {
        responsecode = 0;
        return projects_;
    }

private:
    VyrCldapi::List<VyrCldapi::Ref<VyrCldapi::Project>> projects_;
};

void BM_Baseline_ServiceGetProjectList(benchmark::State& state)
{
    VyrCldapi::Cld_Integration::Install(std::make_shared<ManyProjects>(static_cast<int>(state.range(0))));
    int responsecode = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(VyrCldapi::Cld_Integration::GetProjectList(responsecode));
    }
    VyrCldapi::Cld_Integration::Install(nullptr);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_Bridge_GetProjectList(benchmark::State& state)
{
    VyrCldapi::Cld_Integration::Install(std::make_shared<ManyProjects>(static_cast<int>(state.range(0))));
    int responsecode = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(VyrCldapiIntegration::GetProjectList(responsecode));
    }
    VyrCldapi::Cld_Integration::Install(nullptr);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

} // namespace

BENCHMARK(BM_Baseline_ServiceGetProjectList)->Arg(1)->Arg(1000);
BENCHMARK(BM_Bridge_GetProjectList)->Arg(1)->Arg(1000);
