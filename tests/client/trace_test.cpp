// The call trace: one JSON line per operation, passed through the bridge with answers and
// failures alike, and never a change to what the caller gets.
#include <VyrCldapi/PartialCld_Integration.h>
#include <VyrCldapi/TracingCld_Integration.h>

#include "operations.h"

#include <vyr/cld/integration.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <new>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vyr::cld::test {
namespace {

namespace api = VyrCldapiIntegration;
using namespace VyrCldapi;

// Answers some operations, raises in others, and serves nothing else.
class Desk final : public PartialCld_Integration {
public:
    void LockFile(const String& file, int& responsecode) override { responsecode = file == u"held.dwg" ? 409 : 0; }
    VyrCldapi::LockStatus GetLockStatus(const String&, String& lockedby, String& lockedByDisplayName,
                             String& lockedByPrincipalName, String& lockTimeStamp) override
    {
        lockedby = u"anna";
        lockedByDisplayName = u"Anna \"A\" Berg";
        lockedByPrincipalName = u"anna@example.org";
        lockTimeStamp = nullptr;
        return VyrCldapi::LockStatus::LockedByOther;
    }
    void RenameFile(const String&, const String&, int&) override
    {
        throw Exception(ExceptionKind::Argument, "The name b\\c is not allowed.");
    }
    void UploadFile(const String&, int&) override { throw std::bad_alloc(); }
    List<Ref<VyrProAdmModule::ApiModels::Project>> GetProjectList(int& responsecode) override
    {
        auto project = std::make_shared<VyrProAdmModule::ApiModels::Project>();
        project->Id = u"p1";
        project->Name = u"Br\u00fccke\tNord";
        project->ProjectNumber = u"P-1";
        responsecode = 200;
        return {project};
    }
    Nullable<std::uint64_t> GetFileRevision(const String&) override { return std::nullopt; }
};

// The line with what changes from run to run replaced: the start time, the thread and the duration.
std::string Masked(const std::string& line)
{
    static const std::regex time(R"("time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z")");
    static const std::regex duration(R"("duration_ns":\d+\}$)");
    std::ostringstream thread;
    thread << std::this_thread::get_id();
    std::string masked = std::regex_replace(line, time, R"("time":"T")");
    masked = std::regex_replace(masked, duration, R"("duration_ns":D})");
    const std::string this_thread = "\"thread\":\"" + thread.str() + "\"";
    if (const auto at = masked.find(this_thread); at != std::string::npos) {
        masked.replace(at, this_thread.size(), "\"thread\":\"N\"");
    }
    return masked;
}

class Traced {
public:
    explicit Traced(std::shared_ptr<ICld_Integration> service, TraceSink sink = {})
        : tracer_(std::make_shared<TracingCld_Integration>(
              std::move(service),
              sink ? std::move(sink) : [this](std::string_view line) { lines_.emplace_back(line); }))
    {
        Cld_Integration::Install(tracer_);
    }
    ~Traced() { Cld_Integration::Install(nullptr); }

