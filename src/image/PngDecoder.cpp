#include "image/PngDecoder.h"

#include <png.h>

namespace quorvel {

std::optional<RgbaBitmap> decodePng(std::span<const std::uint8_t> file) {
    if (file.empty())
        return std::nullopt;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) {
        png_image_free(&image);
        return std::nullopt;
    }
    // Refuse absurd dimensions before allocating for them.
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
