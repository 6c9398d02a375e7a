// Every exported entry point, swept mechanically: each kind of service failure before and after
// the service wrote the error code, each defective answer, and every allocation of the call
// failed in turn. The promises checked each time: nothing escapes, the result is the entry's
// failure value (or its valid result), the error code is the host's or the service's, and a
// later normal call still works. Leaks are left to LeakSanitizer.
#include "support/allocation_faults.h"
#include "support/census.h"
#include "support/locales.h"
#include "sweep/entry_points.h"

#include <vyr/cld/ui.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <string>

namespace sweep {

namespace allocation = vyr::cld::test::allocation;
namespace {

constexpr int host_code = -1;
constexpr int service_code = 55;
constexpr int failing_service_code = 77;

struct Figures {
    std::size_t entries = 0;
    std::size_t cases = 0;
    std::size_t escapes = 0;
    ~Figures()
    {
        std::printf("sweep: %zu entries, %zu cases, %zu allocations failed, %zu escapes\n", entries, cases,
                    allocation::failed_total(), escapes);
    }
};
Figures figures;

struct NotAnException {
    int code;
};

// Each kind of failure a service operation can raise.
const std::vector<std::function<void()>> raisers{
    [] { throw Exception(ExceptionKind::ArgumentNull, "Value cannot be null."); },
    [] { throw Exception(ExceptionKind::ArgumentOutOfRange, "out of range"); },
    [] { throw Exception(ExceptionKind::Argument, "invalid"); },
    [] { throw Exception(ExceptionKind::OutOfMemory, ""); },
    [] { throw Exception(ExceptionKind::NullReference, "null reference"); },
    [] { throw Exception(ExceptionKind::InvalidOperation, "invalid operation"); },
    [] { throw std::bad_alloc(); },
    [] { throw NotAnException{1}; },
};

// Installs the scripted service for the length of each test.
template <class Base> class WithScriptedService : public Base {
protected:
    void SetUp() override
    {
        installed_service = service_.get();
        Cld_Integration::Install(service_);
    }
    void TearDown() override
    {
        Cld_Integration::Install(nullptr);
        installed_service = nullptr;
    }

    std::shared_ptr<ScriptedService> service_ = std::make_shared<ScriptedService>();
};

class Sweep : public WithScriptedService<::testing::TestWithParam<const EntryPoint*>> {
protected:
    const EntryPoint& entry() const { return *GetParam(); }

    // Runs the entry point once against `script`, failing the `fail_allocation`-th allocation of
    // the call if asked; contains and counts anything that escapes.
    Outcome run(Script script, int& responsecode, std::size_t fail_allocation = 0,
                const std::function<Outcome(int&)>& call = nullptr)
    {
        ++figures.cases;
        service_->script = std::move(script);
        service_->called = {};
        service_->calls = 0;
        Outcome outcome = Outcome::Wrong;
        allocation::arm(fail_allocation);
        try {
            outcome = call ? call(responsecode) : entry().call(responsecode);
        }
        catch (...) {
            allocation::disarm();
            ++figures.escapes;
            ADD_FAILURE() << entry().name << ": a failure escaped";
        }
        reached_ = allocation::disarm();
        return outcome;
    }

    Script valid(std::function<void(int*)> effect) const
    {
        auto script = entry().valid;
        script.effect = std::move(effect);
        return script;
    }

    static void write_service_code(int* responsecode)
    {
        if (responsecode) {
            *responsecode = service_code;
        }
    }

    void fail_each_allocation_in_turn();

