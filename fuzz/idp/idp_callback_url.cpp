// The callback URL reader, on arbitrary bytes.

#include "idp/CallbackURL.h"
#include "idp/FormEncoding.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view url(reinterpret_cast<const char*>(data), size);
    auto values = quorvel::idp::callbackValues(url);
    if (values) {
        // What the reader accepts survives being written back into a query.
        quorvel::idp::Parameters pairs(values->begin(), values->end());
        std::string written = "x://cb?" + quorvel::idp::queryString(pairs);
        if (written.size() <= quorvel::idp::maxCallbackURLLength) {
            auto again = quorvel::idp::callbackValues(written);
            if (!again || *again != *values)
                __builtin_trap();
        }
    }
    (void)quorvel::idp::parseFormEncoded(url);
    return 0;
}
