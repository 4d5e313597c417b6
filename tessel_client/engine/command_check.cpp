// Strategy: the line writer protects only the last parameter, so host text anywhere before it
// could split a parameter in two, drop it, or start the trailing text early. Each row below
// names the fields its variant's line puts before the last parameter, as they are written there
// (a msgid behind its "msgid=" prefix, a channel only when a trailing field follows it, every
// metadata key), and the nick lists MONITOR joins with commas. The fields written last (message
// text, topic, reasons, descriptions, values, the only parameter of a line) are not listed: they
// always read back as one parameter, and the writer keeps them to one line. Tags are escaped and
// need nothing.
#include "tessel_client/engine/command_check.hpp"

#include <variant>
#include <vector>

namespace tessel {
namespace {

using Place = CommandRefusal::Place;

constexpr std::string_view kBreaksMiddle{" \r\n\0", 4};
constexpr std::string_view kBreaksItem{", \r\n\0", 5};

bool fits_item(std::string_view item) {
    return !item.empty() && item.find_first_of(kBreaksItem) == std::string_view::npos;
}

// Collects the first refusal; later fields are not looked at once one is found.
class Check {
public:
    // A field written unchanged before the last parameter.
    Check& middle(std::string_view name, const std::string& field) { return middle_as(name, field, field); }
    // The same when a trailing field follows it, else it is the last parameter.
    Check& middle_if(bool followed, std::string_view name, const std::string& field) {
        return followed ? middle(name, field) : *this;
    }
    // A field written as `written` before the last parameter.
    Check& middle_as(std::string_view name, const std::string& field, std::string_view written) {
        if (!refusal_ && !fits_middle(written)) refusal_ = CommandRefusal{name, field, Place::MiddleParameter};
        return *this;
    }
    // A list whose items are joined with commas into one parameter.
    Check& items(std::string_view name, const std::vector<std::string>& list) {
        for (const std::string& item : list) {
            if (refusal_) break;
            if (!fits_item(item)) refusal_ = CommandRefusal{name, item, Place::ListItem};
        }
        return *this;
    }
    // Parameters that each stand on their own, each of them in the middle of some line.
    Check& each_middle(std::string_view name, const std::vector<std::string>& list) {
        for (std::size_t i = 0; i < list.size() && !refusal_; ++i) middle(name, list[i]);
        return *this;
    }
    std::optional<CommandRefusal> result() { return std::move(refusal_); }

private:
    std::optional<CommandRefusal> refusal_;
};

using Result = std::optional<CommandRefusal>;

// One row per variant: what its line puts where, as execute.cpp builds it.
struct Rows {
    Result operator()(const Command::Join& c) const {
        return Check{}.middle_if(c.key.has_value(), "channel", c.channel).result();
    }
    Result operator()(const Command::Part& c) const {
        return Check{}.middle_if(c.reason.has_value(), "channel", c.channel).result();
    }
    Result operator()(const Command::SendMessage& c) const { return Check{}.middle("target", c.target).result(); }
    Result operator()(const Command::SendNotice& c) const { return Check{}.middle("target", c.target).result(); }
    Result operator()(const Command::SendAction& c) const { return Check{}.middle("target", c.target).result(); }
    Result operator()(const Command::SetNick&) const { return {}; }
    // TOPIC always has its topic parameter, empty to clear it.
    Result operator()(const Command::SetTopic& c) const { return Check{}.middle("channel", c.channel).result(); }
    Result operator()(const Command::SetAway&) const { return {}; }
    Result operator()(const Command::SetTyping&) const { return {}; }
    Result operator()(const Command::AddReaction&) const { return {}; }
    Result operator()(const Command::RemoveReaction&) const { return {}; }
    Result operator()(const Command::RedactMessage& c) const {
        return Check{}.middle("target", c.target).middle_if(c.reason.has_value(), "msgid", c.msgid).result();
    }
    Result operator()(const Command::MarkRead& c) const { return Check{}.middle("target", c.target).result(); }
    Result operator()(const Command::FetchHistory& c) const {
        Check check;
        check.middle("target", c.target);
        if (c.before_msgid) check.middle_as("before_msgid", *c.before_msgid, "msgid=" + *c.before_msgid);
        return check.result();
    }
    Result operator()(const Command::SetMetadata& c) const {
        return Check{}.middle_if(c.value.has_value(), "key", c.key).result();
    }
    // The last key too: every key is stored, and the resume burst after each 001 puts them all
    // on one line, where this one may stand before others.
    Result operator()(const Command::SubscribeMetadata& c) const {
        return Check{}.each_middle("keys", c.keys).result();
    }
    Result operator()(const Command::Whois&) const { return {}; }
    Result operator()(const Command::RenameChannel& c) const {
        return Check{}.middle("channel", c.channel).middle_if(c.reason.has_value(), "new_name", c.new_name).result();
    }
    Result operator()(const Command::CreateInviteLink& c) const {
        if (!c.channel) return {};
        return Check{}.middle_if(c.description.has_value(), "channel", *c.channel).result();
    }
    Result operator()(const Command::ListInviteLinks&) const { return {}; }
    Result operator()(const Command::DeleteInviteLink&) const { return {}; }
    Result operator()(const Command::RedeemInviteCode&) const { return {}; }
    Result operator()(const Command::GenerateToken&) const { return {}; }
    Result operator()(const Command::WatchNicks& c) const { return Check{}.items("nicks", c.nicks).result(); }
    Result operator()(const Command::UnwatchNicks& c) const { return Check{}.items("nicks", c.nicks).result(); }
    Result operator()(const Command::SendVoiceSignal&) const { return {}; }
    Result operator()(const Command::Quit&) const { return {}; }
    // The host's own protocol text: sent as it parses.
    Result operator()(const Command::SendRawLine&) const { return {}; }
};

}  // namespace

bool fits_middle(std::string_view written) {
    return !written.empty() && written.front() != ':' && written.find_first_of(kBreaksMiddle) == std::string_view::npos;
}

std::optional<CommandRefusal> command_refusal(const Command& command) { return std::visit(Rows{}, command.value); }

}  // namespace tessel
