// The team server against what a team would otherwise stand up to share and lock files: Apache
// httpd with its WebDAV module on a folder (event MPM, basic auth, a lock database), started by
// this program on loopback beside the team server on the database of the environment (PG*
// variables). Both are driven by libcurl from threads as clients, in interleaved rounds, and each
// figure is printed with its ratio from the same run:
//
//   lock+unlock pairs per second (LOCK/UNLOCK)        4 KiB new revision per second (PUT)
//   a large upload and download, MiB/s (PUT/GET)      the whole listing of a project (PROPFIND infinity)
//   one folder's listing (PROPFIND depth 1)
//
//   vyr-cld-webdav-bench [--quick] [--file-store] [--rounds R] [--seconds S] [--files N] [--transfer-mib M] [--pool N]
//                        [--content-dir DIR]   (contents as files there instead of in the database)
//
// The team upload is measured twice a round: with the client's window of chunks in flight, and
// with one chunk at a time, as uploads went before the window, for the ratio between them.
//
// --quick is a short run for CI (one round, fewer files, a smaller transfer); the figures of the
// full run are the ones to compare. --file-store gives the team server a content folder in the
// run's scratch folder (as --content-dir does with one of your choice).
#include "team_world.h"

#include <vyr/cld/domain/blobs.h>
#include <vyr/cld/domain/postgres.h>
#include <vyr/cld/protocol/protocol.h>

#include <curl/curl.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace vyr::cld;
using namespace vyr::cld::bench;
using namespace std::chrono_literals;

struct Options {
    int rounds = 5;
    double seconds = 3.0;
    int files = 10000;         // in folders of `perFolder`
    int perFolder = 100;
    std::int64_t transferMib = 256;
    int pool = 8;
    int listings = 5;          // listings per round, of which the median counts
    bool fileStore = false;    // the team server keeps contents in a folder, not in PostgreSQL
    std::string contentDir;    // empty: the chunk table
};

const std::vector<int> clientCounts{1, 8, 32};
constexpr std::int64_t revisionBytes = 4096;

// ---- Apache httpd with mod_dav, in a folder of its own. ----

const char* const apacheProgram = "/usr/sbin/apache2";
const char* const apacheModules = "/usr/lib/apache2/modules";

// The process group of the running httpd, for the handlers that stop it however this program ends.
std::atomic<pid_t> apacheGroup{0};

void kill_apache_now()
{
    if (const pid_t group = apacheGroup.exchange(0); group > 0) {
        kill(-group, SIGKILL);
    }
}

extern "C" void on_fatal_signal(int signal)
{
    kill_apache_now();
    std::signal(signal, SIG_DFL);
    raise(signal);
}

unsigned short free_port()
{
    const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        fail("no free loopback port");
    }
    close(probe);
    return ntohs(address.sin_port);
}

struct Apache {
    fs::path root;
    fs::path htdocs;
    unsigned short port = 0;
    std::string user = "bench", password;
    pid_t pid = -1;

    Apache(const fs::path& scratch, const std::string& secret)
        : root(scratch / "apache"), htdocs(root / "htdocs"), port(free_port()), password(secret)
    {
        if (access(apacheProgram, X_OK) != 0) {
            fail(std::string(apacheProgram) + " is missing: scripts/install-deps --bench installs apache2");
        }
        fs::create_directories(htdocs / "project");
        fs::create_directories(root / "lock");
        write_config();
        // htpasswd's SHA-1 form: checked per request as cheaply as the team server hashes a token.
        const auto made = test::run({"/usr/bin/htpasswd", "-bcs", (root / "passwords").string(), user, password});
        if (made.status != 0) {
            fail("htpasswd failed");
        }
        const auto check = test::run({apacheProgram, "-t", "-f", (root / "httpd.conf").string()});
        if (check.status != 0) {
            fail("httpd refuses its configuration: see " + (root / "error.log").string());
        }
    }

