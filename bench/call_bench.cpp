// The cost of the bridge around one service call: the same service operation called directly
// with ready service values (the baseline), and through the exported function.
#include <vyr/cld/files.h>

#include "demo_service.h"

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
