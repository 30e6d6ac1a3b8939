// The transport of the live page: HTTP and WebSocket from Boost.Beast on
// one Asio thread, which owns every connection; the machine runs on its own
// thread and meets this one only in live_control.
#include "serve/server.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <csignal>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <thread>

// The page, made from serve/page.html at build time.
extern const char vm_serve_page[];
extern const unsigned long vm_serve_page_size;

namespace vm_serve
{
    namespace
    {
        namespace beast = boost::beast;
        namespace http = beast::http;
        namespace websocket = beast::websocket;
        namespace net = boost::asio;
        using tcp = net::ip::tcp;
        using error_code = beast::error_code;

        const auto request_timeout = std::chrono::seconds(10);
        // Connections open at once, HTTP and WebSocket: more are closed at
        // once, so that clients that open and hold sockets cannot use up
        // the process's files.
        const int connection_limit = 64;
        const auto tick_period = std::chrono::milliseconds(16);

        class server;

        // Counts a connection for as long as its session lives.
        class connection_slot
        {
        public:
            explicit connection_slot(int &count) : count_(count) { ++count_; }
            connection_slot(const connection_slot &) = delete;
            connection_slot &operator=(const connection_slot &) = delete;
            ~connection_slot() { --count_; }

        private:
            int &count_;
        };

        class ws_session : public std::enable_shared_from_this<ws_session>
        {
        public:
            ws_session(tcp::socket &&socket, server &s);
            ~ws_session() { finish(); }

            void start(http::request<http::string_body> request);
            // The server's clock: what changed goes to the page.
            void tick();

        private:
            void on_accept(const error_code &ec);
            void read();
            void on_read(const error_code &ec);
            void send(bool binary, std::string message);
            void write_next();
            void close(websocket::close_code code, const std::string &reason);
            void finish();

            websocket::stream<beast::tcp_stream> ws_;
            server &server_;
            connection_slot slot_;
            beast::flat_buffer buffer_;
            std::deque<std::pair<bool, std::string>> outbox_;
            bool writing_ = false;
            std::optional<websocket::close_reason> close_after_;
            bool closing_ = false;
            bool controller_ = false;
            bool finished_ = false;
            bool text_started_ = false; // the run's text so far goes first
            uint64_t screen_version_ = 0, status_version_ = 0;
            screen_words screen_{};
        };

        class http_session : public std::enable_shared_from_this<http_session>
        {
        public:
            http_session(tcp::socket &&socket, server &s);
            void read();

        private:
            void on_read(const error_code &ec);
            void respond(http::status status, const std::string &type, std::string body, bool head = false);

            beast::tcp_stream stream_;
            server &server_;
            connection_slot slot_;
            beast::flat_buffer buffer_;
            std::optional<http::request_parser<http::string_body>> parser_;
            bool keep_alive_ = false;
        };

        class server
        {
        public:
            server(live_control &control, const serve_settings &settings, const vm_runner::program &p)
                : control_(control), address_(settings.address), program_(p), acceptor_(ioc_),
                  signals_(ioc_, SIGINT, SIGTERM), timer_(ioc_)
            {
            }

            bool listen(std::string &error)
            {
                error_code ec;
                const tcp::endpoint at(net::ip::make_address(address_.host, ec), address_.port);
                if (!ec)
                    acceptor_.open(at.protocol(), ec);
                if (!ec)
                    acceptor_.set_option(net::socket_base::reuse_address(true), ec);
                if (!ec && address_.v6)
                    acceptor_.set_option(net::ip::v6_only(true), ec);
                if (!ec)
                    acceptor_.bind(at, ec);
                if (!ec)
                    acceptor_.listen(net::socket_base::max_listen_connections, ec);
                if (ec)
                {
                    error = ec.message();
                    return false;
                }
                address_.port = acceptor_.local_endpoint().port();
                return true;
            }

