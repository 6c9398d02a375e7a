#include <vyr/cld/server/server.h>

#include "dispatch.h"
#include "handlers.h"
#include "memory.h"

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <spdlog/spdlog.h>

#include <atomic>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <variant>

namespace vyr::cld::server {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

beast::string_view text(std::string_view view)
{
    return {view.data(), view.size()};
}

// A connection waiting for a next request, which may be closed to make room for a new one.
class Idle {
public:
    virtual ~Idle() = default;
    // Closes the connection unless a byte of a request arrived meanwhile.
    virtual void shed() = 0;
};

// The share of the connection limit a client takes is counted by its address; an IPv6 client
// holds a whole /64, so it counts by that.
asio::ip::address sharer(const asio::ip::address& address)
{
    if (!address.is_v6()) {
        return address;
    }
    const auto v6 = address.to_v6();
    if (v6.is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, v6);
    }
    auto bytes = v6.to_bytes();
    std::fill(bytes.begin() + 8, bytes.end(), 0);
    return asio::ip::address_v6(bytes);
}

// What every connection shares.
struct Core {
    Backend backend;
    Limits limits;
    Metrics metrics;
    asio::thread_pool workers;
    std::atomic<std::uint64_t> requests{0};
    std::string instance; // tells apart the request ids of processes on one database

    Core(Backend b, const Settings& settings)
        : backend(std::move(b)), limits(settings.limits), workers(static_cast<std::size_t>(std::max(1, settings.workers)))
    {
        std::random_device random;
        instance = std::to_string(random() % 100000);
    }

    // Whether a new connection from `peer` may be served: within its address's share, and within
    // the limit once the connection idle the longest (if any) makes room.
    bool admit(const asio::ip::address& peer)
    {
        std::shared_ptr<Idle> making_room;
        {
            const std::lock_guard lock(mutex_);
            const auto found = perAddress_.find(peer);
            if (found != perAddress_.end() && found->second >= limits.maxConnectionsPerAddress) {
                return false;
            }
            if (connections_ >= limits.maxConnections) {
                // A connection chosen to make room may have received a byte by the time it is
                // closed, and then stays: past this margin, a new one waits for room.
                if (connections_ >= limits.maxConnections + std::max<std::size_t>(1, limits.maxConnections / 8)) {
                    return false;
                }
                while (!making_room && !idle_.empty()) {
                    making_room = idle_.begin()->second.lock();
                    idle_.erase(idle_.begin());
                }
                if (!making_room) {
                    return false;
                }
            }
            ++connections_;
            ++perAddress_[peer];
        }
        if (making_room) {
            making_room->shed();
        }
        return true;
    }
    void leave(const asio::ip::address& peer)
    {
        const std::lock_guard lock(mutex_);
        --connections_;
        if (const auto found = perAddress_.find(peer); found != perAddress_.end() && --found->second == 0) {
            perAddress_.erase(found);
        }
    }
    // A connection begins or ends its wait for a next request with nothing received.
    std::uint64_t idle_from(std::weak_ptr<Idle> connection)
    {
        const std::lock_guard lock(mutex_);
        idle_.emplace(++idleSequence_, std::move(connection));
        return idleSequence_;
    }
    void idle_end(std::uint64_t key)
    {
        const std::lock_guard lock(mutex_);
        idle_.erase(key);
    }

private:
    std::mutex mutex_;
    std::size_t connections_ = 0;
    std::map<asio::ip::address, std::size_t> perAddress_;
    std::map<std::uint64_t, std::weak_ptr<Idle>> idle_; // oldest first
    std::uint64_t idleSequence_ = 0;
};