    TracingCld_Integration& tracer() { return *tracer_; }
    std::vector<std::string> take()
    {
        std::vector<std::string> masked;
        for (const auto& line : lines_) {
            masked.push_back(Masked(line));
        }
        lines_.clear();
        return masked;
    }

private:
    std::vector<std::string> lines_;
    std::shared_ptr<TracingCld_Integration> tracer_;
};

struct BridgeCase {
    std::function<bool()> call; // what the host sees, checked to be what it would see untraced
    const char* line;
};

TEST(Trace, TheBridgeAnswersAsUntracedAndEachCallLeavesOneLine)
{
    int rc = -1;
    std::string by, name, principal, since;
    const BridgeCase cases[] = {
        {[&] { return api::LockFile("plan.dwg", rc) && rc == 0; },
         R"({"time":"T","thread":"N","op":"LockFile","args":{"file":"plan.dwg"},"responsecode":0,"duration_ns":D})"},
        {[&] { return api::LockFile("held.dwg", rc) && rc == 409; },
         R"({"time":"T","thread":"N","op":"LockFile","args":{"file":"held.dwg"},"responsecode":409,"duration_ns":D})"},
        {[&] {
             return api::GetLockStatus("held.dwg", by, name, principal, since) == vyr::cld::LockStatus::LockedByOther &&
                    name == "Anna \"A\" Berg" && since.empty();
         },
         R"({"time":"T","thread":"N","op":"GetLockStatus","args":{"file":"held.dwg"},"result":"LockedByOther",)"
         R"("out":{"lockedby":"anna","lockedByDisplayName":"Anna \"A\" Berg","lockedByPrincipalName":)"
         R"("anna@example.org","lockTimeStamp":null},"duration_ns":D})"},
        {[&] { return !api::RenameFile("a.dwg", "b\\c", rc) && rc == 409; },
         R"({"time":"T","thread":"N","op":"RenameFile","args":{"originalFile":"a.dwg","renamedFile":"b\\c"},)"
         R"("failure":{"kind":"Argument","message":"The name b\\c is not allowed."},"duration_ns":D})"},
        {[&] { return !api::UploadFile("big.dwg", rc); },
         R"({"time":"T","thread":"N","op":"UploadFile","args":{"file":"big.dwg"},)"
         R"("failure":{"kind":"bad_alloc","message":"std::bad_alloc"},"duration_ns":D})"},
        {[&] {
             const auto projects = api::GetProjectList(rc);
             return projects && projects->size() == 1 && (*projects)[0].name == "Br\u00fccke\tNord" && rc == 200;
         },
         R"({"time":"T","thread":"N","op":"GetProjectList","args":{},)"
         R"("result":[{"Id":"p1","Name":"Br)"
         "\u00fc"
         R"(cke\tNord","ProjectNumber":"P-1"}],"responsecode":200,"duration_ns":D})"},
        {[&] { return !api::GetFileRevision("plan.dwg"); },
         R"({"time":"T","thread":"N","op":"GetFileRevision","args":{"fileName":"plan.dwg"},"result":null,"duration_ns":D})"},
        {[&] { return !api::FileExistsInProject("plan.dwg"); },
         R"({"time":"T","thread":"N","op":"FileExistsInProject","args":{"fileName":"plan.dwg"},"failure":)"
         R"({"kind":"InvalidOperation","message":"The operation FileExistsInProject is not supported."},"duration_ns":D})"},
    };

    Traced traced(std::make_shared<Desk>());
    for (const BridgeCase& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_TRUE(c.call());
        const auto lines = traced.take();
        ASSERT_EQ(lines.size(), 1U);
        EXPECT_EQ(lines[0], c.line);
    }
    EXPECT_EQ(traced.tracer().DroppedLines(), 0U);
}

TEST(Trace, EveryOperationIsPassedOnAndTracedUnderItsOwnName)
{
    std::vector<std::string> lines;
    TracingCld_Integration tracer(std::make_shared<PartialCld_Integration>(),
                                  [&](std::string_view line) { lines.emplace_back(line); });
    for (const Operation& operation : every_operation()) {
        SCOPED_TRACE(operation.name);
        const std::string message = PartialCld_Integration::UnsupportedMessage(operation.name);
        try {
            operation.call(tracer);
            ADD_FAILURE() << "returned normally";
        }
        catch (const Exception& failure) {
            EXPECT_EQ(failure.what(), message);
        }
        ASSERT_FALSE(lines.empty());
        EXPECT_NE(lines.back().find("\"op\":\"" + std::string(operation.name) + "\",\"args\":{"), std::string::npos)
            << lines.back();
        EXPECT_NE(lines.back().find(R"("failure":{"kind":"InvalidOperation","message":")" + message + "\"}"),
                  std::string::npos)
            << lines.back();
    }
    EXPECT_EQ(lines.size(), every_operation().size());
}

// A service that raises whatever it is given.
class Raising final : public PartialCld_Integration {
public:
    explicit Raising(std::function<void()> raise) : raise_(std::move(raise)) {}
    void LockFile(const String&, int&) override { raise_(); }

private:
    std::function<void()> raise_;
};

struct Refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

TEST(Trace, AFailureReachesTheCallerUnchangedWhateverItIs)
{
    std::vector<std::string> lines;
    const auto traced = [&](std::function<void()> raise) {
        return TracingCld_Integration(std::make_shared<Raising>(std::move(raise)),
                                      [&](std::string_view line) { lines.emplace_back(line); });
    };
    int rc = 0;
    const Refusal refusal("no \"lock\" today");

    auto by_kind = traced([] { throw Exception(ExceptionKind::NullReference, "gone"); });
    EXPECT_THROW(
        try { by_kind.LockFile(u"a", rc); } catch (const Exception& failure) {
            EXPECT_EQ(failure.Kind(), ExceptionKind::NullReference);
            throw;
        },
        Exception);
    auto by_type = traced([&] { throw refusal; });
    EXPECT_THROW(by_type.LockFile(u"a", rc), Refusal);
    auto anything = traced([] { throw 42; });
    EXPECT_THROW(anything.LockFile(u"a", rc), int);

    ASSERT_EQ(lines.size(), 3U);
    EXPECT_NE(lines[0].find(R"("failure":{"kind":"NullReference","message":"gone"})"), std::string::npos);
    EXPECT_NE(lines[1].find(R"("failure":{"kind":"exception","message":"no \"lock\" today"})"), std::string::npos);
    EXPECT_NE(lines[2].find(R"("failure":{"kind":"unknown"})"), std::string::npos);
}