    bool reached_ = false;
};

bool is_void(Outcome outcome)
{
    return outcome == Outcome::Void;
}

TEST_P(Sweep, ValidCallCallsItsOperationOnceAndPassesTheCodeThrough)
{
    int responsecode = host_code;
    const auto outcome = run(valid(write_service_code), responsecode);
    EXPECT_TRUE(outcome == Outcome::Success || is_void(outcome)) << entry().name;
    EXPECT_EQ(service_->called, entry().operation) << entry().name;
    EXPECT_EQ(service_->calls, entry().operation.empty() ? 0 : 1) << entry().name;
    EXPECT_EQ(responsecode, entry().responsecode ? service_code : host_code) << entry().name;
}

TEST_P(Sweep, EveryServiceFailureIsContained)
{
    const auto unfailed = run(valid(nullptr), *std::make_unique<int>(host_code));
    // Without a service operation there is nothing to fail: the valid result must stand.
    const auto expected = entry().operation.empty() ? unfailed
                          : is_void(unfailed)       ? Outcome::Void
                                                    : Outcome::FailureValue;
    for (const auto& raise : raisers) {
        for (const bool after_writing : {false, true}) {
            int responsecode = host_code;
            const auto outcome = run(valid([&](int* rc) {
                                         if (after_writing && rc) {
                                             *rc = failing_service_code;
                                         }
                                         raise();
                                     }),
                                     responsecode);
            EXPECT_EQ(outcome, expected) << entry().name;
            const bool written = after_writing && entry().responsecode;
            EXPECT_EQ(responsecode, written ? failing_service_code : host_code) << entry().name;
        }
    }
}

TEST_P(Sweep, DefectiveAnswersGiveTheDefinedResult)
{
    for (const auto& bad : entry().bad_answers) {
        int responsecode = host_code;
        EXPECT_EQ(run(bad.script, responsecode, 0, bad.call), bad.expected) << entry().name << ": " << bad.what;
    }
}

TEST_P(Sweep, EveryAllocationFailureIsContained)
{
    // Under a single-byte locale the text conversions open an ICU converter, whose allocations
    // the sweep fails too.
    for (const char* locale : {"C.UTF-8", vyr::cld::test::single_byte_locale}) {
        const vyr::cld::test::ThreadLocale thread_locale(locale);
        fail_each_allocation_in_turn();
    }
}

void Sweep::fail_each_allocation_in_turn()
{
    std::size_t nth = 1;
    for (;; ++nth) {
        int responsecode = host_code;
        const auto outcome = run(valid(write_service_code), responsecode, nth);
        if (!reached_) {
            // The call needed fewer allocations: it ran to completion.
            EXPECT_TRUE(outcome == Outcome::Success || is_void(outcome)) << entry().name;
            break;
        }
        // A failed allocation gives the failure value, or none at all where the code that met it
        // recovered on its own (ICU does for some of its caches).
        EXPECT_NE(outcome, Outcome::Wrong) << entry().name << ": allocation " << nth;
        EXPECT_TRUE(responsecode == host_code || responsecode == service_code) << entry().name;
        ASSERT_LT(nth, 10000u) << entry().name << ": allocations never end";
    }
    // A normal call after all that still works.
    int responsecode = host_code;
    const auto outcome = run(valid(write_service_code), responsecode);
    EXPECT_TRUE(outcome == Outcome::Success || is_void(outcome)) << entry().name;
}

std::vector<const EntryPoint*> entries()
{
    std::vector<const EntryPoint*> pointers;
    for (const auto& entry : all_entry_points()) {
        pointers.push_back(&entry);
    }
    figures.entries = pointers.size();
    return pointers;
}

INSTANTIATE_TEST_SUITE_P(EntryPoints, Sweep, ::testing::ValuesIn(entries()), [](const auto& param) {
    auto name = std::string(param.param->name);
    const auto last = name.rfind("::");
    name = name.substr(last == std::string::npos ? 0 : last + 2);
    for (auto& c : name) {
        c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
});

// The table covers exactly what the library exports, so no entry point escapes the sweep.
TEST(SweepTable, ListsEveryExportedEntryPointOnce)
{
    // Read from the built library by the build, so that no tool has to run beside the test.
    const std::set<std::string> exported{
#include "exported_names.inc"
    };
    ASSERT_FALSE(exported.empty());
    std::set<std::string> listed;
    for (const auto& entry : all_entry_points()) {
        EXPECT_TRUE(listed.insert(std::string(entry.name)).second) << entry.name << " is listed twice";
    }
    EXPECT_EQ(listed, exported);
}

// The callbacks, swept from the service's side: every failure of an invocation, bad values,
// the host's own exceptions and each allocation failed in turn, goes back to the service's call,
// and the host's objects are destroyed exactly once.
class CallbackSweep : public WithScriptedService<::testing::Test> {
protected:
    // Invokes `callback` as the service would: whatever it raises is the service's to see.
    template <class Callback> bool went_back_to_the_service(Callback&& callback, std::size_t fail_allocation = 0)
    {
        ++figures.cases;
        allocation::arm(fail_allocation);
        bool raised = false;
        try {
            const allocation::Armed armed;
            callback();
        }
        catch (...) {
            raised = true;
        }
        reached_ = allocation::disarm();
        return raised;
    }

    // Fails each allocation of `callback` in turn: each failure must go back to the service,
    // unless the code that met it recovered on its own (ICU does for some of its caches).
    template <class Callback> void sweep_allocations(const char* what, Callback&& callback)
    {
        for (std::size_t nth = 1;; ++nth) {
            const bool raised = went_back_to_the_service(callback, nth);
            if (!reached_) {
                EXPECT_FALSE(raised) << what;
                break;
            }
            ASSERT_LT(nth, 10000u) << what;
        }
    }

    bool reached_ = false;
};

TEST_F(CallbackSweep, ProgressNotifications)
{
    vyr::cld::test::Census census;
    int calls = 0;
    bool host_throws = false;
    VyrCldapiIntegration::SetCallbacks([&calls, &host_throws, counted = vyr::cld::test::Counted(census)](
                                           cld::ProgressEventType, double, const std::string&) {
        ++calls;
        if (host_throws) {
            throw std::runtime_error("host");
        }
    });
    auto progress = service_->progress;
    ASSERT_TRUE(progress);
    const String title(u"Downloading site/plan-with-a-long-name.dwg");

    EXPECT_FALSE(went_back_to_the_service([&] { progress(ProgressEventType::Upload, 0.5, title); }));
    EXPECT_TRUE(went_back_to_the_service([&] { progress(ProgressEventType::Upload, 0.5, String()); }));
    EXPECT_TRUE(went_back_to_the_service([&] { progress(ProgressEventType::Indeterminate, 0.5, title); }));
    host_throws = true;
    EXPECT_TRUE(went_back_to_the_service([&] { progress(ProgressEventType::Download, 1.0, title); }));
    host_throws = false;
    EXPECT_EQ(calls, 2);
    for (const char* locale : {"C.UTF-8", vyr::cld::test::single_byte_locale}) {
        const vyr::cld::test::ThreadLocale thread_locale(locale);
        sweep_allocations("progress", [&] { progress(ProgressEventType::Upload, 0.5, title); });
    }

    // The service lets go of the callback: the host's function goes exactly once.
    EXPECT_EQ(census.live(), 1);
    progress = {};
    service_->progress = {};
    EXPECT_EQ(census.live(), 0);
    EXPECT_EQ(census.destroyed, census.created);
}

class CountingHost final : public cld::IFileBrowserUICallback {
public:
    explicit CountingHost(int& deletions) : deletions_(deletions) {}
    ~CountingHost() override { ++deletions_; }

    HWND getHwnd() override { return reinterpret_cast<HWND>(0x42); }
    void showLockInfoPanelNearUi(const std::string&) override { maybe_throw(); }
    bool promptSave(const std::string&) override { return maybe_throw(); }
    std::vector<std::string> collectRelatedFiles(const std::string& fileName) override
    {
        maybe_throw();
        return {fileName + ".bak", fileName + ".lock-information"};
    }
    bool isFileOperationsAllowed(const std::string&) override { return maybe_throw(); }
    bool isUsingContractPosts() override { return maybe_throw(); }

    bool throws = false;

private:
    bool maybe_throw() const
    {
        if (throws) {
            throw std::runtime_error("host");
        }
        return true;
    }
    int& deletions_;
};

TEST_F(CallbackSweep, PaneQuestions)
{
    int deletions = 0;
    auto owned = std::make_unique<CountingHost>(deletions);
    auto& host = *owned;
    service_->script = answering(Ref<UI::FileBrowserUI>(std::make_shared<ScriptedPane>()));
    const auto pane = VyrCldapiIntegration::StartFileBrowserUi(std::move(owned));
    ASSERT_TRUE(pane);
    const auto adapter = service_->paneCallback;
    ASSERT_TRUE(adapter);

    const String name(u"site/plan-with-a-long-name.dwg");
    const std::vector<std::pair<const char*, std::function<void(const String&)>>> questions{
        {"HWND", [&](const String&) { (void)adapter->get_HWND(); }},
        {"ShowLockInfoPanelNearUi", [&](const String& file) { adapter->ShowLockInfoPanelNearUi(file); }},
        {"PromptSave", [&](const String& file) { (void)adapter->PromptSave(file); }},
        {"CollectRelatedFiles", [&](const String& file) { (void)adapter->CollectRelatedFiles(file); }},
        {"IsFileOperationsAllowed", [&](const String& file) { (void)adapter->IsFileOperationsAllowed(file); }},
        {"IsUsingContractPosts", [&](const String&) { (void)adapter->IsUsingContractPosts(); }},
    };
    for (const auto& question : questions) {
        // Named, not bound: lambdas may not capture structured bindings before C++20's fix.
        const char* what = question.first;
        const auto& ask = question.second;
        const bool takes_a_name = std::string_view(what) != "HWND" && std::string_view(what) != "IsUsingContractPosts";
        EXPECT_FALSE(went_back_to_the_service([&] { ask(name); })) << what;
        EXPECT_EQ(went_back_to_the_service([&] { ask(String()); }), takes_a_name) << what << ": null name";
        host.throws = true;
        EXPECT_EQ(went_back_to_the_service([&] { ask(name); }), std::string_view(what) != "HWND") << what;
        host.throws = false;
        for (const char* locale : {"C.UTF-8", vyr::cld::test::single_byte_locale}) {
            const vyr::cld::test::ThreadLocale thread_locale(locale);
            sweep_allocations(what, [&] { ask(name); });
        }
    }

    // Released explicitly, then again, then dropped: the host's object goes exactly once.
    EXPECT_EQ(deletions, 0);
    adapter->Dispose();
    EXPECT_EQ(deletions, 1);
    adapter->Dispose();
    service_->paneCallback = nullptr;
    EXPECT_EQ(deletions, 1);
}

} // namespace
} // namespace sweep