template <class Stream> class Session : public Idle, public std::enable_shared_from_this<Session<Stream>> {
public:
    // `peer` was admitted by the core; the session gives its place back when it ends.
    template <class... Args>
    Session(Core& core, asio::ip::address peer, Args&&... args)
        : core_(core), peer_(peer), stream_(std::forward<Args>(args)...), timer_(stream_.get_executor()),
          readTimer_(stream_.get_executor()), buffer_(core.limits.headerBytes + large_body)
    {
    }
    ~Session() override
    {
        if (idleKey_) {
            core_.idle_end(idleKey_);
        }
        core_.leave(peer_);
    }

    void shed() override
    {
        asio::post(stream_.get_executor(), [self = this->shared_from_this()] {
            beast::error_code ignored;
            if (self->idleKey_ && self->buffer_.size() == 0 && self->lowest().socket().available(ignored) == 0) {
                self->lowest().socket().cancel(ignored);
            }
        });
    }

    void start()
    {
        if constexpr (tls) {
            lowest().expires_after(core_.limits.readTimeout);
            stream_.async_handshake(ssl::stream_base::server,
                                    [self = this->shared_from_this()](beast::error_code error) {
                                        if (!error) {
                                            self->read_head();
                                        }
                                    });
        } else {
            read_head();
        }
    }

private:
    static constexpr bool tls = !std::is_same_v<Stream, beast::tcp_stream>;
    static constexpr std::size_t large_body = 64 * 1024;

    beast::tcp_stream& lowest() { return beast::get_lowest_layer(stream_); }

    // A read has the read time-out to complete. Its own timer cancels it rather than the stream's
    // expiry, which would close the socket before a 408 could be written.
    void expect_read()
    {
        lowest().expires_never();
        timedOut_ = false;
        readTimer_.expires_after(core_.limits.readTimeout);
        const auto generation = ++readGeneration_;
        readTimer_.async_wait([self = this->shared_from_this(), generation](beast::error_code error) {
            if (!error && generation == self->readGeneration_) {
                self->timedOut_ = true;
                beast::error_code ignored;
                self->lowest().socket().cancel(ignored);
            }
        });
    }
    void read_done()
    {
        ++readGeneration_; // a time-out already on its way finds a later read, and leaves it be
        readTimer_.cancel();
    }

    void read_head()
    {
        head_.emplace();
        head_->header_limit(static_cast<std::uint32_t>(core_.limits.headerBytes));
        // Nothing received yet: the connection may make room for a new one while it waits.
        if (buffer_.size() == 0) {
            idleKey_ = core_.idle_from(this->weak_from_this());
        }
        // The whole header, including the wait for it on an idle connection, has this long: a
        // client that trickles bytes cannot hold the connection.
        expect_read();
        http::async_read_header(stream_, buffer_, *head_,
                                [self = this->shared_from_this()](beast::error_code error, std::size_t) {
                                    self->on_head(error);
                                });
    }

    void on_head(beast::error_code error)
    {
        read_done();
        if (idleKey_) {
            core_.idle_end(std::exchange(idleKey_, 0));
        }
        started_ = Clock::now();
        id_ = core_.instance + "-" + std::to_string(++core_.requests);
        if (error == http::error::header_limit) {
            return fail(431, "The request's header is too large.");
        }
        if (error == http::error::body_limit) {
            return fail(413, "The request's body is larger than this route takes.");
        }
        // Part of a header came, the rest did not; an idle keep-alive connection just closes.
        if (timedOut_ && buffer_.size() > 0) {
            return fail(408, "The request's header did not arrive in time.");
        }
        if (timedOut_ || error == http::error::end_of_stream || error == asio::error::eof ||
            error == asio::error::connection_reset || error == asio::error::operation_aborted) {
            return close();
        }
        if (error) {
            return fail(400, "The request is not well-formed HTTP.");
        }
        const auto& header = head_->get();
        method_ = std::string(header.method_string());
        route_ = "unknown";
        const auto declared = head_->content_length();
        auto routed = route_request(header, declared ? std::optional{*declared} : std::nullopt, tls);
        if (auto* unrouted = std::get_if<Unrouted>(&routed)) {
            if (!unrouted->route.empty()) {
                route_ = std::move(unrouted->route);
            }
            return fail(std::move(unrouted->reply), unrouted->keepOpen);
        }
        auto& found = std::get<Routed>(routed);
        request_ = std::move(found.request);
        route_ = std::move(found.route);
        const auto bodyLimit = found.bodyLimit;
        keepAlive_ = header.keep_alive();
        pollUntil_.reset();
        // A body read through the little room the header left arrives a few KiB per call, each
        // re-arming the timer and the poll: a chunk of a blob took hundreds. Room for full reads
        // while a large body arrives, given back after it, keeps idle connections small.
        if (const auto length = head_->content_length(); length && *length > large_body) {
            buffer_.reserve(large_body);
        }
        body_.emplace(std::move(*head_));
        body_->body_limit(bodyLimit);
        expect_read();
        http::async_read(stream_, buffer_, *body_, [self = this->shared_from_this()](beast::error_code failure, std::size_t) {
            self->on_body(failure);
        });
    }

    void on_body(beast::error_code error)
    {
        read_done();
        if (error == http::error::body_limit) {
            return fail(413, "The request's body is larger than this route takes.");
        }
        if (timedOut_) {
            return fail(408, "The request's body did not arrive in time.");
        }
        if (error == asio::error::eof || error == asio::error::connection_reset ||
            error == asio::error::operation_aborted) {
            return close();
        }
        if (error) {
            return fail(400, "The request's body is not well-formed.");
        }
        request_.body = std::move(body_->get().body());
        body_.reset();
        if (buffer_.capacity() >= large_body) {
            buffer_.shrink_to_fit();
        }
        work();
    }

    // The database work runs on the worker threads; the answer comes back to this connection's
    // executor to be written.
    void work()
    {
        asio::post(core_.workers, [self = this->shared_from_this()] {
            std::optional<Reply> reply;
            try {
                reply = answer_request(self->core_.backend, self->core_.metrics, self->core_.limits, self->request_);
            } catch (...) {
                // Out of memory even for a problem: the connection closes, the process serves on.
            }
            if (reply && reply->body.size() >= large_answer) {
                give_back_free_memory();
            }
            asio::post(self->stream_.get_executor(), [self, reply = std::move(reply)]() mutable {
                if (!reply) {
                    return self->close();
                }
                self->answer(std::move(*reply));
            });
        });
    }

    void answer(Reply reply)
    {
        if (reply.pollUntil && !pollUntil_) {
            pollUntil_ = reply.pollUntil;
        }
        if (reply.pollUntil && Clock::now() < *pollUntil_) {
            timer_.expires_after(std::min<Clock::duration>(std::chrono::milliseconds(200), *pollUntil_ - Clock::now()));
            timer_.async_wait([self = this->shared_from_this()](beast::error_code error) {
                if (!error) {
                    self->work();
                }
            });
            return;
        }
        if (reply.streamed) {
            return write_streamed(std::move(reply));
        }
        write(std::move(reply), !keepAlive_);
    }

    // The header, then the chunks one at a time: each is read on a worker thread only once the one
    // before was written, so a download holds one chunk in memory however large the file.
    void write_streamed(Reply reply)
    {
        streamed_ = std::move(reply.streamed);
        streamedHead_ = {};
        streamedHead_.version(11);
        streamedHead_.result(static_cast<unsigned>(reply.status));
        streamedHead_.set(http::field::server, "vyr-cld-server");
        streamedHead_.set(text(protocol::request_id_header), id_);
        streamedHead_.set(http::field::content_type, reply.contentType);
        for (const auto& [name, value] : reply.headers) {
            streamedHead_.insert(text(name), value);
        }
        guard(streamedHead_);
        streamedHead_.content_length(static_cast<std::uint64_t>(streamed_->size));
        streamedHead_.keep_alive(keepAlive_);
        status_ = reply.status;
        headSerializer_.emplace(streamedHead_);
        lowest().expires_after(core_.limits.writeTimeout);
        http::async_write_header(stream_, *headSerializer_,
                                 [self = this->shared_from_this()](beast::error_code error, std::size_t) {
                                     if (error) {
                                         return self->on_write(error, true);
                                     }
                                     self->stream_chunk(0);
                                 });
    }

    void stream_chunk(std::int64_t offset)
    {
        if (offset >= streamed_->size) {
            return on_write({}, !keepAlive_);
        }
        asio::post(core_.workers, [self = this->shared_from_this(), offset] {
            std::optional<std::string> bytes;
            try {
                bytes = self->streamed_->chunk(offset);
            } catch (...) {
                // Nothing to send instead: the connection closes short of the length declared, so
                // the client sees a failed download, never a wrong one.
            }
            asio::post(self->stream_.get_executor(), [self, offset, bytes = std::move(bytes)]() mutable {
                const auto left = static_cast<std::size_t>(self->streamed_->size - offset);
                if (!bytes || bytes->empty() || bytes->size() > left) {
                    self->status_ = 500;
                    return self->on_write(asio::error::broken_pipe, true);
                }
                self->chunk_ = std::move(*bytes);
                self->lowest().expires_after(self->core_.limits.writeTimeout);
                asio::async_write(self->stream_, asio::buffer(self->chunk_),
                                  [self, offset](beast::error_code error, std::size_t written) {
                                      if (error) {
                                          return self->on_write(error, true);
                                      }
                                      self->stream_chunk(offset + static_cast<std::int64_t>(written));
                                  });
            });
        });
    }

    void fail(int status, std::string_view detail) { fail(problem_reply(status, detail), false); }
    void fail(Reply reply, bool keepOpen)
    {
        if (keepOpen && head_ && head_->is_header_done()) {
            // The route is unknown, but the body may still be on its way: read it into nothing
            // (within the smallest limit) so that the connection stays usable.
            keepAlive_ = head_->get().keep_alive();
            if (head_->get().has_content_length() || head_->get().chunked()) {
                keepAlive_ = false;
            }
        } else {
            keepAlive_ = false;
        }
        if (method_.empty()) {
            method_ = "-";
            route_ = "-";
        }
        write(std::move(reply), !keepAlive_);
    }

    // Every answer, a problem or an API body as much as a page: a browser that meets one (a form
    // posted to a route that takes no body, a link to the API) never reads it as anything but its
    // declared type, nor runs or frames it. Pages set their own, stricter policy.
    template <class Fields> static void guard(http::header<false, Fields>& head)
    {
        head.set("X-Content-Type-Options", "nosniff");
        if (head.find("Content-Security-Policy") == head.end()) {
            head.set("Content-Security-Policy", "default-src 'none'; frame-ancestors 'none'");
        }
    }

    void write(Reply reply, bool closeAfter)
    {
        response_ = {};
        response_.version(11);
        response_.result(static_cast<unsigned>(reply.status));
        response_.set(http::field::server, "vyr-cld-server");
        response_.set(text(protocol::request_id_header), id_);
        if (!reply.contentType.empty()) {
            response_.set(http::field::content_type, reply.contentType);
        }
        for (const auto& [name, value] : reply.headers) {
            response_.insert(text(name), value); // a page may set two cookies
        }
        guard(response_);
        response_.body() = std::move(reply.body);
        response_.keep_alive(!closeAfter);
        response_.prepare_payload();
        if (method_ == "HEAD") {
            response_.body().clear();
        }
        status_ = reply.status;
        lowest().expires_after(core_.limits.writeTimeout);
        http::async_write(stream_, response_,
                          [self = this->shared_from_this(), closeAfter](beast::error_code error, std::size_t) {
                              self->on_write(error, closeAfter);
                          });
    }

    void on_write(beast::error_code error, bool closeAfter)
    {
        const auto seconds = std::chrono::duration<double>(Clock::now() - started_).count();
        core_.metrics.record(route_, status_, seconds);
        // Never the target itself: a query may hold a file's name, a header a token.
        spdlog::info("request={} method={} route={} status={} ms={:.2f}", id_, method_, route_, status_, seconds * 1000);
        if (error || closeAfter) {
            return close();
        }
        method_.clear();
        head_.reset();
        streamed_.reset();
        headSerializer_.reset();
        // An idle connection keeps no request or answer: a chunk or a listing's text would stay
        // with each connection kept open.
        request_ = {};
        response_ = {};
        std::string().swap(chunk_);
        read_head();
    }

    void close()
    {
        beast::error_code ignored;
        if constexpr (tls) {
            lowest().expires_after(std::chrono::seconds(2));
            stream_.async_shutdown([self = this->shared_from_this()](beast::error_code) {});
        } else {
            stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        }
    }

    Core& core_;
    asio::ip::address peer_;
    Stream stream_;
    asio::steady_timer timer_, readTimer_;
    // Every byte a client sends passes through it, so its cap bounds what the parser's limits do
    // not: a chunk's size line with its extensions, and the trailer, must fit in it.
    beast::flat_buffer buffer_;
    std::uint64_t readGeneration_ = 0;
    bool timedOut_ = false;
    std::uint64_t idleKey_ = 0; // waiting for a header with nothing received; 0: not
    std::optional<http::request_parser<http::empty_body>> head_;
    std::optional<http::request_parser<http::string_body>> body_;
    http::response<http::string_body> response_;
    // A body written as it is read.
    std::optional<Streamed> streamed_;
    http::response<http::empty_body> streamedHead_;
    std::optional<http::response_serializer<http::empty_body>> headSerializer_;
    std::string chunk_;
    Request request_;
    std::string id_, method_, route_;
    int status_ = 0;
    bool keepAlive_ = false;
    std::optional<Clock::time_point> pollUntil_; // the first answer of a long poll sets its end
    Clock::time_point started_ = Clock::now();
};

} // namespace