TEST(Trace, ASinkThatRaisesChangesNoAnswerAndItsLinesAreCounted)
{
    Traced traced(std::make_shared<Desk>(), [](std::string_view) { throw std::runtime_error("disk full"); });
    int rc = -1;
    EXPECT_TRUE(api::LockFile("held.dwg", rc));
    EXPECT_EQ(rc, 409);
    EXPECT_FALSE(api::RenameFile("a.dwg", "b.dwg", rc));
    EXPECT_THROW(traced.tracer().RenameFile(u"a.dwg", u"b.dwg", rc), Exception);
    EXPECT_EQ(traced.tracer().DroppedLines(), 3U);
}

TEST(Trace, TextsAreUtf8WithJsonEscapesAndALoneSurrogateIsReplaced)
{
    std::vector<std::string> lines;
    TracingCld_Integration tracer(std::make_shared<Desk>(), [&](std::string_view line) { lines.emplace_back(line); });
    const std::u16string text =
        u"q\"b\\s/\n\r\t\b\f\x01\x1f\u00e9\u20ac\U0001F600" + std::u16string(1, u'\xD800') + u"x";
    int rc = 0;
    tracer.LockFile(String(text), rc);
    tracer.LockFile(String(), rc);
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_NE(lines[0].find(R"("args":{"file":"q\"b\\s/\n\r\t\b\f\u0001\u001f)"
                            "\u00e9\u20ac\U0001F600\uFFFDx\"}"),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find(R"("args":{"file":null})"), std::string::npos) << lines[1];
}

TEST(Trace, EachThreadIsNamedAsTheLibraryPrintsItsId)
{
    std::vector<std::string> lines;
    TracingCld_Integration tracer(std::make_shared<Desk>(), [&](std::string_view line) { lines.emplace_back(line); });
    std::ostringstream ids[2];
    int rc = 0;
    tracer.LockFile(u"a", rc);
    ids[0] << std::this_thread::get_id();
    std::thread other([&] {
        tracer.LockFile(u"a", rc);
        ids[1] << std::this_thread::get_id();
    });
    other.join();
    ASSERT_EQ(lines.size(), 2U);
    ASSERT_NE(ids[0].str(), ids[1].str());
    for (int i = 0; i < 2; ++i) {
        EXPECT_NE(lines[i].find("\"thread\":\"" + ids[i].str() + "\""), std::string::npos) << lines[i];
    }
}

TEST(Trace, TheFileSinkAppendsOneLineEachAndAFileThatCannotBeOpenedIsRefused)
{
    const auto path = std::filesystem::temp_directory_path() / "vyr-cld-trace-test.jsonl";
    std::ofstream(path, std::ios::binary) << "earlier\n";
    {
        TracingCld_Integration tracer(std::make_shared<Desk>(), TraceFile(path));
        int rc = 0;
        tracer.LockFile(u"a", rc);
        tracer.LockFile(u"held.dwg", rc);
    }
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    file.close();
    std::filesystem::remove(path);
    ASSERT_EQ(lines.size(), 3U);
    EXPECT_EQ(lines[0], "earlier");
    EXPECT_NE(lines[2].find("\"responsecode\":409"), std::string::npos) << lines[2];

    try {
        (void)TraceFile(std::filesystem::temp_directory_path() / "no such folder" / "trace.jsonl");
        ADD_FAILURE() << "opened a file in a missing folder";
    }
    catch (const Exception& failure) {
        EXPECT_EQ(failure.Kind(), ExceptionKind::Argument);
    }
    EXPECT_THROW(TracingCld_Integration(nullptr, [](std::string_view) {}), Exception);
    EXPECT_THROW(TracingCld_Integration(std::make_shared<Desk>(), nullptr), Exception);
}

} // namespace
} // namespace vyr::cld::test
