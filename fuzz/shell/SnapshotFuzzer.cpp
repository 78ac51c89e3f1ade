// Feeds arbitrary bytes to the snapshot decoder and, when one decodes, to the presentation: neither
// may crash, and a decoded snapshot always presents.
#include "shell/RecorderSnapshot.h"
#include "shell/StatusPresentation.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto snapshot = quorvel::RecorderSnapshot::decode(text)) {
        auto presentation = quorvel::StatusPresentation::make(snapshot, 0);
        if (presentation.title.empty()) __builtin_trap();
    }
    return 0;
}
