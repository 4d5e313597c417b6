// A C++ host with a real connection: the loop of examples/host_loop.py on POSIX sockets and
// poll. The engine does no I/O: this loop owns the socket and both clocks. It sleeps until the
// socket has data or the engine's next deadline (poll_timeout) comes, a second at most, ticks
// on every wake-up, tells the engine when the link drops, and connects again when the engine's
// reconnect timer says so (2 s, doubling to 5 min) until the engine gives up.
//
// The bot on top registers as NICK, joins CHANNEL on its first registration (after a reconnect
// the engine joins it again by itself), says hello there, answers "!ping" with "pong" in the
// channel or in private, and quits on "!quit", Ctrl-C or SIGTERM. It prints every event as the
// JSON line a Python host gets, and exits 0 once the server closed the link after its QUIT, 1
// when the engine gave up reconnecting.
//
//     cpp_socket_host HOST PORT NICK CHANNEL
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "tessel_client/tessel_client.hpp"

namespace {

// ---- the host loop ---------------------------------------------------------------------------

template <class Clock>
std::uint64_t ms_of(typename Clock::time_point at) {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count());
}

std::uint64_t monotonic_ms() { return ms_of<std::chrono::steady_clock>(std::chrono::steady_clock::now()); }

// Both clocks the engine takes, in milliseconds: monotonic for deadlines, Unix for stamps.
void tick(tessel::Engine& engine) {
    engine.tick(monotonic_ms(), ms_of<std::chrono::system_clock>(std::chrono::system_clock::now()));
}

// Connects a socket within `timeout_ms`; 0, or the errno. A blocking connect to an address that
// never answers would wait for minutes, so it is made non-blocking for the connect alone.
int connect_within(int fd, const sockaddr* address, socklen_t length, int timeout_ms) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int error = 0;
    if (connect(fd, address, length) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            pollfd writable{fd, POLLOUT, 0};
            const int ready = poll(&writable, 1, timeout_ms);  // EINTR: a signal asked us to stop
            socklen_t size = sizeof error;
            if (ready == 1)
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
            else
                error = ready == 0 ? ETIMEDOUT : errno;
        }
    }
    fcntl(fd, F_SETFL, flags);
    return error;
}

// A TCP socket connected to host:port, each address tried in turn; -1 and `error` on failure.
int connect_to(const std::string& host, const std::string& port, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
        error = gai_strerror(rc);
        return -1;
    }
    int fd = -1;
    for (const addrinfo* at = found; at != nullptr && fd < 0; at = at->ai_next) {
        fd = socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC, at->ai_protocol);
        const int failed = fd < 0 ? errno : connect_within(fd, at->ai_addr, at->ai_addrlen, 10000);
        if (failed != 0) {
            error = std::strerror(failed);
            if (fd >= 0) close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    return fd;
}

