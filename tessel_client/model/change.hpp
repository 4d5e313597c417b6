// What the reducer reports: one record per change of the model, names as the message carried them.
#pragma once

#include <string>
#include <variant>

#include "tessel_client/model/message_log.hpp"

namespace tessel {

struct Change {
    struct MessageAdded {
        std::string target;
        MessageKey key;
        bool operator==(const MessageAdded&) const = default;
    };
    struct ChannelJoined {
        std::string channel;
        bool operator==(const ChannelJoined&) const = default;
    };
    struct ChannelParted {
        std::string channel;
        bool operator==(const ChannelParted&) const = default;
    };
    struct ChannelMembersChanged {
        std::string channel;
        bool operator==(const ChannelMembersChanged&) const = default;
    };
    struct ChannelTopicChanged {
        std::string channel;
        bool operator==(const ChannelTopicChanged&) const = default;
    };
    struct NickChanged {
        std::string from;
        std::string to;
        bool operator==(const NickChanged&) const = default;
    };
    struct ChannelModesChanged {
        std::string channel;
        bool operator==(const ChannelModesChanged&) const = default;
    };
    struct ReadMarkerMoved {
        std::string target;
        bool operator==(const ReadMarkerMoved&) const = default;
    };
    struct MessageReacted {
        std::string target;
        std::string msgid;
        bool operator==(const MessageReacted&) const = default;
    };
    struct MessageRedacted {
        std::string target;
        std::string msgid;
        bool operator==(const MessageRedacted&) const = default;
    };
    struct MetadataChanged {
        std::string target;
        std::string key;
        bool operator==(const MetadataChanged&) const = default;
    };
    struct WhoisReceived {
        std::string nick;
        bool operator==(const WhoisReceived&) const = default;
    };
    struct ChannelRenamed {
        std::string from;
        std::string to;
        bool operator==(const ChannelRenamed&) const = default;
    };

    std::variant<MessageAdded, ChannelJoined, ChannelParted, ChannelMembersChanged, ChannelTopicChanged,
                 NickChanged, ChannelModesChanged, ReadMarkerMoved, MessageReacted, MessageRedacted,
                 MetadataChanged, WhoisReceived, ChannelRenamed>
        value;

    bool operator==(const Change&) const = default;
};

}  // namespace tessel
