// The cost of the bridge around one service call: the same service operation called directly
// with ready service values (the baseline), and through the exported function. Against a service
// that does nothing, the floor is the same call with the conversions reduced to the work every
// call must do: one read of the host encoding for the arguments and one for the result, and each
// text copied into storage allocated once at its length.
#include <vyr/cld/files.h>
#include <vyr/cld/projects.h>

#include "demo_service.h"
#include "projects.h"
#include "frame/marshal.h"

#include <VyrCldapi/PartialCld_Integration.h>

#include <benchmark/benchmark.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

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

using vyr::cld::bench::numbered_projects;
using vyr::cld::bench::ProjectList;

// The demo service with a long project list, for the cost of converting records.
class ManyProjects final : public demo::DemoService {
public:
    explicit ManyProjects(int count) : projects_(numbered_projects(count)) {}

    ProjectList GetProjectList(int& responsecode) override
    {
        responsecode = 0;
        return projects_;
    }

private:
    ProjectList projects_;
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

namespace {

// Answers at once: locks nothing, and returns the same ready list of projects every time.
class DoesNothing final : public VyrCldapi::PartialCld_Integration {
public:
    explicit DoesNothing(std::int64_t projects) : projects_(numbered_projects(projects)) {}

    void LockFile(const VyrCldapi::String&, int& responsecode) override { responsecode = 0; }

    ProjectList GetProjectList(int& responsecode) override
    {
        responsecode = 0;
        return projects_;
    }

private:
    ProjectList projects_;
};

class InstalledNothing {
public:
    explicit InstalledNothing(std::int64_t projects = 0)
    {
        VyrCldapi::Cld_Integration::Install(std::make_shared<DoesNothing>(projects));
    }
    ~InstalledNothing() { VyrCldapi::Cld_Integration::Install(nullptr); }
    InstalledNothing(const InstalledNothing&) = delete;
    InstalledNothing& operator=(const InstalledNothing&) = delete;
};

// A 38-byte ASCII path, too long for a string's own buffer.
const std::string lock_path = "projects/Ringroad/drawings/plan-12.dwg";

// The bare copies: exactly one allocation at the text's length, written once.
VyrCldapi::String bare_widened(const std::string& text)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    return VyrCldapi::String(std::u16string(bytes, bytes + text.size()));
}

std::string bare_narrowed(const VyrCldapi::String& text)
{
    const auto units = text.View();
    return std::string(units.begin(), units.end());
}

void BM_Floor_LockFile(benchmark::State& state)
{
    const InstalledNothing installed;
    int responsecode = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(vyr::cld::bridge::read_host_encoding());
        VyrCldapi::Cld_Integration::LockFile(bare_widened(lock_path), responsecode);
        benchmark::DoNotOptimize(responsecode);
    }
}

void BM_Bridge_LockFileOnNothing(benchmark::State& state)
{
    const InstalledNothing installed;
    int responsecode = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(VyrCldapiIntegration::LockFile(lock_path, responsecode));
    }
}

void BM_Floor_GetProjectList(benchmark::State& state)
{
    const InstalledNothing installed(state.range(0));
    int responsecode = 0;
    for (auto _ : state) {
        const auto answer = VyrCldapi::Cld_Integration::GetProjectList(responsecode);
        benchmark::DoNotOptimize(vyr::cld::bridge::read_host_encoding());
        std::optional<std::vector<vyr::cld::Project>> projects(std::in_place);
        projects->reserve(answer.Count());
        for (const auto& project : answer) {
            projects->push_back(vyr::cld::Project{.name = bare_narrowed(project->Name),
                                                  .projectNumber = bare_narrowed(project->ProjectNumber),
                                                  .id = bare_narrowed(project->Id)});
        }
        benchmark::DoNotOptimize(projects);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_Bridge_GetProjectListOnNothing(benchmark::State& state)
{
    const InstalledNothing installed(state.range(0));
    int responsecode = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(VyrCldapiIntegration::GetProjectList(responsecode));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

} // namespace

BENCHMARK(BM_Floor_LockFile);
BENCHMARK(BM_Bridge_LockFileOnNothing);
BENCHMARK(BM_Floor_GetProjectList)->Arg(1000)->Arg(100000);
BENCHMARK(BM_Bridge_GetProjectListOnNothing)->Arg(1000)->Arg(100000);