            void run()
            {
                accept();
                signals_.async_wait([this](const error_code &ec, int signal) {
                    if (ec)
                        return;
                    control_.quit(signal == SIGTERM ? vm_runner::status_terminated : vm_runner::status_interrupted,
                                  signal == SIGTERM ? "SIGTERM" : "SIGINT");
                    ioc_.stop();
                });
                tick();
                ioc_.run();
            }

            const listen_address &address() const { return address_; }
            live_control &control() { return control_; }
            const vm_runner::program &program() const { return program_; }
            int &connections() { return connections_; }

            // One page controls the run; the first to ask gets it.
            bool take_control(const std::shared_ptr<ws_session> &session)
            {
                if (!controller_.expired())
                    return false;
                controller_ = session;
                control_.attach();
                return true;
            }
            void release_control()
            {
                controller_.reset();
                control_.detach();
            }

        private:
            void accept()
            {
                acceptor_.async_accept([this](const error_code &ec, tcp::socket socket) {
                    if (!ec && connections_ < connection_limit)
                        std::make_shared<http_session>(std::move(socket), *this)->read();
                    if (ec != net::error::operation_aborted)
                        accept();
                });
            }

            void tick()
            {
                timer_.expires_after(tick_period);
                timer_.async_wait([this](const error_code &ec) {
                    if (ec)
                        return;
                    if (auto session = controller_.lock())
                        session->tick();
                    tick();
                });
            }

            live_control &control_;
            listen_address address_;
            const vm_runner::program &program_;
            // Before the io_context: the sessions that die with it still
            // give up control here.
            std::weak_ptr<ws_session> controller_;
            int connections_ = 0;
            net::io_context ioc_{1};
            tcp::acceptor acceptor_;
            net::signal_set signals_;
            net::steady_timer timer_;
        };

        // --- HTTP ---

        http_session::http_session(tcp::socket &&socket, server &s)
            : stream_(std::move(socket)), server_(s), slot_(s.connections())
        {
        }

        ws_session::ws_session(tcp::socket &&socket, server &s)
            : ws_(std::move(socket)), server_(s), slot_(s.connections())
        {
        }

        void http_session::read()
        {
            parser_.emplace();
            parser_->header_limit(8192);
            parser_->body_limit(page_message_limit);
            stream_.expires_after(request_timeout);
            http::async_read(stream_, buffer_, *parser_,
                             [self = shared_from_this()](const error_code &ec, size_t) { self->on_read(ec); });
        }

        void http_session::on_read(const error_code &ec)
        {
            if (ec)
            {
                if (ec != http::error::end_of_stream && ec != beast::error::timeout &&
                    ec != net::error::operation_aborted)
                {
                    // A request that cannot be parsed, or too large.
                    keep_alive_ = false;
                    respond(http::status::bad_request, "text/plain", "vmrun: a malformed request\n");
                    return;
                }
                error_code ignored;
                stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
                return;
            }
            http::request<http::string_body> request = parser_->release();
            keep_alive_ = request.keep_alive();
            const listen_address &served = server_.address();
            if (!host_allowed(std::string(request[http::field::host]), served))
            {
                keep_alive_ = false;
                respond(http::status::forbidden, "text/plain",
                        "vmrun: this server answers only to requests for " + served.authority() + "\n");
                return;
            }
            if (websocket::is_upgrade(request))
            {
                // A browser always names the page that opens a WebSocket; a
                // page of another site must not drive or read the run. A
                // client that names none is not a browser page.
                const auto origin = request.find(http::field::origin);
                if (request.target() != "/ws" ||
                    (origin != request.end() && !origin_allowed(std::string(origin->value()), served)))
                {
                    keep_alive_ = false;
                    respond(http::status::forbidden, "text/plain",
                            "vmrun: WebSocket connections are taken only from the page of " + served.authority() +
                                "\n");
                    return;
                }
                stream_.expires_never();
                std::make_shared<ws_session>(stream_.release_socket(), server_)->start(std::move(request));
                return;
            }
            const bool head = request.method() == http::verb::head;
            if (request.method() != http::verb::get && !head)
                respond(http::status::method_not_allowed, "text/plain", "vmrun: only GET is served\n");
            else if (request.target() != "/")
                respond(http::status::not_found, "text/plain", "vmrun: the page is at /\n");
            else
                respond(http::status::ok, "text/html; charset=utf-8", std::string(vm_serve_page, vm_serve_page_size),
                        head);
        }