    void write_config() const
    {
        std::ofstream conf(root / "httpd.conf");
        const auto module = [&](const char* name, const char* file) {
            conf << "LoadModule " << name << ' ' << apacheModules << '/' << file << '\n';
        };
        conf << "ServerRoot \"" << root.string() << "\"\n"
             << "PidFile \"" << (root / "httpd.pid").string() << "\"\n"
             << "Listen 127.0.0.1:" << port << "\nServerName 127.0.0.1\n";
        module("mpm_event_module", "mod_mpm_event.so");
        module("authn_core_module", "mod_authn_core.so");
        module("authn_file_module", "mod_authn_file.so");
        module("authz_core_module", "mod_authz_core.so");
        module("authz_user_module", "mod_authz_user.so");
        module("auth_basic_module", "mod_auth_basic.so");
        module("dav_module", "mod_dav.so");
        module("dav_fs_module", "mod_dav_fs.so");
        if (geteuid() == 0) {
            // Started as root, httpd serves as another user, which must own what it writes.
            conf << "User www-data\nGroup www-data\n";
        }
        // As many threads as the most clients, with room: no request waits for a worker.
        conf << "StartServers 2\nServerLimit 4\nThreadsPerChild 32\nMaxRequestWorkers 128\n"
                "MinSpareThreads 64\nMaxSpareThreads 128\nThreadLimit 64\n"
                "KeepAlive On\nMaxKeepAliveRequests 0\nKeepAliveTimeout 60\nTimeout 600\n"
                "LimitRequestBody 0\nLimitXMLRequestBody 0\n"
             << "ErrorLog \"" << (root / "error.log").string() << "\"\nLogLevel warn\n"
             // A line per request, as the team server logs.
             << "LogFormat \"%h %u \\\"%r\\\" %>s %B %D\" timed\n"
             << "CustomLog \"" << (root / "access.log").string() << "\" timed\n"
             << "DavLockDB \"" << (root / "lock" / "DavLock").string() << "\"\n"
             << "DocumentRoot \"" << htdocs.string() << "\"\n"
             << "<Directory \"" << htdocs.string() << "\">\n"
             << "    Dav On\n    DavDepthInfinity On\n    AuthType Basic\n    AuthName \"bench\"\n"
             << "    AuthBasicProvider file\n    AuthUserFile \"" << (root / "passwords").string() << "\"\n"
             << "    Require valid-user\n</Directory>\n";
    }

    void start()
    {
        if (geteuid() == 0) {
            const passwd* account = getpwnam("www-data");
            if (!account) {
                fail("no user www-data for httpd to serve as");
            }
            for (const auto& path : {htdocs, htdocs / "project", root / "lock"}) {
                if (chown(path.c_str(), account->pw_uid, account->pw_gid) != 0) {
                    fail("cannot hand " + path.string() + " to www-data");
                }
            }
        }
        const auto parent = getpid();
        pid = fork();
        if (pid < 0) {
            fail("fork");
        }
        if (pid == 0) {
            // Its own process group, so that its workers go with it; and it dies with this program.
            setpgid(0, 0);
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) {
                _exit(127);
            }
            const auto conf = (root / "httpd.conf").string();
            execl(apacheProgram, apacheProgram, "-f", conf.c_str(), "-DFOREGROUND", static_cast<char*>(nullptr));
            _exit(127);
        }
        setpgid(pid, pid);
        apacheGroup = pid;
        // Ready once it answers; a bounded wait.
        for (int attempt = 0; attempt < 200; ++attempt) {
            if (status_of("GET", "/") > 0) {
                return;
            }
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                apacheGroup = 0;
                fail("httpd ended at its start: see " + (root / "error.log").string());
            }
            std::this_thread::sleep_for(50ms);
        }
        fail("httpd did not answer within 10 s");
    }

    // A graceful stop, bounded; then the whole group is killed.
    void stop()
    {
        if (apacheGroup.load() <= 0) {
            return;
        }
        kill(-pid, SIGTERM);
        for (int attempt = 0; attempt < 100; ++attempt) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                break;
            }
            std::this_thread::sleep_for(50ms);
        }
        kill_apache_now();
        waitpid(pid, nullptr, WNOHANG);
    }

    ~Apache() { stop(); }

    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }
    int status_of(const char* method, const std::string& path) const;
};

// ---- libcurl, one easy handle per client thread, kept alive across its requests. ----

size_t drop(char*, size_t size, size_t count, void* received)
{
    *static_cast<std::int64_t*>(received) += static_cast<std::int64_t>(size * count);
    return size * count;
}

