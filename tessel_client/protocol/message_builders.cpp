// Builders for outgoing messages: no tags, no source, the given parameters in order.
#include "tessel_client/protocol/message.hpp"

namespace tessel {

Tag Tag::make(std::string_view key, std::string_view value) {
    return Tag{std::string(key), std::string(value)};
}

IrcMessage IrcMessage::make(std::string_view command) {
    IrcMessage msg;
    msg.command.assign(command);
    return msg;
}

IrcMessage IrcMessage::make(std::string_view command, std::string p1) {
    IrcMessage msg = make(command);
    msg.params.reserve(1);
    msg.params.push_back(std::move(p1));
    return msg;
}

IrcMessage IrcMessage::make(std::string_view command, std::string p1, std::string p2) {
    IrcMessage msg = make(command);
    msg.params.reserve(2);
    msg.params.push_back(std::move(p1));
    msg.params.push_back(std::move(p2));
    return msg;
}

IrcMessage IrcMessage::make(std::string_view command, std::string p1, std::string p2, std::string p3) {
    IrcMessage msg = make(command);
    msg.params.reserve(3);
    msg.params.push_back(std::move(p1));
    msg.params.push_back(std::move(p2));
    msg.params.push_back(std::move(p3));
    return msg;
}

IrcMessage IrcMessage::make(std::string_view command, std::string p1, std::string p2, std::string p3,
                            std::string p4) {
    IrcMessage msg = make(command);
    msg.params.reserve(4);
    msg.params.push_back(std::move(p1));
    msg.params.push_back(std::move(p2));
    msg.params.push_back(std::move(p3));
    msg.params.push_back(std::move(p4));
    return msg;
}

IrcMessage IrcMessage::make(std::string_view command, std::vector<std::string> params) {
    IrcMessage msg = make(command);
    msg.params = std::move(params);
    return msg;
}

}  // namespace tessel
