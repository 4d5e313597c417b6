// IRCv3 batches: members are held while a batch is open and applied when it closes.
#include "tessel_client/engine/engine.hpp"

namespace tessel {

void Engine::handle_batch(const IrcMessage& message) {
    const auto& p = message.params;
    if (p.empty() || p[0].empty()) return;
    const char sign = p[0][0];
    std::string_view ref = std::string_view(p[0]).substr(1);

    if (sign == '+') {
        if (p.size() < 2) return;
        if (batches.find(ref) != batches.end()) return;  // the open one keeps collecting
        if (batches.size() >= open_batch_limit) return;  // its members are applied at once
        OpenBatch batch;
        batch.batch_type = p[1];
        batch.batch_params.assign(p.begin() + 2, p.end());
        if (auto parent = find_tag(message.tags, "batch")) batch.parent = std::string(*parent);
        batches.emplace(std::string(ref), std::move(batch));
        return;
    }
    if (sign != '-') return;

    auto it = batches.find(ref);
    if (it == batches.end()) return;
    OpenBatch batch = std::move(it->second);
    batches.erase(it);

    // History when this batch, or one it sits in, replays chat history. The walk is bounded so
    // a cycle of parent references cannot loop.
    bool historical = batch.batch_type == "chathistory";
    std::optional<std::string> parent = batch.parent;
    for (std::size_t steps = 0; !historical && parent && steps <= batches.size(); ++steps) {
        auto up = batches.find(*parent);
        if (up == batches.end()) break;
        if (up->second.batch_type == "chathistory") historical = true;
        parent = up->second.parent;
    }

    std::vector<IrcMessage> members =
        batch.batch_type == "draft/multiline" ? join_multiline(std::move(batch.held)) : std::move(batch.held);
    for (IrcMessage& member : members)
        if (!apply_changes(member, historical)) emit(Event::RawLine{std::move(member)});
}

std::optional<IrcMessage> Engine::collect_batch_message(IrcMessage message) {
    if (batches.empty()) return message;
    auto ref = find_tag(message.tags, "batch");
    if (!ref) return message;
    auto it = batches.find(*ref);
    if (it == batches.end()) return message;
    OpenBatch& batch = it->second;
    if (batch.overflowed) return std::nullopt;

    if (auto msgid = find_tag(message.tags, "msgid")) {
        if (batch.seen_msgids.find(*msgid) != batch.seen_msgids.end()) return std::nullopt;
        if (batch.held.size() >= batch_message_limit) {
            batch.overflowed = true;
            return std::nullopt;
        }
        batch.seen_msgids.emplace(*msgid);
    } else if (batch.held.size() >= batch_message_limit) {
        batch.overflowed = true;
        return std::nullopt;
    }
    batch.held.push_back(std::move(message));
    return std::nullopt;
}

}  // namespace tessel