size_t header_line(char* data, size_t size, size_t count, void* into)
{
    static constexpr std::string_view name = "lock-token:";
    const std::string_view line(data, size * count);
    if (line.size() > name.size() &&
        std::equal(name.begin(), name.end(), line.begin(),
                   [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); })) {
        auto value = line.substr(name.size());
        while (!value.empty() && (value.front() == ' ' || value.back() == '\r' || value.back() == '\n')) {
            value = value.front() == ' ' ? value.substr(1) : value.substr(0, value.size() - 1);
        }
        *static_cast<std::string*>(into) = value;
    }
    return size * count;
}

struct Body {
    std::string_view bytes;
    std::size_t at = 0;
};
size_t feed(char* out, size_t size, size_t count, void* source)
{
    auto& body = *static_cast<Body*>(source);
    const auto n = std::min(size * count, body.bytes.size() - body.at);
    std::memcpy(out, body.bytes.data() + body.at, n);
    body.at += n;
    return n;
}

class Curl {
public:
    Curl() : handle_(curl_easy_init())
    {
        if (!handle_) {
            fail("curl_easy_init");
        }
    }
    ~Curl() { curl_easy_cleanup(handle_); }
    Curl(const Curl&) = delete;
    Curl& operator=(const Curl&) = delete;

    struct Reply {
        long status = 0;
        std::int64_t received = 0;
        std::string lockToken;
    };

    // One request; the body from memory, or from `upload` (a file) when given; the answer's body
    // is counted and dropped, or written to `download` when given.
    Reply send(const char* method, const std::string& url, const std::vector<std::string>& headers,
               std::string_view body = {}, std::FILE* upload = nullptr, std::int64_t uploadSize = 0,
               std::FILE* download = nullptr)
    {
        curl_easy_reset(handle_);
        Reply reply;
        Body source{body, 0};
        curl_slist* list = nullptr;
        for (const auto& header : headers) {
            list = curl_slist_append(list, header.c_str());
        }
        // An empty Expect: no wait for "100 Continue" before a body, on either server.
        list = curl_slist_append(list, "Expect:");
        curl_easy_setopt(handle_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(handle_, CURLOPT_CUSTOMREQUEST, method);
        curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, list);
        curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(handle_, CURLOPT_TIMEOUT, 600L);
        curl_easy_setopt(handle_, CURLOPT_TCP_NODELAY, 1L);
        if (!userpwd_.empty()) {
            curl_easy_setopt(handle_, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
            curl_easy_setopt(handle_, CURLOPT_USERPWD, userpwd_.c_str());
        }
        if (std::string_view(method) == "HEAD") {
            curl_easy_setopt(handle_, CURLOPT_NOBODY, 1L);
        }
        if (upload) {
            curl_easy_setopt(handle_, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(handle_, CURLOPT_READDATA, upload);
            curl_easy_setopt(handle_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(uploadSize));
        } else if (!body.empty()) {
            curl_easy_setopt(handle_, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(handle_, CURLOPT_READFUNCTION, feed);
            curl_easy_setopt(handle_, CURLOPT_READDATA, &source);
            curl_easy_setopt(handle_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(body.size()));
        }
        if (download) {
            curl_easy_setopt(handle_, CURLOPT_WRITEDATA, download);
        } else {
            curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, drop);
            curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &reply.received);
        }
        curl_easy_setopt(handle_, CURLOPT_HEADERFUNCTION, header_line);
        curl_easy_setopt(handle_, CURLOPT_HEADERDATA, &reply.lockToken);
        const auto code = curl_easy_perform(handle_);
        curl_slist_free_all(list);
        if (code != CURLE_OK) {
            failure = curl_easy_strerror(code);
            return reply;
        }
        curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &reply.status);
        return reply;
    }

    void basic(const std::string& user, const std::string& password) { userpwd_ = user + ":" + password; }

private:
    CURL* handle_;
    std::string userpwd_;
};

int Apache::status_of(const char* method, const std::string& path) const
{
    Curl curl;
    curl.basic(user, password);
    return static_cast<int>(curl.send(method, url(path), {}).status);
}

