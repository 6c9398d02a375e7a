#include <VyrCldapi/TracingCld_Integration.h>

#include "TraceJson.h"

#include <array>
#include <atomic>
#include <chrono>
#include <exception>
#include <fstream>
#include <mutex>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <utility>

namespace VyrCldapi {
namespace {

using trace::Key;
using trace::Put;

// An argument's name in the trace. An argument the operation writes through (a non-const
// reference) is traced after the call; one it also reads is traced before as well.
struct Name {
    constexpr Name(const char* name) noexcept : text(name) {}
    const char* text;
    bool inout = false;
};

constexpr Name InOut(const char* name) noexcept
{
    Name in_and_out(name);
    in_and_out.inout = true;
    return in_and_out;
}

template <class Method> struct Signature;

template <class R, class... P> struct Signature<R (ICld_Integration::*)(P...)> {
    using Result = R;
    using Params = std::tuple<P...>;
    static constexpr std::size_t arity = sizeof...(P);
};

// One name per argument of the operation, no more and no fewer: Name has no default.
template <auto Method> using Names = std::array<Name, Signature<decltype(Method)>::arity>;

template <class P>
constexpr bool is_output = std::is_lvalue_reference_v<P> && !std::is_const_v<std::remove_reference_t<P>>;
// The operations write a response code through their only int reference, texts through String ones.
template <class P> constexpr bool is_responsecode = is_output<P>&& std::is_same_v<std::remove_cvref_t<P>, int>;
template <class P> constexpr bool is_text_output = is_output<P> && !is_responsecode<P>;

const char* KindName(ExceptionKind kind) noexcept
{
    switch (kind) {
    case ExceptionKind::ArgumentNull:
        return "ArgumentNull";
    case ExceptionKind::ArgumentOutOfRange:
        return "ArgumentOutOfRange";
    case ExceptionKind::Argument:
        return "Argument";
    case ExceptionKind::OutOfMemory:
        return "OutOfMemory";
    case ExceptionKind::NullReference:
        return "NullReference";
    case ExceptionKind::InvalidOperation:
        return "InvalidOperation";
    }
    return "unknown";
}

// The calling thread as the C++ library prints its id, worked out once per thread.
const std::string& ThreadName()
{
    thread_local const std::string name = [] {
        std::ostringstream text;
        text << std::this_thread::get_id();
        return text.str();
    }();
    return name;
}

// Appends `value` as exactly `width` decimal digits.
void PutDigits(std::string& out, long long value, int width)
{
    char digits[8];
    for (int i = width - 1; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out.append(digits, static_cast<std::size_t>(width));
}

// ISO 8601 in UTC, to the microsecond; written by hand, as formatting it is much of a line's cost.
void PutTime(std::string& out, std::chrono::system_clock::time_point at)
{
    using namespace std::chrono;
    const auto micros = floor<microseconds>(at);
    const auto day = floor<days>(micros);
    const year_month_day date(day);
    const hh_mm_ss time(micros - day);
    out += '"';
    PutDigits(out, static_cast<int>(date.year()), 4);
    out += '-';
    PutDigits(out, static_cast<unsigned>(date.month()), 2);
    out += '-';
    PutDigits(out, static_cast<unsigned>(date.day()), 2);
    out += 'T';
    PutDigits(out, time.hours().count(), 2);
    out += ':';
    PutDigits(out, time.minutes().count(), 2);
    out += ':';
    PutDigits(out, time.seconds().count(), 2);
    out += '.';
    PutDigits(out, time.subseconds().count(), 6);
    out += "Z\"";
}

// The failure being handled, as the trace's "failure" member. Called from a handler only.
void PutFailure(std::string& out)
{
    Key(out, "failure");
    try {
        throw;
    }
    catch (const Exception& failure) {
        trace::Object(out, "kind", std::string_view(KindName(failure.Kind())), "message",
                      std::string_view(failure.what()));
    }
    catch (const std::bad_alloc& failure) {
        trace::Object(out, "kind", std::string_view("bad_alloc"), "message", std::string_view(failure.what()));
    }
    catch (const std::exception& failure) {
        trace::Object(out, "kind", std::string_view("exception"), "message", std::string_view(failure.what()));
    }
    catch (...) {
        trace::Object(out, "kind", std::string_view("unknown"));
    }
}

void PutDuration(std::string& out, std::chrono::steady_clock::duration elapsed)
{
    Key(out, "duration_ns");
    Put(out, static_cast<std::int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()));
    out += '}';
}

template <class Params, class Tuple, std::size_t... I>
void PutArguments(std::string& out, const auto& names, const Tuple& args, std::index_sequence<I...>)
{
    Key(out, "args");
    out += '{';
    (
        [&] {
            using P = std::tuple_element_t<I, Params>;
            if (!is_output<P> || names[I].inout) {
                Key(out, names[I].text);
                Put(out, std::get<I>(args));
            }
        }(),
        ...);
    out += '}';
}

template <class Params, class Tuple, std::size_t... I>
void PutOutputs(std::string& out, const auto& names, const Tuple& args, std::index_sequence<I...>)
{
    if constexpr ((is_text_output<std::tuple_element_t<I, Params>> || ...)) {
        Key(out, "out");
        out += '{';
        (
            [&] {
                if constexpr (is_text_output<std::tuple_element_t<I, Params>>) {
                    Key(out, names[I].text);
                    Put(out, std::get<I>(args));
                }
            }(),
            ...);
        out += '}';
    }
    (
        [&] {
            if constexpr (is_responsecode<std::tuple_element_t<I, Params>>) {
                Key(out, names[I].text);
                Put(out, std::get<I>(args));
            }
        }(),
        ...);
}

} // namespace

struct TracingCld_Integration::State {
    std::shared_ptr<ICld_Integration> service;
    TraceSink sink;
    std::mutex mutex;
    std::atomic<std::uint64_t> dropped{0};

