// The engine's receive path. The input is one byte that picks the configuration, then the
// bytes the server sends, with host steps between them: 0xFF and a byte c is a step (the
// low two bits of c choose it, the rest k = c >> 2 is its argument):
//   0  tick with the monotonic clock 2^k ms later (k = 63: the largest time)
//   1  tick with the Unix clock at k * 2^35 ms (it may go back; the engine keeps the later)
//   2  the link comes up (k odd), goes down (k % 4 == 0), or the host gives the command k >> 2
//      of host_command (k % 4 == 2)
//   3  (k + 1) * 160 bytes of "x", for the over-long line (about 26 KB in all at most)
// The host takes what is queued after every step but a command, so a drop may find lines
// not yet taken. The same input runs twice: once with every stretch between steps in one
// handle_bytes call, once cut into chunks of random sizes. Everything the host sees (lines,
// events, the next deadline, the model at the end) must be the same, unless a line reached the
// length at which the engine gives up on it: only then does the cut matter. Throughout, no
// host command that waits for 001 is where a registering link would take it, nothing but host
// commands waits for 001, no line goes out with a label given for an earlier link, no engine
// line made before a drop is taken after it, and what a registering link takes is its own,
// the host's raw line or a NICK or QUIT the host gave while it registers.
//
// The host plays the server's part for its own messages: each has a text the input cannot
// foresee, and one the engine leaves to the server's echo is echoed back. An own message given
// while down or registering is then logged at most once, and exactly once where the log can
// be seen from the moment it goes out.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.hpp"
#include "fuzz/json_output.hpp"
#include "fuzz/scram_budget.hpp"
#include "tessel_client/engine/base64.hpp"
#include "tessel_client/engine/engine.hpp"
#include "tessel_client/formats/event_json.hpp"
#include "tessel_client/formats/model_json.hpp"
#include "tessel_client/model/node_pool.hpp"

