// The Engine: the whole state of one IRC connection. It does no I/O: the host feeds it bytes
// and the clock, and drains outgoing lines and events.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tessel_client/engine/allowed_commands.hpp"
#include "tessel_client/engine/bot_registry.hpp"
#include "tessel_client/engine/cap_state.hpp"
#include "tessel_client/engine/command.hpp"
#include "tessel_client/engine/command_check.hpp"
#include "tessel_client/engine/config.hpp"
#include "tessel_client/engine/deadline_map.hpp"
#include "tessel_client/engine/event.hpp"
#include "tessel_client/engine/nick_fallback.hpp"
#include "tessel_client/engine/open_batch.hpp"
#include "tessel_client/engine/outgoing_line.hpp"
#include "tessel_client/engine/pending_label.hpp"
#include "tessel_client/engine/sasl.hpp"
#include "tessel_client/engine/scram.hpp"
#include "tessel_client/engine/timer_key.hpp"
#include "tessel_client/model/model.hpp"
#include "tessel_client/model/unique_list.hpp"
#include "tessel_client/protocol/isupport.hpp"
#include "tessel_client/protocol/message.hpp"
#include "tessel_client/voice/voice_room.hpp"

namespace tessel {

enum class LinkState : std::uint8_t { Down = 0, Negotiating = 1, Registering = 2, Registered = 3 };

// An unterminated line is given up once this many bytes gathered without an LF.
inline constexpr std::size_t kMaxLineBytes = 8704;

// What the current link has heard and sent that later replies are read against. It belongs to
// one transport: each handle_connected starts it afresh.
struct LinkNotes {
    bool cap_listed = false;  // the server's last CAP LS line has arrived
    FoldedSet joined;         // channels our own JOIN brought us into on this link
    std::optional<std::string> away_sent;  // the text of our last AWAY taken on this link

    bool operator==(const LinkNotes&) const = default;
};

struct Engine {
    // Fields, in record order. The host reads `model`, `malformed_lines` and the queues through
    // the operations below; everything else is the engine's own.
    Config config;
    CapState caps;
    std::string current_nick;
    Isupport isupport;
    Model model;
    UniqueList metadata_keys;  // in the order first subscribed
    std::string recv_buf;
    std::deque<OutgoingLine> transmit;  // taken by poll_transmit, oldest first
    std::deque<OutgoingLine> held;      // host command lines waiting for 001; sent after its resume burst
    std::vector<Event> events;          // taken whole by poll_events, so a vector keeps FIFO order
    std::optional<ScramState> scram;
    std::map<std::string, OpenBatch, std::less<>> batches;
    std::uint64_t batch_message_limit = 1024;
    std::uint64_t open_batch_limit = 64;
    std::set<std::string, std::less<>> monitor_watched;  // folded nicks
    std::set<std::string, std::less<>> monitor_online;   // folded nicks
    std::map<std::string, std::string, std::less<>> channel_keys;  // folded channel -> key
    std::map<std::string, VoiceRoom, std::less<>> voice_rooms;  // folded room name -> roster; kept across links
    AllowedCommands allowed_commands;
    BotRegistry bots;  // one connection's: emptied on disconnect
    DeadlineMap<TimerKey, std::uint64_t> timers;  // key -> deadline
    std::uint64_t label_counter = 0;
    DeadlineMap<std::string, PendingLabel> pending_labels;
    std::map<std::string, std::string, std::less<>> batch_labels;  // batch reference -> label
    std::uint64_t reconnect_base_ms = 2000;
    std::uint64_t reconnect_max_ms = 300000;
    std::uint32_t max_reconnect_attempts = 100;
    std::uint32_t reconnect_attempts = 0;
    std::uint64_t now_ms = 0;
    std::uint64_t unix_ms = 0;
    std::uint64_t alt_nick_index = 0;
    NickFallback nick_fallback;  // this registration's refused nicks; reset by each handle_connected
    LinkNotes link_notes;
    bool discarding = false;
    LinkState link = LinkState::Down;
    SaslState sasl = SaslState::Idle;
    std::uint64_t malformed_lines = 0;  // received lines dropped as unusable; saturates

    explicit Engine(Config config);
    static Engine make(Config config) { return Engine(std::move(config)); }

    // Host side.
    void handle_connected();
    void handle_disconnected();
    void tick(std::uint64_t monotonic_ms, std::uint64_t unix_time_ms);
    std::optional<std::uint64_t> poll_timeout() const;
    void handle_bytes(std::string_view data);
    std::optional<std::string> poll_transmit();
    std::vector<Event> poll_events();

    // Turns one host command into its lines (execute.cpp). A command whose line could not carry
    // a field where the line puts it (command_check.hpp) is refused whole: nothing is sent,
    // stored, labelled or echoed, and the refusal names the field. Nothing when carried out.
    // The lines reach the server only once it has registered us: given while the link is down
    // they are queued at once, but handle_connected sets them aside, and they, and those given
    // before 001, go out right after 001's resume burst. NICK and QUIT given while a link is up
    // go out at once, so a stalled registration can be finished or left. Raw lines and
    // invitation codes go out at once too, and those given while down stay ahead of the
    // registration burst. A chat message that waits for 001 is echoed into our log only if the
    // link it goes out on has no echo-message, once it is released.
    std::optional<CommandRefusal> execute(Command command);