// Writes all of `data`; false when the link failed. MSG_NOSIGNAL: a link the server closed is
// an error to handle here, not a SIGPIPE that ends the program.
bool send_all(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t sent = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

// Drives one Engine on one TCP connection at a time.
class SocketHost {
public:
    using OnEvent = std::function<void(const tessel::Event&)>;

    SocketHost(tessel::Engine& engine, std::string host, std::string port)
        : engine_(engine), host_(std::move(host)), port_(std::move(port)) {}
    SocketHost(const SocketHost&) = delete;
    SocketHost& operator=(const SocketHost&) = delete;
    ~SocketHost() {
        if (linked()) close(fd_);
    }

    bool linked() const { return fd_ >= 0; }

    // Runs until `done()` holds (true) or reconnecting is abandoned (false). `on_event` sees
    // every event and may execute commands. `done()` is asked on every wake-up, at least once a
    // second, after the events and before their lines go out, so it may execute commands too;
    // once it holds, what is queued goes out and run returns.
    //
    // The engine advises a reconnect after every disconnect, also after our own QUIT: to stop
    // once quit, let done() hold when the reconnect_after of that disconnect arrives.
    bool run(OnEvent on_event, const std::function<bool()>& done) {
        on_event_ = std::move(on_event);
        tick(engine_);
        connect();
        while (true) {
            drain();
            const bool finished = done();
            write_out();
            if (finished) return true;
            const std::optional<std::uint64_t> deadline = engine_.poll_timeout();  // monotonic ms
            if (!linked() && !deadline) return false;  // no link and no timer: the engine gave up
            const std::uint64_t now = monotonic_ms();
            std::uint64_t wait_ms = 1000;
            if (deadline) wait_ms = *deadline <= now ? 0 : std::min(wait_ms, *deadline - now);
            // Without a link there is nothing to watch: poll then only sleeps (and a signal ends it).
            pollfd readable{fd_, POLLIN, 0};
            if (poll(&readable, linked() ? 1 : 0, static_cast<int>(wait_ms)) > 0) receive();
            tick(engine_);  // on every wake-up: timers run on a quiet link too
        }
    }

private:
    void connect() {
        std::string error;
        fd_ = connect_to(host_, port_, error);
        tick(engine_);  // the keepalive counts from now, or the back-off
        if (!linked()) {
            std::cerr << "cannot connect to " << host_ << ":" << port_ << ": " << error << std::endl;
            engine_.handle_disconnected();  // counts the attempt; a reconnect_after follows
            return;
        }
        engine_.handle_connected();  // queues CAP LS 302, NICK and USER
    }

    void disconnect() {
        close(fd_);
        fd_ = -1;
        tick(engine_);  // the back-off counts from now, not from the last wake-up
        engine_.handle_disconnected();  // keeps the model; advises when to reconnect
    }

    // Hands every event to the application, also those its handling queued.
    void drain() {
        for (auto events = engine_.poll_events(); !events.empty(); events = engine_.poll_events()) {
            for (const tessel::Event& event : events) {
                on_event_(event);
                const auto* advice = std::get_if<tessel::Event::ReconnectAfter>(&event.value);
                if (std::holds_alternative<tessel::Event::LinkDead>(event.value) && linked())
                    disconnect();  // the server stopped answering PING
                else if (advice != nullptr && advice->after_ms == 0 && !linked())
                    connect();  // the reconnect timer fired
            }
        }
    }

    void write_out() {
        while (linked()) {
            const std::optional<std::string> line = engine_.poll_transmit();  // one line, CR LF included
            if (!line) return;
            if (!send_all(fd_, *line)) {
                disconnect();
                drain();
            }
        }
    }

    void receive() {
        const ssize_t got = recv(fd_, buffer_.data(), buffer_.size(), 0);
        if (got > 0)
            engine_.handle_bytes(std::string_view(buffer_.data(), static_cast<std::size_t>(got)));  // any chunking
        else if (got == 0 || errno != EINTR)
            disconnect();  // EOF or a socket error
    }

    tessel::Engine& engine_;
    std::string host_;
    std::string port_;
    int fd_ = -1;
    OnEvent on_event_;
    std::array<char, 65536> buffer_{};
};

// ---- the bot -----------------------------------------------------------------------------------

// Set by SIGINT and SIGTERM; the bot then quits.
volatile std::sig_atomic_t stop_asked = 0;

void on_stop_signal(int) { stop_asked = 1; }

// --8<-- the reading the README shows
// The stored message a message_added change names, or null when its log no longer holds it.
// The model is read as it is: its maps are keyed by names folded under the server's casemapping,
// and the texts are views that hold until that log stores its next message.
const tessel::LogMessage* stored_message(const tessel::Engine& engine, const tessel::Change::MessageAdded& added) {
    const std::string key = tessel::irc_fold(engine.isupport.casemapping, added.target);
    const tessel::MessageLog* log = nullptr;
    if (auto channel = engine.model.channels.find(key); channel != engine.model.channels.end())
        log = &channel->second.log;
    else if (auto talk = engine.model.conversations.find(key); talk != engine.model.conversations.end())
        log = &talk->second.log;  // a private message: the target is the other side
    if (log == nullptr) return nullptr;
    auto found = log->messages.find(added.key);
    return found == log->messages.end() ? nullptr : &*found;
}
// --8<--

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: " << argv[0] << " HOST PORT NICK CHANNEL\n";
        return 2;
    }
    const std::string channel = argv[4];
    tessel::Config config;
    config.nick = argv[3];
    config.retention = 10;  // the bot reads only the message just stored
    tessel::Engine engine(std::move(config));
    SocketHost host(engine, argv[1], argv[2]);

    // Without SA_RESTART, so that a signal also ends the poll the loop sleeps in.
    struct sigaction stop {};
    stop.sa_handler = on_stop_signal;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);

    bool joined = false;
    bool greeted = false;
    bool quitting = false;
    bool closed = false;
    std::optional<std::uint64_t> newest;  // seq of the last message looked at

    auto order = [&engine](tessel::Command command) {
        if (auto refused = engine.execute(std::move(command)))  // then nothing was sent
            std::cerr << "refused: " << refused->field << " \"" << refused->value << "\"\n";
    };
    auto quit = [&](std::string reason) {
        quitting = true;
        order(tessel::Command::Quit{std::move(reason)});
    };
    auto on_message = [&](const tessel::Change::MessageAdded& added) {
        if (newest && added.key.seq <= *newest) return;  // named again: a link preview came for it
        newest = added.key.seq;
        const tessel::LogMessage* message = stored_message(engine, added);
        if (message == nullptr || message->own || message->historical) return;
        if (message->kind_index() != tessel::message_kind_index<tessel::MessageKind::Privmsg>) return;
        // Read before replying: the reply is stored in the same log, which may move the texts.
        const std::string text(message->text());
        const std::string sender(message->sender());
        if (text == "!ping")
            order(tessel::Command::SendMessage{added.target, "pong"});
        else if (text == "!quit" && !quitting)
            quit("asked by " + sender);
    };
    auto on_event = [&](const tessel::Event& event) {
        std::string json;
        tessel::event_to_json(event, json);
        std::cout << json << std::endl;  // flushed, so that a pipe shows it at once

        if (std::holds_alternative<tessel::Event::Registered>(event.value) && !joined) {
            joined = true;  // once: on a new link the engine joins its channels again
            order(tessel::Command::Join{channel, std::nullopt});
        } else if (const auto* changed = std::get_if<tessel::Event::ModelChanged>(&event.value)) {
            if (const auto* added = std::get_if<tessel::Change::MessageAdded>(&changed->change.value)) {
                on_message(*added);
            } else if (std::holds_alternative<tessel::Change::ChannelJoined>(changed->change.value) && !greeted) {
                greeted = true;
                order(tessel::Command::SendMessage{channel, "hello from C++"});
            }
        } else if (std::holds_alternative<tessel::Event::ReconnectAfter>(event.value) && quitting) {
            closed = true;  // the link closed after our QUIT: no reconnecting
        }
    };
    auto done = [&] {
        if (stop_asked && !quitting) {
            if (!host.linked()) return true;  // between links: nobody to say goodbye to
            quit("stopped");
        }
        return closed;
    };

    return host.run(on_event, done) ? 0 : 1;
}