    // Passes the call on and traces it. The line is begun before the call, so that what an
    // argument held on the way in is what is traced, and ended after it; any failure of the
    // tracing itself only drops the line.
    template <auto Method, class... Args>
    typename Signature<decltype(Method)>::Result Call(std::string_view op, const Names<Method>& names, Args&&... args)
    {
        using Params = typename Signature<decltype(Method)>::Params;
        using Result = typename Signature<decltype(Method)>::Result;
        constexpr auto indices = std::make_index_sequence<sizeof...(Args)>();
        const auto arguments = std::forward_as_tuple(args...);

        std::string line;
        bool tracing = true;
        try {
            line.reserve(256);
            line += '{';
            Key(line, "time");
            PutTime(line, std::chrono::system_clock::now());
            Key(line, "thread");
            trace::PutText(line, std::string_view(ThreadName()));
            Key(line, "op");
            trace::PutText(line, op);
            PutArguments<Params>(line, names, arguments, indices);
        }
        catch (...) {
            tracing = false;
        }

        const auto start = std::chrono::steady_clock::now();
        const auto invoke = [&]() -> Result {
            try {
                return (service.get()->*Method)(std::forward<Args>(args)...);
            }
            catch (...) {
                const auto elapsed = std::chrono::steady_clock::now() - start;
                if (!tracing) {
                    dropped.fetch_add(1, std::memory_order_relaxed);
                }
                else {
                    try {
                        PutFailure(line);
                        PutDuration(line, elapsed);
                        Emit(line);
                    }
                    catch (...) {
                        dropped.fetch_add(1, std::memory_order_relaxed);
                    }
                }
                throw;
            }
        };
        // Ends the line after a call that returned, with its answer where there is one.
        const auto finish = [&](const auto&... result) noexcept {
            const auto elapsed = std::chrono::steady_clock::now() - start;
            if (!tracing) {
                dropped.fetch_add(1, std::memory_order_relaxed);
                return;
            }
            try {
                ((Key(line, "result"), Put(line, result)), ...);
                PutOutputs<Params>(line, names, arguments, indices);
                PutDuration(line, elapsed);
                Emit(line);
            }
            catch (...) {
                dropped.fetch_add(1, std::memory_order_relaxed);
            }
        };

        if constexpr (std::is_void_v<Result>) {
            invoke();
            finish();
        }
        else {
            Result result = invoke();
            finish(result);
            return result;
        }
    }

