#include "tessel_client/model/message_log.hpp"

namespace tessel {

std::optional<std::pair<std::string, LinkPreview>> LinkPreview::from_tags(const std::vector<Tag>& tags) {
    auto title = find_tag(tags, "vantaweb/link-preview-title");
    if (!title) return std::nullopt;
    auto reply = find_tag(tags, "+reply");
    if (!reply) reply = find_tag(tags, "+draft/reply");
    if (!reply) return std::nullopt;
    LinkPreview preview;
    preview.title = std::string(*title);
    if (auto snippet = find_tag(tags, "vantaweb/link-preview-snippet")) preview.snippet = std::string(*snippet);
    if (auto image = find_tag(tags, "vantaweb/link-preview-meta")) preview.image = std::string(*image);
    return std::pair{std::string(*reply), std::move(preview)};
}

}  // namespace tessel