        void http_session::respond(http::status status, const std::string &type, std::string body, bool head)
        {
            auto response = std::make_shared<http::response<http::string_body>>(status, 11);
            response->set(http::field::server, "vmrun");
            response->set(http::field::content_type, type);
            response->set(http::field::cache_control, "no-store");
            // The page loads nothing from anywhere, and no other site may
            // frame it.
            response->set("Content-Security-Policy",
                          "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                          "connect-src 'self'; img-src data:; frame-ancestors 'none'");
            response->set("X-Content-Type-Options", "nosniff");
            response->keep_alive(keep_alive_);
            response->body() = std::move(body);
            response->prepare_payload();
            if (head)
                response->body().clear();
            http::async_write(stream_, *response, [self = shared_from_this(), response](const error_code &ec, size_t) {
                if (ec || !self->keep_alive_)
                {
                    error_code ignored;
                    self->stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
                    return;
                }
                self->read();
            });
        }

        // --- WebSocket ---

        void ws_session::start(http::request<http::string_body> request)
        {
            // A page that only watches sends nothing for minutes: pings keep
            // it, and a page that vanished without closing is let go after
            // the idle timeout.
            websocket::stream_base::timeout timeouts =
                websocket::stream_base::timeout::suggested(beast::role_type::server);
            timeouts.idle_timeout = std::chrono::seconds(30);
            timeouts.keep_alive_pings = true;
            ws_.set_option(timeouts);
            ws_.read_message_max(page_message_limit);
            ws_.set_option(websocket::stream_base::decorator(
                [](websocket::response_type &response) { response.set(http::field::server, "vmrun"); }));
            ws_.async_accept(request, [self = shared_from_this()](const error_code &ec) { self->on_accept(ec); });
        }

        void ws_session::on_accept(const error_code &ec)
        {
            if (ec)
                return;
            if (!server_.take_control(shared_from_this()))
            {
                send(false, "{\"type\":\"refused\",\"reason\":\"" +
                                json_string("Another page controls this run. Close it (or use it), then reload "
                                            "this one.") +
                                "\"}");
                close(websocket::close_code::try_again_later, "another page controls this run");
                read();
                return;
            }
            controller_ = true;
            std::string files;
            for (const std::string &f : server_.program().files)
                files += (files.empty() ? "\"" : ",\"") + json_string(f) + "\"";
            send(false, "{\"type\":\"hello\",\"files\":[" + files + "],\"unit\":\"VM command\"}");
            read();
        }

        void ws_session::read()
        {
            ws_.async_read(buffer_, [self = shared_from_this()](const error_code &ec, size_t) { self->on_read(ec); });
        }

        void ws_session::on_read(const error_code &ec)
        {
            if (ec)
            {
                // Closed, vanished, or a message over the limit (which the
                // stream answers with its own close): this page only.
                finish();
                return;
            }
            const bool text = ws_.got_text();
            const std::string message = beast::buffers_to_string(buffer_.data());
            buffer_.consume(buffer_.size());
            if (!controller_ || closing_ || close_after_)
            {
                read();
                return;
            }
            std::string why;
            const std::optional<page_command> command =
                text ? parse_page_command(message, &why) : std::nullopt;
            if (!command)
            {
                close(websocket::close_code::policy_error, text ? "bad message: " + why : "bad message: not text");
                read();
                return;
            }
            live_control &c = server_.control();
            switch (command->kind)
            {
            case page_command::run:
                c.run();
                break;
            case page_command::pause:
                c.pause();
                break;
            case page_command::step:
                c.step();
                break;
            case page_command::restart:
                c.restart();
                break;
            case page_command::speed:
                c.set_speed(command->value);
                break;
            case page_command::key:
                c.hold_key(static_cast<int16_t>(command->value));
                break;
            }
            read();
        }

        void ws_session::tick()
        {
            if (writing_ || closing_ || close_after_)
                return;
            live_control &c = server_.control();
            live_status status;
            if (c.take_status(status_version_, status))
            {
                char rate[32];
                std::snprintf(rate, sizeof rate, "%.0f", status.steps_per_second);
                send(false, "{\"type\":\"status\",\"run\":" + std::to_string(status.run) + ",\"state\":\"" +
                                state_name(status.state) + "\",\"steps\":" + std::to_string(status.steps) +
                                ",\"rate\":" + rate + ",\"key\":" + (status.waiting_for_key ? "true" : "false") +
                                ",\"exit\":" + std::to_string(status.exit_status) + ",\"report\":\"" +
                                json_string(status.report) + "\"}");
            }
            uint64_t run = 0;
            const std::string text = c.take_text(run, !text_started_);
            text_started_ = true;
            if (!text.empty())
                send(false, "{\"type\":\"text\",\"run\":" + std::to_string(run) + ",\"text\":\"" + json_string(text) +
                                "\"}");
            if (c.take_screen(screen_version_, screen_))
            {
                std::string bytes(sizeof screen_, '\0');
                for (size_t i = 0; i < screen_.size(); ++i)
                {
                    const uint16_t w = static_cast<uint16_t>(screen_[i]);
                    bytes[2 * i] = static_cast<char>(w & 0xff);
                    bytes[2 * i + 1] = static_cast<char>(w >> 8);
                }
                send(true, std::move(bytes));
            }
        }

        void ws_session::send(bool binary, std::string message)
        {
            outbox_.emplace_back(binary, std::move(message));
            if (!writing_)
                write_next();
        }

        void ws_session::write_next()
        {
            if (outbox_.empty())
            {
                writing_ = false;
                if (close_after_ && !closing_)
                {
                    closing_ = true;
                    ws_.async_close(*close_after_, [self = shared_from_this()](const error_code &) {});
                }
                return;
            }
            writing_ = true;
            ws_.binary(outbox_.front().first);
            ws_.async_write(net::buffer(outbox_.front().second),
                            [self = shared_from_this()](const error_code &ec, size_t) {
                                self->outbox_.pop_front();
                                if (ec)
                                {
                                    self->outbox_.clear();
                                    self->writing_ = false;
                                    self->finish();
                                    return;
                                }
                                self->write_next();
                            });
        }

        void ws_session::close(websocket::close_code code, const std::string &reason)
        {
            // A close reason is at most 123 bytes.
            close_after_ = websocket::close_reason(code, reason.substr(0, 123));
            if (!writing_)
                write_next();
        }

        void ws_session::finish()
        {
            if (finished_)
                return;
            finished_ = true;
            if (controller_)
                server_.release_control();
        }
    }

    serve_result serve(const vm_runner::program &p, const serve_settings &settings)
    {
        serve_result result;
        live_control control(p, settings.live);
        server s(control, settings, p);
        std::string error;
        if (!s.listen(error))
        {
            std::fprintf(stderr, "vmrun: --serve: cannot listen on %s: %s\n", settings.address.authority().c_str(),
                         error.c_str());
            return result;
        }
        if (!s.address().loopback)
            std::fprintf(stderr,
                         "vmrun: warning: %s is not a loopback address: anyone who can reach it can drive the "
                         "program and see its screen\n",
                         s.address().authority().c_str());
        std::printf("open http://%s/\n", s.address().authority().c_str());
        std::fflush(stdout);
        std::thread machine_thread([&] { result.exit_status = control.run_machine(); });
        s.run();
        machine_thread.join();
        result.memory = control.final_memory();
        return result;
    }
}
