#include "shell/BrandedStatusIcon.h"

#include <png.h>

namespace quorvel {

// Defined in the source file the build generates from assets/status-icon-*.png.
extern const std::uint8_t brandedStatusIcon22[];
extern const std::size_t brandedStatusIcon22Size;
extern const std::uint8_t brandedStatusIcon44[];
extern const std::size_t brandedStatusIcon44Size;
extern const std::uint8_t brandedStatusIcon66[];
extern const std::size_t brandedStatusIcon66Size;

std::vector<std::span<const std::uint8_t>> BrandedStatusIcon::pngs() {
    return {{brandedStatusIcon22, brandedStatusIcon22Size},
            {brandedStatusIcon44, brandedStatusIcon44Size},
            {brandedStatusIcon66, brandedStatusIcon66Size}};
}

std::optional<StatusImage> BrandedStatusIcon::make() {
    return make(pngs());
}

std::optional<StatusImage>
BrandedStatusIcon::make(const std::vector<std::span<const std::uint8_t>>& files) {
    StatusImage image;
    image.pointWidth = pointSize;
    image.pointHeight = pointSize;
    for (const auto& file : files) {
        auto bitmap = decodePng(file);
        if (!bitmap)
            return std::nullopt;
        image.representations.push_back(std::move(*bitmap));
    }
    image.isTemplate = true;
    image.accessibilityDescription = "Quorvel";
    return image;
}

std::optional<RgbaBitmap> decodePng(std::span<const std::uint8_t> file) {
    if (file.empty())
        return std::nullopt;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) {
        png_image_free(&image);
        return std::nullopt;
    }
    // A status icon is small; refuse absurd dimensions before allocating for them.
    if (image.width == 0 || image.height == 0 || image.width > 4096 || image.height > 4096) {
        png_image_free(&image);
        return std::nullopt;
    }
    image.format = PNG_FORMAT_RGBA;
    RgbaBitmap bitmap;
    bitmap.width = static_cast<int>(image.width);
    bitmap.height = static_cast<int>(image.height);
    bitmap.rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, bitmap.rgba.data(), 0, nullptr)) {
        png_image_free(&image);
        return std::nullopt;
    }
    png_image_free(&image);
    return bitmap;
}

} // namespace quorvel