bool answered(const Curl::Reply& reply, std::initializer_list<long> good, const char* what)
{
    if (std::find(good.begin(), good.end(), reply.status) != good.end()) {
        return true;
    }
    return reply.status == 0 ? false : failed(std::string(what) + " " + std::to_string(reply.status));
}

// ---- The operations, each on both servers. ----

// The next content of a client's file: 4 KiB whose first bytes count its revisions, so that each
// is new to the server.
std::string next_content(std::uint64_t client, std::uint64_t& counter)
{
    std::string bytes(static_cast<std::size_t>(revisionBytes), 'x');
    const std::uint64_t stamp[2] = {client, ++counter};
    std::memcpy(bytes.data(), stamp, sizeof stamp);
    return bytes;
}

// httpd's lock database loses updates under concurrent locking: an UNLOCK answered 204 may leave
// its lock behind, refusing every later LOCK of that file with 423 until it times out. Only the
// pairs that succeeded count; a client whose file was left locked so moves on to a new file, so
// that the rate is of what httpd does rather than of a lock that stuck. Each measurement locks
// files of its own.
std::function<bool()> dav_lock_unlock(const Apache& apache, int i, const std::string& run)
{
    auto curl = std::make_shared<Curl>();
    curl->basic(apache.user, apache.password);
    auto file = std::make_shared<int>(0);
    const auto base = "/lock-" + run + "-" + std::to_string(i) + "-";
    return [&apache, curl, file, base, i] {
        const auto url = apache.url(base + std::to_string(*file) + ".txt");
        const std::string info = "<?xml version=\"1.0\" encoding=\"utf-8\"?><D:lockinfo xmlns:D=\"DAV:\"><D:lockscope>"
                                 "<D:exclusive/></D:lockscope><D:locktype><D:write/></D:locktype><D:owner>user" +
                                 std::to_string(i) + "</D:owner></D:lockinfo>";
        const auto locked = curl->send("LOCK", url, {"Depth: 0", "Timeout: Second-600",
                                                     "Content-Type: application/xml; charset=utf-8"},
                                       info);
        if (locked.status == 423) {
            ++*file;
        }
        if (!answered(locked, {200, 201}, "LOCK")) {
            return false;
        }
        if (locked.lockToken.empty()) {
            return failed("LOCK without a Lock-Token");
        }
        return answered(curl->send("UNLOCK", url, {"Lock-Token: " + locked.lockToken}), {204}, "UNLOCK");
    };
}

std::function<bool()> dav_revision(const Apache& apache, int i)
{
    auto curl = std::make_shared<Curl>();
    curl->basic(apache.user, apache.password);
    auto counter = std::make_shared<std::uint64_t>(0);
    const auto url = apache.url("/file-" + std::to_string(i) + ".txt");
    return [curl, url, counter, i] {
        const auto bytes = next_content(static_cast<std::uint64_t>(i), *counter);
        return answered(curl->send("PUT", url, {"Content-Type: application/octet-stream"}, bytes), {201, 204},
                        "PUT");
    };
}

std::function<bool()> team_lock_unlock(World& world, int i)
{
    auto& client = world.clients[static_cast<std::size_t>(i)];
    std::shared_ptr<domain::Domain> domain = remote::remote_domain(world.connection(client));
    return [&world, &client, domain] {
        return both(domain->lock(world.spaceId, client.name).code, domain->unlock(world.spaceId, client.name));
    };
}

// A new revision as the remote client stores one: a content of one chunk at most goes with its
// commit in one request (`sentWithCommit`), or is uploaded first and then named by the commit (the
// path of larger files, and of every file before the one-request commit).
std::function<bool()> team_revision(World& world, int i, bool sentWithCommit)
{
    auto& client = world.clients[static_cast<std::size_t>(i)];
    auto held = std::make_shared<remote::SmallContents>();
    std::shared_ptr<domain::Domain> domain = remote::remote_domain(world.connection(client), held);
    auto blobs = std::make_shared<remote::BlobClient>(world.connection(client));
    auto counter = std::make_shared<std::uint64_t>(0);
    const auto file = world.scratch / ("revision-" + std::to_string(i));
    return [&world, &client, domain, held, blobs, counter, file, i, sentWithCommit] {
        const auto bytes = next_content(static_cast<std::uint64_t>(i) + 1000, *counter);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
        auto commit = next_commit(world, client);
        commit.blob = remote::file_hash(file).value();
        commit.size = revisionBytes;
        if (sentWithCommit) {
            held->hold(commit.blob, bytes);
        } else if (const int code = blobs->upload(file, commit.blob, commit.size); code != 200 && code != 201) {
            return failed("upload " + std::to_string(code));
        }
        return committed(client, domain->commit(commit), *domain, world);
    };
}