    // Hands a finished line to the sink, one at a time.
    void Emit(const std::string& line)
    {
        try {
            const std::lock_guard lock(mutex);
            sink(line);
        }
        catch (...) {
            dropped.fetch_add(1, std::memory_order_relaxed);
        }
    }
};

TraceSink TraceFile(const std::filesystem::path& path)
{
    auto file = std::make_shared<std::ofstream>(path, std::ios::binary | std::ios::app);
    if (!*file) {
        const std::u8string name = path.u8string();
        throw Exception(ExceptionKind::Argument,
                        "The trace file " + std::string(name.begin(), name.end()) + " cannot be opened for appending.");
    }
    return [file](std::string_view line) {
        file->write(line.data(), static_cast<std::streamsize>(line.size()));
        file->put('\n');
        file->flush();
        if (!*file) {
            file->clear();
            throw Exception(ExceptionKind::InvalidOperation, "The trace file cannot be written.");
        }
    };
}

TracingCld_Integration::TracingCld_Integration(std::shared_ptr<ICld_Integration> service, TraceSink sink)
    : state_(std::make_unique<State>())
{
    if (!service || !sink) {
        throw Exception(ExceptionKind::ArgumentNull,
                        service ? "The trace sink is null." : "The traced service is null.");
    }
    state_->service = std::move(service);
    state_->sink = std::move(sink);
}

TracingCld_Integration::~TracingCld_Integration() = default;

const std::shared_ptr<ICld_Integration>& TracingCld_Integration::Service() const noexcept
{
    return state_->service;
}

std::uint64_t TracingCld_Integration::DroppedLines() const noexcept
{
    return state_->dropped.load(std::memory_order_relaxed);
}

void TracingCld_Integration::SetProjectAndPartition(const String& projectId, const String& projectpath,
                                                    const String& partitionId, const String& partitionpath,
                                                    const String& userDirPath, const String& importpath)
{
    state_->Call<&ICld_Integration::SetProjectAndPartition>(
        "SetProjectAndPartition",
        {"projectId", "projectpath", "partitionId", "partitionpath", "userDirPath", "importpath"}, projectId,
        projectpath, partitionId, partitionpath, userDirPath, importpath);
}

void TracingCld_Integration::SetOnlyProjectAndPartition(const String& projectId, const String& projectpath,
                                                        const String& partitionId, const String& partitionpath)
{
    state_->Call<&ICld_Integration::SetOnlyProjectAndPartition>(
        "SetOnlyProjectAndPartition", {"projectId", "projectpath", "partitionId", "partitionpath"}, projectId,
        projectpath, partitionId, partitionpath);
}

void TracingCld_Integration::SetUserDirectory(const String& tagId, const String& path)
{
    state_->Call<&ICld_Integration::SetUserDirectory>("SetUserDirectory", {"tagId", "path"}, tagId, path);
}

void TracingCld_Integration::SetTenantUniqueId(const String& tenantUniqueId)
{
    state_->Call<&ICld_Integration::SetTenantUniqueId>("SetTenantUniqueId", {"tenantUniqueId"}, tenantUniqueId);
}

void TracingCld_Integration::SetCurrentAppLanguage(const String& language)
{
    state_->Call<&ICld_Integration::SetCurrentAppLanguage>("SetCurrentAppLanguage", {"language"}, language);
}

void TracingCld_Integration::SetStartedInFieldMode(bool fieldMode)
{
    state_->Call<&ICld_Integration::SetStartedInFieldMode>("SetStartedInFieldMode", {"fieldMode"}, fieldMode);
}

void TracingCld_Integration::CloseProject()
{
    state_->Call<&ICld_Integration::CloseProject>("CloseProject", {});
}

void TracingCld_Integration::Logout()
{
    state_->Call<&ICld_Integration::Logout>("Logout", {});
}

void TracingCld_Integration::StartSyncDir()
{
    state_->Call<&ICld_Integration::StartSyncDir>("StartSyncDir", {});
}

void TracingCld_Integration::StopSyncDir()
{
    state_->Call<&ICld_Integration::StopSyncDir>("StopSyncDir", {});
}

void TracingCld_Integration::StartProjectsAndPartitionsTask()
{
    state_->Call<&ICld_Integration::StartProjectsAndPartitionsTask>("StartProjectsAndPartitionsTask", {});
}

void TracingCld_Integration::AbortProjectsAndPartitionsTask()
{
    state_->Call<&ICld_Integration::AbortProjectsAndPartitionsTask>("AbortProjectsAndPartitionsTask", {});
}

std::int32_t TracingCld_Integration::WaitForAllTasks(TimeSpan sleepTime, int& responsecode)
{
    return state_->Call<&ICld_Integration::WaitForAllTasks>("WaitForAllTasks", {"sleepTime", "responsecode"}, sleepTime,
                                                            responsecode);
}

void TracingCld_Integration::SetDownloadFilters(const List<String>& projectFileFilter,
                                                const List<String>& userDirFilter, const List<String>& importFileFilter)
{
    state_->Call<&ICld_Integration::SetDownloadFilters>("SetDownloadFilters",
                                                        {"projectFileFilter", "userDirFilter", "importFileFilter"},
                                                        projectFileFilter, userDirFilter, importFileFilter);
}

void TracingCld_Integration::SetFileIgnoreFilter(const List<String>& wildCardFilter)
{
    state_->Call<&ICld_Integration::SetFileIgnoreFilter>("SetFileIgnoreFilter", {"wildCardFilter"}, wildCardFilter);
}

void TracingCld_Integration::SetDirectoryIgnoreFilter(const List<String>& wildCardFilter)
{
    state_->Call<&ICld_Integration::SetDirectoryIgnoreFilter>("SetDirectoryIgnoreFilter", {"wildCardFilter"},
                                                              wildCardFilter);
}

bool TracingCld_Integration::GetProjectFiles(const List<String>& wildCardFilter, const List<String>& fileNameList)
{
    return state_->Call<&ICld_Integration::GetProjectFiles>("GetProjectFiles", {"wildCardFilter", "fileNameList"},
                                                            wildCardFilter, fileNameList);
}

bool TracingCld_Integration::GetUserDirectoryFiles(const List<String>& wildCardFilter, const List<String>& fileNameList)
{
    return state_->Call<&ICld_Integration::GetUserDirectoryFiles>(
        "GetUserDirectoryFiles", {"wildCardFilter", "fileNameList"}, wildCardFilter, fileNameList);
}

void TracingCld_Integration::LockFile(const String& file, int& responsecode)
{
    state_->Call<&ICld_Integration::LockFile>("LockFile", {"file", "responsecode"}, file, responsecode);
}

void TracingCld_Integration::UnlockFile(const String& file, bool uploadchanges, int& responsecode)
{
    state_->Call<&ICld_Integration::UnlockFile>("UnlockFile", {"file", "uploadchanges", "responsecode"}, file,
                                                uploadchanges, responsecode);
}

void TracingCld_Integration::UnlockFileForced(const String& file, int& responsecode)
{
    state_->Call<&ICld_Integration::UnlockFileForced>("UnlockFileForced", {"file", "responsecode"}, file, responsecode);
}

void TracingCld_Integration::UnlockAllFilesLockedByMe(int& responsecode)
{
    state_->Call<&ICld_Integration::UnlockAllFilesLockedByMe>("UnlockAllFilesLockedByMe", {"responsecode"},
                                                              responsecode);
}

void TracingCld_Integration::UploadFile(const String& file, int& responsecode)
{
    state_->Call<&ICld_Integration::UploadFile>("UploadFile", {"file", "responsecode"}, file, responsecode);
}

void TracingCld_Integration::DownloadFile(const String& file, int& responsecode)
{
    state_->Call<&ICld_Integration::DownloadFile>("DownloadFile", {"file", "responsecode"}, file, responsecode);
}

void TracingCld_Integration::DeleteFile(const String& file, int& responsecode)
{
    state_->Call<&ICld_Integration::DeleteFile>("DeleteFile", {"file", "responsecode"}, file, responsecode);
}

void TracingCld_Integration::RenameFile(const String& originalFile, const String& renamedFile, int& responsecode)
{
    state_->Call<&ICld_Integration::RenameFile>("RenameFile", {"originalFile", "renamedFile", "responsecode"},
                                                originalFile, renamedFile, responsecode);
}

LockStatus TracingCld_Integration::GetLockStatus(const String& file, String& lockedby, String& lockedByDisplayName,
                                                 String& lockedByPrincipalName, String& lockTimeStamp)
{
    return state_->Call<&ICld_Integration::GetLockStatus>(
        "GetLockStatus", {"file", "lockedby", "lockedByDisplayName", "lockedByPrincipalName", "lockTimeStamp"}, file,
        lockedby, lockedByDisplayName, lockedByPrincipalName, lockTimeStamp);
}

List<String> TracingCld_Integration::LockFiles(const List<String>& filesToLock, int& responsecode)
{
    return state_->Call<&ICld_Integration::LockFiles>("LockFiles", {"filesToLock", "responsecode"}, filesToLock,
                                                      responsecode);
}

void TracingCld_Integration::UnlockFiles(const List<String>& filesToUnlock, bool uploadChanges, int& responsecode)
{
    state_->Call<&ICld_Integration::UnlockFiles>("UnlockFiles", {"filesToUnlock", "uploadChanges", "responsecode"},
                                                 filesToUnlock, uploadChanges, responsecode);
}

List<String> TracingCld_Integration::UploadNewFiles(const List<String>& files, int& responsecode)
{
    return state_->Call<&ICld_Integration::UploadNewFiles>("UploadNewFiles", {"files", "responsecode"}, files,
                                                           responsecode);
}

void TracingCld_Integration::TagFiles(const List<String>& filesToTag, const String& projectId,
                                      ApiModels::TagCategory category, const String& tagName, int& responsecode)
{
    state_->Call<&ICld_Integration::TagFiles>("TagFiles",
                                              {"filesToTag", "projectId", "category", "tagName", "responsecode"},
                                              filesToTag, projectId, category, tagName, responsecode);
}

String TracingCld_Integration::GetFileId(const String& fileName)
{
    return state_->Call<&ICld_Integration::GetFileId>("GetFileId", {"fileName"}, fileName);
}

Nullable<std::uint64_t> TracingCld_Integration::GetFileRevision(const String& fileName)
{
    return state_->Call<&ICld_Integration::GetFileRevision>("GetFileRevision", {"fileName"}, fileName);
}

bool TracingCld_Integration::FileExistsInProject(const String& fileName)
{
    return state_->Call<&ICld_Integration::FileExistsInProject>("FileExistsInProject", {"fileName"}, fileName);
}

void TracingCld_Integration::FindFileInWebApp(const String& fileName)
{
    state_->Call<&ICld_Integration::FindFileInWebApp>("FindFileInWebApp", {"fileName"}, fileName);
}

Ref<FileSyncStatus> TracingCld_Integration::GetFileSyncStatus()
{
    return state_->Call<&ICld_Integration::GetFileSyncStatus>("GetFileSyncStatus", {});
}

Ref<InfoForDownloadCopy> TracingCld_Integration::GetInfoForDownloadCopy(const String& projectId,
                                                                        const String& partitionId, int& responsecode)
{
    return state_->Call<&ICld_Integration::GetInfoForDownloadCopy>(
        "GetInfoForDownloadCopy", {"projectId", "partitionId", "responsecode"}, projectId, partitionId, responsecode);
}

List<String> TracingCld_Integration::CheckPathTooLongExceptions()
{
    return state_->Call<&ICld_Integration::CheckPathTooLongExceptions>("CheckPathTooLongExceptions", {});
}

List<String> TracingCld_Integration::CheckDownSyncFileExceptions()
{
    return state_->Call<&ICld_Integration::CheckDownSyncFileExceptions>("CheckDownSyncFileExceptions", {});
}

List<Ref<StatusEvent>> TracingCld_Integration::GetStatusEvents()
{
    return state_->Call<&ICld_Integration::GetStatusEvents>("GetStatusEvents", {});
}

List<Ref<Project>> TracingCld_Integration::GetProjectList(int& responsecode)
{
    return state_->Call<&ICld_Integration::GetProjectList>("GetProjectList", {"responsecode"}, responsecode);
}

Ref<Project> TracingCld_Integration::GetProjectInfo(const String& projectId, int& responsecode)
{
    return state_->Call<&ICld_Integration::GetProjectInfo>("GetProjectInfo", {"projectId", "responsecode"}, projectId,
                                                           responsecode);
}

Ref<Project> TracingCld_Integration::CreateProject(const String& projectName, const String& projectNumber,
                                                   int& responsecode)
{
    return state_->Call<&ICld_Integration::CreateProject>(
        "CreateProject", {"projectName", "projectNumber", "responsecode"}, projectName, projectNumber, responsecode);
}

List<Ref<Tenant>> TracingCld_Integration::GetTenants(int& responsecode)
{
    return state_->Call<&ICld_Integration::GetTenants>("GetTenants", {"responsecode"}, responsecode);
}

Ref<Tenant> TracingCld_Integration::GetTenantInfo(int& responsecode)
{
    return state_->Call<&ICld_Integration::GetTenantInfo>("GetTenantInfo", {"responsecode"}, responsecode);
}

Ref<ApiModels::ProjectMetadata> TracingCld_Integration::GetProjectMetadata(int& responsecode)
{
    return state_->Call<&ICld_Integration::GetProjectMetadata>("GetProjectMetadata", {"responsecode"}, responsecode);
}

Ref<ApiModels::PartitionTag> TracingCld_Integration::GetPartitionInfo(const String& projectId,
                                                                      const String& partitionId, int& responsecode)
{
    return state_->Call<&ICld_Integration::GetPartitionInfo>(
        "GetPartitionInfo", {"projectId", "partitionId", "responsecode"}, projectId, partitionId, responsecode);
}

List<Ref<ApiModels::PartitionTag>> TracingCld_Integration::GetProjectPartitionTags(const String& projectId,
                                                                                   int& responsecode)
{
    return state_->Call<&ICld_Integration::GetProjectPartitionTags>(
        "GetProjectPartitionTags", {"projectId", "responsecode"}, projectId, responsecode);
}

Ref<ApiModels::PartitionTag> TracingCld_Integration::CreateProjectPartitionTag(const String& projectId,
                                                                               const String& name, int versionMajor,
                                                                               int& responsecode)
{
    return state_->Call<&ICld_Integration::CreateProjectPartitionTag>(
        "CreateProjectPartitionTag", {"projectId", "name", "versionMajor", "responsecode"}, projectId, name,
        versionMajor, responsecode);
}

List<Ref<ApiModels::PartitionTagsInProject>>
TracingCld_Integration::GetAllAccessibleProjectPartitions(int& responsecode)
{
    return state_->Call<&ICld_Integration::GetAllAccessibleProjectPartitions>("GetAllAccessibleProjectPartitions",
                                                                              {"responsecode"}, responsecode);
}

void TracingCld_Integration::SetPartitionVersion(const String& projectId, const String& partitionId, int versionMajor,
                                                 int& responsecode)
{
    state_->Call<&ICld_Integration::SetPartitionVersion>("SetPartitionVersion",
                                                         {"projectId", "partitionId", "versionMajor", "responsecode"},
                                                         projectId, partitionId, versionMajor, responsecode);
}

List<Ref<ApiModels::Tag>> TracingCld_Integration::GetUserDirectoryTags(int& responsecode)
{
    return state_->Call<&ICld_Integration::GetUserDirectoryTags>("GetUserDirectoryTags", {"responsecode"},
                                                                 responsecode);
}

Ref<ApiModels::Tag> TracingCld_Integration::GetUserDirectoryTagInfo(int versionMajor, int& responsecode)
{
    return state_->Call<&ICld_Integration::GetUserDirectoryTagInfo>(
        "GetUserDirectoryTagInfo", {"versionMajor", "responsecode"}, versionMajor, responsecode);
}

Ref<ApiModels::Tag> TracingCld_Integration::CreateUserDirectoryTag(int versionMajor, int& responsecode)
{
    return state_->Call<&ICld_Integration::CreateUserDirectoryTag>(
        "CreateUserDirectoryTag", {"versionMajor", "responsecode"}, versionMajor, responsecode);
}

Ref<ApiModels::NvdbContract> TracingCld_Integration::GetNvdbProject(int& responsecode)
{
    return state_->Call<&ICld_Integration::GetNvdbProject>("GetNvdbProject", {"responsecode"}, responsecode);
}

Ref<ApiModels::NvdbContracts> TracingCld_Integration::GetNvdbProjects(int& responsecode)
{
    return state_->Call<&ICld_Integration::GetNvdbProjects>("GetNvdbProjects", {"responsecode"}, responsecode);
}

String TracingCld_Integration::NotifyOnlineViewer2dModelUpdate(const List<String>& files, int epsgId,
                                                               const String& description, const String& logicalId,
                                                               int& responsecode)
{
    return state_->Call<&ICld_Integration::NotifyOnlineViewer2dModelUpdate>(
        "NotifyOnlineViewer2dModelUpdate", {"files", "epsgId", "description", "logicalId", "responsecode"}, files,
        epsgId, description, logicalId, responsecode);
}

ApiModels::WorkflowStatus TracingCld_Integration::Get2dModelUpdateStatus(const String& updateId, int& responsecode)
{
    return state_->Call<&ICld_Integration::Get2dModelUpdateStatus>(
        "Get2dModelUpdateStatus", {"updateId", "responsecode"}, updateId, responsecode);
}

void TracingCld_Integration::NotifyOnlineViewer3dModelUpdate(const List<String>& files, int epsgId,
                                                             const String& description, const String& logicalId,
                                                             double offsetX, double offsetY, int& responsecode)
{
    state_->Call<&ICld_Integration::NotifyOnlineViewer3dModelUpdate>(
        "NotifyOnlineViewer3dModelUpdate",
        {"files", "epsgId", "description", "logicalId", "offsetX", "offsetY", "responsecode"}, files, epsgId,
        description, logicalId, offsetX, offsetY, responsecode);
}

void TracingCld_Integration::SetCallbacks(ProgressAction progressAction)
{
    state_->Call<&ICld_Integration::SetCallbacks>("SetCallbacks", {"progressAction"}, std::move(progressAction));
}

Ref<UI::FileBrowserUI> TracingCld_Integration::StartFileBrowserUi(Ref<UI::IFileBrowserUICallback> callback)
{
    return state_->Call<&ICld_Integration::StartFileBrowserUi>("StartFileBrowserUi", {"callback"}, std::move(callback));
}

void TracingCld_Integration::StopFileBrowserUi()
{
    state_->Call<&ICld_Integration::StopFileBrowserUi>("StopFileBrowserUi", {});
}

bool TracingCld_Integration::ShowImportFilesDialog(ApiModels::TagCategory category, const String& header)
{
    return state_->Call<&ICld_Integration::ShowImportFilesDialog>("ShowImportFilesDialog", {"category", "header"},
                                                                  category, header);
}

bool TracingCld_Integration::ShowIncludeFolderDialog()
{
    return state_->Call<&ICld_Integration::ShowIncludeFolderDialog>("ShowIncludeFolderDialog", {});
}

void TracingCld_Integration::AddIncludeFoldersToProject(const List<String>& includeFolders)
{
    state_->Call<&ICld_Integration::AddIncludeFoldersToProject>("AddIncludeFoldersToProject", {"includeFolders"},
                                                                includeFolders);
}

bool TracingCld_Integration::AreIncludeFoldersInModel(const List<String>& includeFolders)
{
    return state_->Call<&ICld_Integration::AreIncludeFoldersInModel>("AreIncludeFoldersInModel", {"includeFolders"},
                                                                     includeFolders);
}

List<Ref<FileToImport>> TracingCld_Integration::ShowFilesOverviewDialog(const List<String>& filesInCurrentModel,
                                                                        const List<String>& resultApplayers,
                                                                        String& importToThisLayer)
{
    return state_->Call<&ICld_Integration::ShowFilesOverviewDialog>(
        "ShowFilesOverviewDialog", {"filesInCurrentModel", "resultApplayers", InOut("importToThisLayer")},
        filesInCurrentModel, resultApplayers, importToThisLayer);
}
} // namespace VyrCldapi
