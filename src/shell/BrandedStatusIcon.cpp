#include "shell/BrandedStatusIcon.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace quorvel {

// Defined in the source file the build generates from assets/status-icon-*.png: RGBA rows.
extern const std::uint8_t brandedStatusIcon22[];
extern const std::size_t brandedStatusIcon22Size;
extern const std::uint8_t brandedStatusIcon44[];
extern const std::size_t brandedStatusIcon44Size;
extern const std::uint8_t brandedStatusIcon66[];
extern const std::size_t brandedStatusIcon66Size;

std::optional<StatusImage> BrandedStatusIcon::make() {
    struct Representation {
        int size;
        std::span<const std::uint8_t> rgba;
    };
    const Representation representations[] = {
        {22, {brandedStatusIcon22, brandedStatusIcon22Size}},
        {44, {brandedStatusIcon44, brandedStatusIcon44Size}},
        {66, {brandedStatusIcon66, brandedStatusIcon66Size}},
    };
    StatusImage image;
    image.pointWidth = pointSize;
    image.pointHeight = pointSize;
    for (const auto& representation : representations) {
        auto side = static_cast<std::size_t>(representation.size);
        if (representation.rgba.size() != side * side * 4)
            return std::nullopt;
        image.representations.push_back(
            RgbaBitmap{representation.size,
                       representation.size,
                       {representation.rgba.begin(), representation.rgba.end()}});
    }
    image.isTemplate = true;
    image.accessibilityDescription = "Quorvel";
    return image;
}

} // namespace quorvel