// ---- The listing fixture: the same files on both sides, in folders. ----

std::string listed_name(const Options& options, int n)
{
    char name[64];
    std::snprintf(name, sizeof name, "dir-%03d/file-%04d.bin", n / options.perFolder, n % options.perFolder);
    return name;
}

void fill_project(World& world, const Apache& apache, const Options& options)
{
    const auto content = world.scratch / "small-0";
    for (int folder = 0; folder * options.perFolder < options.files; ++folder) {
        char name[32];
        std::snprintf(name, sizeof name, "dir-%03d", folder);
        fs::create_directories(apache.htdocs / "project" / name);
    }
    for (int n = 0; n < options.files; ++n) {
        fs::copy_file(content, apache.htdocs / "project" / listed_name(options, n),
                      fs::copy_options::overwrite_existing);
    }
    // The team side through the store in this process, on threads: the fixture, not a figure.
    auto pool = std::make_shared<domain::PostgresPool>(domain::PostgresSettings{.url = {}, .poolSize = 8});
    const auto store = domain::postgres_store(pool);
    const auto user = domain::PostgresAccounts(pool).authenticate(world.clients[0].token).value();
    std::atomic<int> next{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            const auto domain = domain::store_domain(store, user, [] {
                return domain::to_millis(std::chrono::system_clock::now());
            });
            for (int n; (n = next++) < options.files;) {
                domain::Commit commit;
                commit.spaceId = world.spaceId;
                commit.name = listed_name(options, n);
                commit.blob = world.blobs[0];
                commit.size = world.blobSize;
                if (domain->commit(commit).code != 201) {
                    ++refused;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    if (refused > 0) {
        fail("the team store refused " + std::to_string(refused.load()) + " of the listing's files");
    }
}

// The team side's listing of one folder: the folder request, one page large enough for the
// whole folder, as a client showing that folder asks for it.
constexpr bool teamHasFolderListing = true;
std::string team_folder_target(const World& world, const std::string& folder)
{
    return protocol::path(protocol::Op::folder, {world.spaceId}) +
           protocol::query_string({{"path", folder}, {"limit", "200"}});
}

// One listing at a time, `count` times: the median in ms, and the bytes of one answer.
struct Listing {
    double ms = 0;
    std::int64_t bytes = 0;
};
Listing time_listing(int count, const std::function<Curl::Reply()>& once, std::initializer_list<long> good)
{
    std::vector<double> ms;
    std::int64_t bytes = 0;
    for (int r = 0; r < count; ++r) {
        const auto begun = Clock::now();
        const auto reply = once();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begun).count());
        if (std::find(good.begin(), good.end(), reply.status) == good.end()) {
            fail("a listing answered " + std::to_string(reply.status) + " " + failure);
        }
        bytes = reply.received;
    }
    return {median_of(ms), bytes};
}

// ---- Large contents. ----

double team_upload_mibs(const World& world, const fs::path& file, std::int64_t bytes, std::uint64_t seed,
                        std::string& hash, std::size_t window = domain::BlobStore::upload_window)
{
    renew(file, seed);
    remote::BlobClient client(world.connection(world.clients[0]));
    client.set_upload_window(window);
    const auto begun = Clock::now();
    hash = remote::file_hash(file).value();
    const auto code = client.upload(file, hash, bytes);
    const auto took = std::chrono::duration<double>(Clock::now() - begun).count();
    if (code != 201) {
        fail("the team upload answered " + std::to_string(code));
    }
    return static_cast<double>(bytes >> 20) / took;
}

double team_download_mibs(const World& world, const std::string& hash, std::int64_t bytes)
{
    remote::BlobClient client(world.connection(world.clients[0]));
    const auto target = world.scratch / "team-back";
    const auto begun = Clock::now();
    const auto code = client.download(hash, bytes, target);
    const auto took = std::chrono::duration<double>(Clock::now() - begun).count();
    if (code != 200) {
        fail("the team download answered " + std::to_string(code));
    }
    fs::remove(target);
    return static_cast<double>(bytes >> 20) / took;
}

double dav_upload_mibs(const Apache& apache, const fs::path& file, std::int64_t bytes, std::uint64_t seed)
{
    renew(file, seed);
    Curl curl;
    curl.basic(apache.user, apache.password);
    std::FILE* in = std::fopen(file.c_str(), "rb");
    const auto begun = Clock::now();
    const auto reply = curl.send("PUT", apache.url("/big.bin"), {"Content-Type: application/octet-stream"}, {}, in,
                                 bytes);
    const auto took = std::chrono::duration<double>(Clock::now() - begun).count();
    std::fclose(in);
    if (reply.status != 201 && reply.status != 204) {
        fail("the WebDAV upload answered " + std::to_string(reply.status) + " " + failure);
    }
    return static_cast<double>(bytes >> 20) / took;
}

double dav_download_mibs(const World& world, const Apache& apache, std::int64_t bytes)
{
    Curl curl;
    curl.basic(apache.user, apache.password);
    const auto target = world.scratch / "dav-back";
    std::FILE* out = std::fopen(target.c_str(), "wb");
    const auto begun = Clock::now();
    const auto reply = curl.send("GET", apache.url("/big.bin"), {}, {}, nullptr, 0, out);
    std::fflush(out);
    const auto took = std::chrono::duration<double>(Clock::now() - begun).count();
    std::fclose(out);
    if (reply.status != 200 || static_cast<std::int64_t>(fs::file_size(target)) != bytes) {
        fail("the WebDAV download answered " + std::to_string(reply.status) + " " + failure);
    }
    fs::remove(target);
    return static_cast<double>(bytes >> 20) / took;
}

// ---- The table. ----

std::string rates(const std::vector<double>& values, const char* format)
{
    std::string out;
    for (const auto value : values) {
        char cell[32];
        std::snprintf(cell, sizeof cell, format, value);
        out += (out.empty() ? "" : " / ") + std::string(cell);
    }
    return out;
}

std::vector<double> ratios(const std::vector<double>& team, const std::vector<double>& dav)
{
    std::vector<double> out;
    for (std::size_t i = 0; i < team.size(); ++i) {
        out.push_back(dav[i] > 0 ? team[i] / dav[i] : 0);
    }
    return out;
}

void row(const std::string& figure, const std::string& team, const std::string& dav, const std::string& ratio)
{
    std::printf("| %s | %s | %s | %s |\n", figure.c_str(), team.c_str(), dav.c_str(), ratio.c_str());
}

void note_failures(const char* side, const char* operation, int clients, const Rate& rate)
{
    for (const auto& [why, count] : rate.reasons) {
        std::printf("  * %s %s at %d clients: %d failed (all rounds): %s\n", side, operation, clients, count,
                    why.c_str());
    }
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--quick") {
            options.rounds = 1;
            options.seconds = 1.0;
            options.files = 1000;
            options.transferMib = 32;
            options.listings = 3;
            continue;
        }
        if (name == "--file-store") {
            options.fileStore = true;
            continue;
        }
        if (i + 1 >= argc) {
            fail("option " + name + " lacks its value");
        }
        const std::string value = argv[++i];
        if (name == "--rounds") {
            options.rounds = std::max(1, std::stoi(value));
        } else if (name == "--seconds") {
            options.seconds = std::stod(value);
        } else if (name == "--files") {
            options.files = std::max(1, std::stoi(value));
        } else if (name == "--transfer-mib") {
            options.transferMib = std::max<std::int64_t>(1, std::stoll(value));
        } else if (name == "--pool") {
            options.pool = std::stoi(value);
        } else if (name == "--content-dir") {
            options.contentDir = value;
        } else {
            fail("unknown option " + name);
        }
    }
    // However it goes, the run ends, and httpd with it: the team server dies with this process, the
    // cluster with its wrapper.
    for (const int signal : {SIGALRM, SIGINT, SIGTERM, SIGHUP, SIGSEGV, SIGABRT}) {
        std::signal(signal, on_fatal_signal);
    }
    std::atexit(kill_apache_now);
    alarm(1800);
    curl_global_init(CURL_GLOBAL_DEFAULT);

    World world;
    world.scratch = fs::temp_directory_path() / ("vyr-cld-webdav-bench-" + std::to_string(getpid()));
    fs::create_directories(world.scratch);
    fs::permissions(world.scratch, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    struct Cleanup {
        fs::path path;
        ~Cleanup()
        {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } cleanup{world.scratch};
    build_world(world, options.pool, clientCounts.back(),
                !options.contentDir.empty() || !options.fileStore ? options.contentDir
                                                                  : (world.scratch / "contents").string());
    Apache apache(world.scratch, world.clients[0].token.substr(0, 32));
    // The same starting files on the WebDAV side: a file per client.
    for (std::size_t i = 0; i < world.clients.size(); ++i) {
        fs::copy_file(world.scratch / "small-0", apache.htdocs / ("file-" + std::to_string(i) + ".txt"));
    }
    fill_project(world, apache, options);
    apache.start();

    std::printf("machine: %u cores, load average %.2f at the start; team server pool %d connections, %d workers; "
                "httpd event MPM\n",
                std::thread::hardware_concurrency(), load_average(), options.pool, options.pool);
    std::printf("medians of %d interleaved rounds (%.1f s per rate); a project of %d files in folders of %d; "
                "%lld MiB transfers; contents %s\n\n",
                options.rounds, options.seconds, options.files, options.perFolder,
                static_cast<long long>(options.transferMib),
                options.contentDir.empty() && !options.fileStore ? "in the database" : "as files (--content-dir)");
    std::fflush(stdout);

    // Each figure's samples per round, team and WebDAV alternating within a round.
    std::map<std::pair<int, int>, std::vector<Rate>> teamRates, davRates; // (operation, clients)
    std::vector<double> teamUp, teamUpOne, teamDown, davUp, davDown, teamWhole, davWhole, teamFolder, davFolder;
    Listing teamWholeListing, davWholeListing, teamFolderListing, davFolderListing;
    const auto transferBytes = options.transferMib << 20;
    const auto big = write_file(world.scratch / "big", transferBytes, 7);
    const auto token = world.clients[0].token;
    const auto teamBase = "http://127.0.0.1:" + std::to_string(world.server->port);
    Curl teamCurl, davCurl;
    davCurl.basic(apache.user, apache.password);
    const std::vector<std::string> bearer{"Authorization: Bearer " + token};
    const auto folder = listed_name(options, 0).substr(0, listed_name(options, 0).find('/'));

    for (int round = 0; round < options.rounds; ++round) {
        for (const int operation : {0, 1, 2}) {
            for (const int clients : clientCounts) {
                teamRates[{operation, clients}].push_back(measure(clients, options.seconds, [&](int i) {
                    return operation == 0 ? team_lock_unlock(world, i) : team_revision(world, i, operation == 1);
                }));
                const auto run = std::to_string(round) + "-" + std::to_string(clients);
                davRates[{operation, clients}].push_back(measure(clients, options.seconds, [&](int i) {
                    return operation == 0 ? dav_lock_unlock(apache, i, run) : dav_revision(apache, i);
                }));
            }
        }
        std::string hash;
        const auto seed = 1000 + static_cast<std::uint64_t>(round);
        std::string sequential;
        teamUpOne.push_back(team_upload_mibs(world, big, transferBytes, seed + 5000, sequential, 1));
        teamUp.push_back(team_upload_mibs(world, big, transferBytes, seed, hash));
        davUp.push_back(dav_upload_mibs(apache, big, transferBytes, seed));
        teamDown.push_back(team_download_mibs(world, hash, transferBytes));
        davDown.push_back(dav_download_mibs(world, apache, transferBytes));

        teamWholeListing = time_listing(
            options.listings,
            [&] { return teamCurl.send("GET", teamBase + protocol::path(protocol::Op::files, {world.spaceId}), bearer); },
            {200});
        davWholeListing = time_listing(
            options.listings,
            [&] { return davCurl.send("PROPFIND", apache.url("/project/"), {"Depth: infinity"}); }, {207});
        teamFolderListing = time_listing(
            options.listings,
            [&] { return teamCurl.send("GET", teamBase + team_folder_target(world, folder), bearer); }, {200});
        davFolderListing = time_listing(
            options.listings,
            [&] { return davCurl.send("PROPFIND", apache.url("/project/" + folder + "/"), {"Depth: 1"}); }, {207});
        teamWhole.push_back(teamWholeListing.ms);
        davWhole.push_back(davWholeListing.ms);
        teamFolder.push_back(teamFolderListing.ms);
        davFolder.push_back(davFolderListing.ms);
        std::fprintf(stderr, "round %d of %d done\n", round + 1, options.rounds);
    }

    std::printf("| figure (median of %d interleaved rounds) | team service | WebDAV | ratio |\n|---|---|---|---|\n",
                options.rounds);
    const char* const operationNames[] = {
        "lock+unlock pairs per second, 1 / 8 / 32 clients",
        "4 KiB new revision per second, 1 / 8 / 32 clients",
        "the same, the content uploaded first, then the commit (4 requests)",
    };
    for (const int operation : {0, 1, 2}) {
        std::vector<double> team, dav;
        for (const int clients : clientCounts) {
            team.push_back(median(teamRates[{operation, clients}]).perSecond);
            dav.push_back(median(davRates[{operation, clients}]).perSecond);
        }
        row(operationNames[operation], rates(team, "%.0f"), rates(dav, "%.0f"),
            rates(ratios(team, dav), "%.2f") + "×");
    }
    const auto mib = std::to_string(options.transferMib) + " MiB";
    row(mib + " upload, MiB/s", rates({median_of(teamUp)}, "%.0f"), rates({median_of(davUp)}, "%.0f"),
        rates({median_of(teamUp) / median_of(davUp)}, "%.2f") + "×");
    row(mib + " upload one chunk at a time, MiB/s", rates({median_of(teamUpOne)}, "%.0f"),
        rates({median_of(davUp)}, "%.0f"), rates({median_of(teamUpOne) / median_of(davUp)}, "%.2f") + "×");
    row(mib + " download, MiB/s", rates({median_of(teamDown)}, "%.0f"), rates({median_of(davDown)}, "%.0f"),
        rates({median_of(teamDown) / median_of(davDown)}, "%.2f") + "×");
    // Time: the ratio is WebDAV's time over the team's, so that above 1 is the team faster, as in
    // the rows above.
    row("the whole listing of a " + std::to_string(options.files) + "-file project, ms",
        rates({median_of(teamWhole)}, "%.1f"), rates({median_of(davWhole)}, "%.1f") + " (PROPFIND infinity)",
        rates({median_of(davWhole) / median_of(teamWhole)}, "%.2f") + "×");
    row("one folder's listing (" + std::to_string(options.perFolder) + " files), ms",
        rates({median_of(teamFolder)}, "%.1f") + (teamHasFolderListing ? "" : " (no folder request: the whole space)"),
        rates({median_of(davFolder)}, "%.1f") + " (PROPFIND depth 1)",
        rates({median_of(davFolder) / median_of(teamFolder)}, "%.3f") + "×");
    std::printf("\nratios are team over WebDAV as rates (above 1: the team service is faster); listing bytes: team "
                "%lld whole, %lld folder; WebDAV %lld whole, %lld folder\n",
                static_cast<long long>(teamWholeListing.bytes), static_cast<long long>(teamFolderListing.bytes),
                static_cast<long long>(davWholeListing.bytes), static_cast<long long>(davFolderListing.bytes));
    std::printf("the team download writes a temporary file, checks the hash and renames it; the WebDAV one writes "
                "the file\n");
    for (const int operation : {0, 1, 2}) {
        for (const int clients : clientCounts) {
            const char* name = operation == 0 ? "lock+unlock" : operation == 1 ? "4 KiB revision" : "4 KiB upload+commit";
            note_failures("team", name, clients, median(teamRates[{operation, clients}]));
            note_failures("WebDAV", name, clients, median(davRates[{operation, clients}]));
        }
    }
    std::printf("load average %.2f at the end\n", load_average());
    std::fflush(stdout);
    apache.stop();
    curl_global_cleanup();
    return 0;
}
