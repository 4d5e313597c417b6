#include "tessel_client/protocol/casemapping.hpp"

namespace tessel {

std::string irc_fold(CaseMapping mapping, std::string_view name) {
    const FoldTable& t = fold_table(mapping);
    std::string out(name.size(), '\0');
    for (std::size_t i = 0; i < name.size(); ++i) {
        out[i] = static_cast<char>(t[static_cast<unsigned char>(name[i])]);
    }
    return out;
}

bool irc_equal(CaseMapping mapping, std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    const FoldTable& t = fold_table(mapping);
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (t[static_cast<unsigned char>(a[i])] != t[static_cast<unsigned char>(b[i])]) return false;
    }
    return true;
}

}  // namespace tessel
