#include "tessel_client/formats/json_content.hpp"

#include "tessel_client/formats/json_messages.hpp"

namespace tessel {

void describe_content(const JsonContent& value, std::string& out) {
    struct Describe {
        std::string& out;
        void operator()(const JsonContent::Null&) const { out += "null"; }
        void operator()(bool b) const { out += b ? "boolean `true`" : "boolean `false`"; }
        void operator()(std::uint64_t u) const { append_shown_unsigned(u, out); }
        void operator()(std::int64_t i) const { append_shown_signed(i, out); }
        void operator()(double d) const { append_shown_float(d, out); }
        void operator()(const std::string& s) const { append_shown_string(s, out); }
        void operator()(const JsonContent::Array&) const { out += "sequence"; }
        void operator()(const JsonContent::Object&) const { out += "map"; }
    };
    std::visit(Describe{out}, value.value);
}

}  // namespace tessel
