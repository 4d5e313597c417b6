// Labelled requests (IRCv3 labeled-response) and the local echo of sent chat messages.
#include <algorithm>
#include <utility>

#include "tessel_client/engine/engine.hpp"

namespace tessel {

std::optional<std::string> Engine::send_labeled(const IrcMessage& message, Sending sending) {
    if (!caps.is_enabled("labeled-response")) {
        queue_command_line(message, sending, std::nullopt);
        return std::nullopt;
    }
    return send_labeled(IrcMessage(message), sending);
}

std::optional<std::string> Engine::send_labeled(IrcMessage&& message, Sending sending) {
    return label_and_queue(std::move(message), sending, LocalEcho::None);
}

std::optional<std::string> Engine::label_and_queue(IrcMessage&& message, Sending sending, LocalEcho echo) {
    std::optional<std::string> label;
    if (caps.is_enabled("labeled-response")) {
        ++label_counter;
        label = "l" + std::to_string(label_counter);
        pending_labels.insert_or_assign(*label, PendingLabel{message.command, std::nullopt,
                                                             saturating_add(now_ms, kLabelAnswerMs)});
        upsert_tag(message.tags, Tag::make("label", *label));
    }
    queue_command_line(message, sending, label, echo);
    return label;
}

void Engine::send_chat(const IrcMessage& message) { send_chat(IrcMessage(message)); }

void Engine::send_chat(IrcMessage&& message) {
    if (link != LinkState::Registered) {
        // It waits for 001, and the link that takes it then decides its echo.
        label_and_queue(std::move(message), Sending::WhenRegistered, LocalEcho::Owed);
    } else if (caps.is_enabled("echo-message")) {  // the server sends it back
        label_and_queue(std::move(message), Sending::WhenRegistered, LocalEcho::ServerEchoes);
    } else {
        send_labeled(std::as_const(message));  // the echo carries no label
        store_local_echo(std::move(message));
    }
}

void Engine::store_local_echo(IrcMessage message) {
    // Stored as it went out, so our own log shows what the others received.
    for (std::string& param : message.params) replace_line_breaks(param);
    message.source = Source{current_nick, std::nullopt, std::nullopt};
    apply_message(message, false);
}

void Engine::store_local_echo(const OutgoingLine& line) {
    std::string_view text = line.text;
    if (text.ends_with("\r\n")) text.remove_suffix(2);
    std::optional<IrcMessage> message = parse_line(text);
    if (!message) return;  // never: the engine wrote it
    std::erase_if(message->tags, [](const Tag& tag) { return tag.key == "label"; });
    store_local_echo(std::move(*message));
}

void Engine::expire_labels() {
    for (auto& [label, request] : pending_labels.take_due(now_ms)) {
        if (request.batch) {
            if (auto it = batch_labels.find(*request.batch); it != batch_labels.end()) batch_labels.erase(it);
        }
        emit(Event::CommandTimedOut{std::move(request.command)});
    }
}

}  // namespace tessel
