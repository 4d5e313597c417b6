#include "tessel_client/engine/base64.hpp"

#include <sodium/core.h>
#include <sodium/utils.h>

namespace tessel {
namespace {

constexpr int kVariant = sodium_base64_VARIANT_ORIGINAL;

// sodium_init is idempotent and thread-safe; a function-local static runs it once.
void ensure_sodium() {
    static const int ready = sodium_init();
    (void)ready;
}

}  // namespace

std::string base64_encode(std::string_view bytes) {
    ensure_sodium();
    const std::size_t size = sodium_base64_ENCODED_LEN(bytes.size(), kVariant);  // with its NUL
    std::string out(size, '\0');
    sodium_bin2base64(out.data(), size, reinterpret_cast<const unsigned char*>(bytes.data()),
                      bytes.size(), kVariant);
    out.resize(size - 1);
    return out;
}

std::optional<std::string> base64_decode(std::string_view text) {
    ensure_sodium();
    std::string out(text.size() / 4 * 3 + 3, '\0');
    std::size_t size = 0;
    // No ignored characters and a null end pointer: the whole text must be one canonical,
    // padded encoding.
    if (sodium_base642bin(reinterpret_cast<unsigned char*>(out.data()), out.size(), text.data(),
                          text.size(), nullptr, &size, nullptr, kVariant) != 0) {
        return std::nullopt;
    }
    out.resize(size);
    return out;
}

}  // namespace tessel