namespace tessel {
namespace {

struct Step {
    std::string bytes;   // fed before the host step
    int kind = -1;       // -1: none (the end of the input)
    unsigned arg = 0;
};

Config config_for(std::uint8_t pick) {
    Config config;
    config.nick = "me";
    switch (pick & 3) {
        case 1: config.sasl = Credentials{Credentials::Plain{"me", "secret"}}; break;
        case 2: config.sasl = Credentials{Credentials::External{}}; break;
        case 3: config.sasl = Credentials{Credentials::Scram{"me", "secret", "fuzznonce"}}; break;
        default: break;
    }
    if (pick & 4) config.password = "pass";
    constexpr std::uint64_t kRetention[] = {1, 2, 8, 5000};
    config.retention = kRetention[(pick >> 3) & 3];
    if (pick & 32) config.alt_nicks = {"me_", "me__"};
    return config;
}

bool is_authenticate(std::string_view command) {
    constexpr std::string_view word = "authenticate";
    if (command.size() != word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if ((command[i] | 0x20) != word[i]) return false;
    return true;
}

// A SCRAM challenge anywhere in the stream with a count too costly to fuzz.
bool scram_too_costly_in(std::string_view stream) {
    for (std::size_t start = 0; start < stream.size();) {
        std::size_t end = stream.find('\n', start);
        if (end == stream.npos) end = stream.size();
        const auto message = parse_line(stream.substr(start, end - start));
        if (message && is_authenticate(message->command) && !message->params.empty()) {
            const auto decoded = base64_decode(message->params[0]);
            if (decoded && fuzz::scram_too_costly(*decoded)) return true;
        }
        start = end + 1;
    }
    return false;
}

// The commands a step gives. The first four make lines the engine never makes of its own
// accord, so a queue that holds one holds the host's. `chat` is the text of a message.
Command host_command(unsigned pick, std::string chat) {
    switch (pick % 10) {
        case 0: return Command{Command::Whois{"fz"}};
        case 1: return Command{Command::SetAway{"fz"}};
        case 2: return Command{Command::SendMessage{"#fz", std::move(chat)}};
        case 3: return Command{Command::SetMetadata{"fz", "v"}};
        case 4: return Command{Command::SetNick{"fznick"}};
        case 5: return Command{Command::Quit{"fz"}};
        case 6: return Command{Command::SendRawLine{"@label=mine;+t=1 TAGMSG #fz"}};
        case 7: return Command{Command::SubscribeMetadata{{"fz"}}};
        case 8: return Command{Command::Join{"#fz", "key"}};
        default: return Command{Command::WatchNicks{{"fz"}}};
    }
}

// The lines of those commands that wait for 001, as written without a label: the first four
// cannot come from anywhere else. A message's line is its prefix and its text, one word.
constexpr std::string_view kChat = "PRIVMSG #fz ";
const std::set<std::string, std::less<>> kOnlyTheHosts{"WHOIS fz", "AWAY fz", "METADATA * SET fz v"};
const std::set<std::string, std::less<>> kHostWaiting{
    "WHOIS fz", "AWAY fz", "METADATA * SET fz v", "NICK fznick", "QUIT fz", "METADATA * SUB fz", "JOIN #fz key",
    "MONITOR + fz"};
constexpr std::string_view kHostRaw = "@+t=1 TAGMSG #fz";

bool only_the_hosts(std::string_view line) { return kOnlyTheHosts.contains(line) || line.starts_with(kChat); }
bool host_waiting(std::string_view line) { return kHostWaiting.contains(line) || line.starts_with(kChat); }

bool names_fz(std::string_view name) {
    return name.size() == 3 && name[0] == '#' && (name[1] | 0x20) == 'f' && (name[2] | 0x20) == 'z';
}

// A change that may have replaced or removed the log of #fz, or sent a message for #fz
// elsewhere.
bool touches_fz(const Event& event) {
    if (std::holds_alternative<Event::IsupportToken>(event.value)) return true;
    const auto* changed = std::get_if<Event::ModelChanged>(&event.value);
    if (!changed) return false;
    if (const auto* c = std::get_if<Change::ChannelJoined>(&changed->change.value)) return names_fz(c->channel);
    if (const auto* c = std::get_if<Change::ChannelParted>(&changed->change.value)) return names_fz(c->channel);
    if (const auto* c = std::get_if<Change::ChannelRenamed>(&changed->change.value))
        return names_fz(c->from) || names_fz(c->to);
    return false;
}

// A queued line as it reads without CR LF and its label tag, and the label.
struct Unlabelled {
    std::string text;
    std::optional<std::string> label;
};

Unlabelled unlabelled(std::string_view line) {
    if (line.ends_with("\r\n")) line.remove_suffix(2);
    std::optional<IrcMessage> message = parse_line(line);
    if (!message) return {std::string(line), std::nullopt};
    Unlabelled out;
    if (auto label = find_tag(message->tags, "label")) out.label = std::string(*label);
    std::erase_if(message->tags, [](const Tag& tag) { return tag.key == "label"; });
    out.text = message->to_line();
    return out;
}

class Run {
public:
    Run(const Config& config, bool connect, std::string nonce) : engine_(config), nonce_(std::move(nonce)) {
        if (connect) engine_.handle_connected();
    }

    void feed(std::string_view bytes, std::mt19937_64* cuts) {
        if (!cuts) {
            engine_.handle_bytes(bytes);
            return;
        }
        while (!bytes.empty()) {
            const std::uint64_t r = (*cuts)();
            const std::uint64_t span = (r & 15) < 8 ? 3 : (r & 15) < 14 ? 64 : 1024;
            const std::size_t n = std::min<std::size_t>(bytes.size(), 1 + (r >> 4) % span);
            engine_.handle_bytes(bytes.substr(0, n));
            // At most one partial line waits between calls, and never a given-up one.
            FUZZ_CHECK(engine_.recv_buf.size() < kMaxLineBytes);
            bytes.remove_prefix(n);
        }
    }

    void host_step(const Step& step) {
        const unsigned k = step.arg;
        switch (step.kind) {
            case 0:
                if (k == 63 || __builtin_add_overflow(monotonic_, std::uint64_t{1} << k, &monotonic_))
                    monotonic_ = UINT64_MAX;
                engine_.tick(monotonic_, unix_);
                break;
            case 1:
                unix_ = std::uint64_t{k} << 35;
                engine_.tick(monotonic_, unix_);
                break;
            case 2:
                if ((k & 3) == 2) {
                    command(k >> 2);
                } else if (k & 1) {
                    if (engine_.link == LinkState::Down) {
                        engine_.handle_connected();
                    } else {
                        drop([this] { engine_.handle_connected(); });  // the old link went unannounced
                    }
                } else {
                    const bool was_up = engine_.link != LinkState::Down;
                    drop([this] { engine_.handle_disconnected(); });
                    // What the link that ended made is gone; lines made while down stay.
                    for (const OutgoingLine& line : engine_.transmit) {
                        const std::string text = unlabelled(line.text).text;
                        if (was_up)
                            FUZZ_CHECK(line.origin != LineOrigin::Engine &&
                                       (host_waiting(text) || text == kHostRaw));
                    }
                }
                break;
            default: break;
        }
        check_queues();
    }

    bool takes_lines_after(const Step& step) const { return !(step.kind == 2 && (step.arg & 3) == 2); }

    // What the host takes out now, appended to the transcript.
    void drain() {
        check_queues();
        std::vector<std::string> settled;  // own messages given while not registered, taken now
        std::vector<std::string> echoes;   // own messages the server is to echo
        while (!engine_.transmit.empty()) {
            const LineOrigin origin = engine_.transmit.front().origin;
            const LocalEcho echo = engine_.transmit.front().echo;
            const bool registering = engine_.link == LinkState::Negotiating || engine_.link == LinkState::Registering;
            const std::optional<std::string> line = engine_.poll_transmit();
            // One line per chunk, whatever the server sent.
            FUZZ_CHECK(line->size() >= 2 && line->ends_with("\r\n"));
            FUZZ_CHECK(line->find_first_of(std::string_view("\r\n\0", 3)) == line->size() - 2);
            const Unlabelled taken = unlabelled(*line);
            // A label goes out only on the link it was given for.
            if (taken.label) {
                if (auto given = label_links_.find(*taken.label); given != label_links_.end())
                    FUZZ_CHECK(given->second == link_);
            }
            // Before 001 a link sends what it made itself (every engine line made before a
            // drop went with it), the host's raw line, or a nick or quit given while it registers.
            if (registering && origin == LineOrigin::Command) {
                FUZZ_CHECK((taken.text == "NICK fznick" || taken.text == "QUIT fz") && registering_exits_ > 0);
                --registering_exits_;
            }
            if (registering && origin == LineOrigin::Early) FUZZ_CHECK(taken.text == kHostRaw);
            if (taken.text.starts_with(kChat)) {
                std::string text = taken.text.substr(kChat.size());
                // A server with echo-message echoes what it gets; the engine echoes the rest.
                if (echo != LocalEcho::None && engine_.caps.is_enabled("echo-message")) echoes.push_back(text);
                if (waiting_chats_.erase(text)) settled.push_back(std::move(text));
            }
            transcript_ += *line;
        }
        // The server's echo, unless it would be glued to a partial line or our nick would not
        // read back as its source.
        const std::string& nick = engine_.model.me.nick;
        const bool can_echo = engine_.recv_buf.empty() && !engine_.discarding &&
                              nick.find_first_of(std::string_view(" \r\n\0", 4)) == std::string::npos;
        for (const std::string& text : echoes) {
            if (!can_echo) {
                std::erase(settled, text);
                continue;
            }
            engine_.handle_bytes("@msgid=e" + text + " :" + nick + "!u@h PRIVMSG #fz :" + text + "\r\n");
        }
        const std::vector<Event> events = engine_.poll_events();
        check_own_messages(settled, events);
        const std::string json = events_to_json(events);
        fuzz::check_json_output(json);
        transcript_ += json;
        const auto deadline = engine_.poll_timeout();
        transcript_ += deadline ? std::to_string(*deadline) : "none";
        transcript_ += '\n';
    }

    void finish() {
        drain();
        const std::string json = model_to_json(engine_.model);
        fuzz::check_json_output(json);
        transcript_ += json;
        transcript_ += std::to_string(engine_.malformed_lines);
    }

    const std::string& transcript() const { return transcript_; }

private:
    void command(unsigned pick) {
        const std::uint64_t counter = engine_.label_counter;
        const bool registering = engine_.link == LinkState::Negotiating || engine_.link == LinkState::Registering;
        std::string chat = "hi" + nonce_ + "." + std::to_string(++chats_);
        if (pick % 10 == 2 && engine_.link != LinkState::Registered) {
            waiting_chats_.insert(chat);
            given_chats_.emplace(chat, drains_);
        }
        if (registering && (pick % 10 == 4 || pick % 10 == 5)) ++registering_exits_;
        engine_.execute(host_command(pick, std::move(chat)));
        if (engine_.label_counter != counter) label_links_["l" + std::to_string(engine_.label_counter)] = link_;
    }

    // Each own message given while down or registering is in the log of #fz at most once. One
    // taken now is there exactly once when that log stood, keeping every message, from before
    // the message was given: its echo was stored, or echoed, somewhere in between.
    void check_own_messages(const std::vector<std::string>& settled, const std::vector<Event>& events) {
        const auto channel = engine_.model.channels.find("#fz");
        const bool seen = channel != engine_.model.channels.end();
        const bool steady = fz_seen_ && seen && engine_.model.retention >= 5000 && engine_.isupport.is_channel("#fz") &&
                            !engine_.isupport.is_statusmsg_char(U'#') &&
                            std::none_of(events.begin(), events.end(), touches_fz);
        if (!steady) steady_from_ = drains_ + 1;
        if (seen) {
            std::map<std::string, unsigned, std::less<>> counts;
            for (const LogMessage& message : channel->second.log.messages) {
                if (given_chats_.contains(message.text())) FUZZ_CHECK(++counts[std::string(message.text())] == 1);
            }
            for (const std::string& text : settled) {
                if (given_chats_.find(text)->second >= steady_from_) FUZZ_CHECK(counts.contains(text));
            }
        }
        fz_seen_ = seen;
        ++drains_;
    }

    // A link ends: the labels of the lines it left untaken die with it, requests and all.
    void drop(const std::function<void()>& end) {
        std::vector<std::string> left;
        for (const auto* queue : {&engine_.transmit, &engine_.held}) {
            for (const OutgoingLine& line : *queue) {
                if (auto label = unlabelled(line.text).label; label && label_links_.contains(*label))
                    left.push_back(*label);
            }
        }
        end();
        ++link_;
        registering_exits_ = 0;
        for (const std::string& label : left) FUZZ_CHECK(!engine_.pending_labels.contains(label));
    }

    void check_queues() const {
        // What a registering link's host takes next reaches the server before 001.
        if (engine_.link == LinkState::Negotiating || engine_.link == LinkState::Registering) {
            for (const OutgoingLine& line : engine_.transmit) FUZZ_CHECK(!only_the_hosts(unlabelled(line.text).text));
        }
        for (const OutgoingLine& line : engine_.held) FUZZ_CHECK(host_waiting(unlabelled(line.text).text));
    }

    Engine engine_;
    std::string nonce_;  // in every message text: what the input cannot foresee
    unsigned chats_ = 0;
    // Texts given while not registered, each with the number of drains before it was given.
    std::map<std::string, unsigned, std::less<>> given_chats_;
    std::set<std::string, std::less<>> waiting_chats_;  // those not yet taken
    unsigned drains_ = 0;
    unsigned steady_from_ = 0;  // the log of #fz stood unchanged over every drain since this one
    bool fz_seen_ = false;      // #fz was in the model at the last drain
    unsigned registering_exits_ = 0;     // NICK and QUIT given while this link registers
    std::map<std::string, unsigned, std::less<>> label_links_;  // label -> the link it was given on
    unsigned link_ = 0;
    std::uint64_t monotonic_ = 0;
    std::uint64_t unix_ = 0;
    std::string transcript_;
};

std::vector<Step> split_steps(std::string_view input) {
    std::vector<Step> steps(1);
    std::size_t padding = 0;
    for (std::size_t i = 0; i < input.size(); ++i) {
        if (static_cast<unsigned char>(input[i]) != 0xFF || i + 1 == input.size()) {
            steps.back().bytes.push_back(input[i]);
            continue;
        }
        const auto c = static_cast<unsigned char>(input[++i]);
        if ((c & 3) == 3) {
            // Enough for a few over-long lines; more only slows the chunked run down.
            const std::size_t n = ((c >> 2) + 1) * 160;
            if (padding + n <= 3 * kMaxLineBytes) steps.back().bytes.append(n, 'x');
            padding += n;
            continue;
        }
        steps.back().kind = c & 3;
        steps.back().arg = c >> 2;
        steps.emplace_back();
    }
    return steps;
}

bool has_overlong_line(const std::vector<Step>& steps) {
    std::size_t run = 0;
    for (const Step& step : steps) {
        for (char c : step.bytes) {
            run = c == '\n' ? 0 : run + 1;
            if (run >= kMaxLineBytes) return true;
        }
    }
    return false;
}

}  // namespace
}  // namespace tessel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessel;
    if (size == 0) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const Config config = config_for(data[0]);
    const bool connect = (data[0] & 64) == 0;
    const std::vector<Step> steps = split_steps(input);

    if (config.sasl && std::holds_alternative<Credentials::Scram>(config.sasl->value)) {
        std::string stream;
        for (const Step& step : steps) stream += step.bytes;
        if (scram_too_costly_in(stream)) return 0;
    }

    {
        const std::string nonce = std::to_string(std::hash<std::string_view>{}(input) ^ 0x5bd1e995u);
        Run whole(config, connect, nonce);
        Run chunked(config, connect, nonce);
        std::mt19937_64 cuts(std::hash<std::string_view>{}(input));
        for (const Step& step : steps) {
            whole.feed(step.bytes, nullptr);
            chunked.feed(step.bytes, &cuts);
            if (step.kind < 0) continue;
            whole.host_step(step);
            chunked.host_step(step);
            if (!whole.takes_lines_after(step)) continue;
            whole.drain();
            chunked.drain();
        }
        whole.finish();
        chunked.finish();
        if (!has_overlong_line(steps)) FUZZ_CHECK(whole.transcript() == chunked.transcript());
    }
    // With both engines gone no node pool is left: one kept would be memory nothing gives back.
    FUZZ_CHECK(NodePool::live_pools() == 0);
    return 0;
}