// Declared so that the connections still queued in the context go before what they use.
struct Server::State {
    std::unique_ptr<Core> core;
    std::optional<ssl::context> tls;
    asio::io_context io;
    tcp::acceptor acceptor{io};
    int ioThreads = 1;

    void accept()
    {
        acceptor.async_accept(asio::make_strand(io), [this](beast::error_code error, tcp::socket socket) {
            if (error == asio::error::operation_aborted) {
                return;
            }
            if (!error) {
                beast::error_code failed;
                const auto peer = sharer(socket.remote_endpoint(failed).address());
                if (failed || !core->admit(peer)) {
                    socket.close(failed);
                } else if (tls) {
                    std::make_shared<Session<beast::ssl_stream<beast::tcp_stream>>>(*core, peer, std::move(socket), *tls)
                        ->start();
                } else {
                    std::make_shared<Session<beast::tcp_stream>>(*core, peer, std::move(socket))->start();
                }
            }
            accept();
        });
    }
};

Server::Server(const Settings& settings, Backend backend) : state_(std::make_unique<State>())
{
    state_->core = std::make_unique<Core>(std::move(backend), settings);
    state_->ioThreads = std::max(1, settings.ioThreads);
    if (!settings.tlsCertificate.empty() || !settings.tlsKey.empty()) {
        auto& context = state_->tls.emplace(ssl::context::tls_server);
        context.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                            ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1);
        context.use_certificate_chain_file(settings.tlsCertificate);
        context.use_private_key_file(settings.tlsKey, ssl::context::pem);
    }
    const tcp::endpoint endpoint{asio::ip::make_address(settings.address), settings.port};
    auto& acceptor = state_->acceptor;
    acceptor.open(endpoint.protocol());
    acceptor.set_option(asio::socket_base::reuse_address(true));
    acceptor.bind(endpoint);
    acceptor.listen(asio::socket_base::max_listen_connections);
}

Server::~Server()
{
    stop();
    state_->core->workers.join();
}

unsigned short Server::port() const
{
    return state_->acceptor.local_endpoint().port();
}

void Server::run(bool signals)
{
    std::optional<asio::signal_set> stopSignals;
    if (signals) {
        stopSignals.emplace(state_->io, SIGINT, SIGTERM);
        stopSignals->async_wait([this](beast::error_code, int) { stop(); });
    }
    state_->accept();
    std::vector<std::thread> threads;
    for (int i = 1; i < state_->ioThreads; ++i) {
        threads.emplace_back([this] { state_->io.run(); });
    }
    state_->io.run();
    for (auto& thread : threads) {
        thread.join();
    }
}

void Server::stop()
{
    asio::post(state_->io, [this] {
        beast::error_code ignored;
        state_->acceptor.close(ignored);
    });
    state_->io.stop();
}

} // namespace vyr::cld::server