    // Send path. queue_line is the engine's own, for upkeep lines that go out at once and die
    // with their link; the others carry host commands.
    void queue_line(const IrcMessage& message);
    std::optional<std::string> send_labeled(const IrcMessage& message, Sending sending = Sending::WhenRegistered);
    void send_chat(const IrcMessage& message);
    // The same for a message the caller gives up, which then needs no copy.
    std::optional<std::string> send_labeled(IrcMessage&& message, Sending sending = Sending::WhenRegistered);
    void send_chat(IrcMessage&& message);
    void update_monitor(const std::vector<std::string>& nicks, bool watch);
    // A host command's line (held_lines.cpp), with the label it was given: held while we
    // register, else queued at once.
    void queue_command_line(const IrcMessage& message, Sending sending, std::optional<std::string> label,
                            LocalEcho echo = LocalEcho::None);

    // Receive side, called by the dispatch (public so their effects can be driven directly).
    void apply_message(const IrcMessage& message, bool historical);
    void nick_rejected(const IrcMessage& message);
    void monitor_reply(const IrcMessage& message);
    void handle_batch(const IrcMessage& message);
    std::optional<IrcMessage> collect_batch_message(IrcMessage message);
    void handle_authenticate(const std::vector<std::string>& params);
    void sasl_failed(SaslFailure reason);
    void request_caps();
    void advance_negotiation();

private:
    // The message each received line is parsed into: a line mostly leaves its strings and
    // lists behind for the next one to reuse, instead of allocating them anew.
    IrcMessage received_;
    // What the reducer reports for one message; kept so its buffer is reused.
    std::vector<Change> changes_;

    void handle_line(std::string_view raw);
    // The command word of the request a received line (other than BATCH) settled, if any.
    std::optional<std::string> settle_label(const IrcMessage& message);
    // Takes what it keeps (a raw_line, a batch member, stored strings) out of `message`.
    void dispatch(IrcMessage& message);
    void on_welcome(const IrcMessage& message);
    void on_ping(const IrcMessage& message);
    void on_isupport(const IrcMessage& message);
    void on_cap(const IrcMessage& message);
    void on_typing(const IrcMessage& message);
    void on_voice_frame(const IrcMessage& message);
    void on_bot_info(const IrcMessage& message);
    void on_bot_commands(const IrcMessage& message);
    void on_cmdslist(const IrcMessage& message);
    void on_auth_token(const IrcMessage& message);
    void on_standard_reply(const IrcMessage& message);
    void on_authenticate(const IrcMessage& message);
    void on_sasl_failure(const IrcMessage& message);
    void on_logged_in(const IrcMessage& message);
    void on_sasl_success(const IrcMessage& message);
    void expire_labels();
    // The send path's own step: the label, if any, then the line with its echo state.
    std::optional<std::string> label_and_queue(IrcMessage&& message, Sending sending, LocalEcho echo);
    // Applies our own chat message to the model as if the server had sent it back, from the
    // message or from the line it went out as.
    void store_local_echo(IrcMessage message);
    void store_local_echo(const OutgoingLine& line);
    // Held lines (held_lines.cpp): the host command lines not yet taken when a link comes up,
    // and those given while we register; all of them after 001's resume burst, their requests
    // timed from then and their local echoes decided then. When a link ends, what it left
    // untaken is ended with it: the engine's own lines when `drop_own_lines`, the labels, and
    // the promise of a server echo.
    void hold_line(OutgoingLine line);
    void set_aside_command_lines();
    void release_held_lines();
    void end_link_lines(bool drop_own_lines);
    // Reduces one message and queues its model_changed events; false when nothing changed and
    // the caller owes a raw_line.
    bool apply_changes(const IrcMessage& message, bool historical);
    // Replies that change the model only beside what this link joined and sent (apply.cpp):
    // a refused join or 442 for a channel we hold, and 305/306 for our own away. Fills
    // `changes` as the reducer would.
    void reduce_link_reply(const IrcMessage& message, std::vector<Change>& changes);
    // What a host line poll_transmit hands out tells this link's replies: the text of an AWAY.
    void note_taken_line(std::string_view text);
    void move_channel_records(std::string_view from, std::string_view to);
    void move_typing_timers(std::string_view old_target, std::string_view new_target);
    // Built in its place in the queue: an event is a few hundred bytes to move.
    template <class E>
    void emit(E&& e) { events.emplace_back(std::forward<E>(e)); }
};

// Sends one client SASL message as AUTHENTICATE lines of at most 400 base64 characters.
void send_authenticate(Engine& engine, std::string_view payload);

}  // namespace tessel
