// The readers of a callback URL delivered to the host app, on arbitrary bytes: the state of the
// callback, the callback and redirect rules, and the repair of C string text.

#include "base/Utf8.h"
#include "identity/BrowserCallbackCorrelation.h"
#include "identity/BrowserLoginRedirect.h"
#include "identity/CStringText.h"
#include "identity/ParsedURL.h"
#include "idp/FormEncoding.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

constexpr const char* native = "com.zadovuzuzo.recorder://auth/callback";

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    using quorvel::BrowserCallbackCorrelation;

    // Text repaired from any bytes is UTF-8, and UTF-8 text is left as it is.
    std::string text = quorvel::repairedUTF8(input);
    check(quorvel::isValidUtf8(text));
    if (quorvel::isValidUtf8(input))
        check(text == input);

    // A state read from a URL is non-empty UTF-8, and reads back the same from a plain query.
    if (auto state = BrowserCallbackCorrelation::state(text)) {
        check(!state->empty() && quorvel::isValidUtf8(*state));
        auto again = BrowserCallbackCorrelation::state(
            std::string(native) + "?state=" + quorvel::idp::percentEncode(*state));
        check(again == state);
    }

    // A URL is its own callback whenever it is one at all.
    if (quorvel::isIdentityCallback(text, native))
        check(quorvel::ParsedURL::parse(text).has_value());
    if (quorvel::ParsedURL::parse(text))
        check(quorvel::isIdentityCallback(text, text));

    // An accepted redirect is the configured text itself, with the one path.
    if (auto redirect = quorvel::browserLoginRedirect(text, native)) {
        check(*redirect == text);
        auto parts = quorvel::ParsedURL::parse(text);
        check(parts && parts->path == quorvel::browserRedirectPath && !parts->query &&
              !parts->fragment && !parts->hasUserInfo);
    }
    return 0;
}
