// Feeds arbitrary bytes to the receipt decoder. It must never crash; whatever it accepts must
// encode to a compact object that decodes to the same receipt and encodes to the same bytes.

#include "update/UpdateReceipt.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quorvel::Bytes bytes(data, data + size);
    auto receipt = quorvel::UpdateReceipt::decode(bytes);
    if (!receipt)
        return 0;
    quorvel::Bytes encoded = receipt->encode();
    auto again = quorvel::UpdateReceipt::decode(encoded);
    if (!again || !(*again == *receipt) || again->encode() != encoded)
        std::abort();
    for (auto byte : encoded) {
        if (byte == '\n')
            std::abort();
    }
    return 0;
}
